#include "otp/OtpToken.h"

#include "otp/Clock.h"
#include "otp/Digest.h"
#include "otp/Hotp.h"
#include "otp/Ocra.h"
#include "otp/Seed.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace {

constexpr std::int32_t InstallKeyLength = 20;

// Copies at most MaxKeyLength bytes and returns the count kept; a negative or
// missing input keeps nothing.
std::int32_t CopyKey(std::uint8_t* target, const std::uint8_t* bytes, std::int32_t length)
{
    std::int32_t kept = 0;
    if (bytes != nullptr && length > 0) {
        kept = std::min(length, COtpToken::MaxKeyLength);
        // memmove: a key may be set from the token's own buffer.
        std::memmove(target, bytes, static_cast<std::size_t>(kept));
    }
    std::memset(target + kept, 0, static_cast<std::size_t>(COtpToken::MaxKeyLength - kept));
    return kept;
}

// GetOtp computes a Timer of 0 as this, and keeps it.
constexpr std::int32_t ZeroTimerReplacement = 180;

// The Timer a code is computed with.
std::int32_t EffectiveTimer(std::int32_t timer)
{
    return timer == 0 ? ZeroTimerReplacement : timer;
}

// The step of TB and CT: half of Timer, truncated; 0 or less makes no code.
std::int32_t HalfStep(std::int32_t timer)
{
    return timer / 2;
}

// The low 32 bits of a count, as the signed HOTP counter.
std::int32_t LowCounter(std::uint64_t value)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value & 0xFFFFFFFFU));
}

} // namespace

COtpToken::COtpToken()
    : ID(0), TwoWayKey{}, OtpKey{}, TwoWayKeyLength(0), OtpKeyLength(0), Digits(6), Status(0),
      TokenType(TokenTypeHOTP), SyncSize(2), Timer(30), Counter(0), Sleep(5), CheckSum(false),
      TwoWay(false)
{
}

COtpToken::~COtpToken()
{
    // The keys go with the token: freed memory keeps no copy of them.
    OPENSSL_cleanse(TwoWayKey, sizeof TwoWayKey);
    OPENSSL_cleanse(OtpKey, sizeof OtpKey);
}

std::int32_t COtpToken::UsableKeyLength(std::int32_t length)
{
    return std::clamp(length, 0, MaxKeyLength);
}

void COtpToken::SetTwoWayKey(const std::uint8_t* bytes, std::int32_t length)
{
    TwoWayKeyLength = CopyKey(TwoWayKey, bytes, length);
}

void COtpToken::SetOtpKey(const std::uint8_t* bytes, std::int32_t length)
{
    OtpKeyLength = CopyKey(OtpKey, bytes, length);
}

std::string COtpToken::CreateRefusal(const char* name, const char* serial, const char* seed)
{
    if (name == nullptr || serial == nullptr || seed == nullptr) {
        return "a text is missing";
    }
    if (*name == '\0') {
        return "the name is empty";
    }
    std::string reason = DecodeSeed(serial, seed).Refusal;
    if (reason.empty() && !Create(name, serial, seed)) {
        reason = "the seed is refused";
    }
    return reason;
}

COtpTokenPtr COtpToken::Create(const char* name, const char* serial, const char* seed)
{
    if (name == nullptr || serial == nullptr || seed == nullptr || *name == '\0') {
        return nullptr;
    }
    const SeedDecoding decoding = DecodeSeed(serial, seed);
    if (!decoding.Refusal.empty()) {
        return nullptr;
    }
    const SeedFields& fields = decoding.Fields;
    COtpTokenPtr token = std::make_shared<COtpToken>();
    token->TokenType = fields.TokenType;
    token->CheckSum = fields.CheckSum;
    token->TwoWay = fields.TwoWay;
    token->Digits = fields.Digits;
    token->Sleep = fields.Sleep;
    token->Timer = fields.Timer;
    token->SyncSize = fields.SyncSize;

    token->Counter = 1;
    token->Serial = serial;
    token->DisplayName = name;
    token->Name = name;
    token->Status = 1;
    if (fields.TokenType == TokenTypeHOTP || fields.TokenType == TokenTypeCB) {
        token->OcraSuite = "OCRA-1:HOTP-SHA1-6:C-QN08";
    } else if (fields.TokenType == TokenTypeTOTP) {
        token->OcraSuite = "OCRA-1:HOTP-SHA1-6:QN08-T1M";
    }

    const std::string& keyText = fields.KeyText;
    std::vector<std::uint8_t> twoWayKey =
        ComputeDigest(DigestAlgorithm::Md5, keyText.data(), keyText.size());
    std::vector<std::uint8_t> otpKey =
        ComputeDigest(DigestAlgorithm::Sha1, keyText.data(), keyText.size());
    if (twoWayKey.size() != 16 || otpKey.size() != InstallKeyLength) {
        return nullptr;
    }
    // The MD5 key, zero-padded to the install length (growing the vector
    // could leave an unwiped copy behind).
    token->SetTwoWayKey(twoWayKey.data(), static_cast<std::int32_t>(twoWayKey.size()));
    token->TwoWayKeyLength = InstallKeyLength;
    token->SetOtpKey(otpKey.data(), InstallKeyLength);
    // Only the token keeps its keys.
    OPENSSL_cleanse(twoWayKey.data(), twoWayKey.size());
    OPENSSL_cleanse(otpKey.data(), otpKey.size());
    return token;
}

