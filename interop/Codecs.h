#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The text codings the interchange formats use. Plain C++ with no Qt, so the
// fuzzers reach them without a Qt build. A decoder returns std::nullopt for a
// text that is not in its coding, and never guesses.

using ByteVector = std::vector<std::uint8_t>;

// Base32 (RFC 4648): either letter case, "=" padding optional but only at the
// end, blanks ignored. Refuses other characters and lengths no byte count gives.
std::optional<ByteVector> DecodeBase32(const std::string& text);
// Upper case, without padding (as Key URIs carry it).
std::string EncodeBase32(const ByteVector& bytes);

// Base64 in the standard or the URL-safe alphabet, "=" padding optional.
std::optional<ByteVector> DecodeBase64(const std::string& text);
// Standard alphabet, padded.
std::string EncodeBase64(const ByteVector& bytes);

// Hexadecimal, either letter case, an even number of digits.
std::optional<ByteVector> DecodeHex(const std::string& text);
// Lower case.
std::string EncodeHex(const ByteVector& bytes);

// %XX escapes decoded; with plusIsSpace, "+" gives a blank (query texts). A
// "%" without two hexadecimal digits after it refuses the whole text.
std::optional<std::string> PercentDecode(std::string_view text, bool plusIsSpace);
// Every byte but the unreserved ones (letters, digits, "-._~") as %XX.
std::string PercentEncode(const std::string& text);

// The letter in lower case, ASCII letters only: a scheme, a type or a
// parameter name never depends on the locale.
constexpr char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The whole text as a decimal number no larger than `maximum`: digits only, no
// sign, no blanks.
std::optional<std::uint64_t> ParseDecimal(const std::string& text, std::uint64_t maximum);
