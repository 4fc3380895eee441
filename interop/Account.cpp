#include "interop/Account.h"

#include <string_view>

namespace {

std::string_view TrimBlanks(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return std::string_view();
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
    // A label that starts with the given issuer loses exactly that prefix, so
    // that an issuer holding a colon itself is not cut in two.
    std::size_t colon = label.find(':');
    if (!issuer.empty() && label.compare(0, issuer.size(), issuer) == 0 &&
        label.size() > issuer.size() && label[issuer.size()] == ':') {
        colon = issuer.size();
    }
    const std::string_view text = label;
    if (colon == std::string::npos) {
        account.Issuer.clear();
        account.AccountName = TrimBlanks(text);
    } else {
        account.Issuer = TrimBlanks(text.substr(0, colon));
        account.AccountName = TrimBlanks(text.substr(colon + 1));
    }
    // Blanks around the parameter go as they do around the label's parts, so
    // that the name reads back the same from the Key URI we write.
    if (const std::string_view given = TrimBlanks(issuer); !given.empty()) {
        account.Issuer = given;
    }
}
