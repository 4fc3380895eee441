// The migration payload decoder over any bytes: accounts or a refusal, never a
// read past the input; every account it takes becomes a usable token or is
// refused with a reason. Base64 both ways gives the payload back.
#include "InteropFuzzing.h"

#include "interop/MigrationPayload.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ByteVector payload(data, data + size);
    Require(DecodeBase64(EncodeBase64(payload)) == payload, "Base64 does not give the bytes back");
    std::vector<CAccount> accounts;
    Allowing<CInterchangeError>([&] { accounts = DecodeMigrationPayload(payload); });
    // Each account is one length-delimited field of at least two bytes.
    Require(accounts.size() <= size / 2, "more accounts than the payload can hold");
    RequireSoundEntries(accounts);
    return 0;
}
