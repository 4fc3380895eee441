#include "otp/Ocra.h"

#include "otp/Digest.h"
#include "otp/Hotp.h"
#include "otp/NumberText.h"
#include "otp/TextParts.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <vector>

namespace {

constexpr std::int32_t CounterFieldLength = 8;
constexpr std::int32_t TimeFieldLength = 8;

std::string ToUpper(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Decodes pairs from the start of hex into out until a pair is not hex.
void DecodePairs(const std::string& hex, std::uint8_t* out)
{
    for (std::string::size_type i = 0; i + 1 < hex.size(); i += 2) {
        const int high = HexValue(hex[i]);
        const int low = HexValue(hex[i + 1]);
        if (high < 0 || low < 0) {
            return;
        }
        *out++ = static_cast<std::uint8_t>(high << 4 | low);
    }
}

std::string EvenLength(const std::string& hex)
{
    return hex.size() % 2 != 0 ? "0" + hex : hex;
}

ByteBuffer MakeBuffer(std::int32_t length)
{
    ByteBuffer buffer;
    buffer.length = std::max(length, 0);
    buffer.bytes.reset(new std::uint8_t[static_cast<std::size_t>(buffer.length) + 1]());
    return buffer;
}

std::string ToHex(std::uint64_t value, bool upperCase)
{
    const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 0x0F]);
        value >>= 4;
    } while (value != 0);
    return text;
}

// Bytes of the password hash field the suite names.
std::int32_t PasswordFieldLength(const std::string& suite)
{
    if (suite.find("PSHA256") != std::string::npos) {
        return 32;
    }
    if (suite.find("PSHA512") != std::string::npos) {
        return 64;
    }
    return 20;
}

// The time step the suite names, in seconds; false when it names none. Throws
// ConversionError when the step's number is not an integer.
bool FindTimeStep(const std::string& suite, std::int64_t& seconds)
{
    std::string::size_type position = suite.find("-T");
    if (position == std::string::npos) {
        position = suite.find(":T");
    }
    if (position == std::string::npos) {
        return false;
    }
    const std::string rest = suite.substr(position + 2);
    if (rest.empty()) {
        throw ConversionError("FormatTimeStep: no time step in \"" + suite + "\"");
    }
    const char unit = rest.back();
    const std::int64_t unitSeconds = unit == 'M' ? 60 : unit == 'H' ? 3600 : 1;
    seconds = static_cast<std::int64_t>(ParseInt32(rest.substr(0, rest.size() - 1))) * unitSeconds;
    return true;
}

} // namespace

