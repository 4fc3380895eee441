#pragma once

#include "interop/Codecs.h"

#include <cstdint>
#include <optional>
#include <string>

// The cryptography of password-encrypted vaults, through OpenSSL's EVP: scrypt
// derives the key that wraps the master key, AES-256-GCM seals both the master
// key and the database. Failures of OpenSSL itself throw CInterchangeError.

struct CScryptParameters
{
    std::uint64_t N = 32768;
    std::uint64_t R = 8;
    std::uint64_t P = 1;
};

// Why a vault's scrypt parameters are not used ("" when they are): N must be a
// power of two, r at most 32, p at most 16 and the memory 256 MiB, so that a
// hostile file cannot make the import take gigabytes or hours.
std::string ScryptParametersRefusal(const CScryptParameters& parameters);

// 32 bytes of scrypt(password, salt, N, r, p).
ByteVector DeriveScryptKey(const std::string& password, const ByteVector& salt,
                           const CScryptParameters& parameters);

// An AES-256-GCM sealed text: ciphertext, 12-byte nonce and 16-byte tag.
struct CSealed
{
    ByteVector Ciphertext;
    ByteVector Nonce;
    ByteVector Tag;
};

// Seals plain text under a 32-byte key with a new random nonce.
CSealed SealAes256Gcm(const ByteVector& key, const ByteVector& plain);
// The plain text, or nothing when the tag does not check out (wrong key, a
// changed byte) or the nonce or tag have the wrong length.
std::optional<ByteVector> OpenAes256Gcm(const ByteVector& key, const CSealed& sealed);

// count bytes from the system's cryptographic generator.
ByteVector RandomBytes(std::size_t count);
