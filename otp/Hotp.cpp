#include "otp/Hotp.h"

#include "otp/Hmac.h"

#include <array>
#include <cstddef>

namespace {

// 10^0 to 10^MaxOtpDigits: every digit count GenerateOtp accepts has its power.
constexpr std::array<std::uint64_t, MaxOtpDigits + 1> PowersOfTen = {
    1ULL,           10ULL,           100ULL,          1000ULL,      10000ULL,
    100000ULL,      1000000ULL,      10000000ULL,     100000000ULL, 1000000000ULL,
    10000000000ULL, 100000000000ULL, 1000000000000ULL};

// Digit sums of twice the index, for the check digit.
constexpr std::array<int, 10> DoubleDigits = {0, 2, 4, 6, 8, 1, 3, 5, 7, 9};

// The digest of each hash selector.
constexpr std::array<DigestAlgorithm, 3> HmacDigests = {
    DigestAlgorithm::Sha1, DigestAlgorithm::Sha256, DigestAlgorithm::Sha512};

std::string ZeroPadded(std::uint64_t value, std::int32_t width)
{
    std::string text(static_cast<std::size_t>(width), '0');
    for (std::size_t position = text.size(); position > 0 && value != 0; --position) {
        text[position - 1] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return text;
}

} // namespace

std::string GenerateOtp(const std::uint8_t* key, std::int32_t keyLength, const std::uint8_t* data,
                        std::int32_t dataLength, std::int32_t digits, bool addChecksum,
                        std::int32_t hashAlgorithm)
{
    if (hashAlgorithm < HashSha1 || hashAlgorithm > HashSha512 || digits < 1 ||
        digits > MaxOtpDigits || keyLength < 0 || dataLength < 0 ||
        (key == nullptr && keyLength > 0) || (data == nullptr && dataLength > 0)) {
        return std::string();
    }
    std::uint8_t digest[MaxHmacLength];
    const std::size_t digestLength = ComputeHmac(
        HmacDigests[static_cast<std::size_t>(hashAlgorithm)], key,
        static_cast<std::size_t>(keyLength), data, static_cast<std::size_t>(dataLength), digest);
    // Truncation reads up to offset 15 + 3; every hash selected here gives 20 or more.
    if (digestLength < 20) {
        return std::string();
    }

    const std::size_t offset = digest[digestLength - 1] & 0x0F;
    const std::uint64_t truncated = (static_cast<std::uint64_t>(digest[offset] & 0x7F) << 24) |
                                    (static_cast<std::uint64_t>(digest[offset + 1]) << 16) |
                                    (static_cast<std::uint64_t>(digest[offset + 2]) << 8) |
                                    static_cast<std::uint64_t>(digest[offset + 3]);
    std::uint64_t otp = truncated % PowersOfTen[static_cast<std::size_t>(digits)];
    std::int32_t width = digits;
    if (addChecksum) {
        otp = otp * 10 + static_cast<std::uint64_t>(CalcChecksum(otp, digits));
        ++width;
    }
    return ZeroPadded(otp, width);
}

int CalcChecksum(std::uint64_t value, std::int32_t digits)
{
    bool doubleDigit = true;
    int total = 0;
    // Digits beyond the value's own are zeros and add nothing, doubled or not.
    for (std::int32_t i = 0; i < digits && value != 0; ++i) {
        int digit = static_cast<int>(value % 10);
        value /= 10;
        if (doubleDigit) {
            digit = DoubleDigits[static_cast<std::size_t>(digit)];
        }
        total += digit;
        doubleDigit = !doubleDigit;
    }
    const int remainder = total % 10;
    return remainder > 0 ? 10 - remainder : 0;
}

void CounterToBytes(std::uint64_t value, std::uint8_t out[8])
{
    for (int i = 7; i >= 0; --i) {
        out[i] = static_cast<std::uint8_t>(value & 0xFF);
        value >>= 8;
    }
}