std::string BytesToHex(const std::uint8_t* bytes, std::int32_t length)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    if (bytes == nullptr || length <= 0) {
        return text;
    }
    text.reserve(static_cast<std::size_t>(length) * 2);
    for (std::int32_t i = 0; i < length; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

std::string BytesToHex(const ByteBuffer& buffer)
{
    return BytesToHex(buffer.bytes.get(), buffer.length);
}

ByteBuffer HexToBytes(const std::string& hex, std::int32_t size)
{
    ByteBuffer buffer = MakeBuffer(size);
    const std::string even = EvenLength(hex);
    const std::string::size_type count = even.size() / 2;
    if (count <= static_cast<std::string::size_type>(buffer.length)) {
        DecodePairs(even, buffer.bytes.get() + (static_cast<std::size_t>(buffer.length) - count));
    }
    return buffer;
}

ByteBuffer HexToBytes(const std::string& hex)
{
    const std::string even = EvenLength(hex);
    const std::string::size_type count = even.size() / 2;
    if (count > static_cast<std::string::size_type>(INT32_MAX)) {
        return MakeBuffer(0);
    }
    ByteBuffer buffer = MakeBuffer(static_cast<std::int32_t>(count));
    DecodePairs(even, buffer.bytes.get());
    return buffer;
}

std::string FormatQuestion(const std::string& suite, const std::string& question)
{
    if (question.empty()) {
        return std::string();
    }
    if (suite.find("QN") != std::string::npos) {
        std::string hex = ToHex(ParseUInt64(question), true);
        // The number's hex digits start the field, so an odd count is padded at the end.
        if (hex.size() % 2 != 0) {
            hex.push_back('0');
        }
        return hex;
    }
    if (question.size() > static_cast<std::string::size_type>(INT32_MAX / 2)) {
        return std::string();
    }
    return BytesToHex(reinterpret_cast<const std::uint8_t*>(question.data()),
                      static_cast<std::int32_t>(question.size()));
}

std::string HashPassword(const std::string& suite, const std::string& password)
{
    if (password.empty()) {
        return std::string();
    }
    DigestAlgorithm algorithm = DigestAlgorithm::Sha1;
    if (suite.find("PSHA256") != std::string::npos) {
        algorithm = DigestAlgorithm::Sha256;
    } else if (suite.find("PSHA512") != std::string::npos) {
        algorithm = DigestAlgorithm::Sha512;
    }
    const std::vector<std::uint8_t> digest =
        ComputeDigest(algorithm, password.data(), password.size());
    return BytesToHex(digest.data(), static_cast<std::int32_t>(digest.size()));
}

std::string FormatTimeStep(const std::string& suite, std::int64_t time)
{
    std::int64_t step = 0;
    if (time == 0 || !FindTimeStep(suite, step) || step <= 0) {
        return std::string();
    }
    // On 64 bits: a 32-bit division would go wrong for times after 2038.
    return ToHex(static_cast<std::uint64_t>(time / step), false);
}

std::string GenerateOcraCode(const std::uint8_t* key, std::int32_t keyLength,
                             const std::string& suite, std::uint64_t counter,
                             const std::string& questionHex, const std::string& passwordHex,
                             const std::string& sessionInfo, const std::string& timeHex)
{
    const std::vector<std::string> parts = SplitAt(ToUpper(suite), ':');
    if (parts.size() != 3 || parts[0] != "OCRA-1") {
        return std::string();
    }
    const std::vector<std::string> function = SplitAt(parts[1], '-');
    if (function.size() != 3) {
        return std::string();
    }
    std::int32_t digits = 0;
    try {
        digits = ParseInt32(function[2]);
    } catch (const ConversionError&) {
        return std::string();
    }
    if (digits < 1 || digits > MaxOtpDigits || parts[2].empty()) {
        return std::string();
    }

    bool hasCounter = false, hasQuestion = false, hasPassword = false, hasSession = false,
         hasTime = false;
    for (const std::string& item : SplitAt(parts[2], '-')) {
        if (item.empty()) {
            continue;
        }
        hasCounter |= item[0] == 'C';
        hasQuestion |= item[0] == 'Q';
        hasPassword |= item[0] == 'P';
        hasSession |= item[0] == 'S';
        hasTime |= item[0] == 'T';
    }

    // Inputs that do not fit their field are refused rather than cut.
    const std::int32_t passwordLength = PasswordFieldLength(suite);
    const ByteBuffer questionBytes = HexToBytes(hasQuestion ? questionHex : std::string());
    if ((hasQuestion && questionBytes.length > OcraQuestionFieldLength) ||
        (hasPassword && EvenLength(passwordHex).size() / 2 >
                            static_cast<std::string::size_type>(passwordLength)) ||
        (hasSession && sessionInfo.size() > static_cast<std::size_t>(OcraSessionFieldLength)) ||
        (hasTime && EvenLength(timeHex).size() / 2 > static_cast<std::size_t>(TimeFieldLength))) {
        return std::string();
    }

    const std::size_t suiteLength = suite.size();
    const std::size_t fieldsLength =
        (hasCounter ? CounterFieldLength : 0) + (hasQuestion ? OcraQuestionFieldLength : 0) +
        (hasPassword ? passwordLength : 0) + (hasSession ? OcraSessionFieldLength : 0) +
        (hasTime ? TimeFieldLength : 0);
    if (suiteLength > static_cast<std::size_t>(INT32_MAX) - 1 - fieldsLength) {
        return std::string();
    }
    std::vector<std::uint8_t> message(suiteLength + 1 + fieldsLength, 0);
    std::memcpy(message.data(), suite.data(), suiteLength);
    std::uint8_t* field = message.data() + suiteLength + 1;

    if (hasCounter) {
        CounterToBytes(counter, field);
        field += CounterFieldLength;
    }
    if (hasQuestion) {
        std::memcpy(field, questionBytes.bytes.get(),
                    static_cast<std::size_t>(questionBytes.length));
        field += OcraQuestionFieldLength;
    }
    if (hasPassword) {
        if (!passwordHex.empty()) {
            const ByteBuffer hash = HexToBytes(passwordHex, passwordLength);
            std::memcpy(field, hash.bytes.get(), static_cast<std::size_t>(passwordLength));
        }
        field += passwordLength;
    }
    if (hasSession) {
        std::copy(sessionInfo.begin(), sessionInfo.end(), field);
        field += OcraSessionFieldLength;
    }
    if (hasTime && !timeHex.empty()) {
        const ByteBuffer steps = HexToBytes(timeHex, TimeFieldLength);
        std::memcpy(field, steps.bytes.get(), TimeFieldLength);
    }

    std::int32_t hash = HashSha1;
    if (function[1] == "SHA512") {
        hash = HashSha512;
    } else if (function[1] == "SHA256") {
        hash = HashSha256;
    }
    return GenerateOtp(key, keyLength, message.data(), static_cast<std::int32_t>(message.size()),
                       digits, false, hash);
}

std::string ComputeOcra(const std::uint8_t* key, std::int32_t keyLength, const std::string& suite,
                        std::uint64_t counter, const std::string& question,
                        const std::string& password, const std::string& sessionInfo,
                        std::int64_t time)
{
    const std::string questionHex = FormatQuestion(suite, question);
    const std::string passwordHex = HashPassword(suite, password);
    if ((!question.empty() && questionHex.empty()) || (!password.empty() && passwordHex.empty())) {
        return std::string(); // an input that could not be encoded: no code over a blank field
    }
    std::int64_t step = 0;
    if (time != 0 && FindTimeStep(suite, step) && step <= 0) {
        return std::string(); // a step of zero seconds counts nothing
    }
    const std::string timeHex = FormatTimeStep(suite, time);
    return GenerateOcraCode(key, keyLength, suite, counter, questionHex, passwordHex, sessionInfo,
                            timeHex);
}
