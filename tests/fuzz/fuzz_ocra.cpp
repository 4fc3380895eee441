// The OCRA entry points over arbitrary suites, questions, passwords, session
// texts, counters and times. ConversionError is the one failure they may
// report; a code they make has exactly the suite's digit count of decimal
// digits, and the hex helpers round-trip.
//
// Input lines: suite, question, password, session information, key,
// "<counter> <time> <buffer size>", then text for the hex decoders.
#include "Fuzzing.h"

#include "otp/NumberText.h"
#include "otp/Ocra.h"
#include "otp/TextParts.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

const char Digits[] = "0123456789";
const char UpperHex[] = "0123456789ABCDEF";

// A code is empty or has the digit count the suite names, in decimal digits.
void CheckCode(const std::string& code, const std::string& suite)
{
    if (code.empty()) {
        return;
    }
    const auto parts = SplitAt(suite, ':');
    const auto function = parts.size() == 3 ? SplitAt(parts[1], '-') : std::vector<std::string>();
    Require(function.size() == 3, "a code for a suite without a crypto function");
    std::int32_t digits = -1;
    Allowing<ConversionError>([&] { digits = ParseInt32(function[2]); });
    Require(code.size() == std::size_t(digits) && AllOf(code, Digits), "a code of the wrong form");
}

void CheckHex(const std::string& text, std::int64_t size)
{
    const ByteBuffer fixed = HexToBytes(text, static_cast<std::int32_t>(size));
    Require(fixed.length == std::max<std::int32_t>(static_cast<std::int32_t>(size), 0) &&
                fixed.bytes,
            "HexToBytes(hex, size) is not size bytes long");
    const ByteBuffer decoded = HexToBytes(text);
    Require(std::size_t(decoded.length) == (text.size() + 1) / 2,
            "HexToBytes(hex) is not half the padded text");
    const std::string hex = BytesToHex(decoded);
    Require(hex.size() == std::size_t(decoded.length) * 2 && AllOf(hex, UpperHex),
            "BytesToHex is not upper-case hex");
    const ByteBuffer again = HexToBytes(hex);
    Require(again.length == decoded.length && std::memcmp(again.bytes.get(), decoded.bytes.get(),
                                                          std::size_t(decoded.length)) == 0,
            "hex does not round-trip");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CFuzzLines input(data, size);
    const std::string suite = input.Line();
    const std::string question = input.Line();
    const std::string password = input.Line();
    const std::string session = input.Line();
    const std::string key = input.Line();
    const std::string numbers = input.Line();
    std::string::size_type at = 0;
    const auto counter = static_cast<std::uint64_t>(CFuzzLines::Number(numbers, at));
    const std::int64_t time = CFuzzLines::Number(numbers, at);
    const std::int64_t bufferSize = CFuzzLines::Number(numbers, at) % 4096;
    const std::string hexText = input.Rest();
    const std::uint8_t* keyBytes = Bytes(key);
    const auto keyLength = static_cast<std::int32_t>(key.size());

    std::string code;
    Allowing<ConversionError>([&] {
        code = ComputeOcra(keyBytes, keyLength, suite, counter, question, password, session, time);
    });
    CheckCode(code, suite);

    std::string questionHex;
    std::string timeHex;
    Require(!Allowing<ConversionError>([&] { questionHex = FormatQuestion(suite, question); }) ||
                question.empty() || suite.find("QN") != std::string::npos ||
                questionHex ==
                    BytesToHex(Bytes(question), static_cast<std::int32_t>(question.size())),
            "a text question is not its bytes in hex");
    Require(AllOf(questionHex, UpperHex) && questionHex.size() % 2 == 0,
            "a question is not an even count of upper-case hex digits");
    const std::string passwordHex = HashPassword(suite, password);
    Require(password.empty() || passwordHex.size() == 40 || passwordHex.size() == 64 ||
                passwordHex.size() == 128,
            "a password hash of the wrong length");
    Require(!Allowing<ConversionError>([&] { timeHex = FormatTimeStep(suite, time); }) ||
                AllOf(timeHex, "0123456789abcdef"),
            "a time step that is not lower-case hex");

    // The builder over already formatted, and over arbitrary, inputs.
    Allowing<ConversionError>([&] {
        CheckCode(GenerateOcraCode(keyBytes, keyLength, suite, counter, questionHex, passwordHex,
                                   session, timeHex),
                  suite);
        CheckCode(GenerateOcraCode(keyBytes, keyLength, suite, counter, hexText, hexText, session,
                                   hexText),
                  suite);
    });
    CheckHex(hexText, bufferSize);
    return 0;
}
