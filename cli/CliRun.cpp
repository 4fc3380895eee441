#include "CliRun.h"

#include "CommandLine.h"
#include "Commands.h"
#include "ExitStatus.h"
#include "Output.h"
#include "PinGuard.h"

#include "interop/Interchange.h"
#include "keyring/KeychainKeyProvider.h"
#include "storage/LocalDatabase.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <stdexcept>

namespace {

int Fail(int status, const std::string& message)
{
    // One line, whatever the message holds.
    std::string line = message;
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    std::fprintf(stderr, "velmora-cli: %s\n", line.c_str());
    return status;
}

int Run(const CCommandLine& line)
{
    // The window's database, in the home directory the password database names.
    LocalDatabase database;
    if (!database.IsOpen()) {
        return Fail(ExitStatus::StorageFailure, database.GetOpenError());
    }
    // A store in keyring mode opens only with its key: nothing is asked or
    // written when the keyring cannot give it.
    CKeychainKeyProvider keyring;
    database.SetStoreKeyProvider(&keyring);
    database.LoadStoreKey();
    std::string pin;
    UnlockStore(database, CPinSource{line.Value("pin-file"), line.Value("pin-fd")}, &pin);
    struct Wipe
    {
        std::string& text;
        ~Wipe() { OPENSSL_cleanse(text.data(), text.size()); }
    } wipe{pin};
    if (line.Command == "protect") {
        return SetProtection(database, line, pin);
    }
    if (line.Command == "list") {
        return ListTokens(database, line);
    }
    if (line.Command == "code") {
        return PrintCode(database, line);
    }
    if (line.Command == "import") {
        return ImportAccounts(database, line);
    }
    return ExportAccounts(database, line);
}

} // namespace

int RunCli(const std::vector<std::string>& args)
{
    try {
        const CCommandLine line = ParseCommandLine(args);
        if (line.Has("help")) {
            std::fputs(HelpText(line.Command).c_str(), stdout);
            return ExitStatus::Success;
        }
        return Run(line);
    } catch (const CCliFailure& failure) {
        return Fail(failure.Status, failure.Message);
    } catch (const CStoreKeyError& error) {
        return Fail(ExitStatus::StorageFailure, error.what());
    } catch (const CInterchangeError& error) {
        return Fail(ExitStatus::Refused, error.what());
    } catch (const std::invalid_argument& error) {
        return Fail(ExitStatus::Refused, error.what());
    } catch (const std::exception& error) {
        // Storage: nothing of the failed step was stored (each is one transaction).
        return Fail(ExitStatus::StorageFailure, std::string("storage failed: ") + error.what());
    }
}
