// One press and reading many tokens, each beside its reference.
#include "BareTokenTable.h"
#include "Figures.h"
#include "Fixtures.h"
#include "RawCipher.h"
#include "RawDatabase.h"
#include "storage/LocalDatabase.h"
#include "support/FileKeyProvider.h"
#include "support/TempDirectory.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <exception>
#include <stdexcept>

namespace {

constexpr int ManyTokens = 10000;

struct Stores
{
    // One HOTP token to press.
    LocalDatabase press{testsupport::MakeTempDirectory()};
    int pressed = 0;
    // The same token in keyring mode; its key read once from a stand-in
    // keyring (a file), as the programs read it once from the desktop's.
    std::string keyringPlace = testsupport::MakeTempDirectory();
    testsupport::CFileKeyProvider keys{keyringPlace};
    LocalDatabase keyringPress{keyringPlace};
    int keyringPressed = 0;
    BareTokenTable bare{testsupport::MakeTempDirectory(), press.GetDatabasePath()};
    // Many time-based tokens, and the references' raw view of the same file.
    LocalDatabase many{testsupport::MakeTempDirectory()};
    RawDatabase raw{many.GetDatabasePath()};
    RawCipher cipher;
};
Stores* g_stores = nullptr;

// A sync's cost follows the disk's other traffic far more than repetitions
// could even out: the press and the bare update alternate (InTurns).
void Press(benchmark::State& state)
{
    const auto counter = [] { return g_stores->press.GetToken(g_stores->pressed)->Counter; };
    const std::uint64_t before = counter();
    InTurns(
        state, true, [] { g_stores->press.ReserveCounter(g_stores->pressed); },
        [] { g_stores->bare.UpdateCredential(); });
    // A press that stored nothing would be quick for the wrong reason.
    if (counter() != before + static_cast<std::uint64_t>(state.iterations())) {
        state.SkipWithError("a press did not advance the stored counter");
    }
}
BENCHMARK(Press)->MinTime(1.0);

void PressKeyring(benchmark::State& state)
{
    InTurns(
        state, true, [] { g_stores->keyringPress.ReserveCounter(g_stores->keyringPressed); },
        [] { g_stores->press.ReserveCounter(g_stores->pressed); });
}
BENCHMARK(PressKeyring)->MinTime(1.0);

std::string Text(sqlite3_stmt* statement, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return std::string(text != nullptr ? text : "",
                       static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

// A whole row as plain values, the Credential decrypted once.
struct RawRow
{
    int numbers[9];
    std::string texts[9];
    std::string secret;
};

// The columns of tblToken by position: integers, texts, and the Credential.
constexpr int NumberColumns[9] = {0, 1, 12, 13, 14, 15, 16, 17, 18};
constexpr int TextColumns[9] = {2, 3, 4, 5, 6, 7, 8, 9, 10};
constexpr int CredentialColumn = 11;

void RawSelectDecrypt()
{
    std::vector<RawRow> rows;
    const RawDatabase::Statement select = g_stores->raw.Prepare("select * from tblToken");
    sqlite3_stmt* s = select.get();
    while (sqlite3_step(s) == SQLITE_ROW) {
        RawRow& row = rows.emplace_back();
        for (int i = 0; i < 9; ++i) {
            row.numbers[i] = sqlite3_column_int(s, NumberColumns[i]);
            row.texts[i] = Text(s, TextColumns[i]);
        }
        row.secret = g_stores->cipher.DecryptProtected(
            reinterpret_cast<const char*>(sqlite3_column_text(s, CredentialColumn)),
            sqlite3_column_bytes(s, CredentialColumn));
    }
    benchmark::DoNotOptimize(rows);
}

void AllTokens(benchmark::State& state)
{
    InTurns(
        state, false, [] { benchmark::DoNotOptimize(g_stores->many.GetAllTokens()); },
        RawSelectDecrypt);
}
BENCHMARK(AllTokens)->MinTime(0.5);

struct RawIdentity
{
    int id;
    std::string name, serial, domain, user;
};

void RawSelectIdentity()
{
    std::vector<RawIdentity> rows;
    const RawDatabase::Statement select =
        g_stores->raw.Prepare("select ID, Name, Serial, DomainName, UserName from tblToken");
    sqlite3_stmt* s = select.get();
    while (sqlite3_step(s) == SQLITE_ROW) {
        rows.push_back(
            RawIdentity{sqlite3_column_int(s, 0), Text(s, 1), Text(s, 2), Text(s, 3), Text(s, 4)});
    }
    benchmark::DoNotOptimize(rows);
}

void TokenIdentities(benchmark::State& state)
{
    InTurns(
        state, false, [] { benchmark::DoNotOptimize(g_stores->many.ListTokens()); },
        RawSelectIdentity);
}
BENCHMARK(TokenIdentities)->MinTime(0.5);

} // namespace

int main(int argc, char** argv)
{
    try {
        Stores stores;
        stores.press.SaveToken(benchfixtures::MakeToken(1, TokenTypeHOTP));
        stores.pressed = stores.press.GetDefaultToken();
        stores.keyringPress.SaveToken(benchfixtures::MakeToken(1, TokenTypeHOTP));
        stores.keyringPressed = stores.keyringPress.GetDefaultToken();
        stores.keyringPress.SetStoreKeyProvider(&stores.keys);
        stores.keyringPress.SetPin("2468");
        if (stores.keyringPress.SetProtection(LocalDatabase::Protection::Keyring, "2468") !=
            LocalDatabase::ProtectionChange::Done) {
            throw std::runtime_error("the keyring store did not switch");
        }
        benchfixtures::InstallTokens(stores.many, ManyTokens, TokenTypeTOTP);
        stores.cipher.CheckAgainst(stores.many);
        g_stores = &stores;
        const std::string settings = "journal " + stores.bare.JournalMode() + ", synchronous FULL";
        return RunFigures(
            argc, argv,
            {{"One press: ReserveCounter vs prepared UPDATE (" + settings + ")", "Press", 1.1,
              true},
             {"One press: keyring mode vs file mode (ReserveCounter both)", "PressKeyring", 1.1,
              true},
             {"Many tokens: GetAllTokens of 10,000 vs SELECT * + raw 3DES", "AllTokens", 1.5},
             {"Many tokens: ListTokens of 10,000 vs SELECT of its columns", "TokenIdentities", 0}});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_storage: %s\n", error.what());
        return 1;
    }
}
