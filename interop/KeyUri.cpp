#include "interop/KeyUri.h"

#include "interop/UriQuery.h"

#include <cctype>
#include <string_view>
#include <utility>

namespace {

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) {
        c = LowerAscii(c);
    }
    return lower;
}

std::string Upper(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// Reads the numeric parameter `name` into value; false with a refusal when it
// is there but not a number up to maximum.
bool ReadNumber(const CUriQuery& query, const char* name, std::uint64_t maximum,
                std::uint64_t& value, std::string& refusal)
{
    const std::string* text = query.Find(name);
    if (text == nullptr) {
        return true;
    }
    const std::optional<std::uint64_t> number = ParseDecimal(*text, maximum);
    if (!number) {
        refusal =
            std::string("its ") + name + " is not a whole number up to " + std::to_string(maximum);
        return false;
    }
    value = *number;
    return true;
}

} // namespace

bool HasScheme(std::string_view text, std::string_view scheme)
{
    if (text.size() <= scheme.size() + 3 || text.substr(scheme.size(), 3) != "://") {
        return false;
    }
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        if (LowerAscii(text[i]) != scheme[i]) {
            return false;
        }
    }
    return true;
}

CAccount ParseKeyUri(std::string_view uri)
{
    CAccount account;
    if (uri.size() > MaxKeyUriLength) {
        account.Refusal =
            "the Key URI is longer than " + std::to_string(MaxKeyUriLength) + " characters";
        return account;
    }
    if (!HasScheme(uri, "otpauth")) {
        account.Refusal = "it is not an otpauth:// Key URI";
        return account;
    }
    // Read in place: an import reads thousands of these.
    const std::string_view rest = uri.substr(std::string_view("otpauth://").size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
        account.Refusal = "the Key URI has no label";
        return account;
    }
    account.Type = Lower(rest.substr(0, slash));
    const std::size_t question = rest.find('?', slash);
    const std::optional<std::string> label = PercentDecode(
        rest.substr(slash + 1, question == std::string_view::npos ? std::string_view::npos
                                                                  : question - slash - 1),
        false);
    if (!label) {
        account.Refusal = "its label has a bad percent-encoding";
        return account;
    }

    CUriQuery query;
    if (question != std::string_view::npos) {
        account.Refusal = query.Parse(rest.substr(question + 1), true);
    }
    // A query that cannot be read names the account by its label alone.
    const std::string* issuer = account.Refusal.empty() ? query.Find("issuer") : nullptr;
    ApplyLabel(account, *label, issuer != nullptr ? *issuer : std::string());
    if (!account.Refusal.empty()) {
        return account;
    }
    if (const std::string* algorithm = query.Find("algorithm")) {
        account.Algorithm = Upper(*algorithm);
    }
    const std::string* secret = query.Find("secret");
    if (secret == nullptr || secret->empty()) {
        account.Refusal = "it has no secret";
        return account;
    }
    std::optional<ByteVector> key = DecodeBase32(*secret);
    if (!key) {
        account.Refusal = "its secret is not valid Base32";
        return account;
    }
    account.Secret = std::move(*key);
    if (!ReadNumber(query, "digits", 99, account.Digits, account.Refusal) ||
        !ReadNumber(query, "period", UINT64_MAX, account.Period, account.Refusal) ||
        !ReadNumber(query, "counter", UINT64_MAX, account.Counter, account.Refusal)) {
        return account;
    }
    return account;
}

std::string FormatKeyUri(const CAccount& account)
{
    std::string uri = "otpauth://" + account.Type + "/";
    // An account name with a colon of its own keeps an empty issuer before
    // it, or a reader would take its first part for the issuer.
    if (!account.Issuer.empty() || account.AccountName.find(':') != std::string::npos) {
        uri += PercentEncode(account.Issuer) + ":";
    }
    uri += PercentEncode(account.AccountName);
    uri += "?secret=" + EncodeBase32(account.Secret);
    if (!account.Issuer.empty()) {
        uri += "&issuer=" + PercentEncode(account.Issuer);
    }
    uri += "&algorithm=" + account.Algorithm + "&digits=" + std::to_string(account.Digits);
    if (account.Type == "hotp") {
        uri += "&counter=" + std::to_string(account.Counter);
    } else {
        uri += "&period=" + std::to_string(account.Period);
    }
    return uri;
}
