#include "storage/KeyringCipher.h"

#include "storage/Base64Codec.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>
#include <cstring>
#include <stdexcept>
#include <vector>

const char CStoreKey::Prefix[] = "kr1:";

namespace {

constexpr std::size_t PrefixLength = 4;
constexpr std::size_t NonceLength = 12;
constexpr std::size_t TagLength = 16;

struct ContextFree
{
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, ContextFree>;

std::runtime_error GcmError(const char* what)
{
    ERR_clear_error();
    return std::runtime_error(std::string("kr1: ") + what);
}

} // namespace

// One keyed context per direction: later values only set a new nonce, so the
// key schedule is built once per unlock, not once per value.
struct CStoreKey::Contexts
{
    CipherContext sealing;
    CipherContext opening;

    EVP_CIPHER_CTX* Start(const std::uint8_t* keyBytes, const std::uint8_t* nonce, bool seal)
    {
        CipherContext& context = seal ? sealing : opening;
        if (!context) {
            CipherContext fresh(EVP_CIPHER_CTX_new());
            if (!fresh || EVP_CipherInit_ex2(fresh.get(), EVP_aes_256_gcm(), keyBytes, nonce,
                                             seal ? 1 : 0, nullptr) != 1) {
                throw GcmError("cannot start AES-256-GCM");
            }
            context = std::move(fresh);
        } else if (EVP_CipherInit_ex2(context.get(), nullptr, nullptr, nonce, seal ? 1 : 0,
                                      nullptr) != 1) {
            context.reset();
            throw GcmError("cannot restart AES-256-GCM");
        }
        return context.get();
    }
};

CStoreKey::CStoreKey(const std::string& bytes) : key(), contexts(new Contexts())
{
    if (bytes.size() != KeyLength) {
        throw std::invalid_argument("the store key must have 32 bytes");
    }
    std::memcpy(key, bytes.data(), KeyLength);
}

CStoreKey::~CStoreKey()
{
    OPENSSL_cleanse(key, sizeof(key));
}

std::string CStoreKey::Generate()
{
    std::string bytes(KeyLength, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(KeyLength)) !=
        1) {
        throw GcmError("no random bytes for a store key");
    }
    return bytes;
}

bool CStoreKey::HasPrefix(const std::string& text)
{
    return text.compare(0, PrefixLength, Prefix) == 0;
}

std::string CStoreKey::Seal(const std::string& plain, const std::string& boundTo) const
{
    if (plain.size() > static_cast<std::size_t>(INT_MAX) - 64) {
        throw GcmError("value too long");
    }
    std::vector<std::uint8_t> body(NonceLength + plain.size() + TagLength);
    if (RAND_bytes(body.data(), static_cast<int>(NonceLength)) != 1) {
        throw GcmError("no random bytes for a nonce");
    }
    EVP_CIPHER_CTX* context = contexts->Start(key, body.data(), true);
    int length = 0;
    if (EVP_EncryptUpdate(context, nullptr, &length,
                          reinterpret_cast<const unsigned char*>(boundTo.data()),
                          static_cast<int>(boundTo.size())) != 1 ||
        EVP_EncryptUpdate(context, body.data() + NonceLength, &length,
                          reinterpret_cast<const unsigned char*>(plain.data()),
                          static_cast<int>(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(context, body.data() + NonceLength + length, &length) != 1 ||
        EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_GET_TAG, static_cast<int>(TagLength),
                            body.data() + NonceLength + plain.size()) != 1) {
        throw GcmError("cannot encrypt");
    }
    std::string text = Prefix;
    AppendBase64(text, body.data(), body.size());
    return text;
}

std::optional<std::string> CStoreKey::Open(const std::string& text,
                                           const std::string& boundTo) const
{
    if (!HasPrefix(text)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> body(Base64DecodedBound(text.size() - PrefixLength));
    const std::size_t length =
        DecodeBase64(text.data() + PrefixLength, text.size() - PrefixLength, body.data());
    if (length < NonceLength + TagLength || length > static_cast<std::size_t>(INT_MAX)) {
        return std::nullopt;
    }
    const std::size_t cipherLength = length - NonceLength - TagLength;
    std::vector<std::uint8_t> plain(cipherLength + 16);
    EVP_CIPHER_CTX* context = contexts->Start(key, body.data(), false);
    int produced = 0;
    int finished = 0;
    const bool verified =
        EVP_DecryptUpdate(context, nullptr, &produced,
                          reinterpret_cast<const unsigned char*>(boundTo.data()),
                          static_cast<int>(boundTo.size())) == 1 &&
        EVP_DecryptUpdate(context, plain.data(), &produced, body.data() + NonceLength,
                          static_cast<int>(cipherLength)) == 1 &&
        EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_SET_TAG, static_cast<int>(TagLength),
                            body.data() + NonceLength + cipherLength) == 1 &&
        EVP_DecryptFinal_ex(context, plain.data() + produced, &finished) == 1;
    std::optional<std::string> result;
    if (verified) {
        result.emplace(reinterpret_cast<const char*>(plain.data()),
                       static_cast<std::size_t>(produced + finished));
    } else {
        ERR_clear_error();
    }
    OPENSSL_cleanse(plain.data(), plain.size());
    return result;
}

std::string CredentialBinding(std::int64_t tokenId)
{
    return "tblToken.Credential:" + std::to_string(tokenId);
}

std::string PinBinding()
{
    return "tblSystem.PIN";
}
