#pragma once

#include <cstdint>
#include <memory>
#include <string>

// A decoded byte string.
struct ByteBuffer
{
    std::int32_t length = 0;
    std::shared_ptr<std::uint8_t[]> bytes;
};

// Longest question and session information that fit their message fields.
constexpr std::int32_t OcraQuestionFieldLength = 128;
constexpr std::int32_t OcraSessionFieldLength = 64;

// Upper-case hex, two characters per byte.
std::string BytesToHex(const std::uint8_t* bytes, std::int32_t length);
std::string BytesToHex(const ByteBuffer& buffer);

// Decodes into exactly `size` bytes, aligned to the end; all zero when the text
// holds more than `size` bytes. Decoding stops at the first pair that is not hex.
ByteBuffer HexToBytes(const std::string& hex, std::int32_t size);
// Decodes into as many bytes as the (odd-padded) text holds, from the start.
ByteBuffer HexToBytes(const std::string& hex);

// The question as hex for the Q field. Throws ConversionError when a numeric
// ("QN") question is not an unsigned 64-bit decimal number.
std::string FormatQuestion(const std::string& suite, const std::string& question);
// Hex of the password hash the suite names (SHA-1 unless PSHA256/PSHA512).
std::string HashPassword(const std::string& suite, const std::string& password);
// The time-step count as lower-case hex, or empty. Throws ConversionError when
// the step's number is not an integer.
std::string FormatTimeStep(const std::string& suite, std::int64_t time);

// Builds the OCRA message from formatted inputs and truncates its HMAC.
// Returns an empty string for a malformed or unsupported suite or input.
std::string GenerateOcraCode(const std::uint8_t* key, std::int32_t keyLength,
                             const std::string& suite, std::uint64_t counter,
                             const std::string& questionHex, const std::string& passwordHex,
                             const std::string& sessionInfo, const std::string& timeHex);

// One OCRA code from raw inputs.
std::string ComputeOcra(const std::uint8_t* key, std::int32_t keyLength, const std::string& suite,
                        std::uint64_t counter, const std::string& question,
                        const std::string& password, const std::string& sessionInfo,
                        std::int64_t time);
