// The Key URI reader: any text gives an account or a refusal, never a crash;
// an accepted token computes codes, and its own Key URI reads back as the same
// account with the same name, serial and counter.
#include "Fuzzing.h"

#include "interop/AccountMapping.h"
#include "interop/KeyUri.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const CImportEntry entry = ToImportEntry(ParseKeyUri(text));
    Require(entry.Token == nullptr || entry.Refusal.empty(), "a token with a refusal");
    Require(entry.Token != nullptr || !entry.Refusal.empty(), "no token and no refusal");
    Require(entry.Name.find('\n') == std::string::npos, "a name across lines");
    if (!entry.Token) {
        return 0;
    }
    const COtpToken& token = *entry.Token;
    Require(token.GetUnusableReason().empty(), "an accepted token cannot compute");

    std::string reason;
    const std::string uri = KeyUriOf(token, &reason);
    Require(!uri.empty() && reason.empty(), "an imported token cannot be exported");
    const CImportEntry back = ToImportEntry(ParseKeyUri(uri));
    Require(back.Token != nullptr, "an exported Key URI is refused");
    Require(IsSameAccount(*back.Token, token), "the exported Key URI is another account");
    Require(back.Token->Name == token.Name && back.Token->Serial == token.Serial,
            "the exported Key URI names another account");
    Require(back.Token->Counter == token.Counter, "the exported Key URI moved the counter");

    // Base32 both ways gives the key back.
    const ByteVector key(token.OtpKey, token.OtpKey + token.OtpKeyLength);
    Require(DecodeBase32(EncodeBase32(key)) == key, "Base32 does not give the key back");
    return 0;
}
