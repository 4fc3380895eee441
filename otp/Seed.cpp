#include "otp/Seed.h"

#include "otp/Hotp.h"
#include "otp/NumberText.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>

namespace {

constexpr std::size_t FlagsStart = 2;
constexpr std::size_t FlagsLength = 5;
constexpr std::uint32_t MaxFlags = 99999;
constexpr std::size_t CheckedLength = SeedLength - 1;
// Bits 0-3 and 5-13 set fields; the others are spare.
constexpr std::uint32_t FieldFlagBits = 0x3FEF;
constexpr std::array<std::int32_t, 4> Sleeps = {5, 10, 15, 30};
constexpr std::int32_t MinDigits = 5;
constexpr std::int32_t TimerUnit = 60;
constexpr std::int32_t MinSyncSize = 2;

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

char DigitChar(std::uint32_t value)
{
    return static_cast<char>('0' + value % 10);
}

// A character of a refused text, readable in a message.
std::string Shown(char c)
{
    if (c >= 0x20 && c < 0x7F) {
        return std::string("\"") + c + "\"";
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X",
                  static_cast<unsigned>(static_cast<unsigned char>(c)));
    return text;
}

std::string TypeText(std::int32_t type)
{
    if (type < TokenTypeCB || type > TokenTypeTOTP) {
        return "type " + std::to_string(type);
    }
    COtpToken token;
    token.TokenType = type;
    return token.GetTypeName();
}

// Why a serial cannot take part in a seed at all; empty when it can.
std::string SerialRefusal(const std::string& serial)
{
    if (serial.empty()) {
        return "the serial is empty";
    }
    if (serial.find('\0') != std::string::npos) {
        return "the serial holds a zero byte";
    }
    if (serial.size() > static_cast<std::size_t>(INT32_MAX)) {
        return "the serial is too long";
    }
    return std::string();
}

// The serial is read as a signed 32-bit number (saturating), sign-extended, and
// its check digit taken over as many digits as the serial has characters.
int SerialCheckDigit(const std::string& serial)
{
    const std::uint64_t value =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(ReadLeadingInt32(serial)));
    return CalcChecksum(value, static_cast<std::int32_t>(serial.size()));
}

// The check digit over positions 0 to 16, read as one decimal number up to the
// first character that is not a digit.
int SeedCheckDigit(const std::string& seed)
{
    const std::uint64_t value =
        static_cast<std::uint64_t>(ReadLeadingInt64(seed.substr(0, CheckedLength)));
    return CalcChecksum(value, static_cast<std::int32_t>(CheckedLength));
}

// Version 1 names the first two type codes HOTP and TOTP, version 0 CB and TB.
std::int32_t TypeOfCode(std::int32_t version, std::uint32_t code)
{
    const std::int32_t type = static_cast<std::int32_t>(code);
    if (version == 1 && type == TokenTypeCB) {
        return TokenTypeHOTP;
    }
    if (version == 1 && type == TokenTypeTB) {
        return TokenTypeTOTP;
    }
    return type;
}

} // namespace

SeedDecoding DecodeSeed(const std::string& serial, const std::string& seed)
{
    SeedDecoding result;
    result.Refusal = SerialRefusal(serial);
    if (!result.Refusal.empty()) {
        return result;
    }
    if (seed.size() != SeedLength || seed.find('\0') != std::string::npos) {
        result.Refusal = "the seed has " + std::to_string(seed.size()) +
                         " characters; a seed has exactly " + std::to_string(SeedLength);
        return result;
    }
    for (std::size_t position = 0; position < SeedLength; ++position) {
        const bool numeric = position < SeedKeyTextStart || position == CheckedLength;
        if (numeric && !IsDigit(seed[position])) {
            result.Refusal = "character " + std::to_string(position + 1) + " of the seed (" +
                             Shown(seed[position]) +
                             ") is not a digit: characters 1 to 7 and 18 are digits";
            return result;
        }
    }
    SeedFields& fields = result.Fields;
    fields.Version = seed[0] - '0';
    if (fields.Version > 1) {
        result.Refusal = "the seed is of version " + std::to_string(fields.Version) +
                         "; only versions 0 and 1 exist";
        return result;
    }
    const int serialCheck = SerialCheckDigit(serial);
    if (serialCheck != seed[1] - '0') {
        result.Refusal = "the seed is not for serial " + serial + " (its serial check digit is " +
                         seed[1] + ", the serial's is " + std::to_string(serialCheck) +
                         "): look for a typing error in either";
        return result;
    }
    if (SeedCheckDigit(seed) != seed[CheckedLength] - '0') {
        result.Refusal = "the seed's check digit does not match: look for a typing error";
        return result;
    }

    const std::uint32_t flags =
        static_cast<std::uint32_t>(ParseInt32(seed.substr(FlagsStart, FlagsLength)));
    fields.TokenType = TypeOfCode(fields.Version, flags & 0x3U);
    fields.CheckSum = (flags >> 2 & 0x1U) != 0;
    fields.TwoWay = (flags >> 3 & 0x1U) != 0;
    fields.Digits = static_cast<std::int32_t>(flags >> 5 & 0x7U) + MinDigits;
    fields.Sleep = Sleeps[flags >> 8 & 0x3U];
    fields.Timer = (static_cast<std::int32_t>(flags >> 10 & 0x3U) + 1) * TimerUnit;
    fields.SyncSize = static_cast<std::int32_t>(flags >> 12 & 0x3U) + MinSyncSize;
    fields.SpareFlags = flags & ~FieldFlagBits;
    fields.KeyText = seed.substr(SeedKeyTextStart, SeedKeyTextLength);
    return result;
}

