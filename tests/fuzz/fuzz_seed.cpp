// COtpToken::Create over arbitrary name, serial and seed texts (the input split
// at its zero bytes). Every accepted seed must give the fields its digits say,
// and encode back to itself; fields built from the input must survive an
// encode and decode unchanged.
#include "otp/OtpToken.h"
#include "otp/Seed.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

namespace {

void Require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

auto Tied(const SeedFields& f)
{
    return std::tie(f.Version, f.TokenType, f.CheckSum, f.TwoWay, f.Digits, f.Sleep, f.Timer,
                    f.SyncSize, f.SpareFlags, f.KeyText);
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The token fields the flags of an accepted seed stand for, read straight
// from its digits.
void CheckAccepted(const std::string& seed, const COtpToken& token)
{
    Require(seed.size() == 18 && IsDigit(seed[17]));
    for (std::size_t i = 0; i < 7; ++i) {
        Require(IsDigit(seed[i]));
    }
    const int version = seed[0] - '0';
    Require(version <= 1);
    const unsigned flags = static_cast<unsigned>(std::stoi(seed.substr(2, 5)));
    int type = static_cast<int>(flags & 3);
    if (version == 1 && type < 2) {
        type += 4;
    }
    static const int sleeps[] = {5, 10, 15, 30};
    Require(token.TokenType == type);
    Require(token.CheckSum == ((flags & 4) != 0) && token.TwoWay == ((flags & 8) != 0));
    Require(token.Digits == static_cast<int>(flags >> 5 & 7) + 5);
    Require(token.Sleep == sleeps[flags >> 8 & 3]);
    Require(token.Timer == static_cast<int>((flags >> 10 & 3) + 1) * 60);
    Require(token.SyncSize == static_cast<int>(flags >> 12 & 3) + 2);
    Require(token.Counter == 1 && token.OtpKeyLength == 20 && token.TwoWayKeyLength == 20);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && parts.size() < 3) {
            parts.emplace_back();
        } else if (data[i] != 0) {
            parts.back() += static_cast<char>(data[i]);
        }
    }
    parts.resize(3);
    const std::string& name = parts[0];
    const std::string& serial = parts[1];
    const std::string& seed = parts[2];

    const COtpTokenPtr token = COtpToken::Create(name.c_str(), serial.c_str(), seed.c_str());
    const SeedDecoding decoding = DecodeSeed(serial, seed);
    Require(token == nullptr || decoding.Refusal.empty());
    Require(name.empty() || token != nullptr || !decoding.Refusal.empty());
    if (token) {
        CheckAccepted(seed, *token);
    }
    if (decoding.Refusal.empty()) {
        const SeedEncoding again = EncodeSeed(serial, decoding.Fields);
        Require(again.Refusal.empty() && again.Seed == seed);
    }

    // Fields from the seed's bytes, each ranging a little beyond what a seed holds.
    if (seed.size() >= 18) {
        const auto byte = [&seed](std::size_t i) { return static_cast<unsigned char>(seed[i]); };
        static const int sleeps[] = {5, 10, 15, 30, 0, 20};
        static const int timers[] = {60, 120, 180, 240, 0, 90};
        SeedFields fields;
        fields.Version = byte(0) % 3;
        fields.TokenType = byte(1) % 7;
        fields.CheckSum = (byte(2) & 1) != 0;
        fields.TwoWay = (byte(2) & 2) != 0;
        fields.Digits = byte(3) % 14;
        fields.Sleep = sleeps[byte(4) % 6];
        fields.Timer = timers[byte(5) % 6];
        fields.SyncSize = byte(6) % 7;
        fields.SpareFlags = byte(2) & 0x10U ? 1U << (byte(17) % 18) : 0U;
        fields.KeyText = seed.substr(7, byte(16) % 4 == 0 ? 9 : 10);
        const SeedEncoding encoding = EncodeSeed(serial, fields);
        if (encoding.Refusal.empty()) {
            const SeedDecoding back = DecodeSeed(serial, encoding.Seed);
            Require(back.Refusal.empty() && Tied(back.Fields) == Tied(fields));
            Require(name.empty() || COtpToken::Create(name.c_str(), serial.c_str(),
                                                      encoding.Seed.c_str()) != nullptr);
        }
    }
    return 0;
}
