#pragma once

#include "interop/Interchange.h"

#include <string>
#include <vector>

// What an import will do, entry by entry: new, already installed (the same
// account is stored, or came earlier in the same input) or refused.
struct CImportPlan
{
    std::vector<std::string> Lines; // one per entry, as the command prints them
    std::vector<COtpTokenPtr> New;
    int Installed = 0;
    int Refused = 0;
};

CImportPlan PlanImport(const std::vector<CImportEntry>& entries,
                       const std::vector<COtpTokenPtr>& installed);
