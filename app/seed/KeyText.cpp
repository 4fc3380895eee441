#include "KeyText.h"

namespace {

const char HexDigits[] = "0123456789abcdef";
const char UpperHexDigits[] = "0123456789ABCDEF";

} // namespace

std::string HexText(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += HexDigits[byte >> 4];
        text += HexDigits[byte & 0x0F];
    }
    return text;
}

std::string Base32Text(const std::vector<std::uint8_t>& bytes)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string text;
    unsigned buffer = 0;
    int bits = 0;
    for (const std::uint8_t byte : bytes) {
        buffer = (buffer << 8 | byte) & 0xFFFFU;
        bits += 8;
        while (bits >= 5) {
            bits -= 5;
            text += alphabet[buffer >> bits & 0x1FU];
        }
    }
    if (bits > 0) {
        text += alphabet[buffer << (5 - bits) & 0x1FU];
    }
    while (text.size() % 8 != 0) {
        text += '=';
    }
    return text;
}

std::string PercentEncoded(const std::string& text)
{
    std::string encoded;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += UpperHexDigits[byte >> 4];
            encoded += UpperHexDigits[byte & 0x0F];
        }
    }
    return encoded;
}
