#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;
class LocalDatabase;

// The references' triple-DES CBC: the stored secrets' cipher, key and IV used
// the leanest way EVP allows. Each direction has one context whose key
// schedule is made once; a call only restarts it with the IV. Failures throw
// std::runtime_error.
class RawCipher
{
public:
    RawCipher();
    RawCipher(const RawCipher&) = delete;
    RawCipher& operator=(const RawCipher&) = delete;
    ~RawCipher();

    // Writes the ciphertext (padded, at most length + 8 bytes) to out; returns its length.
    int Encrypt(const std::uint8_t* plain, int length, std::uint8_t* out);
    // Writes the plain bytes (at most length bytes) to out; returns their length.
    int Decrypt(const std::uint8_t* cipherText, int length, std::uint8_t* out);
    // The plain text of a protected "enc:" value: Base64 (EVP_DecodeBlock), then Decrypt.
    std::string DecryptProtected(const char* text, int length);

    // Throws unless this cipher and the project's Decrypt agree on a value the
    // project protected: a reference that decrypts to nothing measures nothing.
    void CheckAgainst(const LocalDatabase& database);

private:
    static int Run(EVP_CIPHER_CTX* context, const std::uint8_t* in, int length, std::uint8_t* out);

    EVP_CIPHER_CTX* encryptor;
    EVP_CIPHER_CTX* decryptor;
    std::vector<std::uint8_t> cipherBuffer;
    std::vector<std::uint8_t> plainBuffer;
};
