// The whole-process figures' helper, run by scripts/run-bench.py:
//   bench_tool database DIR TOKENS   a database in DIR with a PIN and TOKENS time-based tokens
//   bench_tool keyring DIR TOKENS    the same in keyring mode, its key in the desktop keyring
//   bench_tool syncs WRITE COUNT     COUNT writes on a fresh temporary database, for strace
// WRITE is one of: press (ReserveCounter), update (the bare UPDATE it is
// measured against), install (SaveToken of a new token), insert (a bare INSERT).
// The setup is the same for every COUNT, so counting syscalls at two counts
// and subtracting leaves the cost of the writes alone.
#include "BareTokenTable.h"
#include "Fixtures.h"
#include "keyring/KeychainKeyProvider.h"
#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <string>

namespace {

int MakeDatabase(const std::string& directory, int tokens, bool keyring)
{
    LocalDatabase database(directory);
    if (!database.IsOpen()) {
        std::fprintf(stderr, "bench_tool: %s\n", database.GetOpenError().c_str());
        return 1;
    }
    database.SetPin("24682468");
    benchfixtures::InstallTokens(database, tokens, TokenTypeTOTP);
    // Stores the selection now, so that no start-up run writes it.
    database.GetDefaultToken();
    if (keyring) {
        CKeychainKeyProvider keys;
        database.SetStoreKeyProvider(&keys);
        database.SetProtection(LocalDatabase::Protection::Keyring, "24682468");
        database.SetStoreKeyProvider(nullptr);
    }
    return 0;
}

int Write(const std::string& write, int count)
{
    LocalDatabase project(testsupport::MakeTempDirectory());
    project.SaveToken(benchfixtures::MakeToken(1, TokenTypeHOTP));
    const int pressed = project.GetDefaultToken();
    BareTokenTable bare(testsupport::MakeTempDirectory(), project.GetDatabasePath());

    const std::map<std::string, std::function<void(int)>> writes = {
        {"press", [&](int) { project.ReserveCounter(pressed); }},
        {"update", [&](int) { bare.UpdateCredential(); }},
        {"install",
         [&](int i) { project.SaveToken(benchfixtures::MakeToken(i + 2, TokenTypeHOTP)); }},
        {"insert", [&](int) { bare.InsertToken(); }},
    };
    const auto found = writes.find(write);
    if (found == writes.end()) {
        std::fprintf(stderr, "bench_tool: no write named %s\n", write.c_str());
        return 2;
    }
    for (int i = 0; i < count; ++i) {
        found->second(i);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc == 4 ? argv[1] : "";
    if (command != "database" && command != "keyring" && command != "syncs") {
        std::fprintf(stderr, "usage: bench_tool database|keyring DIR TOKENS | syncs WRITE COUNT\n");
        return 2;
    }
    try {
        const int number = std::atoi(argv[3]);
        return command == "syncs" ? Write(argv[2], number)
                                  : MakeDatabase(argv[2], number, command == "keyring");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_tool: %s\n", error.what());
        return 1;
    }
}
