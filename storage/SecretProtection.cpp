#include "storage/LocalDatabase.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <climits>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

// Key material of the protected form. Every value ever stored depends on
// these bytes: changing any of them makes existing databases unreadable.
const std::uint8_t ProtectionKey[20] = {0xb7, 0xc3, 0x54, 0x90, 0xf0, 0xa3, 0xeb, 0x22, 0x4b, 0x94,
                                        0xa7, 0x15, 0x53, 0x4c, 0xb2, 0x85, 0x60, 0x3b, 0x4a, 0x80};
const std::uint8_t KeyTail[4] = {0xce, 0x89, 0xaa, 0x30};
const std::uint8_t InitialVector[8] = {0xc3, 0x6e, 0x3a, 0xe2, 0x99, 0x2f, 0xd1, 0xc4};

const char Prefix[] = "enc:";
const std::size_t PrefixLength = sizeof(Prefix) - 1;

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

CipherContext NewContext(const char* operation)
{
    CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!context) {
        throw std::runtime_error(std::string(operation) + ": cannot create a cipher context");
    }
    return context;
}

// "<operation>: <what failed>" with OpenSSL's reason, if it gave one.
std::runtime_error CipherError(const char* operation, const char* what)
{
    std::string message = std::string(operation) + ": " + what;
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code != 0) {
        char reason[256];
        ERR_error_string_n(code, reason, sizeof(reason));
        message += std::string(" (") + reason + ")";
    }
    return std::runtime_error(message);
}

bool HasPrefix(const std::string& text)
{
    return text.compare(0, PrefixLength, Prefix) == 0;
}

// The working buffers of one cipher call, wiped when the call ends.
struct CipherMaterial
{
    std::uint8_t key[32];
    std::uint8_t iv[16];

    explicit CipherMaterial(const std::uint8_t (&protectionKey)[20])
    {
        std::memset(key, 0, sizeof(key));
        std::memset(iv, 0, sizeof(iv));
        std::memcpy(key, protectionKey, sizeof(protectionKey));
        std::memcpy(key + sizeof(protectionKey), KeyTail, sizeof(KeyTail));
        std::memcpy(iv, InitialVector, sizeof(InitialVector));
    }
    CipherMaterial(const CipherMaterial&) = delete;
    CipherMaterial& operator=(const CipherMaterial&) = delete;
    ~CipherMaterial()
    {
        OPENSSL_cleanse(key, sizeof(key));
        OPENSSL_cleanse(iv, sizeof(iv));
    }
};

} // namespace

void LocalDatabase::LoadProtectionKey()
{
    std::memcpy(protectionKey, ProtectionKey, sizeof(protectionKey));
}

const EVP_CIPHER* LocalDatabase::GetCipher(int algorithm, int mode)
{
    switch (algorithm) {
    case 1:
        switch (mode) {
        case 2:
            return EVP_rc2_cfb64();
        case 3:
            return EVP_rc2_ecb();
        case 4:
            return EVP_rc2_ofb();
        default:
            return EVP_rc2_cbc();
        }
    case 2:
        return EVP_rc4();
    case 3:
        switch (mode) {
        case 2:
            return EVP_des_cfb1();
        case 3:
            return EVP_des_ecb();
        case 4:
            return EVP_des_ofb();
        default:
            return EVP_des_cbc();
        }
    case 4:
        switch (mode) {
        case 2:
            return EVP_des_ede3_cfb1();
        case 3:
            return EVP_des_ede3_ecb();
        case 4:
            return EVP_des_ede3_ofb();
        default:
            return EVP_des_ede3_cbc();
        }
    default:
        return EVP_rc2_cbc();
    }
}

std::string LocalDatabase::Encrypt(const std::string& plain) const
{
    if (HasPrefix(plain)) {
        return plain;
    }
    if (plain.size() > static_cast<std::size_t>(INT_MAX) - 64) {
        throw std::runtime_error("Encrypt: value too long");
    }
    const EVP_CIPHER* cipher = GetCipher(4, 1);
    const CipherMaterial material(protectionKey);
    const CipherContext context = NewContext("Encrypt");
    if (EVP_EncryptInit_ex(context.get(), cipher, nullptr, material.key, material.iv) != 1) {
        throw CipherError("Encrypt", "cannot start the cipher");
    }
    const int blockSize = EVP_CIPHER_CTX_get_block_size(context.get());
    if (blockSize <= 0) {
        throw CipherError("Encrypt", "cipher has no block size");
    }
    const int length = static_cast<int>(plain.size());
    std::vector<std::uint8_t> cipherText(
        static_cast<std::size_t>((length / blockSize + 1) * blockSize));
    int updated = 0;
    if (EVP_EncryptUpdate(context.get(), cipherText.data(), &updated,
                          reinterpret_cast<const unsigned char*>(plain.data()), length) != 1) {
        throw CipherError("Encrypt", "cannot encrypt");
    }
    int finished = 0;
    if (EVP_EncryptFinal_ex(context.get(), cipherText.data() + updated, &finished) != 1) {
        throw CipherError("Encrypt", "cannot finish encrypting");
    }
    return Prefix + Base64Encode(cipherText.data(), updated + finished);
}

std::string LocalDatabase::Decrypt(const std::string& text) const
{
    if (!HasPrefix(text)) {
        return text;
    }
    const std::string body = text.substr(PrefixLength);
    const int length = Base64Decode(body, nullptr, 0);
    // One spare block for the decryptor, and never an empty buffer.
    std::vector<std::uint8_t> cipherText(static_cast<std::size_t>(length) + 8);
    Base64Decode(body, cipherText.data(), length);

    const CipherMaterial material(protectionKey);
    const CipherContext context = NewContext("Decrypt");
    if (EVP_DecryptInit_ex(context.get(), EVP_des_ede3_cbc(), nullptr, material.key, material.iv) !=
        1) {
        throw CipherError("Decrypt", "cannot start the cipher");
    }
    std::vector<std::uint8_t> plain(cipherText.size() + 8);
    int updated = 0;
    if (EVP_DecryptUpdate(context.get(), plain.data(), &updated, cipherText.data(), length) != 1) {
        throw CipherError("Decrypt", "cannot decrypt");
    }
    int finished = 0;
    if (EVP_DecryptFinal_ex(context.get(), plain.data() + updated, &finished) != 1) {
        // Damaged, foreign or truncated value: keep what the update step gave
        // and let the caller find that it does not fit.
        ERR_clear_error();
        finished = 0;
    }
    const std::string result(reinterpret_cast<const char*>(plain.data()),
                             static_cast<std::size_t>(updated + finished));
    OPENSSL_cleanse(plain.data(), plain.size());
    return result;
}
