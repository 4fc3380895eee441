// import and export: accounts in from other authenticators' files, and out to them.
#include "Commands.h"
#include "ExitStatus.h"
#include "Output.h"
#include "SecretInput.h"

#include "interop/ImportPlan.h"
#include "interop/Interchange.h"
#include "storage/LocalDatabase.h"

#include <openssl/crypto.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Far beyond any export file or screenshot; a bigger input is refused unread.
constexpr std::size_t MaxInputBytes = 64u << 20;

// Wipes a secret held in a string once it has served.
void Wipe(std::string& secret)
{
    const std::size_t size = secret.size();
    OPENSSL_cleanse(secret.data(), size);
}

struct FileCloser
{
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string ReadInput(const std::string& path)
{
    std::unique_ptr<std::FILE, FileCloser> opened;
    std::FILE* file = stdin;
    if (path != "-") {
        opened.reset(std::fopen(path.c_str(), "rb"));
        if (!opened) {
            throw CCliFailure{ExitStatus::Refused,
                              "cannot open " + path + ": " + std::strerror(errno)};
        }
        file = opened.get();
    }
    const std::string name = path == "-" ? std::string("standard input") : path;
    std::string bytes;
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        if (bytes.size() + got > MaxInputBytes) {
            throw CCliFailure{ExitStatus::Refused, name + " is larger than " +
                                                       std::to_string(MaxInputBytes >> 20) +
                                                       " MiB; nothing was read"};
        }
        bytes.append(buffer, got);
    }
    if (std::ferror(file) != 0) {
        throw CCliFailure{ExitStatus::Refused, "cannot read " + name + ": " + std::strerror(errno)};
    }
    return bytes;
}

// The vault password from --password-file, else typed (twice for a new vault).
std::optional<std::string> Password(const CCommandLine& line, bool confirm)
{
    if (const std::string file = line.Value("password-file"); !file.empty()) {
        return ReadSecretFile(file, "password");
    }
    std::optional<std::string> typed = AskOnTerminal("Password of the vault: ");
    if (!typed) {
        throw CCliFailure{ExitStatus::Usage,
                          "no terminal to ask the vault's password on: give --password-file"};
    }
    if (confirm) {
        std::optional<std::string> again = AskOnTerminal("Repeat the password: ");
        const bool same = again && *again == *typed;
        if (again) {
            Wipe(*again);
        }
        if (!same) {
            Wipe(*typed);
            throw CCliFailure{ExitStatus::Refused, "the two passwords differ; nothing was written"};
        }
    }
    return typed;
}

// One entry of an import as the command prints it.
std::string PlanLine(const CImportEntry& entry, ImportStatus status)
{
    const std::string what = entry.Name + " (" + entry.TypeName + ")";
    switch (status) {
    case ImportStatus::New:
        return "new\t" + what;
    case ImportStatus::AlreadyInstalled:
        return "already installed\t" + what;
    case ImportStatus::Refused:
        break;
    }
    return "refused\t" + what + ": " + entry.Refusal;
}

} // namespace

int ImportAccounts(LocalDatabase& database, const CCommandLine& line)
{
    const std::string bytes = ReadInput(line.Operands.front());
    const std::vector<CImportEntry> entries =
        ReadImport(bytes, [&line] { return Password(line, false); });

    const CImportPlan plan = PlanImport(entries, database.GetAllTokens());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        PrintLine(PlanLine(entries[i], plan.Statuses[i]));
    }
    const bool dryRun = line.Has("dry-run");
    if (!dryRun && !plan.New.empty()) {
        database.InstallTokens(plan.New);
    }
    PrintLine(std::to_string(plan.New.size()) + (dryRun ? " new to store" : " new stored") + ", " +
              std::to_string(plan.Installed) + " already installed, " +
              std::to_string(plan.Refused) + " refused" +
              (dryRun ? " (dry run: nothing stored)" : ""));
    return plan.Refused == 0 ? ExitStatus::Success : ExitStatus::Refused;
}

int ExportAccounts(LocalDatabase& database, const CCommandLine& line)
{
    const std::string format = line.Value("format");
    const std::string output = line.Value("output");
    if (format != "uri" && format != "vault") {
        throw CCliFailure{ExitStatus::Usage, "--format takes uri or vault"};
    }
    if (output.empty()) {
        throw CCliFailure{ExitStatus::Usage, "--output FILE is missing"};
    }
    if (format == "uri" && line.Values.count("password-file") != 0) {
        throw CCliFailure{ExitStatus::Usage, "--password-file goes with --format vault only"};
    }
    const std::vector<COtpTokenPtr> tokens = database.GetAllTokens();
    CExport exported;
    if (format == "uri") {
        exported = ExportKeyUris(tokens);
    } else {
        std::optional<std::string> password = Password(line, true);
        if (!password || password->empty()) {
            throw CCliFailure{ExitStatus::Refused, "a vault needs a password; nothing was written"};
        }
        exported = ExportVault(tokens, *password);
        Wipe(*password);
    }
    for (const CExportRefusal& refusal : exported.Refused) {
        PrintLine("not exported\t" + refusal.Name + ": " + refusal.Reason);
    }
    if (exported.Count == 0) {
        throw CCliFailure{ExitStatus::Refused, "no token can be exported; nothing was written"};
    }
    WriteFileAtomically(output, exported.Bytes);
    Wipe(exported.Bytes);
    PrintLine(std::to_string(exported.Count) + " exported to " + output);
    return exported.Refused.empty() ? ExitStatus::Success : ExitStatus::Refused;
}
