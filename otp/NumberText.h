#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// Raised when a text that must be a number is not one.
class ConversionError : public std::invalid_argument
{
public:
    using std::invalid_argument::invalid_argument;
};

// The whole text as an unsigned 64-bit decimal number: one or more digits and
// nothing else, within range. Throws ConversionError otherwise.
std::uint64_t ParseUInt64(const std::string& text);

// The whole text as a signed 32-bit decimal number: an optional sign, one or
// more digits and nothing else, within range. Throws ConversionError otherwise.
std::int32_t ParseInt32(const std::string& text);

// Reads decimal text the way strtol/strtoll do: leading white space and a sign
// are accepted, reading stops at the first non-digit, text without digits is 0,
// and values beyond the range saturate at its ends.
std::int32_t ReadLeadingInt32(const std::string& text);
std::int64_t ReadLeadingInt64(const std::string& text);
