#include "RawCipher.h"

#include "storage/LocalDatabase.h"

#include <openssl/evp.h>

#include <cstring>
#include <stdexcept>

namespace {

// The stored secrets' key (20 bytes and the 4-byte tail) and IV. Kept apart
// from the project's on purpose: CheckAgainst proves the two still agree.
const std::uint8_t Key[24] = {0xb7, 0xc3, 0x54, 0x90, 0xf0, 0xa3, 0xeb, 0x22,
                              0x4b, 0x94, 0xa7, 0x15, 0x53, 0x4c, 0xb2, 0x85,
                              0x60, 0x3b, 0x4a, 0x80, 0xce, 0x89, 0xaa, 0x30};
const std::uint8_t InitialVector[8] = {0xc3, 0x6e, 0x3a, 0xe2, 0x99, 0x2f, 0xd1, 0xc4};

const char Prefix[] = "enc:";
constexpr int PrefixLength = sizeof(Prefix) - 1;

void Require(bool ok, const char* what)
{
    if (!ok) {
        throw std::runtime_error(std::string("RawCipher: ") + what);
    }
}

} // namespace

RawCipher::RawCipher() : encryptor(EVP_CIPHER_CTX_new()), decryptor(EVP_CIPHER_CTX_new())
{
    Require(encryptor != nullptr && decryptor != nullptr, "no cipher context");
    Require(EVP_EncryptInit_ex(encryptor, EVP_des_ede3_cbc(), nullptr, Key, InitialVector) == 1 &&
                EVP_DecryptInit_ex(decryptor, EVP_des_ede3_cbc(), nullptr, Key, InitialVector) == 1,
            "cannot set the key");
}

RawCipher::~RawCipher()
{
    EVP_CIPHER_CTX_free(encryptor);
    EVP_CIPHER_CTX_free(decryptor);
}

int RawCipher::Encrypt(const std::uint8_t* plain, int length, std::uint8_t* out)
{
    return Run(encryptor, plain, length, out);
}

int RawCipher::Decrypt(const std::uint8_t* cipherText, int length, std::uint8_t* out)
{
    return Run(decryptor, cipherText, length, out);
}

int RawCipher::Run(EVP_CIPHER_CTX* context, const std::uint8_t* in, int length, std::uint8_t* out)
{
    int updated = 0;
    int finished = 0;
    // Restarts with the IV only: the key schedule made at construction stays.
    Require(EVP_CipherInit_ex(context, nullptr, nullptr, nullptr, InitialVector, -1) == 1 &&
                EVP_CipherUpdate(context, out, &updated, in, length) == 1 &&
                EVP_CipherFinal_ex(context, out + updated, &finished) == 1,
            "cipher failed");
    return updated + finished;
}

std::string RawCipher::DecryptProtected(const char* text, int length)
{
    Require(length >= PrefixLength && std::memcmp(text, Prefix, PrefixLength) == 0,
            "not a protected value");
    const int encoded = length - PrefixLength;
    cipherBuffer.resize(static_cast<std::size_t>(encoded / 4 * 3 + 8));
    int decoded = EVP_DecodeBlock(
        cipherBuffer.data(), reinterpret_cast<const unsigned char*>(text + PrefixLength), encoded);
    Require(decoded >= 0, "bad Base64");
    // EVP_DecodeBlock counts the zero bytes that stand for the padding.
    for (int i = length - 1; i >= PrefixLength && text[i] == '='; --i) {
        --decoded;
    }
    plainBuffer.resize(static_cast<std::size_t>(decoded + 8));
    const int plainLength = Decrypt(cipherBuffer.data(), decoded, plainBuffer.data());
    return std::string(reinterpret_cast<const char*>(plainBuffer.data()),
                       static_cast<std::size_t>(plainLength));
}

void RawCipher::CheckAgainst(const LocalDatabase& database)
{
    for (const std::string plain : {"", "1234567", "12345678", "a text of some twenty-five"}) {
        const std::string stored = database.Encrypt(plain);
        Require(DecryptProtected(stored.data(), static_cast<int>(stored.size())) == plain,
                "differs from the stored secrets' cipher");
    }
}
