#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Message digest of data by OpenSSL algorithm name ("MD5", "SHA1", "SHA256",
// "SHA512"); an empty vector when the digest cannot be computed.
std::vector<std::uint8_t> ComputeDigest(const char* algorithm, const void* data,
                                        std::size_t length);
