#pragma once

#include "interop/Interchange.h"

#include <vector>

// What an import will do with an entry.
enum class ImportStatus { New, AlreadyInstalled, Refused };

// What an import will do, entry by entry: new, already installed (the same
// account is stored, or came earlier in the same input) or refused. The
// command line and the window both show it before anything is stored.
struct CImportPlan
{
    std::vector<ImportStatus> Statuses; // one per entry, in order
    std::vector<COtpTokenPtr> New;
    int Installed = 0;
    int Refused = 0;
};

CImportPlan PlanImport(const std::vector<CImportEntry>& entries,
                       const std::vector<COtpTokenPtr>& installed);
