// The keyring form: Open(Seal(x)) is x under its own binding and nothing under
// another; an arbitrary "kr1:" text never opens (its tag cannot verify) and is
// read within its bytes.
#include "Fuzzing.h"

#include "storage/KeyringCipher.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1 << 16) {
        return 0;
    }
    static const CStoreKey key(std::string(CStoreKey::KeyLength, '\x5a'));
    const std::string value(reinterpret_cast<const char*>(data), size);
    const std::string binding = CredentialBinding(static_cast<std::int64_t>(size));

    const std::string sealed = key.Seal(value, binding);
    Require(key.Open(sealed, binding) == value);
    Require(!key.Open(sealed, CredentialBinding(-1)));
    Require(!key.Open(std::string(CStoreKey::Prefix) + value, binding));
    return 0;
}
