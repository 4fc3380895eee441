#include "interop/Account.h"

namespace {

std::string TrimBlanks(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

std::string ReadableName(const std::string& issuer, const std::string& accountName)
{
    if (issuer.empty()) {
        return accountName;
    }
    return accountName.empty() ? issuer : issuer + ": " + accountName;
}

void ApplyLabel(CAccount& account, const std::string& label, const std::string& issuer)
{
    const std::size_t colon = label.find(':');
    if (colon == std::string::npos) {
        account.Issuer.clear();
        account.AccountName = TrimBlanks(label);
    } else {
        account.Issuer = TrimBlanks(label.substr(0, colon));
        account.AccountName = TrimBlanks(label.substr(colon + 1));
    }
    if (!issuer.empty()) {
        account.Issuer = issuer;
    }
}
