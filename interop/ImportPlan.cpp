#include "interop/ImportPlan.h"

#include <string>
#include <unordered_map>

namespace {

// The accounts known so far, found by their key bytes, so that a large import
// compares each entry only with the accounts of the same key.
class CKnownAccounts
{
public:
    explicit CKnownAccounts(const std::vector<COtpTokenPtr>& installed)
    {
        for (const COtpTokenPtr& token : installed) {
            Add(token);
        }
    }

    bool Contains(const COtpToken& token) const
    {
        const auto [first, last] = byKey.equal_range(Key(token));
        for (auto it = first; it != last; ++it) {
            if (IsSameAccount(token, *it->second)) {
                return true;
            }
        }
        return false;
    }

    void Add(const COtpTokenPtr& token) { byKey.emplace(Key(*token), token); }

private:
    static std::string Key(const COtpToken& token)
    {
        return std::string(
            reinterpret_cast<const char*>(token.OtpKey),
            static_cast<std::size_t>(COtpToken::UsableKeyLength(token.OtpKeyLength)));
    }

    std::unordered_multimap<std::string, COtpTokenPtr> byKey;
};

} // namespace

CImportPlan PlanImport(const std::vector<CImportEntry>& entries,
                       const std::vector<COtpTokenPtr>& installed)
{
    CImportPlan plan;
    CKnownAccounts known(installed);
    for (const CImportEntry& entry : entries) {
        if (!entry.Token) {
            plan.Statuses.push_back(ImportStatus::Refused);
            ++plan.Refused;
        } else if (known.Contains(*entry.Token)) {
            plan.Statuses.push_back(ImportStatus::AlreadyInstalled);
            ++plan.Installed;
        } else {
            plan.Statuses.push_back(ImportStatus::New);
            plan.New.push_back(entry.Token);
            known.Add(entry.Token);
        }
    }
    return plan;
}
