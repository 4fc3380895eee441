// GenerateOtp and CalcChecksum over arbitrary keys, messages, digit counts and
// hash selectors (a negative key length and CounterToBytes are pinned by
// test_hotp's table). Every code is compared with one computed independently
// through OpenSSL's one-shot HMAC, and each input is computed under two keys
// in turn, so that a code served from cached key state is checked too.
//
// Input: a line "<hash> <digits> <check digit 0/1> <key length>", then the
// key bytes, then the message bytes.
#include "Fuzzing.h"

#include "otp/Hotp.h"

#include <openssl/evp.h>

#include <algorithm>
#include <string>

namespace {

// RFC 4226's reference check digit.
int ReferenceChecksum(std::uint64_t value, std::int64_t digits)
{
    static const int doubled[] = {0, 2, 4, 6, 8, 1, 3, 5, 7, 9};
    int total = 0;
    for (std::int64_t i = 0; i < digits && i < 40; ++i, value /= 10) {
        total += i % 2 == 0 ? doubled[value % 10] : static_cast<int>(value % 10);
    }
    return (10 - total % 10) % 10;
}

std::string ReferenceCode(const std::string& key, const std::string& message, int digits,
                          bool check, int hash)
{
    static const char* const names[] = {"SHA1", "SHA256", "SHA512"};
    static const std::string nothing(1, '\0');
    unsigned char mac[EVP_MAX_MD_SIZE];
    size_t length = 0;
    Require(EVP_Q_mac(nullptr, "HMAC", nullptr, names[hash], nullptr,
                      Bytes(key.empty() ? nothing : key), key.size(),
                      Bytes(message.empty() ? nothing : message), message.size(), mac, sizeof mac,
                      &length) != nullptr,
            "the reference HMAC failed");
    const unsigned offset = mac[length - 1] & 0x0F;
    std::uint64_t value = (std::uint64_t(mac[offset] & 0x7F) << 24) |
                          (std::uint64_t(mac[offset + 1]) << 16) |
                          (std::uint64_t(mac[offset + 2]) << 8) | mac[offset + 3];
    value %= std::stoull('1' + std::string(std::size_t(digits), '0'));
    if (check) {
        value = value * 10 + std::uint64_t(ReferenceChecksum(value, digits));
    }
    const std::string text = std::to_string(value);
    return std::string(std::size_t(digits + (check ? 1 : 0)) - text.size(), '0') + text;
}

void CheckCode(const std::string& key, const std::string& message, std::int32_t digits, bool check,
               std::int32_t hash)
{
    const std::string code =
        GenerateOtp(Bytes(key), static_cast<std::int32_t>(key.size()), Bytes(message),
                    static_cast<std::int32_t>(message.size()), digits, check, hash);
    if (digits < 1 || digits > MaxOtpDigits || hash < HashSha1 || hash > HashSha512) {
        Require(code.empty(), "a code for a digit count or hash selector without one");
    } else {
        Require(code == ReferenceCode(key, message, digits, check, hash),
                "the code differs from the reference HMAC");
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
    const std::int64_t keyLength =
        std::clamp<std::int64_t>(CFuzzLines::Number(header, at), 0, 4096);
    const std::string rest = input.Rest();
    const std::string key = rest.substr(0, std::size_t(keyLength));
    const std::string message = rest.substr(key.size());

    // The key, another key, then the first again: the second and third calls
    // meet a cache that holds the other key.
    CheckCode(key, message, digits, check, hash);
    CheckCode(message, key, digits, check, hash);
    CheckCode(key, message, digits, check, hash);
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8 && i < message.size(); ++i) {
        value = value << 8 | static_cast<std::uint8_t>(message[i]);
    }
    Require(CalcChecksum(value, digits) == (digits < 1 ? 0 : ReferenceChecksum(value, digits)),
            "CalcChecksum differs from the reference routine");
    return 0;
}
