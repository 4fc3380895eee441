#pragma once

#include "interop/Account.h"

#include <string>
#include <vector>

// Migration payloads: otpauth-migration://offline?data=BASE64, the data a
// protobuf MigrationPayload whose repeated field 1 holds the accounts:
//   OtpParameters { bytes secret = 1; string name = 2; string issuer = 3;
//     Algorithm algorithm = 4; DigitCount digits = 5; OtpType type = 6;
//     int64 counter = 7; }
// The version and batch fields (2 to 5) say nothing about the accounts and are
// skipped. The period is always 30 s.
//
// The decoder is a small one of our own rather than a protobuf library: two
// flat messages of seven fields do not warrant a code generator and a runtime
// in the build, and a reader this size can be checked whole, bounds first,
// and fuzzed as it is.

// Longest payload decoded (a QR code holds under 3 KiB).
constexpr std::size_t MaxMigrationPayloadLength = 1 << 20;

// The accounts of a decoded payload; throws CInterchangeError with the reason
// when the payload is not a well-formed message (truncated, a length beyond
// the end, a field of the wrong wire type).
std::vector<CAccount> DecodeMigrationPayload(const ByteVector& payload);

// The accounts of an otpauth-migration:// URI (data in the standard or the
// URL-safe Base64 alphabet, "+" kept as it is); throws CInterchangeError.
std::vector<CAccount> ReadMigrationUri(const std::string& uri);
