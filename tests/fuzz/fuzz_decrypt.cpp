// The protected form: Decrypt(Encrypt(x)) is x; an arbitrary protected text is
// read within its bytes, never yields more bytes than its ciphertext holds, and
// the checked reading agrees with the plain one whenever it gives a value,
// which is then exactly what Encrypt makes of it.
#include "StorageFuzzing.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1 << 16) {
        return 0;
    }
    const LocalDatabase& db = storagefuzz::Database();
    const std::string value(reinterpret_cast<const char*>(data), size);

    const std::string stored = db.Encrypt(value);
    if (value.compare(0, 4, "enc:") == 0) {
        Require(stored == value); // never protected twice
    } else {
        Require(db.Decrypt(stored) == value);
        Require(db.DecryptChecked(stored) == value);
    }

    const std::string text = "enc:" + value;
    const std::string plain = db.Decrypt(text);
    const std::optional<std::string> checked = db.DecryptChecked(text);
    Require(!checked || *checked == plain);
    const int cipherLength = LocalDatabase::Base64Decode(value, nullptr, 0);
    Require(plain.size() <= static_cast<std::size_t>(cipherLength));
    // A value that checks out is exactly the ciphertext Encrypt makes of it.
    if (checked && checked->compare(0, 4, "enc:") != 0) {
        std::vector<std::uint8_t> cipher(size + 1);
        const int length = LocalDatabase::Base64Decode(value, cipher.data(), cipherLength);
        Require(LocalDatabase::Base64Encode(cipher.data(), length) ==
                db.Encrypt(*checked).substr(4));
    }
    return 0;
}
