#pragma once

#include "interop/Account.h"
#include "interop/Interchange.h"

#include <string>
#include <vector>

// Vault files: JSON {"version": 1, "header": {"slots": ..., "params": ...},
// "db": ...}. Plain, "slots" and "params" are null and "db" is the database
// object; password-encrypted, "slots" lists the key slots, and "db" is the
// Base64 of the database object's JSON sealed with AES-256-GCM under the
// master key ("params": hex "nonce" and "tag"). A password slot (type 1)
// holds the master key sealed under scrypt(password, salt, n, r, p); other
// slot types are skipped. The database object: {"version": 1 to 3,
// "entries": [{type, uuid, name, issuer, note, info: {secret, algo, digits,
// period | counter}}]}.

// True when the text looks like a vault file (a JSON object); the reader
// decides whether it is a valid one.
bool LooksLikeVault(const std::string& bytes);

// The accounts of a vault file; an entry that cannot be read comes back with
// its Refusal. Asks for the password only when the vault is encrypted. Throws
// CInterchangeError when the file is not a vault, has no password slot this
// program can use, no password is given, the password does not open it, or
// its contents do not check out.
std::vector<CAccount> ReadVault(const std::string& bytes, const PasswordPrompt& askPassword);

// A password-encrypted vault of the accounts: new random master key, salt and
// nonces, scrypt with N 32768, r 8, p 1. Throws CInterchangeError when OpenSSL fails.
std::string WriteVault(const std::vector<CAccount>& accounts, const std::string& password);
