#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The "kr1:" form of a secret value: "kr1:" and Base64 of a 12-byte random
// nonce, the AES-256-GCM ciphertext and its 16-byte tag, under the store key.
// The associated data names the value's column and row, so a value moved to
// another row or column no longer verifies.
class CStoreKey
{
public:
    static constexpr std::size_t KeyLength = 32;
    static const char Prefix[];

    // Throws std::invalid_argument unless the key has KeyLength bytes.
    explicit CStoreKey(const std::string& key);
    CStoreKey(const CStoreKey&) = delete;
    CStoreKey& operator=(const CStoreKey&) = delete;
    ~CStoreKey();

    // A fresh random key; throws std::runtime_error when no randomness is at hand.
    static std::string Generate();
    static bool HasPrefix(const std::string& text);

    // Throws std::runtime_error only when OpenSSL cannot run the cipher.
    std::string Seal(const std::string& plain, const std::string& boundTo) const;
    // Nothing for a value that is not in the form, too short, or whose tag does
    // not verify (damaged, another key, another row).
    std::optional<std::string> Open(const std::string& text, const std::string& boundTo) const;

private:
    struct Contexts;
    std::uint8_t key[KeyLength];
    std::unique_ptr<Contexts> contexts;
};

// The associated data of a token's Credential and of the PIN hash.
std::string CredentialBinding(std::int64_t tokenId);
std::string PinBinding();
