#include "otp/Hmac.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <array>
#include <memory>

namespace {

constexpr std::array<const char*, 3> HmacDigestNames = {"SHA1", "SHA256", "SHA512"};

// What a context is keyed with between two codes: nothing secret.
constexpr std::uint8_t RestingKey[1] = {0};

struct MacDeleter
{
    void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
};
struct MacContextDeleter
{
    void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
};
using MacContext = std::unique_ptr<EVP_MAC_CTX, MacContextDeleter>;

// OpenSSL's HMAC, fetched once for the life of the process (a fetch costs
// more than a code); nullptr when the provider lacks it.
EVP_MAC* FetchedHmac()
{
    static const std::unique_ptr<EVP_MAC, MacDeleter> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
    return mac.get();
}

// A context with its digest set and keyed with RestingKey; null on failure.
// Setting the digest fetches it, so each thread does that once per digest.
MacContext NewRestingContext(const char* digestName)
{
    EVP_MAC* mac = FetchedHmac();
    MacContext context(mac != nullptr ? EVP_MAC_CTX_new(mac) : nullptr);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>(digestName), 0),
        OSSL_PARAM_construct_end()};
    if (!context || EVP_MAC_init(context.get(), RestingKey, sizeof RestingKey, params) != 1) {
        return nullptr;
    }
    return context;
}

} // namespace

std::size_t ComputeHmac(DigestAlgorithm algorithm, const std::uint8_t* key, std::size_t keyLength,
                        const std::uint8_t* data, std::size_t dataLength,
                        std::uint8_t (&digest)[MaxHmacLength])
{
    std::size_t index = 0;
    switch (algorithm) {
    case DigestAlgorithm::Sha1:
        break;
    case DigestAlgorithm::Sha256:
        index = 1;
        break;
    case DigestAlgorithm::Sha512:
        index = 2;
        break;
    default:
        return 0;
    }
    thread_local std::array<MacContext, HmacDigestNames.size()> contexts;
    MacContext& context = contexts[index];
    if (!context) {
        context = NewRestingContext(HmacDigestNames[index]);
        if (!context) {
            return 0;
        }
    }

    // OpenSSL refuses a null key even when it is empty.
    static const std::uint8_t nothing = 0;
    std::size_t length = 0;
    if (EVP_MAC_init(context.get(), keyLength > 0 ? key : &nothing, keyLength, nullptr) != 1 ||
        EVP_MAC_update(context.get(), dataLength > 0 ? data : &nothing, dataLength) != 1 ||
        EVP_MAC_final(context.get(), digest, &length, MaxHmacLength) != 1) {
        length = 0;
    }
    // The context now holds a copy of the key and the hash states keyed with
    // it. Keying it again with RestingKey wipes both (OpenSSL clears a key
    // copy it frees); a context that cannot be re-keyed is freed instead,
    // which clears them too.
    if (EVP_MAC_init(context.get(), RestingKey, sizeof RestingKey, nullptr) != 1) {
        context.reset();
    }
    return length;
}
