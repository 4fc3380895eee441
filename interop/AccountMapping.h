#pragma once

#include "interop/Account.h"
#include "interop/Interchange.h"

#include <optional>
#include <string>

// Between accounts and tokens.
//
// An accepted account becomes a token that computes exactly the codes a
// standard authenticator computes for it: TOTP as TokenType 5 with Timer the
// period, HOTP as TokenType 4 whose Counter is the counter its next code uses.
// The token's Name is the issuer and its Serial the account, so that the menus'
// title "Name:Serial" reads "issuer:account"; with no issuer, Name is the
// account and Serial stays empty ("(unnamed)" when there is neither). DomainName and UserName stay
// empty, since the title would repeat them. The key goes into OtpKey; there is no two-way key.

// The entry an import shows for the account: its token, or why none is made.
CImportEntry ToImportEntry(const CAccount& account);

// The account a standard authenticator computes the token's main codes for:
// HOTP and CB as HOTP, TOTP as TOTP, TB as TOTP with half the Timer. Nothing,
// with `reason` set, for the other types, a check digit, a two-way token, a
// token that cannot compute, or a counter beyond what the engine counts alike.
std::optional<CAccount> AccountOfToken(const COtpToken& token, std::string& reason);
