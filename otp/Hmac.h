#pragma once

#include "otp/Digest.h"

#include <cstddef>
#include <cstdint>

// Longest digest ComputeHmac writes (SHA-512).
constexpr std::size_t MaxHmacLength = 64;

// HMAC (RFC 2104) of data under key with SHA-1, SHA-256 or SHA-512 into
// digest; returns the digest length, or 0 for another algorithm or when
// OpenSSL fails. key and data may be null when their length is 0.
std::size_t ComputeHmac(DigestAlgorithm algorithm, const std::uint8_t* key, std::size_t keyLength,
                        const std::uint8_t* data, std::size_t dataLength,
                        std::uint8_t (&digest)[MaxHmacLength]);
