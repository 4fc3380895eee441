#include "storage/LocalDatabase.h"

#include <algorithm>
#include <vector>

namespace {

const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of a Base64 symbol, or -1 for any other character.
int SymbolValue(char c)
{
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

} // namespace

std::string LocalDatabase::Base64Encode(const std::uint8_t* data, int length)
{
    std::string text;
    if (data == nullptr || length <= 0) {
        return text;
    }
    text.reserve(static_cast<std::size_t>((length + 2) / 3) * 4);
    int i = 0;
    for (; i + 2 < length; i += 3) {
        const std::uint8_t b0 = data[i], b1 = data[i + 1], b2 = data[i + 2];
        text += Alphabet[b0 >> 2];
        text += Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        text += Alphabet[((b1 & 15) << 2) | (b2 >> 6)];
        text += Alphabet[b2 & 63];
    }
    if (length - i == 1) {
        const std::uint8_t b0 = data[i];
        text += Alphabet[b0 >> 2];
        text += Alphabet[(b0 & 3) << 4];
        text += "==";
    } else if (length - i == 2) {
        const std::uint8_t b0 = data[i], b1 = data[i + 1];
        text += Alphabet[b0 >> 2];
        text += Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
        text += Alphabet[(b1 & 15) << 2];
        text += '=';
    }
    return text;
}

// Tolerant: characters outside the alphabet are skipped, "=" ends the text,
// and an incomplete final group without "=" adds nothing.
int LocalDatabase::Base64Decode(const std::string& text, std::uint8_t* out, int max)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3 + 3);
    int group[4] = {0, 0, 0, 0};
    int collected = 0;
    for (const char c : text) {
        if (c == '=') {
            if (collected >= 2) {
                bytes.push_back(
                    static_cast<std::uint8_t>((group[0] << 2) | ((group[1] & 0x30) >> 4)));
            }
            if (collected == 3) {
                bytes.push_back(
                    static_cast<std::uint8_t>(((group[1] & 0x0F) << 4) | ((group[2] & 0x3C) >> 2)));
            }
            break;
        }
        const int value = SymbolValue(c);
        if (value < 0) {
            continue;
        }
        group[collected++] = value;
        if (collected == 4) {
            bytes.push_back(static_cast<std::uint8_t>((group[0] << 2) | ((group[1] & 0x30) >> 4)));
            bytes.push_back(
                static_cast<std::uint8_t>(((group[1] & 0x0F) << 4) | ((group[2] & 0x3C) >> 2)));
            bytes.push_back(static_cast<std::uint8_t>(((group[2] & 0x03) << 6) | group[3]));
            collected = 0;
        }
    }
    const int decoded = static_cast<int>(bytes.size());
    if (out != nullptr && max > 0) {
        const int copied = decoded < max ? decoded : max;
        std::copy(bytes.begin(), bytes.begin() + copied, out);
    }
    return decoded;
}
