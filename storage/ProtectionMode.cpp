// Keyring mode: the store key's loading, the "kr1:" form of the secrets, and
// switching every secret between the two forms.
#include "storage/DbTransaction.h"
#include "storage/Diagnostics.h"
#include "storage/KeyringCipher.h"
#include "storage/LocalDatabase.h"
#include "storage/StoreKeyProvider.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

const char ModeRow[] = "KeyringStore";

// Key bytes held in a string, wiped when they go.
struct KeyBytes
{
    std::string bytes;
    ~KeyBytes() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

// A new store's keyring item name: 128 random bits in hex.
std::string NewStoreId()
{
    std::uint8_t raw[16];
    if (RAND_bytes(raw, sizeof(raw)) != 1) {
        throw std::runtime_error("no random bytes for a store ID");
    }
    static const char Hex[] = "0123456789abcdef";
    std::string id;
    for (const std::uint8_t byte : raw) {
        id += Hex[byte >> 4];
        id += Hex[byte & 15];
    }
    return id;
}

// One value in the other form; false, leaving `sealed` empty, when it does
// not open. The plain text is wiped before it goes.
template <typename Open, typename Seal>
bool Reseal(const Open& open, const Seal& seal, const std::string& value,
            const std::string& binding, std::string& sealed)
{
    std::optional<std::string> plain = open(value, binding);
    if (!plain) {
        return false;
    }
    const KeyBytes wiped{std::move(*plain)};
    sealed = seal(wiped.bytes, binding);
    return true;
}

struct SecretRow
{
    std::int64_t id;
    std::string value;
};

} // namespace

LocalDatabase::Protection LocalDatabase::GetProtection()
{
    RefreshProtection();
    return keyringStore.empty() ? Protection::File : Protection::Keyring;
}

void LocalDatabase::SetStoreKeyProvider(CStoreKeyProvider* provider)
{
    keyProvider = provider;
}

void LocalDatabase::RefreshProtection()
{
    keyringStore =
        connection.executestring("select StringValue from tblSystem where Name='%q'", ModeRow);
}

std::string LocalDatabase::GetMissingStoreKeyId()
{
    RefreshProtection();
    return storeKey && storeKeyId == keyringStore ? std::string() : keyringStore;
}

std::string LocalDatabase::DescribeKeyFailure(const std::string& reason) const
{
    return "cannot read the key of " + databasePath + " from the desktop keyring: " + reason +
           "; " + databasePath + " was left untouched";
}

void LocalDatabase::SetStoreKey(const std::string& storeId, const std::string& key)
{
    if (key.size() != CStoreKey::KeyLength) {
        throw CStoreKeyError(DescribeKeyFailure("its item " + storeId + " holds no store key"));
    }
    storeKey = std::make_shared<const CStoreKey>(key);
    storeKeyId = storeId;
}

void LocalDatabase::ForgetStoreKey()
{
    storeKey.reset();
    storeKeyId.clear();
}

void LocalDatabase::LoadStoreKey()
{
    const std::string id = GetMissingStoreKeyId();
    if (id.empty()) {
        return;
    }
    if (keyProvider == nullptr) {
        throw CStoreKeyError(DescribeKeyFailure("this program cannot reach it"));
    }
    std::string read;
    try {
        read = keyProvider->ReadKey(id);
    } catch (const CStoreKeyError& error) {
        throw CStoreKeyError(DescribeKeyFailure(error.what()));
    }
    const KeyBytes key{std::move(read)};
    SetStoreKey(id, key.bytes);
}

std::string LocalDatabase::ProtectSecret(const std::string& plain, const std::string& boundTo) const
{
    if (keyringStore.empty()) {
        return Encrypt(plain);
    }
    if (!storeKey || storeKeyId != keyringStore) {
        throw std::runtime_error("the store key is not loaded from the desktop keyring; no "
                                 "secret can be stored");
    }
    return storeKey->Seal(plain, boundTo);
}

