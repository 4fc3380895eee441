#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

class COtpToken;

// Tokens travel between the layers only through this pointer; an empty
// pointer means "no token".
using COtpTokenPtr = std::shared_ptr<COtpToken>;

// A code pair: first the main code (from OtpKey), second the two-way code
// (from TwoWayKey).
using OtpPair = std::pair<std::string, std::string>;

// Type codes of COtpToken::TokenType.
enum TokenTypeCode : std::int32_t {
    TokenTypeCB = 0,
    TokenTypeTB = 1,
    TokenTypeCR = 2,
    TokenTypeCT = 3,
    TokenTypeHOTP = 4,
    TokenTypeTOTP = 5,
};

// One installed token: its identity fields (the columns of tblToken), its two
// HMAC keys, its moving counter and its code settings.
class COtpToken
{
public:
    static constexpr std::int32_t MaxKeyLength = 128;
    // Longest list GetSyncOtps makes; a larger SyncSize gives an empty list.
    static constexpr std::int32_t MaxSyncSize = 100;

    COtpToken();
    COtpToken(const COtpToken&) = default;
    COtpToken& operator=(const COtpToken&) = default;
    virtual ~COtpToken();

    // A new token from the texts typed at install, or an empty pointer when any
    // text is missing or empty or the seed fails a check.
    static COtpTokenPtr Create(const char* name, const char* serial, const char* seed);
    // Why Create refuses these texts, in words a user can act on (the seed's
    // reasons are DecodeSeed's); empty when it takes them.
    static std::string CreateRefusal(const char* name, const char* serial, const char* seed);

    // A key length brought back into 0..MaxKeyLength: callers may write the
    // public length fields directly, and no computation may leave the buffer.
    static std::int32_t UsableKeyLength(std::int32_t length);

    // Copy a key; at most MaxKeyLength bytes are copied and recorded.
    void SetTwoWayKey(const std::uint8_t* bytes, std::int32_t length);
    void SetOtpKey(const std::uint8_t* bytes, std::int32_t length);

    // The current code pair; advances Counter for CB, CT and HOTP. Two empty
    // codes, with Counter unchanged, for CR and unknown types and whenever
    // GetUnusableReason is not empty.
    OtpPair GetOtp();
    // The code pair of an event-based type (CB, CT, HOTP) for the given
    // counter, changing nothing: a press computes its code from the counter
    // storage reserved for it. Two empty codes for other types and whenever
    // GetUnusableReason is not empty.
    OtpPair GetOtpAt(std::uint64_t counter) const;
    // Why no code can be computed for this token ("" when codes can be): its
    // secret is unreadable (OtpKeyLength 0), Digits is outside 1..MaxOtpDigits,
    // Timer cannot be counted, or the counter cannot advance. The views show it
    // and never consume a counter for such a token. CR and unknown types make
    // no codes by design and give "".
    std::string GetUnusableReason() const;
    // True for the press-driven types CB, CT and HOTP.
    bool IsEventBased() const;
    // True for the types GetOtp makes codes for; false for CR, which only
    // answers challenges, and for unknown types.
    bool MakesCodes() const;
    // Title for menus and the OTP view.
    std::string GetDisplayName() const;
    std::string GetTypeName() const;
    // Seconds left in the current TOTP step (1..Timer); 0 for other types.
    int GetRemainingSeconds() const;
    // Seconds in the time step a shown code belongs to: half the Timer for TB,
    // the Timer for the other types that are not event-based; 0 for
    // event-based types and for a Timer that counts no step.
    std::int64_t GetTimeStep() const;
    // Same DomainName and Serial, byte for byte.
    bool IsSameToken(const COtpToken& other) const;
    // SyncSize successive main codes joined by ","; empty, with Counter
    // unchanged, when SyncSize is outside 1..MaxSyncSize, the token is unusable
    // or its counter cannot advance SyncSize times.
    std::string GetSyncOtps();
    // A code pair answering a challenge question; advances Counter of an HOTP
    // token once a code was made. Throws ConversionError when a numeric
    // question is not a number.
    OtpPair GetOcraResponse(const std::string& question, const std::string& password);

    OtpPair GenerateOtpPair(const std::uint8_t* data, std::int32_t length, std::int32_t digits,
                            std::int32_t hash) const;
    OtpPair GenerateHotpPair(std::int32_t counter) const;
    OtpPair GenerateTotpPair(std::int64_t time, std::int32_t step) const;
    // The OCRA code pair for the given inputs (time 0: no time). Throws
    // ConversionError for a numeric question or time step that is not a number.
    OtpPair GenerateOcraPair(const std::string& suite, std::uint64_t counter,
                             const std::string& question, const std::string& password,
                             const std::string& sessionInfo, std::int64_t time) const;

    std::int32_t ID;
    std::string DisplayName;
    std::string Name;
    std::string Description;
    std::string DomainName;
    std::string UserName;
    std::string TokenID;
    std::string Serial;
    std::string AppUrl;
    std::string ServiceUrl;
    std::string OcraSuite;
    std::uint8_t TwoWayKey[MaxKeyLength];
    std::uint8_t OtpKey[MaxKeyLength];
    std::int32_t TwoWayKeyLength;
    std::int32_t OtpKeyLength;
    std::int32_t Digits;
    std::int32_t Status;
    std::int32_t TokenType;
    std::int32_t SyncSize;
    std::int32_t Timer;
    std::uint64_t Counter;
    std::int32_t Sleep;
    bool CheckSum;
    bool TwoWay;

private:
    // Returns pair, having advanced Counter when its main code is not empty.
    OtpPair AdvanceCounterAfter(OtpPair pair);
};