SeedEncoding EncodeSeed(const std::string& serial, const SeedFields& fields)
{
    SeedEncoding result;
    const auto refuse = [&result](std::string reason) {
        result.Refusal = std::move(reason);
        return result;
    };
    std::string reason = SerialRefusal(serial);
    if (!reason.empty()) {
        return refuse(reason);
    }
    if (fields.Version != 0 && fields.Version != 1) {
        return refuse("a seed is of version 0 or 1, not " + std::to_string(fields.Version));
    }
    std::uint32_t typeCode = 4; // none found
    for (std::uint32_t code = 0; code < 4; ++code) {
        if (TypeOfCode(fields.Version, code) == fields.TokenType) {
            typeCode = code;
        }
    }
    if (typeCode == 4) {
        return refuse("a seed of version " + std::to_string(fields.Version) + " cannot make a " +
                      TypeText(fields.TokenType) + " token");
    }
    if (fields.Digits < MinDigits || fields.Digits > MinDigits + 7) {
        return refuse("a seed gives 5 to 12 digits, not " + std::to_string(fields.Digits));
    }
    const auto sleep = std::find(Sleeps.begin(), Sleeps.end(), fields.Sleep);
    if (sleep == Sleeps.end()) {
        return refuse("a seed gives a sleep time of 5, 10, 15 or 30 seconds, not " +
                      std::to_string(fields.Sleep));
    }
    if (fields.Timer < TimerUnit || fields.Timer > 4 * TimerUnit || fields.Timer % TimerUnit != 0) {
        return refuse("a seed gives a timer of 60, 120, 180 or 240 seconds, not " +
                      std::to_string(fields.Timer));
    }
    if (fields.SyncSize < MinSyncSize || fields.SyncSize > MinSyncSize + 3) {
        return refuse("a seed gives a sync size of 2 to 5, not " + std::to_string(fields.SyncSize));
    }
    const std::uint32_t flags =
        typeCode | (fields.CheckSum ? 1U << 2 : 0U) | (fields.TwoWay ? 1U << 3 : 0U) |
        static_cast<std::uint32_t>(fields.Digits - MinDigits) << 5 |
        static_cast<std::uint32_t>(sleep - Sleeps.begin()) << 8 |
        static_cast<std::uint32_t>(fields.Timer / TimerUnit - 1) << 10 |
        static_cast<std::uint32_t>(fields.SyncSize - MinSyncSize) << 12 | fields.SpareFlags;
    if ((fields.SpareFlags & FieldFlagBits) != 0 || flags > MaxFlags) {
        return refuse("the spare flag bits do not fit in the five flag digits");
    }
    if (fields.KeyText.size() != SeedKeyTextLength ||
        fields.KeyText.find('\0') != std::string::npos) {
        return refuse("a key text has ten characters, none of them a zero byte");
    }

    std::string seed;
    seed += DigitChar(static_cast<std::uint32_t>(fields.Version));
    seed += DigitChar(static_cast<std::uint32_t>(SerialCheckDigit(serial)));
    for (std::uint32_t divisor = 10000; divisor > 0; divisor /= 10) {
        seed += DigitChar(flags / divisor);
    }
    seed += fields.KeyText;
    seed += DigitChar(static_cast<std::uint32_t>(SeedCheckDigit(seed)));
    result.Seed = seed;
    return result;
}

std::string SerialCheckWeakness(const std::string& serial)
{
    std::string reason = SerialRefusal(serial);
    if (!reason.empty()) {
        return reason;
    }
    if (!std::all_of(serial.begin(), serial.end(), IsDigit)) {
        return "the serial " + serial +
               " is not made of digits only, so its check digit would not guard it";
    }
    if (ReadLeadingInt64(serial) > INT32_MAX) {
        return "the serial " + serial +
               " is above 2147483647, so its check digit would not guard it";
    }
    return std::string();
}
