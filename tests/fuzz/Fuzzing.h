#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

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

    // The number at `at` in a line of blank-separated numbers, read as strtoll
    // reads; moves `at` past it.
    static std::int64_t Number(const std::string& numbers, std::string::size_type& at)
    {
        const char* start = numbers.c_str() + at;
        char* end = nullptr;
        const long long value = std::strtoll(start, &end, 10);
        at += static_cast<std::string::size_type>(end - start);
        while (at < numbers.size() && numbers[at] != ' ') {
            ++at; // skip what is not a number, so that later fields stay in place
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
