#include "otp/Digest.h"

#include <openssl/evp.h>

#include <memory>

namespace {

struct MdDeleter
{
    void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};

} // namespace

std::vector<std::uint8_t> ComputeDigest(const char* algorithm, const void* data, std::size_t length)
{
    static const unsigned char nothing = 0;
    const std::unique_ptr<EVP_MD, MdDeleter> md(EVP_MD_fetch(nullptr, algorithm, nullptr));
    if (!md) {
        return {};
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(length > 0 ? data : &nothing, length, digest, &digestLength, md.get(),
                   nullptr) != 1) {
        return {};
    }
    return std::vector<std::uint8_t>(digest, digest + digestLength);
}
