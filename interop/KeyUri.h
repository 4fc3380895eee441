#pragma once

#include "interop/Account.h"

#include <string>
#include <string_view>

// Key URIs: otpauth://TYPE/LABEL?secret=...&issuer=...&algorithm=...&digits=...
// &period=...&counter=...
//
// The label is percent-decoded and split at its first colon (":" or "%3A")
// into issuer and account, blanks after the colon dropped. When the issuer
// parameter is given it names the issuer, whatever the label says: it is the
// field a server sets for that purpose, and the label's prefix may be an old
// or shortened form of it. A label prefix that differs is then dropped.

// Longest Key URI read; a longer line is refused, not parsed.
constexpr std::size_t MaxKeyUriLength = 8192;

// The account a Key URI describes, with Refusal set when it cannot be read
// (Issuer and AccountName are filled as far as they could be read).
CAccount ParseKeyUri(std::string_view uri);

// The Key URI of an account: the label "issuer:account" (just the account when
// there is no issuer and it holds no colon), the secret in Base32 without padding, every parameter
// spelt out.
std::string FormatKeyUri(const CAccount& account);

// True when text starts with `scheme` followed by "://", the scheme's letter
// case ignored.
bool HasScheme(std::string_view text, std::string_view scheme);
