#include "interop/Codecs.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace {

constexpr char Base32Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
constexpr char Base64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char HexDigits[] = "0123456789abcdef";
constexpr char UpperHexDigits[] = "0123456789ABCDEF";

// Symbol values by byte, NoSymbol for a byte that is none: one lookup per
// symbol, as an import decodes thousands of keys.
using SymbolTable = std::array<std::uint8_t, 256>;
constexpr std::uint8_t NoSymbol = 0xFF;

constexpr SymbolTable NoSymbols()
{
    SymbolTable table{};
    for (auto& value : table) {
        value = NoSymbol;
    }
    return table;
}

constexpr SymbolTable Base32Values()
{
    SymbolTable table = NoSymbols();
    for (int i = 0; i < 26; ++i) {
        table['A' + i] = static_cast<std::uint8_t>(i);
        table['a' + i] = static_cast<std::uint8_t>(i);
    }
    for (int i = 0; i < 6; ++i) {
        table['2' + i] = static_cast<std::uint8_t>(26 + i);
    }
    return table;
}

// Both alphabets at once: standard ("+/") and URL-safe ("-_").
constexpr SymbolTable Base64Values()
{
    SymbolTable table = NoSymbols();
    for (int i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(Base64Alphabet[i])] = static_cast<std::uint8_t>(i);
    }
    table['-'] = 62;
    table['_'] = 63;
    return table;
}

constexpr SymbolTable Base32Table = Base32Values();
constexpr SymbolTable Base64Table = Base64Values();

int HexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Decodes groups of `bits`-bit symbols; padding only at the end, and a
// remainder of symbols that no whole byte count leaves is refused.
std::optional<ByteVector> DecodeSymbols(const std::string& text, int bits,
                                        const SymbolTable& values, bool skipBlanks)
{
    ByteVector out(text.size() * static_cast<std::size_t>(bits) / 8 + 1);
    std::size_t length = 0;
    std::uint32_t buffer = 0;
    int held = 0;
    bool padding = false;
    for (const char c : text) {
        if (skipBlanks && c == ' ') {
            continue;
        }
        if (c == '=') {
            padding = true;
            continue;
        }
        const std::uint8_t value = values[static_cast<unsigned char>(c)];
        if (value == NoSymbol || padding) {
            return std::nullopt;
        }
        buffer = (buffer << bits) | value;
        held += bits;
        if (held >= 8) {
            held -= 8;
            out[length++] = static_cast<std::uint8_t>(buffer >> held);
            buffer &= (1U << held) - 1U;
        }
    }
    // A trailing symbol must carry at least part of a byte: a leftover of a
    // whole symbol or more means the text was cut.
    if (held >= bits) {
        return std::nullopt;
    }
    out.resize(length);
    return out;
}

} // namespace

std::optional<ByteVector> DecodeBase32(const std::string& text)
{
    return DecodeSymbols(text, 5, Base32Table, true);
}

std::string EncodeBase32(const ByteVector& bytes)
{
    std::string out;
    std::uint32_t buffer = 0;
    int held = 0;
    for (const std::uint8_t byte : bytes) {
        buffer = (buffer << 8) | byte;
        held += 8;
        while (held >= 5) {
            held -= 5;
            out += Base32Alphabet[(buffer >> held) & 31U];
        }
        buffer &= (1U << held) - 1U;
    }
    if (held > 0) {
        out += Base32Alphabet[(buffer << (5 - held)) & 31U];
    }
    return out;
}

std::optional<ByteVector> DecodeBase64(const std::string& text)
{
    return DecodeSymbols(text, 6, Base64Table, false);
}

std::string EncodeBase64(const ByteVector& bytes)
{
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t v =
            (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        for (const int shift : {18, 12, 6, 0}) {
            out += Base64Alphabet[(v >> shift) & 63U];
        }
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = std::uint32_t{bytes[i]} << 16;
        if (rest == 2) {
            v |= std::uint32_t{bytes[i + 1]} << 8;
        }
        out += Base64Alphabet[(v >> 18) & 63U];
        out += Base64Alphabet[(v >> 12) & 63U];
        out += rest == 2 ? Base64Alphabet[(v >> 6) & 63U] : '=';
        out += '=';
    }
    return out;
}

std::optional<ByteVector> DecodeHex(const std::string& text)
{
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    ByteVector out;
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = HexValue(text[i]);
        const int low = HexValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return out;
}

std::string EncodeHex(const ByteVector& bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        out += HexDigits[byte >> 4];
        out += HexDigits[byte & 15];
    }
    return out;
}

std::optional<std::string> PercentDecode(std::string_view text, bool plusIsSpace)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        // The plain run up to the next escape goes over at once.
        std::size_t run = i;
        while (run < text.size() && text[run] != '%' && (text[run] != '+' || !plusIsSpace)) {
            ++run;
        }
        out.append(text.data() + i, run - i);
        if (run == text.size()) {
            break;
        }
        if (text[run] == '+') {
            out += ' ';
            i = run + 1;
            continue;
        }
        if (run + 2 >= text.size()) {
            return std::nullopt;
        }
        const int high = HexValue(text[run + 1]);
        const int low = HexValue(text[run + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i = run + 3;
    }
    return out;
}

std::string PercentEncode(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += UpperHexDigits[byte >> 4];
            out += UpperHexDigits[byte & 15];
        }
    }
    return out;
}

std::optional<std::uint64_t> ParseDecimal(const std::string& text, std::uint64_t maximum)
{
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (maximum - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}