std::optional<std::string> LocalDatabase::OpenSecret(const std::string& text,
                                                     const std::string& boundTo) const
{
    if (keyringStore.empty()) {
        // A keyring value in a file-mode store never reads as a plain one.
        return CStoreKey::HasPrefix(text) ? std::nullopt : DecryptChecked(text);
    }
    if (!storeKey || storeKeyId != keyringStore) {
        return std::nullopt;
    }
    return storeKey->Open(text, boundTo);
}

void LocalDatabase::RewriteSecrets(const SecretOpener& open, const SecretSealer& seal)
{
    std::vector<SecretRow> rows;
    {
        CDbReader reader = connection.executecached("select ID, Credential from tblToken");
        while (reader.read()) {
            rows.push_back(SecretRow{reader.getint64(0), reader.getstring(1)});
        }
    }
    for (const SecretRow& row : rows) {
        const std::string binding = CredentialBinding(row.id);
        std::string sealed;
        if (!Reseal(open, seal, row.value, binding, sealed)) {
            continue; // damaged: never written back
        }
        connection.executecached("update tblToken set Credential=? where ID=?", sealed, row.id)
            .nonquery();
    }
    std::string sealedPin;
    if (Reseal(open, seal, GetStringValue("PIN"), PinBinding(), sealedPin)) {
        SetStringValue("PIN", sealedPin);
    }
}

LocalDatabase::ProtectionChange LocalDatabase::SetProtection(Protection mode,
                                                             const std::string& pin)
{
    if (!CheckPin(pin)) {
        return ProtectionChange::WrongPin;
    }
    if (GetProtection() == mode) {
        return ProtectionChange::Unchanged;
    }
    if (keyProvider == nullptr) {
        throw CStoreKeyError("no desktop keyring is available");
    }
    const auto fileOpen = [this](const std::string& text,
                                 const std::string&) -> std::optional<std::string> {
        return CStoreKey::HasPrefix(text) ? std::nullopt : DecryptChecked(text);
    };
    const auto fileSeal = [this](const std::string& plain, const std::string&) {
        return Encrypt(plain);
    };

    if (mode == Protection::File) {
        const std::shared_ptr<const CStoreKey> key = storeKey;
        if (!key || storeKeyId != keyringStore) {
            throw std::runtime_error("the store key is not loaded from the desktop keyring");
        }
        const std::string oldId = keyringStore;
        CDbTransaction transaction(connection);
        RewriteSecrets([&key](const std::string& text,
                              const std::string& binding) { return key->Open(text, binding); },
                       fileSeal);
        connection.executenonquery("delete from tblSystem where Name='%q'", ModeRow);
        transaction.commit();
        keyringStore.clear();
        storeKey.reset();
        storeKeyId.clear();
        try {
            keyProvider->RemoveKey(oldId);
        } catch (const CStoreKeyError& error) {
            ReportDiagnostic("the desktop keyring still holds the unused key " + oldId + ": " +
                             error.what());
        }
        return ProtectionChange::Done;
    }

    // The key is in the keyring, and reads back the same, before any value
    // depends on it.
    const std::string id = NewStoreId();
    const KeyBytes bytes{CStoreKey::Generate()};
    keyProvider->WriteKey(id, bytes.bytes);
    try {
        const KeyBytes back{keyProvider->ReadKey(id)};
        if (back.bytes.size() != bytes.bytes.size() ||
            CRYPTO_memcmp(back.bytes.data(), bytes.bytes.data(), bytes.bytes.size()) != 0) {
            throw CStoreKeyError("the desktop keyring gave back another key than it was given");
        }
        const auto key = std::make_shared<const CStoreKey>(bytes.bytes);
        CDbTransaction transaction(connection);
        RewriteSecrets(fileOpen, [&key](const std::string& plain, const std::string& binding) {
            return key->Seal(plain, binding);
        });
        SetStringValue(ModeRow, id);
        transaction.commit();
        keyringStore = id;
        storeKeyId = id;
        storeKey = key;
    } catch (...) {
        try {
            keyProvider->RemoveKey(id);
        } catch (const CStoreKeyError&) {
            // The store never used it; the first failure is the one to report.
        }
        throw;
    }
    return ProtectionChange::Done;
}
