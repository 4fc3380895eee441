#include "otp/Hmac.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <array>
#include <cstring>

namespace {

constexpr std::size_t MaxBlockSize = 128;

// One key's HMAC start: the hash states after its inner and its outer key
// block. A token computes every code from the same two keys, so starting from
// these saves two of the four compressions of a short message. The states are
// as secret as the key; eviction and thread exit wipe them (the provider
// clears a state it frees) along with the copy of the key block.
struct KeyedStart
{
    KeyedStart() = default;
    KeyedStart(const KeyedStart&) = delete;
    KeyedStart& operator=(const KeyedStart&) = delete;
    ~KeyedStart()
    {
        Forget();
        EVP_MD_CTX_free(inner);
        EVP_MD_CTX_free(outer);
    }

    // Wipes the key and its states; the contexts stay for the next key.
    void Forget()
    {
        OPENSSL_cleanse(keyBlock, sizeof keyBlock);
        EVP_MD_CTX_reset(inner);
        EVP_MD_CTX_reset(outer);
        valid = false;
    }

    std::uint8_t keyBlock[MaxBlockSize] = {};
    EVP_MD_CTX* inner = nullptr;
    EVP_MD_CTX* outer = nullptr;
    bool valid = false;
};

// A thread's HMAC state for one hash: the starts of the last two keys (a
// token's main and two-way key) and a context to compute in.
struct HmacCache
{
    HmacCache() = default;
    HmacCache(const HmacCache&) = delete;
    HmacCache& operator=(const HmacCache&) = delete;
    ~HmacCache() { EVP_MD_CTX_free(work); }

    std::array<KeyedStart, 2> starts;
    std::size_t lastUsed = 0;
    EVP_MD_CTX* work = nullptr;
};

bool Absorb(EVP_MD_CTX* context, const EVP_MD* md, const std::uint8_t* keyBlock,
            std::size_t blockSize, std::uint8_t padByte)
{
    std::uint8_t pad[MaxBlockSize];
    // The whole fixed-size block, so that the compiler can vectorise the loop.
    for (std::size_t i = 0; i < MaxBlockSize; ++i) {
        pad[i] = keyBlock[i] ^ padByte;
    }
    const bool done = context != nullptr && EVP_DigestInit_ex2(context, md, nullptr) == 1 &&
                      EVP_DigestUpdate(context, pad, blockSize) == 1;
    OPENSSL_cleanse(pad, blockSize);
    return done;
}

// The start for keyBlock: a cached one, or a new one in place of the older.
KeyedStart* FindStart(HmacCache& cache, const EVP_MD* md, const std::uint8_t* keyBlock,
                      std::size_t blockSize)
{
    for (std::size_t i = 0; i < cache.starts.size(); ++i) {
        // Both sides are the caller's own keys, so a plain comparison leaks nothing.
        if (cache.starts[i].valid &&
            std::memcmp(cache.starts[i].keyBlock, keyBlock, blockSize) == 0) {
            cache.lastUsed = i;
            return &cache.starts[i];
        }
    }
    const std::size_t slot = 1 - cache.lastUsed;
    KeyedStart& start = cache.starts[slot];
    start.Forget();
    if (start.inner == nullptr) {
        start.inner = EVP_MD_CTX_new();
    }
    if (start.outer == nullptr) {
        start.outer = EVP_MD_CTX_new();
    }
    if (!Absorb(start.inner, md, keyBlock, blockSize, 0x36) ||
        !Absorb(start.outer, md, keyBlock, blockSize, 0x5C)) {
        start.Forget();
        return nullptr;
    }
    std::memcpy(start.keyBlock, keyBlock, blockSize);
    start.valid = true;
    cache.lastUsed = slot;
    return &start;
}

// Continues from a start state over data; the digest length, or 0.
std::size_t Continue(EVP_MD_CTX* work, const EVP_MD_CTX* start, const std::uint8_t* data,
                     std::size_t length, std::uint8_t* out)
{
    static const std::uint8_t nothing = 0;
    unsigned int written = 0;
    if (EVP_MD_CTX_copy_ex(work, start) != 1 ||
        EVP_DigestUpdate(work, length > 0 ? data : &nothing, length) != 1 ||
        EVP_DigestFinal_ex(work, out, &written) != 1) {
        written = 0;
    }
    // What stays is a digest of key and data: drop it (free on OpenSSL 3.0,
    // which replaces the state on every copy anyway).
    EVP_MD_CTX_reset(work);
    return written;
}

} // namespace

std::size_t ComputeHmac(DigestAlgorithm algorithm, const std::uint8_t* key, std::size_t keyLength,
                        const std::uint8_t* data, std::size_t dataLength,
                        std::uint8_t (&digest)[MaxHmacLength])
{
    std::size_t index = 0;
    std::size_t blockSize = 64;
    switch (algorithm) {
    case DigestAlgorithm::Sha1:
        break;
    case DigestAlgorithm::Sha256:
        index = 1;
        break;
    case DigestAlgorithm::Sha512:
        index = 2;
        blockSize = 128;
        break;
    default:
        return 0;
    }
    thread_local std::array<HmacCache, 3> caches;
    HmacCache& cache = caches[index];
    const EVP_MD* md = FetchedDigest(algorithm);
    if (cache.work == nullptr) {
        cache.work = EVP_MD_CTX_new();
    }
    if (md == nullptr || cache.work == nullptr) {
        return 0;
    }

    // The key block: the key zero-padded, or its digest when it is longer.
    std::uint8_t keyBlock[MaxBlockSize] = {};
    std::size_t length = 0;
    bool keyReady = true;
    if (keyLength > blockSize) {
        unsigned int written = 0;
        keyReady = EVP_DigestInit_ex2(cache.work, md, nullptr) == 1 &&
                   EVP_DigestUpdate(cache.work, key, keyLength) == 1 &&
                   EVP_DigestFinal_ex(cache.work, keyBlock, &written) == 1;
        EVP_MD_CTX_reset(cache.work);
    } else if (keyLength > 0) {
        std::memcpy(keyBlock, key, keyLength);
    }
    const KeyedStart* start = keyReady ? FindStart(cache, md, keyBlock, blockSize) : nullptr;
    OPENSSL_cleanse(keyBlock, blockSize);
    if (start != nullptr) {
        std::uint8_t inner[MaxHmacLength];
        const std::size_t innerLength = Continue(cache.work, start->inner, data, dataLength, inner);
        if (innerLength > 0 && innerLength <= sizeof inner) {
            length = Continue(cache.work, start->outer, inner, innerLength, digest);
        }
        OPENSSL_cleanse(inner, innerLength);
    }
    return length;
}
