#include "otp/Digest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <array>
#include <memory>

namespace {

constexpr std::array<const char*, 4> DigestNames = {"MD5", "SHA1", "SHA256", "SHA512"};

struct MdDeleter
{
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
struct ContextDeleter
{
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

} // namespace

const EVP_MD* FetchedDigest(DigestAlgorithm algorithm)
{
    using DigestTable = std::array<std::unique_ptr<EVP_MD, MdDeleter>, DigestNames.size()>;
    // Built thread-safely on first use, freed at exit.
    static const DigestTable digests = [] {
        DigestTable table;
        for (std::size_t i = 0; i < DigestNames.size(); ++i) {
            table[i].reset(EVP_MD_fetch(nullptr, DigestNames[i], nullptr));
        }
        return table;
    }();
    return digests[static_cast<std::size_t>(algorithm)].get();
}

std::vector<std::uint8_t> ComputeDigest(DigestAlgorithm algorithm, const void* data,
                                        std::size_t length)
{
    static const unsigned char nothing = 0;
    thread_local const std::unique_ptr<EVP_MD_CTX, ContextDeleter> context(EVP_MD_CTX_new());
    const EVP_MD* md = FetchedDigest(algorithm);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    const bool done = context && md != nullptr &&
                      EVP_DigestInit_ex2(context.get(), md, nullptr) == 1 &&
                      EVP_DigestUpdate(context.get(), length > 0 ? data : &nothing, length) == 1 &&
                      EVP_DigestFinal_ex(context.get(), digest, &digestLength) == 1;
    // The final state is the digest, which may be a key: keep none of it.
    // (OpenSSL 3.0 replaces the state on every init anyway, so this is free.)
    if (context) {
        EVP_MD_CTX_reset(context.get());
    }
    std::vector<std::uint8_t> result;
    if (done) {
        result.assign(digest, digest + digestLength);
    }
    OPENSSL_cleanse(digest, sizeof digest);
    return result;
}
