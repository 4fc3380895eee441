#pragma once

#include <cstdint>
#include <string>

// What the token menu and the token list show of a stored token: its identity,
// never its secret.
struct TokenListing
{
    std::int32_t ID = 0;
    std::string Title; // COtpToken::GetDisplayName() of the stored row
    std::string Name;
    std::string Serial;
    std::string DomainName;
    std::string UserName;
};
