#include "otp/NumberText.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <type_traits>

namespace {

template <typename T> T ParseWhole(const std::string& text, const char* what)
{
    const char* first = text.data();
    const char* last = first + text.size();
    // from_chars takes a minus sign but not a plus sign.
    if (first != last && *first == '+' && std::is_signed<T>::value) {
        ++first;
        if (first != last && (*first == '-' || *first == '+')) {
            throw ConversionError(std::string(what) + ": not a number: \"" + text + "\"");
        }
    }
    T value{};
    const std::from_chars_result result = std::from_chars(first, last, value, 10);
    if (first == last || result.ec != std::errc() || result.ptr != last) {
        throw ConversionError(std::string(what) + ": not a number: \"" + text + "\"");
    }
    return value;
}

} // namespace

std::uint64_t ParseUInt64(const std::string& text)
{
    return ParseWhole<std::uint64_t>(text, "ParseUInt64");
}

std::int32_t ParseInt32(const std::string& text)
{
    return ParseWhole<std::int32_t>(text, "ParseInt32");
}

std::int32_t ReadLeadingInt32(const std::string& text)
{
    // strtol on a 32-bit long: saturate at the 32-bit limits.
    const long long value = ReadLeadingInt64(text);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(value);
}

std::int64_t ReadLeadingInt64(const std::string& text)
{
    // strtoll stops at an embedded NUL, as the C string it was made for did.
    return static_cast<std::int64_t>(std::strtoll(text.c_str(), nullptr, 10));
}
