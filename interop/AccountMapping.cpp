#include "interop/AccountMapping.h"

#include "otp/Hotp.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// The engine counts HOTP with a signed 32-bit counter: beyond it, its codes
// are no longer those of RFC 4226.
constexpr std::uint64_t MaxCounter = INT32_MAX;

// The name of an account that has neither issuer nor account name.
const char* const UnnamedAccount = "(unnamed)";

bool IsControl(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

bool HoldsControl(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), IsControl);
}

// The name as a line can show it: control characters as "?".
std::string Printable(std::string text)
{
    std::replace_if(text.begin(), text.end(), IsControl, '?');
    return text;
}

// Why the account cannot become a token; "" when it can.
std::string RefusalOf(const CAccount& account)
{
    if (!account.Refusal.empty()) {
        return account.Refusal;
    }
    if (account.Type != "totp" && account.Type != "hotp") {
        return "its type (" + account.Type + ") is not HOTP or TOTP, whose codes Velmora computes";
    }
    if (account.Algorithm != "SHA1") {
        return "it uses " + account.Algorithm + "; Velmora's tokens compute HMAC-SHA-1 only";
    }
    if (account.Secret.empty()) {
        return "it has no secret";
    }
    if (account.Secret.size() > static_cast<std::size_t>(COtpToken::MaxKeyLength)) {
        return "its key (" + std::to_string(account.Secret.size()) +
               " bytes) is longer than a token holds (" + std::to_string(COtpToken::MaxKeyLength) +
               ")";
    }
    if (account.Digits < 1 || account.Digits > static_cast<std::uint64_t>(MaxOtpDigits)) {
        return "its codes have " + std::to_string(account.Digits) + " digits; a token shows 1 to " +
               std::to_string(MaxOtpDigits);
    }
    if (account.Type == "totp" && (account.Period < 1 || account.Period > INT32_MAX)) {
        return "its period (" + std::to_string(account.Period) +
               " s) is outside what a token counts (1 to " + std::to_string(INT32_MAX) + " s)";
    }
    if (account.Type == "hotp" && account.Counter > MaxCounter) {
        return "its counter (" + std::to_string(account.Counter) + ") is beyond " +
               std::to_string(MaxCounter) + ", the last one a token counts as the standard does";
    }
    // A zero byte cannot be stored, and a line break or escape would forge
    // lines where the name is printed.
    if (HoldsControl(account.Issuer) || HoldsControl(account.AccountName)) {
        return "its name holds a control character";
    }
    return std::string();
}

std::string UpperType(const std::string& type)
{
    if (type == "totp") {
        return "TOTP";
    }
    if (type == "hotp") {
        return "HOTP";
    }
    return type;
}

} // namespace

CImportEntry ToImportEntry(const CAccount& account)
{
    CImportEntry entry;
    entry.Name = Printable(ReadableName(account.Issuer, account.AccountName));
    if (entry.Name.empty()) {
        entry.Name = UnnamedAccount;
    }
    entry.TypeName = UpperType(account.Type);
    entry.Refusal = RefusalOf(account);
    if (!entry.Refusal.empty()) {
        return entry;
    }
    COtpTokenPtr token = std::make_shared<COtpToken>();
    token->Name = account.Issuer.empty() ? account.AccountName : account.Issuer;
    if (token->Name.empty()) {
        token->Name = UnnamedAccount;
    }
    token->Serial = account.Issuer.empty() ? std::string() : account.AccountName;
    token->Status = 1;
    token->Digits = static_cast<std::int32_t>(account.Digits);
    token->SetOtpKey(account.Secret.data(), static_cast<std::int32_t>(account.Secret.size()));
    // Suites as an install from a seed sets them, for challenge responses.
    if (account.Type == "totp") {
        token->TokenType = TokenTypeTOTP;
        token->Timer = static_cast<std::int32_t>(account.Period);
        token->Counter = 0;
        token->OcraSuite = "OCRA-1:HOTP-SHA1-6:QN08-T1M";
    } else {
        token->TokenType = TokenTypeHOTP;
        token->Counter = account.Counter;
        token->OcraSuite = "OCRA-1:HOTP-SHA1-6:C-QN08";
    }
    entry.Token = token;
    return entry;
}

std::optional<CAccount> AccountOfToken(const COtpToken& token, std::string& reason)
{
    reason.clear();
    CAccount account;
    switch (token.TokenType) {
    case TokenTypeHOTP:
    case TokenTypeCB:
        account.Type = "hotp";
        break;
    case TokenTypeTOTP:
    case TokenTypeTB:
        account.Type = "totp";
        break;
    case TokenTypeCR:
        reason = "it answers challenges, which authenticators do not";
        return std::nullopt;
    case TokenTypeCT:
        reason = "its codes mix a counter with the time, which authenticators do not";
        return std::nullopt;
    default:
        reason = "its type (" + std::to_string(token.TokenType) + ") is unknown";
        return std::nullopt;
    }
    if (const std::string unusable = token.GetUnusableReason(); !unusable.empty()) {
        reason = unusable;
        return std::nullopt;
    }
    if (token.CheckSum) {
        reason = "its codes end in a check digit, which authenticators do not add";
        return std::nullopt;
    }
    if (token.TwoWay) {
        reason = "it is a two-way token, whose second code authenticators do not show";
        return std::nullopt;
    }
    if (account.Type == "hotp" && token.Counter > MaxCounter) {
        reason = "its counter is beyond " + std::to_string(MaxCounter) +
                 ", where its codes part from the standard's";
        return std::nullopt;
    }
    account.Period = static_cast<std::uint64_t>(token.GetTimeStep());
    if (account.Type == "totp" && account.Period == 0) {
        reason = "its time step is shorter than a second";
        return std::nullopt;
    }
    account.Counter = token.Counter;
    account.Digits = static_cast<std::uint64_t>(token.Digits);
    const auto length = static_cast<std::size_t>(COtpToken::UsableKeyLength(token.OtpKeyLength));
    account.Secret.assign(token.OtpKey, token.OtpKey + length);
    account.Issuer = token.Serial.empty() ? std::string() : token.Name;
    account.AccountName = token.Serial.empty() ? token.Name : token.Serial;
    return account;
}

bool IsSameAccount(const COtpToken& a, const COtpToken& b)
{
    const std::int32_t lengthA = COtpToken::UsableKeyLength(a.OtpKeyLength);
    return lengthA == COtpToken::UsableKeyLength(b.OtpKeyLength) &&
           std::memcmp(a.OtpKey, b.OtpKey, static_cast<std::size_t>(lengthA)) == 0 &&
           a.TokenType == b.TokenType && a.Digits == b.Digits && a.GetTimeStep() == b.GetTimeStep();
}
