#pragma once

#include "Fuzzing.h"

#include "interop/AccountMapping.h"

#include <vector>

// Every account a reader takes becomes either a token that computes or a
// refusal with its reason, never both and never neither.
inline void RequireSoundEntries(const std::vector<CAccount>& accounts)
{
    for (const CAccount& account : accounts) {
        const CImportEntry entry = ToImportEntry(account);
        Require((entry.Token == nullptr) != entry.Refusal.empty(), "a token and a refusal");
        Require(!entry.Token || entry.Token->GetUnusableReason().empty(),
                "an accepted token cannot compute");
    }
}
