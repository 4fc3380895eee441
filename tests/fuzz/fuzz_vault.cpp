// The vault reader over any text: entries or a one-line refusal, never a
// crash. The password prompt gives nothing, so an encrypted vault stops
// before scrypt; the parts before it (the JSON, the header, the slots and
// their bounds) are all reached.
#include "InteropFuzzing.h"

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
    RequireSoundEntries(accounts);
    return 0;
}
