#pragma once

#include "interop/Codecs.h"

#include <cstdint>
#include <string>

// One account as the interchange formats describe it, before it becomes a
// token: what a reader found, or why the reader could not take it.
struct CAccount
{
    std::string Type = "totp"; // lower case: "totp", "hotp", or the source's own type
    std::string Issuer;
    std::string AccountName;
    std::string Algorithm = "SHA1"; // upper case
    ByteVector Secret;
    std::uint64_t Digits = 6;
    std::uint64_t Period = 30;
    std::uint64_t Counter = 0;
    std::string Refusal; // what the reader could not take; empty when read whole
};

// "Issuer: account", or whichever of the two is given.
std::string ReadableName(const std::string& issuer, const std::string& accountName);

// Sets Issuer and AccountName from a label "issuer:account" (split after the
// given issuer when the label starts with it and a colon, else at the first
// colon; blanks around the parts dropped) and an issuer given beside it: the
// given issuer wins when it is not empty.
void ApplyLabel(CAccount& account, const std::string& label, const std::string& issuer);
