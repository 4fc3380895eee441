// protect: the secrets under a key in the desktop keyring, or under the file's own.
#include "Commands.h"
#include "ExitStatus.h"
#include "Output.h"

#include "storage/LocalDatabase.h"

#include <cstdio>

int SetProtection(LocalDatabase& database, const CCommandLine& line, const std::string& pin)
{
    const std::string& mode = line.Operands.front();
    if (mode != "keyring" && mode != "file") {
        throw CCliFailure{ExitStatus::Usage, "protect takes keyring or file"};
    }
    const bool keyring = mode == "keyring";
    const std::string backup = line.Value("backup");
    if (!keyring && !backup.empty()) {
        throw CCliFailure{ExitStatus::Usage, "--backup goes with protect keyring only"};
    }
    if (keyring && database.GetProtection() == LocalDatabase::Protection::File) {
        if (!backup.empty()) {
            CCommandLine vault;
            vault.Command = "export";
            vault.Values = {{"format", "vault"}, {"output", backup}};
            if (line.Values.count("password-file") != 0) {
                vault.Values["password-file"] = line.Value("password-file");
            }
            if (ExportAccounts(database, vault) != ExitStatus::Success) {
                throw CCliFailure{ExitStatus::Refused,
                                  "not every token is in the backup; protection unchanged"};
            }
        } else {
            std::fputs("velmora-cli: note: from now on the tokens open only with this desktop "
                       "keyring, and a lost keyring is a lost store; keep a vault backup "
                       "(--backup FILE, or velmora-cli export --format vault)\n",
                       stderr);
        }
    }
    const LocalDatabase::ProtectionChange change = database.SetProtection(
        keyring ? LocalDatabase::Protection::Keyring : LocalDatabase::Protection::File, pin);
    if (change == LocalDatabase::ProtectionChange::WrongPin) {
        throw CCliFailure{ExitStatus::WrongPin, "wrong PIN"};
    }
    const std::string where = keyring ? "a key in the desktop keyring" : "the file's own key";
    PrintLine(change == LocalDatabase::ProtectionChange::Done
                  ? "the secrets are now protected by " + where
                  : "the secrets were already protected by " + where);
    return ExitStatus::Success;
}
