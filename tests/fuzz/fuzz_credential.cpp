// The Credential decoding: never a key length outside 0..128; the plain and
// the protected form of a text decode alike; a decoded token encodes to a
// Credential that decodes to the same keys and counter.
#include "StorageFuzzing.h"

#include "otp/OtpToken.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

using storagefuzz::Require;

namespace {

// A token whose lengths say "not decoded" until DecodeCredential sets them.
COtpTokenPtr Undecoded()
{
    auto token = std::make_shared<COtpToken>();
    token->OtpKeyLength = -1;
    token->TwoWayKeyLength = -1;
    return token;
}

bool SameSecret(const COtpToken& a, const COtpToken& b)
{
    return a.OtpKeyLength == b.OtpKeyLength && a.TwoWayKeyLength == b.TwoWayKeyLength &&
           a.Counter == b.Counter &&
           (a.OtpKeyLength <= 0 ||
            std::memcmp(a.OtpKey, b.OtpKey, static_cast<std::size_t>(a.OtpKeyLength)) == 0) &&
           (a.TwoWayKeyLength <= 0 ||
            std::memcmp(a.TwoWayKey, b.TwoWayKey, static_cast<std::size_t>(a.TwoWayKeyLength)) ==
                0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1 << 16) {
        return 0;
    }
    LocalDatabase& db = storagefuzz::Database();
    const std::string text(reinterpret_cast<const char*>(data), size);

    COtpTokenPtr token = Undecoded();
    db.DecodeCredential(text, token);
    const bool decoded = token->OtpKeyLength != -1;
    Require(decoded == (token->TwoWayKeyLength != -1));
    Require(!decoded || (token->OtpKeyLength >= 0 && token->OtpKeyLength <= 128 &&
                         token->TwoWayKeyLength >= 0 && token->TwoWayKeyLength <= 128));

    if (text.compare(0, 4, "enc:") != 0) {
        COtpTokenPtr fromProtected = Undecoded();
        db.DecodeCredential(db.Encrypt(text), fromProtected);
        Require(SameSecret(*token, *fromProtected));
    }
    if (decoded) {
        COtpTokenPtr again = Undecoded();
        db.DecodeCredential(db.EncodeCredential(token), again);
        Require(SameSecret(*token, *again));
    }
    return 0;
}