OtpPair COtpToken::GetOtp()
{
    if (Timer == 0) {
        Timer = ZeroTimerReplacement;
    }
    if (!GetUnusableReason().empty()) {
        return OtpPair();
    }
    switch (TokenType) {
    case TokenTypeTOTP:
        return GenerateTotpPair(OtpClock::Now(), Timer);
    case TokenTypeHOTP:
    case TokenTypeCB:
    case TokenTypeCT:
        return AdvanceCounterAfter(GetOtpAt(Counter));
    case TokenTypeTB:
        // Divided on 64 bits so that times after 2038 still count on.
        return GenerateHotpPair(
            LowCounter(static_cast<std::uint64_t>(OtpClock::Now() / HalfStep(Timer))));
    default:
        return OtpPair();
    }
}

OtpPair COtpToken::GetOtpAt(std::uint64_t counter) const
{
    if (!IsEventBased() || !GetUnusableReason().empty()) {
        return OtpPair();
    }
    if (TokenType != TokenTypeCT) {
        return GenerateHotpPair(LowCounter(counter));
    }
    // GetUnusableReason has refused a Timer without a step; checked again
    // here because the division must never meet a zero.
    const std::int32_t step = HalfStep(EffectiveTimer(Timer));
    if (step <= 0) {
        return OtpPair();
    }
    const std::uint64_t steps =
        static_cast<std::uint64_t>(OtpClock::Now()) / static_cast<std::uint64_t>(step);
    std::uint8_t message[16];
    CounterToBytes(counter, message);
    CounterToBytes(steps, message + 8);
    return GenerateOtpPair(message, sizeof message, Digits, HashSha1);
}

std::string COtpToken::GetUnusableReason() const
{
    if (!MakesCodes()) {
        return std::string(); // no code by design, nothing to refuse
    }
    if (OtpKeyLength <= 0) {
        return "its secret cannot be read";
    }
    if (Digits < 1 || Digits > MaxOtpDigits) {
        return "its number of digits (" + std::to_string(Digits) + ") is outside 1 to " +
               std::to_string(MaxOtpDigits);
    }
    // The views count a code's display time down from Timer, and TB and CT
    // step by half of it (a Timer of 0 is computed as 180).
    if (Timer < 0) {
        return "its timer (" + std::to_string(Timer) + " s) is negative";
    }
    if ((TokenType == TokenTypeTB || TokenType == TokenTypeCT) && Timer == 1) {
        return "its timer (" + std::to_string(Timer) + " s) is shorter than two seconds";
    }
    if (IsEventBased() && Counter == UINT64_MAX) {
        return "its counter cannot advance any further";
    }
    return std::string();
}

bool COtpToken::IsEventBased() const
{
    return TokenType == TokenTypeCB || TokenType == TokenTypeCT || TokenType == TokenTypeHOTP;
}

bool COtpToken::MakesCodes() const
{
    return TokenType >= TokenTypeCB && TokenType <= TokenTypeTOTP && TokenType != TokenTypeCR;
}

std::string COtpToken::GetDisplayName() const
{
    if (!DisplayName.empty()) {
        return DisplayName;
    }
    std::string title;
    for (const std::string* part : {&Name, &DomainName, &UserName}) {
        if (!part->empty()) {
            title += *part + ":";
        }
    }
    return title + Serial;
}

std::string COtpToken::GetTypeName() const
{
    switch (TokenType) {
    case TokenTypeCB:
        return "CB";
    case TokenTypeTB:
        return "TB";
    case TokenTypeCR:
        return "CR";
    case TokenTypeCT:
        return "CT";
    case TokenTypeHOTP:
        return "HOTP";
    default:
        return "TOTP";
    }
}

