#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct evp_md_st;

enum class DigestAlgorithm { Md5, Sha1, Sha256, Sha512 };

// The OpenSSL implementation of a digest, fetched once for the life of the
// process (a fetch costs more than hashing a short text); nullptr when the
// provider lacks it.
const evp_md_st* FetchedDigest(DigestAlgorithm algorithm);

// Message digest of data, computed on a context this thread keeps; an empty
// vector when the digest cannot be computed.
std::vector<std::uint8_t> ComputeDigest(DigestAlgorithm algorithm, const void* data,
                                        std::size_t length);
