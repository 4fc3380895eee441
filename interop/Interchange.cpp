#include "interop/Interchange.h"

#include "interop/AccountMapping.h"
#include "interop/KeyUri.h"
#include "interop/MigrationPayload.h"
#include "interop/QrImage.h"
#include "interop/VaultFile.h"

namespace {

// Longest input read at all: far beyond any real export, short of exhausting memory.
constexpr std::size_t MaxImportLength = 64 << 20;

std::string Trimmed(const std::string& text)
{
    const char* const blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

CImportEntry RefusedEntry(std::string name, std::string typeName, std::string refusal)
{
    CImportEntry entry;
    entry.Name = std::move(name);
    entry.TypeName = std::move(typeName);
    entry.Refusal = std::move(refusal);
    return entry;
}

// Entries of texts holding Key URIs and migration URIs, one per line; nothing
// when no line is either.
std::vector<CImportEntry> ReadTexts(const std::vector<std::string>& texts)
{
    std::vector<CImportEntry> entries;
    bool recognised = false;
    std::size_t lineNumber = 0;
    for (const std::string& text : texts) {
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) {
                end = text.size();
            }
            const std::string line = Trimmed(text.substr(start, end - start));
            start = end + 1;
            ++lineNumber;
            const std::string where = "line " + std::to_string(lineNumber);
            if (line.empty()) {
                continue;
            }
            if (HasScheme(line, "otpauth")) {
                recognised = true;
                CImportEntry entry = ToImportEntry(ParseKeyUri(line));
                if (!entry.Refusal.empty()) {
                    entry.Name += " (" + where + ")"; // to find it in a long file
                }
                entries.push_back(std::move(entry));
            } else if (HasScheme(line, "otpauth-migration")) {
                recognised = true;
                try {
                    for (const CAccount& account : ReadMigrationUri(line)) {
                        entries.push_back(ToImportEntry(account));
                    }
                } catch (const CInterchangeError& error) {
                    entries.push_back(RefusedEntry(where, "migration", error.what()));
                }
            } else {
                entries.push_back(RefusedEntry(where, "unknown",
                                               "it is not an otpauth:// or "
                                               "otpauth-migration:// URI"));
            }
        }
    }
    if (!recognised) {
        entries.clear();
    }
    return entries;
}

CExport ExportAccounts(const std::vector<COtpTokenPtr>& tokens, std::vector<CAccount>& accounts)
{
    CExport result;
    for (const COtpTokenPtr& token : tokens) {
        if (!token) {
            continue;
        }
        std::string reason;
        if (std::optional<CAccount> account = AccountOfToken(*token, reason)) {
            accounts.push_back(std::move(*account));
            ++result.Count;
        } else {
            result.Refused.push_back(CExportRefusal{token->GetDisplayName(), reason});
        }
    }
    return result;
}

} // namespace

std::vector<CImportEntry> ReadImport(const std::string& input, const PasswordPrompt& askPassword)
{
    if (input.size() > MaxImportLength) {
        throw CInterchangeError("the input is larger than " +
                                std::to_string(MaxImportLength >> 20) + " MiB");
    }
    // Editors on some systems start a UTF-8 text with a byte order mark.
    const std::string bytes = input.compare(0, 3, "\xEF\xBB\xBF") == 0 ? input.substr(3) : input;
    if (LooksLikeVault(bytes)) {
        std::vector<CImportEntry> entries;
        for (const CAccount& account : ReadVault(bytes, askPassword)) {
            entries.push_back(ToImportEntry(account));
        }
        return entries;
    }
    std::vector<CImportEntry> entries = ReadTexts({bytes});
    if (!entries.empty()) {
        return entries;
    }
    if (IsImage(bytes)) {
        entries = ReadTexts(ReadQrTexts(bytes));
        if (entries.empty()) {
            throw CInterchangeError(
                "the image's QR codes hold no otpauth:// or otpauth-migration:// URI");
        }
        return entries;
    }
    throw CInterchangeError("the input is not Key URIs, migration URIs, a vault file or an "
                            "image Velmora reads");
}

std::vector<CImportEntry> ReadImportTexts(const std::vector<std::string>& texts)
{
    return ReadTexts(texts);
}

CExport ExportKeyUris(const std::vector<COtpTokenPtr>& tokens)
{
    std::vector<CAccount> accounts;
    CExport result = ExportAccounts(tokens, accounts);
    for (const CAccount& account : accounts) {
        result.Bytes += FormatKeyUri(account) + "\n";
    }
    return result;
}

CExport ExportVault(const std::vector<COtpTokenPtr>& tokens, const std::string& password)
{
    std::vector<CAccount> accounts;
    CExport result = ExportAccounts(tokens, accounts);
    result.Bytes = WriteVault(accounts, password);
    return result;
}

std::string KeyUriOf(const COtpToken& token, std::string* reason)
{
    std::string why;
    const std::optional<CAccount> account = AccountOfToken(token, why);
    if (reason != nullptr) {
        *reason = why;
    }
    return account ? FormatKeyUri(*account) : std::string();
}
