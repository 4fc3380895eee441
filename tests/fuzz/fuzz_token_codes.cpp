// The token's code builders over arbitrary field values (as a damaged or
// foreign database row may hold them), times, steps and sync sizes. The
// counter never decreases and never advances without a code; every code is
// empty or has Digits (+1 with the check digit) decimal digits; a token that
// GetUnusableReason refuses gives no code at all.
//
// Input lines: "<type> <digits> <timer> <sync size> <counter> <check digit
// 0/1> <two-way 0/1> <OtpKeyLength> <TwoWayKeyLength> <now>", then the
// operations, one letter each (o GetOtp, s GetSyncOtps, c GetOcraResponse,
// r GetRemainingSeconds, t GenerateTotpPair, h GenerateHotpPair, n the next
// number as the time), then "<time> <step> <counter> ..." for t, h and n,
// the OCRA suite, the question, the password; the rest is key bytes.
#include "Fuzzing.h"

#include "otp/Clock.h"
#include "otp/NumberText.h"
#include "otp/OtpToken.h"
#include "otp/TextParts.h"

#include <string>
#include <vector>

namespace {

std::int64_t g_now = 0;

void CheckCode(const std::string& code, const COtpToken& token, std::int32_t digits)
{
    Require(code.empty() ||
                (AllOf(code, "0123456789") && code.size() == std::size_t(digits) + token.CheckSum),
            "a code of the wrong form");
}

void CheckPair(const OtpPair& pair, const COtpToken& token, std::int32_t digits)
{
    CheckCode(pair.first, token, digits);
    CheckCode(pair.second, token, digits);
    Require(pair.first.empty() == pair.second.empty(), "one code of a pair without the other");
}

// A counter that moved did so by one code, and only for one.
void CheckMove(const OtpPair& pair, const COtpToken& token, std::uint64_t before)
{
    Require(token.Counter == before || (!pair.first.empty() && token.Counter == before + 1),
            "the counter moved other than by one code");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    OtpClock::SetSource([] { return g_now; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CFuzzLines input(data, size);
    const std::string fields = input.Line();
    const std::string operations = input.Line();
    const std::string numbers = input.Line();
    std::string::size_type at = 0;
    const auto next = [&fields, &at] { return CFuzzLines::Number(fields, at); };

    COtpToken token;
    token.TokenType = static_cast<std::int32_t>(next());
    token.Digits = static_cast<std::int32_t>(next());
    token.Timer = static_cast<std::int32_t>(next());
    token.SyncSize = static_cast<std::int32_t>(next());
    token.Counter = static_cast<std::uint64_t>(next());
    token.CheckSum = next() != 0;
    token.TwoWay = next() != 0;
    const auto otpKeyLength = static_cast<std::int32_t>(next());
    const auto twoWayKeyLength = static_cast<std::int32_t>(next());
    g_now = next();
    token.OcraSuite = input.Line();
    const std::string question = input.Line();
    const std::string password = input.Line();
    const std::string key = input.Rest();
    token.SetOtpKey(Bytes(key), static_cast<std::int32_t>(key.size()));
    token.SetTwoWayKey(Bytes(key), static_cast<std::int32_t>(key.size()) / 2);
    // Storage and callers may write the lengths directly, whatever the keys hold.
    token.OtpKeyLength = otpKeyLength != 0 ? otpKeyLength : token.OtpKeyLength;
    token.TwoWayKeyLength = twoWayKeyLength != 0 ? twoWayKeyLength : token.TwoWayKeyLength;

    at = 0;
    const auto parameter = [&numbers, &at] { return CFuzzLines::Number(numbers, at); };
    for (const char operation : operations.substr(0, 64)) {
        const std::uint64_t before = token.Counter;
        const bool unusable = !token.GetUnusableReason().empty();
        const std::int32_t digits = token.Digits;
        switch (operation) {
        case 'o': {
            const OtpPair pair = token.GetOtp();
            CheckPair(pair, token, digits);
            CheckMove(pair, token, before);
            Require(token.Timer != 0, "GetOtp left a Timer of 0");
            Require(!unusable || pair.first.empty(), "a code from a token refused as unusable");
            break;
        }
        case 's': {
            const std::string list = token.GetSyncOtps();
            const std::vector<std::string> codeList =
                list.empty() ? std::vector<std::string>() : SplitAt(list, ',');
            for (const std::string& code : codeList) {
                Require(!code.empty(), "an empty code in a sync list");
                CheckCode(code, token, digits);
            }
            const std::uint64_t codes = codeList.size();
            Require(codes <= std::uint64_t(COtpToken::MaxSyncSize) &&
                        (token.Counter == before || token.Counter - before == codes),
                    "GetSyncOtps moved the counter other than by its codes");
            Require(!unusable || codes == 0, "a sync list from a token refused as unusable");
            break;
        }
        case 'c': {
            OtpPair pair;
            Allowing<ConversionError>([&] { pair = token.GetOcraResponse(question, password); });
            CheckMove(pair, token, before);
            break;
        }
        case 'r': {
            const int remaining = token.GetRemainingSeconds();
            const std::int64_t timer = token.Timer == 0 ? 180 : token.Timer;
            const bool counts = token.TokenType == TokenTypeTOTP && token.Timer >= 0;
            Require(counts ? remaining >= 1 && remaining <= timer : remaining == 0,
                    "remaining seconds out of range");
            break;
        }
        case 't': {
            const std::int64_t time = parameter();
            const auto step = static_cast<std::int32_t>(parameter());
            const OtpPair pair = token.GenerateTotpPair(time, step);
            CheckPair(pair, token, digits);
            Require(step > 0 || pair.first.empty(), "a time code for a step of 0 or less");
            break;
        }
        case 'h':
            CheckPair(token.GenerateHotpPair(static_cast<std::int32_t>(parameter())), token,
                      digits);
            break;
        case 'n':
            g_now = parameter();
            break;
        default:
            break;
        }
        Require(token.Counter >= before, "the counter went back");
        token.GetDisplayName();
        token.GetTypeName();
    }
    return 0;
}
