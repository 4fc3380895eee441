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
#include "FuzzLines.h"
#include "otp/Clock.h"
#include "otp/Hotp.h"
#include "otp/NumberText.h"
#include "otp/OtpToken.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::int64_t g_now = 0;

void Fail(const char* what, const COtpToken& token)
{
    std::fprintf(stderr,
                 "fuzz_token_codes: %s (type %d, digits %d, timer %d, sync %d, counter %llu, "
                 "key length %d, now %lld)\n",
                 what, token.TokenType, token.Digits, token.Timer, token.SyncSize,
                 static_cast<unsigned long long>(token.Counter), token.OtpKeyLength,
                 static_cast<long long>(g_now));
    std::abort();
}

bool Decimal(const std::string& code)
{
    return code.find_first_not_of("0123456789") == std::string::npos;
}

void CheckCode(const std::string& code, const COtpToken& token, std::int32_t digits)
{
    if (!code.empty() &&
        (!Decimal(code) || code.size() != static_cast<std::size_t>(digits) + token.CheckSum)) {
        Fail("a code of the wrong form", token);
    }
}

void CheckPair(const OtpPair& pair, const COtpToken& token, std::int32_t digits)
{
    CheckCode(pair.first, token, digits);
    CheckCode(pair.second, token, digits);
    if (pair.first.empty() != pair.second.empty()) {
        Fail("one code of a pair without the other", token);
    }
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
    token.SetOtpKey(reinterpret_cast<const std::uint8_t*>(key.data()),
                    static_cast<std::int32_t>(key.size()));
    token.SetTwoWayKey(reinterpret_cast<const std::uint8_t*>(key.data()),
                       static_cast<std::int32_t>(key.size()) / 2);
    // Storage and callers may write the lengths directly, whatever the keys hold.
    if (otpKeyLength != 0) {
        token.OtpKeyLength = otpKeyLength;
    }
    if (twoWayKeyLength != 0) {
        token.TwoWayKeyLength = twoWayKeyLength;
    }

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
            if (token.Timer == 0) {
                Fail("GetOtp left a Timer of 0", token);
            }
            if (token.Counter != before && (pair.first.empty() || token.Counter != before + 1)) {
                Fail("GetOtp moved the counter other than by one code", token);
            }
            if (unusable && !pair.first.empty()) {
                Fail("a code from a token refused as unusable", token);
            }
            break;
        }
        case 's': {
            const std::string list = token.GetSyncOtps();
            std::uint64_t codes = 0;
            for (std::string::size_type start = 0; !list.empty();) {
                const std::string::size_type end = list.find(',', start);
                const std::string code = list.substr(start, end - start);
                if (code.empty()) {
                    Fail("an empty code in a sync list", token);
                }
                CheckCode(code, token, digits);
                ++codes;
                if (end == std::string::npos) {
                    break;
                }
                start = end + 1;
            }
            if (codes > static_cast<std::uint64_t>(COtpToken::MaxSyncSize) ||
                (token.Counter != before && token.Counter - before != codes)) {
                Fail("GetSyncOtps moved the counter other than by its codes", token);
            }
            if (unusable && codes != 0) {
                Fail("a sync list from a token refused as unusable", token);
            }
            break;
        }
        case 'c': {
            OtpPair pair;
            try {
                pair = token.GetOcraResponse(question, password);
            } catch (const ConversionError&) {
            }
            if (token.Counter != before && (pair.first.empty() || token.Counter != before + 1)) {
                Fail("GetOcraResponse moved the counter other than by one code", token);
            }
            break;
        }
        case 'r': {
            const int remaining = token.GetRemainingSeconds();
            const std::int64_t timer = token.Timer == 0 ? 180 : token.Timer;
            const bool counts = token.TokenType == TokenTypeTOTP && token.Timer >= 0;
            if (counts ? remaining < 1 || remaining > timer : remaining != 0) {
                Fail("remaining seconds out of range", token);
            }
            break;
        }
        case 't': {
            const std::int64_t time = parameter();
            const auto step = static_cast<std::int32_t>(parameter());
            const OtpPair pair = token.GenerateTotpPair(time, step);
            CheckPair(pair, token, digits);
            if (step <= 0 && !pair.first.empty()) {
                Fail("a time code for a step of 0 or less", token);
            }
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
        if (token.Counter < before) {
            Fail("the counter went back", token);
        }
        token.GetDisplayName();
        token.GetTypeName();
    }
    return 0;
}
