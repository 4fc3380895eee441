#include "storage/LocalDatabase.h"

#include "storage/Base64Codec.h"

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

struct ContextFree
{
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, ContextFree>;

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

// One cipher context per direction, keyed on first use. Every later call only
// gives it the fixed IV again, which restarts it without building the key
// schedule anew (the costliest part of a short value).
struct LocalDatabase::CipherContexts
{
    CipherContext encrypting;
    CipherContext decrypting;

    EVP_CIPHER_CTX* Start(const std::uint8_t (&key)[20], bool encrypt)
    {
        const char* operation = encrypt ? "Encrypt" : "Decrypt";
        CipherContext& context = encrypt ? encrypting : decrypting;
        const CipherMaterial material(key);
        if (!context) {
            CipherContext fresh(EVP_CIPHER_CTX_new());
            if (!fresh) {
                throw std::runtime_error(std::string(operation) +
                                         ": cannot create a cipher context");
            }
            // Encrypt asks the cipher table for triple DES in CBC mode, as
            // Decrypt names it directly; both are EVP_des_ede3_cbc.
            const EVP_CIPHER* algorithm = encrypt ? GetCipher(4, 1) : EVP_des_ede3_cbc();
            if (EVP_CipherInit_ex2(fresh.get(), algorithm, material.key, material.iv,
                                   encrypt ? 1 : 0, nullptr) != 1) {
                throw CipherError(operation, "cannot start the cipher");
            }
            context = std::move(fresh);
        } else if (EVP_CipherInit_ex2(context.get(), nullptr, nullptr, material.iv, encrypt ? 1 : 0,
                                      nullptr) != 1) {
            context.reset(); // keyed afresh next time
            throw CipherError(operation, "cannot restart the cipher");
        }
        return context.get();
    }
};

LocalDatabase::CipherContextsPtr LocalDatabase::NewCipherContexts()
{
    return CipherContextsPtr(new CipherContexts());
}

void LocalDatabase::CipherContextsFree::operator()(CipherContexts* contexts) const
{
    delete contexts;
}

std::string LocalDatabase::Encrypt(const std::string& plain) const
{
    return EncryptWith(*cipher, plain);
}

std::string LocalDatabase::EncryptWith(CipherContexts& contexts, const std::string& plain) const
{
    if (HasPrefix(plain)) {
        return plain;
    }
    if (plain.size() > static_cast<std::size_t>(INT_MAX) - 64) {
        throw std::runtime_error("Encrypt: value too long");
    }
    EVP_CIPHER_CTX* context = contexts.Start(protectionKey, true);
    const int blockSize = 8;
    const int length = static_cast<int>(plain.size());
    std::vector<std::uint8_t> cipherText(
        static_cast<std::size_t>((length / blockSize + 1) * blockSize));
    int updated = 0;
    if (EVP_EncryptUpdate(context, cipherText.data(), &updated,
                          reinterpret_cast<const unsigned char*>(plain.data()), length) != 1) {
        throw CipherError("Encrypt", "cannot encrypt");
    }
    int finished = 0;
    if (EVP_EncryptFinal_ex(context, cipherText.data() + updated, &finished) != 1) {
        throw CipherError("Encrypt", "cannot finish encrypting");
    }
    std::string text = Prefix;
    AppendBase64(text, cipherText.data(),
                 static_cast<std::size_t>(updated) + static_cast<std::size_t>(finished));
    return text;
}

std::string LocalDatabase::DecryptBytes(const std::string& text, bool& intact) const
{
    // Decoded once, straight from the text after the prefix.
    std::vector<std::uint8_t> cipherText(Base64DecodedBound(text.size() - PrefixLength) +
                                         8); // never empty
    const std::size_t length =
        DecodeBase64(text.data() + PrefixLength, text.size() - PrefixLength, cipherText.data());
    if (length > static_cast<std::size_t>(INT_MAX) - 16) {
        throw std::runtime_error("Decrypt: value too long");
    }

    EVP_CIPHER_CTX* context = cipher->Start(protectionKey, false);
    std::vector<std::uint8_t> plain(length + 16);
    int updated = 0;
    if (EVP_DecryptUpdate(context, plain.data(), &updated, cipherText.data(),
                          static_cast<int>(length)) != 1) {
        throw CipherError("Decrypt", "cannot decrypt");
    }
    int finished = 0;
    intact = EVP_DecryptFinal_ex(context, plain.data() + updated, &finished) == 1;
    if (!intact) {
        // Damaged, foreign or truncated value: the caller decides whether the
        // bytes of the update step are of any use.
        ERR_clear_error();
        finished = 0;
    }
    std::string result(reinterpret_cast<const char*>(plain.data()),
                       static_cast<std::size_t>(updated + finished));
    OPENSSL_cleanse(plain.data(), plain.size());
    return result;
}

std::string LocalDatabase::Decrypt(const std::string& text) const
{
    if (!HasPrefix(text)) {
        return text;
    }
    bool intact = false;
    return DecryptBytes(text, intact);
}

std::optional<std::string> LocalDatabase::DecryptChecked(const std::string& text) const
{
    if (!HasPrefix(text)) {
        return text;
    }
    bool intact = false;
    std::string plain = DecryptBytes(text, intact);
    if (!intact) {
        OPENSSL_cleanse(plain.data(), plain.size());
        return std::nullopt;
    }
    return plain;
}
