#include "otp/OtpToken.h"

#include <algorithm>
#include <cstring>

COtpToken::COtpToken()
    : ID(0), TwoWayKey{}, OtpKey{}, TwoWayKeyLength(0), OtpKeyLength(0), Digits(6), Status(0),
      TokenType(TokenTypeHOTP), SyncSize(2), Timer(30), Counter(0), Sleep(5), CheckSum(false),
      TwoWay(false)
{
}

COtpToken::~COtpToken() = default;

namespace {

// Copies at most MaxKeyLength bytes and returns the count kept; a negative or
// missing input keeps nothing.
std::int32_t CopyKey(std::uint8_t* target, const std::uint8_t* bytes, std::int32_t length)
{
    std::int32_t kept = 0;
    if (bytes != nullptr && length > 0) {
        kept = std::min(length, COtpToken::MaxKeyLength);
        // memmove: a key may be set from the token's own buffer.
        std::memmove(target, bytes, static_cast<std::size_t>(kept));
    }
    std::memset(target + kept, 0, static_cast<std::size_t>(COtpToken::MaxKeyLength - kept));
    return kept;
}

} // namespace

void COtpToken::SetTwoWayKey(const std::uint8_t* bytes, std::int32_t length)
{
    TwoWayKeyLength = CopyKey(TwoWayKey, bytes, length);
}

void COtpToken::SetOtpKey(const std::uint8_t* bytes, std::int32_t length)
{
    OtpKeyLength = CopyKey(OtpKey, bytes, length);
}
