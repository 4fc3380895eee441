#pragma once

#include <cstdint>
#include <string>

// Hash selectors of GenerateOtp.
enum HashAlgorithm : std::int32_t {
    HashSha1 = 0,
    HashSha256 = 1,
    HashSha512 = 2,
};

// Longest code GenerateOtp computes, check digit not counted.
constexpr std::int32_t MaxOtpDigits = 12;

// HMAC over data, dynamic truncation, reduction to `digits` decimal digits and,
// on request, a check digit: the code as a zero-padded decimal string.
// Returns an empty string for a digit count outside 1..MaxOtpDigits, a hash
// selector outside 0..2, a negative length or a failing HMAC.
std::string GenerateOtp(const std::uint8_t* key, std::int32_t keyLength, const std::uint8_t* data,
                        std::int32_t dataLength, std::int32_t digits, bool addChecksum,
                        std::int32_t hashAlgorithm);

// Check digit (0 to 9) over the lowest `digits` decimal digits of value;
// 0 when digits is below 1.
int CalcChecksum(std::uint64_t value, std::int32_t digits);

// Writes value into out[0..7], most significant byte first.
void CounterToBytes(std::uint64_t value, std::uint8_t out[8]);
