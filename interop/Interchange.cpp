#include "interop/Interchange.h"

#include "interop/AccountMapping.h"
#include "interop/KeyUri.h"
#include "interop/MigrationPayload.h"
#include "interop/QrImage.h"
#include "interop/VaultFile.h"

#include <future>
#include <iterator>
#include <string_view>
#include <system_error>
#include <thread>

namespace {

// Longest input read at all: far beyond any real export, short of exhausting memory.
constexpr std::size_t MaxImportLength = 64 << 20;

std::string_view Trimmed(std::string_view text)
{
    const char* const blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return std::string_view();
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string LineName(std::size_t lineNumber)
{
    return "line " + std::to_string(lineNumber);
}

CImportEntry RefusedEntry(std::string name, std::string typeName, std::string refusal)
{
    CImportEntry entry;
    entry.Name = std::move(name);
    entry.TypeName = std::move(typeName);
    entry.Refusal = std::move(refusal);
    return entry;
}

// One line that holds something, with its number (counted over all texts).
struct TextLine
{
    std::string_view text;
    std::size_t number = 0;
};

// The entries of a run of lines, and whether any of them is a URI of ours.
struct LineEntries
{
    std::vector<CImportEntry> entries;
    bool recognised = false;
};

void ReadLine(const TextLine& line, LineEntries& out)
{
    if (HasScheme(line.text, "otpauth")) {
        out.recognised = true;
        CImportEntry entry = ToImportEntry(ParseKeyUri(line.text));
        if (!entry.Refusal.empty()) {
            entry.Name += " (" + LineName(line.number) + ")"; // to find it in a long file
        }
        out.entries.push_back(std::move(entry));
    } else if (HasScheme(line.text, "otpauth-migration")) {
        out.recognised = true;
        try {
            for (const CAccount& account : ReadMigrationUri(std::string(line.text))) {
                out.entries.push_back(ToImportEntry(account));
            }
        } catch (const CInterchangeError& error) {
            out.entries.push_back(RefusedEntry(LineName(line.number), "migration", error.what()));
        }
    } else {
        out.entries.push_back(RefusedEntry(LineName(line.number), "unknown",
                                           "it is not an otpauth:// or "
                                           "otpauth-migration:// URI"));
    }
}

LineEntries ReadLines(const std::vector<TextLine>& lines, std::size_t begin, std::size_t end)
{
    LineEntries out;
    out.entries.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i) {
        ReadLine(lines[i], out);
    }
    return out;
}

// From this many lines on, a second core reads the second half of them: a
// file of thousands of accounts is read in about half the time.
constexpr std::size_t LinesForTwoCores = 256;

// Entries of texts holding Key URIs and migration URIs, one per line; nothing
// when no line is either.
std::vector<CImportEntry> ReadTexts(const std::vector<std::string>& texts)
{
    std::vector<TextLine> lines;
    std::size_t lineNumber = 0;
    for (const std::string& text : texts) {
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) {
                end = text.size();
            }
            // Read in place: an import reads thousands of lines.
            const std::string_view line =
                Trimmed(std::string_view(text).substr(start, end - start));
            start = end + 1;
            ++lineNumber;
            if (!line.empty()) {
                lines.push_back(TextLine{line, lineNumber});
            }
        }
    }

    std::size_t half = lines.size();
    std::future<LineEntries> second;
    if (lines.size() >= LinesForTwoCores && std::thread::hardware_concurrency() > 1) {
        half = lines.size() / 2;
        try {
            second =
                std::async(std::launch::async, ReadLines, std::cref(lines), half, lines.size());
        } catch (const std::system_error&) {
            half = lines.size(); // no thread to be had: all of it here
        }
    }
    // Should this half throw, the future still waits for the other before
    // the lines it reads go away.
    LineEntries read = ReadLines(lines, 0, half);
    if (second.valid()) {
        LineEntries rest = second.get();
        read.recognised = read.recognised || rest.recognised;
        read.entries.insert(read.entries.end(), std::make_move_iterator(rest.entries.begin()),
                            std::make_move_iterator(rest.entries.end()));
    }
    if (!read.recognised) {
        read.entries.clear();
    }
    return std::move(read.entries);
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
