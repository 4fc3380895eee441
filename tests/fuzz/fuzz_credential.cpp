// The Credential decoding: never a key length outside 0..128; the plain and
// the protected form of a plain text decode alike; a decoded token encodes to a
// Credential that decodes to the same keys and counter.
#include "StorageFuzzing.h"

#include "otp/OtpToken.h"

#include <cstdint>
#include <memory>
#include <string>

namespace {

// The keys and counter a Credential decodes to; "-1" when it does not decode.
std::string Secret(LocalDatabase& db, const std::string& credential)
{
    auto token = std::make_shared<COtpToken>();
    token->OtpKeyLength = token->TwoWayKeyLength = -1; // "not decoded" until set
    db.DecodeCredential(credential, token);
    const auto key = [](const std::uint8_t* bytes, std::int32_t length) {
        Require(length >= 0 && length <= COtpToken::MaxKeyLength, "a key length beyond 0..128");
        return std::string(reinterpret_cast<const char*>(bytes), std::size_t(length)) + ',';
    };
    if (token->OtpKeyLength == -1) {
        Require(token->TwoWayKeyLength == -1, "one key decoded without the other");
        return "-1";
    }
    return key(token->OtpKey, token->OtpKeyLength) + key(token->TwoWayKey, token->TwoWayKeyLength) +
           std::to_string(token->Counter);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1 << 16) {
        return 0;
    }
    LocalDatabase& db = storagefuzz::Database();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string secret = Secret(db, text);
    // Both prefixes name a protected form: such a text has no plain reading.
    if (text.compare(0, 4, "enc:") != 0 && text.compare(0, 4, "kr1:") != 0) {
        Require(Secret(db, db.Encrypt(text)) == secret, "the protected form decodes otherwise");
    }
    if (secret != "-1") {
        auto token = std::make_shared<COtpToken>();
        db.DecodeCredential(text, token);
        Require(Secret(db, db.EncodeCredential(token)) == secret, "encoding changes the secret");
    }
    return 0;
}
