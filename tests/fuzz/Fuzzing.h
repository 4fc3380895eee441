#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Stops the run with the input as a finding when a property does not hold.
inline void Require(bool holds, const char* property = "a property does not hold")
{
    if (!holds) {
        std::fprintf(stderr, "%s\n", property);
        std::abort();
    }
}

inline const std::uint8_t* Bytes(const std::string& text)
{
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

// Calls `call`, allowing an Error; false when one was raised.
template <typename Error, typename Call> bool Allowing(Call call)
{
    try {
        call();
        return true;
    } catch (const Error&) {
        return false;
    }
}

inline bool AllOf(const std::string& text, const char* allowed)
{
    return text.find_first_not_of(allowed) == std::string::npos;
}

// Reads a fuzz input as text lines, so that seed files stay readable and
// libFuzzer's mutations of decimal numbers apply. Past the end, every line is
// empty and every number 0.
class CFuzzLines
{
public:
    CFuzzLines(const std::uint8_t* data, std::size_t size)
        : text(reinterpret_cast<const char*>(data), size)
    {
    }

    std::string Line()
    {
        const std::string::size_type end = text.find('\n', position);
        std::string line =
            text.substr(position, end == std::string::npos ? std::string::npos : end - position);
        position = end == std::string::npos ? text.size() : end + 1;
        return line;
    }

    // The next of the blank-separated numbers of a line, read as strtoll
    // reads; what is not a number is skipped, so that later fields stay in place.
    static std::int64_t Number(const std::string& numbers, std::string::size_type& at)
    {
        const char* start = numbers.c_str() + at;
        char* end = nullptr;
        const long long value = std::strtoll(start, &end, 10);
        at += static_cast<std::string::size_type>(end - start);
        while (at < numbers.size() && numbers[at] != ' ') {
            ++at;
        }
        return static_cast<std::int64_t>(value);
    }

    // Everything after the lines read so far, newlines included.
    std::string Rest()
    {
        std::string rest = text.substr(position);
        position = text.size();
        return rest;
    }

private:
    std::string text;
    std::string::size_type position = 0;
};
