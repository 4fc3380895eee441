#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Texts an OTP server is given a key in.

// Lower-case hexadecimal, two digits a byte.
std::string HexText(const std::vector<std::uint8_t>& bytes);

// RFC 4648 Base32 (upper case, "=" padding to a multiple of eight characters).
std::string Base32Text(const std::vector<std::uint8_t>& bytes);

// Percent-encodes every byte but the RFC 3986 unreserved characters.
std::string PercentEncoded(const std::string& text);
