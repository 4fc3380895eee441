#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The Base64 codec behind LocalDatabase::Base64Encode and Base64Decode, for
// storage's own use without intermediate copies.

// Appends the Base64 text of the bytes (RFC 4648 alphabet, "=" padding).
void AppendBase64(std::string& text, const std::uint8_t* data, std::size_t length);

// The most bytes DecodeBase64 can produce from `length` characters.
inline std::size_t Base64DecodedBound(std::size_t length)
{
    return length / 4 * 3 + 3;
}

// Decodes tolerantly (characters outside the alphabet are skipped, "=" ends
// the text, an incomplete final group without "=" adds nothing) into `out`,
// which has room for Base64DecodedBound(length) bytes; returns the count.
std::size_t DecodeBase64(const char* text, std::size_t length, std::uint8_t* out);
