#include "KeyText.h"

#include "otp/Ocra.h"

#include <cctype>

std::string HexText(const std::vector<std::uint8_t>& bytes)
{
    std::string text = BytesToHex(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
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
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            encoded += c;
        } else {
            const auto byte = static_cast<std::uint8_t>(c);
            encoded += '%' + BytesToHex(&byte, 1);
        }
    }
    return encoded;
}