int COtpToken::GetRemainingSeconds() const
{
    if (TokenType != TokenTypeTOTP || Timer < 0) {
        return 0;
    }
    // Counts down the step GetOtp shows.
    const std::int64_t step = EffectiveTimer(Timer);
    const std::int64_t elapsed = ((OtpClock::Now() % step) + step) % step;
    return static_cast<int>(step - elapsed);
}

std::int64_t COtpToken::GetTimeStep() const
{
    if (IsEventBased()) {
        return 0;
    }
    const std::int32_t timer = EffectiveTimer(Timer);
    return std::max(TokenType == TokenTypeTB ? HalfStep(timer) : timer, 0);
}

bool COtpToken::IsSameToken(const COtpToken& other) const
{
    return DomainName == other.DomainName && Serial == other.Serial;
}

std::string COtpToken::GetSyncOtps()
{
    // All or nothing: a list the counter cannot cover is refused before any
    // of it is used.
    if (SyncSize <= 0 || SyncSize > MaxSyncSize || !GetUnusableReason().empty() ||
        (IsEventBased() && static_cast<std::uint64_t>(SyncSize) > UINT64_MAX - Counter)) {
        return std::string();
    }
    const std::int32_t timer = EffectiveTimer(Timer);
    const std::int64_t step = GetTimeStep();
    // Unsigned, so that times near the end of the range wrap instead of overflowing.
    const std::uint64_t now = static_cast<std::uint64_t>(OtpClock::Now());
    std::string list;
    for (std::int32_t i = 0; i < SyncSize; ++i) {
        std::string code;
        if (TokenType == TokenTypeTOTP || TokenType == TokenTypeTB) {
            const std::uint64_t time =
                now + static_cast<std::uint64_t>(timer) * static_cast<std::uint64_t>(i);
            code = GenerateHotpPair(LowCounter(time / static_cast<std::uint64_t>(step))).first;
        } else {
            code = GetOtp().first;
        }
        if (!list.empty()) {
            list += ",";
        }
        list += code;
    }
    return list;
}

OtpPair COtpToken::GetOcraResponse(const std::string& question, const std::string& password)
{
    if (!GetUnusableReason().empty()) {
        return OtpPair();
    }
    if (TokenType == TokenTypeHOTP) {
        return AdvanceCounterAfter(
            GenerateOcraPair(OcraSuite, Counter, question, password, std::string(), 0));
    }
    if (TokenType == TokenTypeTOTP) {
        return GenerateOcraPair(OcraSuite, 0, question, password, std::string(), OtpClock::Now());
    }
    if (question.size() > static_cast<std::size_t>(INT32_MAX)) {
        return OtpPair();
    }
    return GenerateOtpPair(reinterpret_cast<const std::uint8_t*>(question.data()),
                           static_cast<std::int32_t>(question.size()), Digits, HashSha1);
}

OtpPair COtpToken::GenerateOtpPair(const std::uint8_t* data, std::int32_t length,
                                   std::int32_t digits, std::int32_t hash) const
{
    return OtpPair(
        GenerateOtp(OtpKey, UsableKeyLength(OtpKeyLength), data, length, digits, CheckSum, hash),
        GenerateOtp(TwoWayKey, UsableKeyLength(TwoWayKeyLength), data, length, digits, CheckSum,
                    hash));
}

OtpPair COtpToken::GenerateHotpPair(std::int32_t counter) const
{
    std::uint8_t data[8];
    CounterToBytes(static_cast<std::uint64_t>(static_cast<std::int64_t>(counter)), data);
    return GenerateOtpPair(data, sizeof data, Digits, HashSha1);
}

OtpPair COtpToken::GenerateTotpPair(std::int64_t time, std::int32_t step) const
{
    if (step <= 0) {
        return OtpPair();
    }
    const std::uint64_t counter = static_cast<std::uint64_t>(time) /
                                  static_cast<std::uint64_t>(static_cast<std::int64_t>(step));
    return GenerateHotpPair(LowCounter(counter));
}

OtpPair COtpToken::GenerateOcraPair(const std::string& suite, std::uint64_t counter,
                                    const std::string& question, const std::string& password,
                                    const std::string& sessionInfo, std::int64_t time) const
{
    return OtpPair(ComputeOcra(OtpKey, UsableKeyLength(OtpKeyLength), suite, counter, question,
                               password, sessionInfo, time),
                   ComputeOcra(TwoWayKey, UsableKeyLength(TwoWayKeyLength), suite, counter,
                               question, password, sessionInfo, time));
}

OtpPair COtpToken::AdvanceCounterAfter(OtpPair pair)
{
    // The counter moves on only once a code was made from it, and never wraps.
    if (!pair.first.empty() && Counter != UINT64_MAX) {
        ++Counter;
    }
    return pair;
}
