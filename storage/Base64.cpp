#include "storage/Base64Codec.h"
#include "storage/LocalDatabase.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <climits>
#include <vector>

namespace {

constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Symbol values by byte: 0 to 63, Padding for "=", Skipped for any other byte.
constexpr std::int8_t Padding = -2;
constexpr std::int8_t Skipped = -1;

constexpr std::array<std::int8_t, 256> MakeSymbolTable()
{
    std::array<std::int8_t, 256> table{};
    for (auto& value : table) {
        value = Skipped;
    }
    for (int i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(Alphabet[i])] = static_cast<std::int8_t>(i);
    }
    table['='] = Padding;
    return table;
}

constexpr std::array<std::int8_t, 256> SymbolTable = MakeSymbolTable();

} // namespace

void AppendBase64(std::string& text, const std::uint8_t* data, std::size_t length)
{
    if (data == nullptr || length == 0) {
        return;
    }
    text.reserve(text.size() + (length + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < length; i += 3) {
        const std::uint8_t b0 = data[i], b1 = data[i + 1], b2 = data[i + 2];
        const char group[4] = {Alphabet[b0 >> 2], Alphabet[((b0 & 3) << 4) | (b1 >> 4)],
                               Alphabet[((b1 & 15) << 2) | (b2 >> 6)], Alphabet[b2 & 63]};
        text.append(group, 4);
    }
    if (length - i == 1) {
        const std::uint8_t b0 = data[i];
        const char group[4] = {Alphabet[b0 >> 2], Alphabet[(b0 & 3) << 4], '=', '='};
        text.append(group, 4);
    } else if (length - i == 2) {
        const std::uint8_t b0 = data[i], b1 = data[i + 1];
        const char group[4] = {Alphabet[b0 >> 2], Alphabet[((b0 & 3) << 4) | (b1 >> 4)],
                               Alphabet[(b1 & 15) << 2], '='};
        text.append(group, 4);
    }
}

std::size_t DecodeBase64(const char* text, std::size_t length, std::uint8_t* out)
{
    std::size_t decoded = 0;
    int group[4] = {0, 0, 0, 0};
    int collected = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const std::int8_t value = SymbolTable[static_cast<unsigned char>(text[i])];
        if (value == Padding) {
            if (collected >= 2) {
                out[decoded++] =
                    static_cast<std::uint8_t>((group[0] << 2) | ((group[1] & 0x30) >> 4));
            }
            if (collected == 3) {
                out[decoded++] =
                    static_cast<std::uint8_t>(((group[1] & 0x0F) << 4) | ((group[2] & 0x3C) >> 2));
            }
            break;
        }
        if (value == Skipped) {
            continue;
        }
        group[collected++] = static_cast<unsigned char>(value); // a symbol: 0 to 63
        if (collected == 4) {
            out[decoded++] = static_cast<std::uint8_t>((group[0] << 2) | ((group[1] & 0x30) >> 4));
            out[decoded++] =
                static_cast<std::uint8_t>(((group[1] & 0x0F) << 4) | ((group[2] & 0x3C) >> 2));
            out[decoded++] = static_cast<std::uint8_t>(((group[2] & 0x03) << 6) | group[3]);
            collected = 0;
        }
    }
    return decoded;
}

std::string LocalDatabase::Base64Encode(const std::uint8_t* data, int length)
{
    std::string text;
    if (length > 0) {
        AppendBase64(text, data, static_cast<std::size_t>(length));
    }
    return text;
}

int LocalDatabase::Base64Decode(const std::string& text, std::uint8_t* out, int max)
{
    const std::size_t bound = Base64DecodedBound(text.size());
    const bool direct = out != nullptr && max > 0 && bound <= static_cast<std::size_t>(max);
    std::vector<std::uint8_t> scratch(direct ? 0 : bound);
    std::uint8_t* buffer = direct ? out : scratch.data();
    const std::size_t decoded = DecodeBase64(text.data(), text.size(), buffer);
    if (!direct) {
        if (out != nullptr && max > 0) {
            std::copy(buffer, buffer + std::min(decoded, static_cast<std::size_t>(max)), out);
        }
        // Key bytes pass through the scratch buffer.
        OPENSSL_cleanse(buffer, decoded);
    }
    return decoded > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(decoded);
}
