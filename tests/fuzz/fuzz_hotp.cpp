// GenerateOtp and CalcChecksum over arbitrary keys, messages, digit counts and
// hash selectors. Every code is compared with one computed independently
// through OpenSSL's one-shot HMAC, and each input is computed under two keys
// in turn, so that a code served from cached key state is checked too.
//
// Input: a line "<hash> <digits> <check digit 0/1> <key length>", then the
// key bytes, then the message bytes.
#include "FuzzLines.h"
#include "otp/Hotp.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz_hotp: %s\n", what);
    std::abort();
}

// RFC 4226's reference check digit.
int ReferenceChecksum(std::uint64_t value, std::int64_t digits)
{
    static const int doubled[] = {0, 2, 4, 6, 8, 1, 3, 5, 7, 9};
    bool doubleDigit = true;
    int total = 0;
    for (std::int64_t i = 0; i < digits && i < 40; ++i) {
        int digit = static_cast<int>(value % 10);
        value /= 10;
        total += doubleDigit ? doubled[digit] : digit;
        doubleDigit = !doubleDigit;
    }
    return total % 10 > 0 ? 10 - total % 10 : 0;
}

std::string ReferenceCode(const std::string& key, const std::string& message, int digits,
                          bool check, int hash)
{
    static const char* const names[] = {"SHA1", "SHA256", "SHA512"};
    static const unsigned char nothing = 0;
    unsigned char mac[EVP_MAX_MD_SIZE];
    size_t length = 0;
    if (EVP_Q_mac(
            nullptr, "HMAC", nullptr, names[hash], nullptr,
            key.empty() ? &nothing : reinterpret_cast<const unsigned char*>(key.data()), key.size(),
            message.empty() ? &nothing : reinterpret_cast<const unsigned char*>(message.data()),
            message.size(), mac, sizeof mac, &length) == nullptr) {
        Fail("the reference HMAC failed");
    }
    const unsigned offset = mac[length - 1] & 0x0F;
    std::uint64_t value = (static_cast<std::uint64_t>(mac[offset] & 0x7F) << 24) |
                          (static_cast<std::uint64_t>(mac[offset + 1]) << 16) |
                          (static_cast<std::uint64_t>(mac[offset + 2]) << 8) | mac[offset + 3];
    std::uint64_t power = 1;
    for (int i = 0; i < digits; ++i) {
        power *= 10;
    }
    value %= power;
    int width = digits;
    if (check) {
        value = value * 10 + static_cast<std::uint64_t>(ReferenceChecksum(value, digits));
        ++width;
    }
    std::string text = std::to_string(value);
    return std::string(static_cast<std::size_t>(width) - text.size(), '0') + text;
}

void CheckCode(const std::string& key, const std::string& message, std::int64_t digits, bool check,
               std::int64_t hash)
{
    const std::string code = GenerateOtp(
        reinterpret_cast<const std::uint8_t*>(key.data()), static_cast<std::int32_t>(key.size()),
        reinterpret_cast<const std::uint8_t*>(message.data()),
        static_cast<std::int32_t>(message.size()), static_cast<std::int32_t>(digits), check,
        static_cast<std::int32_t>(hash));
    if (digits < 1 || digits > MaxOtpDigits || hash < HashSha1 || hash > HashSha512) {
        if (!code.empty()) {
            Fail("a code for a digit count or hash selector without one");
        }
        return;
    }
    if (code !=
        ReferenceCode(key, message, static_cast<int>(digits), check, static_cast<int>(hash))) {
        Fail("the code differs from the reference HMAC");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CFuzzLines input(data, size);
    const std::string header = input.Line();
    std::string::size_type at = 0;
    // Digit counts and selectors arrive as any 32-bit value.
    const auto hash = static_cast<std::int32_t>(CFuzzLines::Number(header, at));
    const auto digits = static_cast<std::int32_t>(CFuzzLines::Number(header, at));
    const bool check = CFuzzLines::Number(header, at) != 0;
    const std::int64_t keyLength = CFuzzLines::Number(header, at);
    const std::string rest = input.Rest();
    const std::size_t split =
        std::min<std::size_t>(rest.size(), static_cast<std::size_t>(std::max<std::int64_t>(
                                               0, std::min<std::int64_t>(keyLength, 4096))));
    const std::string key = rest.substr(0, split);
    const std::string message = rest.substr(split);

    // The key, another key, then the first again: the second and third calls
    // meet a cache that holds the other key.
    CheckCode(key, message, digits, check, hash);
    CheckCode(message, key, digits, check, hash);
    CheckCode(key, message, digits, check, hash);

    // A negative length never reads a byte.
    if (!GenerateOtp(reinterpret_cast<const std::uint8_t*>(key.data()), -1,
                     reinterpret_cast<const std::uint8_t*>(message.data()),
                     static_cast<std::int32_t>(message.size()), 6, false, HashSha1)
             .empty()) {
        Fail("a code for a negative key length");
    }

    std::uint64_t value = 0;
    std::uint8_t bytes[8];
    for (std::size_t i = 0; i < 8 && i < message.size(); ++i) {
        value = value << 8 | static_cast<std::uint8_t>(message[i]);
    }
    if (CalcChecksum(value, digits) != (digits < 1 ? 0 : ReferenceChecksum(value, digits))) {
        Fail("CalcChecksum differs from the reference routine");
    }
    CounterToBytes(value, bytes);
    std::uint64_t back = 0;
    for (const std::uint8_t byte : bytes) {
        back = back << 8 | byte;
    }
    if (back != value) {
        Fail("CounterToBytes is not big-endian");
    }
    return 0;
}
