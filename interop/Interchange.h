#pragma once

#include "otp/OtpToken.h"

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Moving accounts in and out: Key URIs (otpauth://), migration payloads
// (otpauth-migration://), vault files (plain and password-encrypted JSON) and
// images holding QR codes of them. Pure functions from bytes to tokens and
// back: no storage, no widgets, so the command line and the window share them.

// Raised when an input as a whole cannot be read, or a file cannot be written;
// what() is one line saying why.
class CInterchangeError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One entry an import found.
struct CImportEntry
{
    std::string Name;     // readable name, e.g. "Issuer: account"
    std::string TypeName; // "TOTP", "HOTP", or the source's own type name when refused
    COtpTokenPtr Token;   // the token to store; empty when refused
    std::string Refusal;  // why it is refused; empty when accepted
};

// Asks for the password of an encrypted vault; std::nullopt when the user gives none.
using PasswordPrompt = std::function<std::optional<std::string>()>;

// Reads any supported input, its format found from the content. Throws
// CInterchangeError (a std::runtime_error with a one-line reason) when the input as a
// whole cannot be read (unknown format, wrong vault password, damaged vault).
std::vector<CImportEntry> ReadImport(const std::string& bytes, const PasswordPrompt& askPassword);

// Entries of texts decoded elsewhere (QR codes of a screenshot): Key URIs and
// migration URIs, one per line; empty when no line is either.
std::vector<CImportEntry> ReadImportTexts(const std::vector<std::string>& texts);

// Same key, type, digits and period.
bool IsSameAccount(const COtpToken& a, const COtpToken& b);

struct CExportRefusal
{
    std::string Name;
    std::string Reason;
};

struct CExport
{
    std::string Bytes;
    int Count = 0;
    std::vector<CExportRefusal> Refused;
};

// Key URIs of the exportable tokens, one per line.
CExport ExportKeyUris(const std::vector<COtpTokenPtr>& tokens);
// A password-encrypted vault file of the exportable tokens.
CExport ExportVault(const std::vector<COtpTokenPtr>& tokens, const std::string& password);

// The Key URI of one exportable token (for a QR code); empty with `reason` set when not exportable.
std::string KeyUriOf(const COtpToken& token, std::string* reason);

// Writes the file atomically with mode 0600; throws CInterchangeError with the reason.
void WriteFileAtomically(const std::string& path, const std::string& bytes);
