#pragma once

#include "otp/OtpToken.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The 18-character seed typed at install. Positions from 0:
//   0      version, 0 or 1
//   1      check digit of the serial
//   2..6   flags, a five-digit decimal number
//   7..16  key text, ten characters
//   17     check digit of positions 0 to 16
// Positions 0 to 6 and 17 are digits; the key text may hold any character but
// the zero byte (the seed's check digit then covers it only up to its first
// character that is not a digit).
constexpr std::size_t SeedLength = 18;
constexpr std::size_t SeedKeyTextStart = 7;
constexpr std::size_t SeedKeyTextLength = 10;

// What a seed sets in a new token, and the rest of its flags.
struct SeedFields
{
    std::int32_t Version = 1;
    std::int32_t TokenType = TokenTypeHOTP;
    bool CheckSum = false;
    bool TwoWay = false;
    std::int32_t Digits = 5;   // 5 to 12
    std::int32_t Sleep = 5;    // 5, 10, 15 or 30
    std::int32_t Timer = 60;   // 60, 120, 180 or 240
    std::int32_t SyncSize = 2; // 2 to 5
    // Flag bits that set nothing (bit 4, bits 14 and up), kept so that a seed
    // encodes back to the text it was read from.
    std::uint32_t SpareFlags = 0;
    std::string KeyText;
};

// A seed read for a serial: its fields, or why it is refused.
struct SeedDecoding
{
    std::string Refusal; // empty when the seed is accepted
    SeedFields Fields;
};

// A seed built from fields: its text, or why the fields cannot be expressed.
struct SeedEncoding
{
    std::string Refusal; // empty when Seed holds the text
    std::string Seed;
};

// Checks a seed against the serial it was issued for and decodes its flags.
SeedDecoding DecodeSeed(const std::string& serial, const std::string& seed);

// Builds the seed of the given fields for a serial: version, the serial's
// check digit, the flags, the key text and the seed's check digit. Refuses
// fields a seed cannot hold (a type the version has no code for, digits,
// sleep, timer or sync size outside their sets, a key text that is not ten
// characters). DecodeSeed of the result gives the fields back.
SeedEncoding EncodeSeed(const std::string& serial, const SeedFields& fields);

// Why the serial's check digit would not guard every character of the serial
// against a typing error: the serial is read as a signed 32-bit number, so
// anything but plain digits up to 2147483647 is only partly covered. Empty
// when the serial is fully covered.
std::string SerialCheckWeakness(const std::string& serial);
