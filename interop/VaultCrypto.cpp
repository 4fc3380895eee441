#include "interop/VaultCrypto.h"

#include "interop/Interchange.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <climits>
#include <memory>

namespace {

constexpr std::size_t KeyLength = 32;
constexpr std::size_t NonceLength = 12;
constexpr std::size_t TagLength = 16;
// scrypt takes 128 * N * r bytes; 256 MiB is eight times what a written vault asks.
constexpr std::uint64_t MaxScryptMemory = std::uint64_t{256} << 20;
constexpr std::uint64_t MaxScryptR = 32;
constexpr std::uint64_t MaxScryptP = 16;

struct KdfFree
{
    void operator()(EVP_KDF* kdf) const { EVP_KDF_free(kdf); }
    void operator()(EVP_KDF_CTX* context) const { EVP_KDF_CTX_free(context); }
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
    void operator()(EVP_CIPHER* cipher) const { EVP_CIPHER_free(cipher); }
};

[[noreturn]] void Fail(const char* what)
{
    throw CInterchangeError(std::string("the vault's cryptography failed: ") + what);
}

std::unique_ptr<EVP_CIPHER, KdfFree> FetchCipher()
{
    std::unique_ptr<EVP_CIPHER, KdfFree> cipher(EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr));
    if (!cipher) {
        Fail("AES-256-GCM is not available");
    }
    return cipher;
}

int AsInt(std::size_t length)
{
    if (length > static_cast<std::size_t>(INT_MAX)) {
        Fail("the text is too long");
    }
    return static_cast<int>(length);
}

} // namespace

std::string ScryptParametersRefusal(const CScryptParameters& parameters)
{
    const auto [n, r, p] = parameters;
    if (n < 2 || (n & (n - 1)) != 0) {
        return "its scrypt N (" + std::to_string(n) + ") is not a power of two";
    }
    if (r < 1 || r > MaxScryptR || p < 1 || p > MaxScryptP || n > MaxScryptMemory / 128 / r) {
        return "its scrypt parameters (N " + std::to_string(n) + ", r " + std::to_string(r) +
               ", p " + std::to_string(p) + ") ask for more work than Velmora allows";
    }
    return std::string();
}

ByteVector DeriveScryptKey(const std::string& password, const ByteVector& salt,
                           const CScryptParameters& parameters)
{
    if (!ScryptParametersRefusal(parameters).empty()) {
        Fail("scrypt parameters out of range");
    }
    std::unique_ptr<EVP_KDF, KdfFree> kdf(EVP_KDF_fetch(nullptr, "SCRYPT", nullptr));
    if (!kdf) {
        Fail("scrypt is not available");
    }
    std::unique_ptr<EVP_KDF_CTX, KdfFree> context(EVP_KDF_CTX_new(kdf.get()));
    if (!context) {
        Fail("no scrypt context");
    }
    std::uint64_t n = parameters.N;
    auto r = static_cast<std::uint32_t>(parameters.R);
    auto p = static_cast<std::uint32_t>(parameters.P);
    std::uint64_t maxMemory = MaxScryptMemory + (std::uint64_t{1} << 20);
    // OpenSSL takes the buffers as non-const, but only reads them.
    std::string passwordCopy = password;
    ByteVector saltCopy = salt;
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD, passwordCopy.data(),
                                          passwordCopy.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, saltCopy.data(), saltCopy.size()),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_N, &n),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_R, &r),
        OSSL_PARAM_construct_uint32(OSSL_KDF_PARAM_SCRYPT_P, &p),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_SCRYPT_MAXMEM, &maxMemory),
        OSSL_PARAM_construct_end()};
    ByteVector key(KeyLength);
    if (EVP_KDF_derive(context.get(), key.data(), key.size(), params) != 1) {
        Fail("scrypt could not derive the key");
    }
    return key;
}

CSealed SealAes256Gcm(const ByteVector& key, const ByteVector& plain)
{
    if (key.size() != KeyLength) {
        Fail("a key of the wrong length");
    }
    CSealed sealed;
    sealed.Nonce = RandomBytes(NonceLength);
    const auto cipher = FetchCipher();
    std::unique_ptr<EVP_CIPHER_CTX, KdfFree> context(EVP_CIPHER_CTX_new());
    sealed.Ciphertext.resize(plain.size() + 16);
    int written = 0;
    int last = 0;
    if (!context ||
        EVP_EncryptInit_ex2(context.get(), cipher.get(), key.data(), sealed.Nonce.data(),
                            nullptr) != 1 ||
        EVP_EncryptUpdate(context.get(), sealed.Ciphertext.data(), &written, plain.data(),
                          AsInt(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(context.get(), sealed.Ciphertext.data() + written, &last) != 1) {
        Fail("AES-256-GCM could not seal");
    }
    sealed.Ciphertext.resize(static_cast<std::size_t>(written) + static_cast<std::size_t>(last));
    sealed.Tag.resize(TagLength);
    if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_GET_TAG, static_cast<int>(TagLength),
                            sealed.Tag.data()) != 1) {
        Fail("AES-256-GCM gave no tag");
    }
    return sealed;
}

std::optional<ByteVector> OpenAes256Gcm(const ByteVector& key, const CSealed& sealed)
{
    if (key.size() != KeyLength || sealed.Nonce.size() != NonceLength ||
        sealed.Tag.size() != TagLength) {
        return std::nullopt;
    }
    const auto cipher = FetchCipher();
    std::unique_ptr<EVP_CIPHER_CTX, KdfFree> context(EVP_CIPHER_CTX_new());
    ByteVector plain(sealed.Ciphertext.size() + 16);
    ByteVector tag = sealed.Tag;
    int written = 0;
    int last = 0;
    if (!context ||
        EVP_DecryptInit_ex2(context.get(), cipher.get(), key.data(), sealed.Nonce.data(),
                            nullptr) != 1 ||
        EVP_DecryptUpdate(context.get(), plain.data(), &written, sealed.Ciphertext.data(),
                          AsInt(sealed.Ciphertext.size())) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_SET_TAG, static_cast<int>(TagLength),
                            tag.data()) != 1) {
        Fail("AES-256-GCM could not open");
    }
    // Final fails exactly when the tag does not check out.
    if (EVP_DecryptFinal_ex(context.get(), plain.data() + written, &last) != 1) {
        return std::nullopt;
    }
    plain.resize(static_cast<std::size_t>(written) + static_cast<std::size_t>(last));
    return plain;
}

ByteVector RandomBytes(std::size_t count)
{
    ByteVector bytes(count);
    if (RAND_bytes(bytes.data(), AsInt(count)) != 1) {
        Fail("the random generator gave nothing");
    }
    return bytes;
}
