// COtpToken::Create over arbitrary name, serial and seed texts (the input split
// at its zero bytes). Every accepted seed must give the fields its digits say,
// and encode back to itself; fields built from the input must survive an
// encode and decode unchanged.
#include "Fuzzing.h"

#include "otp/OtpToken.h"
#include "otp/Seed.h"

#include <string>
#include <tuple>
#include <vector>

namespace {

// The first four of each are the values a seed can give.
const int Sleeps[] = {5, 10, 15, 30, 0, 20};
const int Timers[] = {60, 120, 180, 240, 0, 90};

auto Tied(const SeedFields& f)
{
    return std::tie(f.Version, f.TokenType, f.CheckSum, f.TwoWay, f.Digits, f.Sleep, f.Timer,
                    f.SyncSize, f.SpareFlags, f.KeyText);
}

// The token fields the flags of an accepted seed stand for, read straight
// from its digits.
void CheckAccepted(const std::string& seed, const COtpToken& token)
{
    Require(seed.size() == 18 && seed.find_first_not_of("0123456789") >= 7 && seed[17] >= '0' &&
                seed[17] <= '9' && seed[0] <= '1',
            "a seed accepted with a non-digit where digits belong, or a version above 1");
    const unsigned flags = static_cast<unsigned>(std::stoi(seed.substr(2, 5)));
    const int type = static_cast<int>(flags & 3) + (seed[0] == '1' && (flags & 3) < 2 ? 4 : 0);
    Require(token.TokenType == type && token.CheckSum == ((flags & 4) != 0) &&
                token.TwoWay == ((flags & 8) != 0) &&
                token.Digits == static_cast<int>(flags >> 5 & 7) + 5 &&
                token.Sleep == Sleeps[flags >> 8 & 3] &&
                token.Timer == static_cast<int>((flags >> 10 & 3) + 1) * 60 &&
                token.SyncSize == static_cast<int>(flags >> 12 & 3) + 2 && token.Counter == 1 &&
                token.OtpKeyLength == 20 && token.TwoWayKeyLength == 20,
            "a token that differs from its seed's flags");
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
    Require((token != nullptr) == (!name.empty() && decoding.Refusal.empty()),
            "Create and DecodeSeed disagree");
    if (token) {
        CheckAccepted(seed, *token);
    }
    if (decoding.Refusal.empty()) {
        const SeedEncoding again = EncodeSeed(serial, decoding.Fields);
        Require(again.Refusal.empty() && again.Seed == seed, "a seed does not encode back");
    }

    // Fields from the seed's bytes, each ranging a little beyond what a seed holds.
    if (seed.size() >= 18) {
        const auto byte = [&seed](std::size_t i) { return static_cast<unsigned char>(seed[i]); };
        SeedFields fields;
        fields.Version = byte(0) % 3;
        fields.TokenType = byte(1) % 7;
        fields.CheckSum = (byte(2) & 1) != 0;
        fields.TwoWay = (byte(2) & 2) != 0;
        fields.Digits = byte(3) % 14;
        fields.Sleep = Sleeps[byte(4) % 6];
        fields.Timer = Timers[byte(5) % 6];
        fields.SyncSize = byte(6) % 7;
        fields.SpareFlags = byte(2) & 0x10U ? 1U << (byte(17) % 18) : 0U;
        fields.KeyText = seed.substr(7, byte(16) % 4 == 0 ? 9 : 10);
        const SeedEncoding encoding = EncodeSeed(serial, fields);
        if (encoding.Refusal.empty()) {
            const SeedDecoding back = DecodeSeed(serial, encoding.Seed);
            Require(back.Refusal.empty() && Tied(back.Fields) == Tied(fields) &&
                        (name.empty() || COtpToken::Create(name.c_str(), serial.c_str(),
                                                           encoding.Seed.c_str()) != nullptr),
                    "encoded fields do not decode back");
        }
    }
    return 0;
}
