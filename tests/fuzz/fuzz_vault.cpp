// The vault reader over any text: entries or a one-line refusal, never a
// crash. The password prompt gives nothing, so an encrypted vault stops
// before scrypt; the parts before it (the JSON, the header, the slots and
// their bounds) are all reached.
#include "Fuzzing.h"

#include "interop/AccountMapping.h"
#include "interop/VaultFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1 << 16) {
        return 0;
    }
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<CAccount> accounts;
    try {
        accounts = ReadVault(text, [] { return std::optional<std::string>(); });
    } catch (const CInterchangeError& error) {
        Require(std::string(error.what()).find('\n') == std::string::npos,
                "a refusal across lines");
    }
    for (const CAccount& account : accounts) {
        const CImportEntry entry = ToImportEntry(account);
        Require((entry.Token == nullptr) != entry.Refusal.empty(), "a token and a refusal");
        Require(!entry.Token || entry.Token->GetUnusableReason().empty(),
                "an accepted token cannot compute");
    }
    return 0;
}
