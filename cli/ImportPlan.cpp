#include "ImportPlan.h"

namespace {

bool IsInstalled(const COtpToken& token, const std::vector<COtpTokenPtr>& installed)
{
    for (const COtpTokenPtr& other : installed) {
        if (IsSameAccount(token, *other)) {
            return true;
        }
    }
    return false;
}

} // namespace

CImportPlan PlanImport(const std::vector<CImportEntry>& entries,
                       std::vector<COtpTokenPtr> installed)
{
    CImportPlan plan;
    for (const CImportEntry& entry : entries) {
        const std::string what = entry.Name + " (" + entry.TypeName + ")";
        if (!entry.Token) {
            plan.Lines.push_back("refused\t" + what + ": " + entry.Refusal);
            ++plan.Refused;
        } else if (IsInstalled(*entry.Token, installed)) {
            plan.Lines.push_back("already installed\t" + what);
            ++plan.Installed;
        } else {
            plan.Lines.push_back("new\t" + what);
            plan.New.push_back(entry.Token);
            installed.push_back(entry.Token);
        }
    }
    return plan;
}
