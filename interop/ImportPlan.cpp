#include "interop/ImportPlan.h"

#include <string_view>
#include <unordered_map>

namespace {

// The accounts known so far, found by their key bytes, so that a large import
// compares each entry only with the accounts of the same key.
class CKnownAccounts
{
public:
    CKnownAccounts(const std::vector<COtpTokenPtr>& installed, std::size_t incoming)
    {
        byKey.reserve(installed.size() + incoming);
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
    // A view of the token's own key bytes: the map holds the token, so the
    // bytes stay as long as the entry.
    static std::string_view Key(const COtpToken& token)
    {
        return std::string_view(
            reinterpret_cast<const char*>(token.OtpKey),
            static_cast<std::size_t>(COtpToken::UsableKeyLength(token.OtpKeyLength)));
    }

    std::unordered_multimap<std::string_view, COtpTokenPtr> byKey;
};

} // namespace

CImportPlan PlanImport(const std::vector<CImportEntry>& entries,
                       const std::vector<COtpTokenPtr>& installed)
{
    CImportPlan plan;
    plan.Statuses.reserve(entries.size());
    CKnownAccounts known(installed, entries.size());
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
