// velmora-cli's import of 1,000 Key URIs (read, planned against the store,
// stored in one transaction) beside a bare transaction inserting the same
// 1,000 rows through one prepared statement, made beforehand, on a file of the
// same journal mode with synchronous FULL.
#include "Figures.h"
#include "Fixtures.h"
#include "RawDatabase.h"

#include "interop/Codecs.h"
#include "interop/ImportPlan.h"
#include "interop/Interchange.h"
#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int Accounts = 1000;

// A thousand accounts of distinct keys, as an export of another authenticator holds them.
std::string KeyUris()
{
    std::string text;
    for (int index = 1; index <= Accounts; ++index) {
        // The fixture's key with the index in front: the fixture's own keys repeat every 256.
        const COtpTokenPtr token = benchfixtures::MakeToken(index, TokenTypeTOTP);
        token->OtpKey[0] = static_cast<std::uint8_t>(index >> 8);
        token->OtpKey[1] = static_cast<std::uint8_t>(index & 0xFF);
        char line[256];
        std::snprintf(
            line, sizeof line,
            "otpauth://totp/Service%04d:user%d%%40example.org?secret=%s&issuer=Service%04d\n",
            index, index,
            EncodeBase32(ByteVector(token->OtpKey, token->OtpKey + token->OtpKeyLength)).c_str(),
            index);
        text += line;
    }
    return text;
}

struct Stores
{
    LocalDatabase project{testsupport::MakeTempDirectory()};
    LocalDatabase bareMade{testsupport::MakeTempDirectory()};
    RawDatabase projectRaw{project.GetDatabasePath()};
    RawDatabase bare{bareMade.GetDatabasePath()};
    benchfixtures::TokenInserter inserter{bare};
    std::string uris = KeyUris();
    std::vector<COtpTokenPtr> rows;
    std::vector<std::string> credentials;
};
Stores* g_stores = nullptr;

void ImportProject()
{
    Stores& s = *g_stores;
    const std::vector<CImportEntry> entries = ReadImport(s.uris, [] { return std::nullopt; });
    const CImportPlan plan = PlanImport(entries, s.project.GetAllTokens());
    if (plan.New.size() != static_cast<std::size_t>(Accounts)) {
        throw std::runtime_error("the import found " + std::to_string(plan.New.size()) +
                                 " new accounts, not 1,000: " +
                                 (entries.empty() ? std::string() : entries.back().Refusal));
    }
    s.project.InstallTokens(plan.New);
}

void InsertBare()
{
    Stores& s = *g_stores;
    s.bare.Execute("begin immediate");
    for (std::size_t i = 0; i < s.rows.size(); ++i) {
        s.inserter.Insert(*s.rows[i], s.credentials[i]);
    }
    s.bare.Execute("commit");
}

void Import(benchmark::State& state)
{
    InTurns(state, true, ImportProject, InsertBare, 1, [] {
        g_stores->projectRaw.Execute("delete from tblToken");
        g_stores->bare.Execute("delete from tblToken");
    });
}
BENCHMARK(Import)->MinTime(1.0);

} // namespace

int main(int argc, char** argv)
{
    try {
        Stores stores;
        const std::string journal = stores.projectRaw.Text("pragma journal_mode");
        stores.bare.Text(("pragma journal_mode=" + journal).c_str());
        stores.bare.Execute("pragma synchronous=FULL");
        for (const CImportEntry& entry : ReadImport(stores.uris, [] { return std::nullopt; })) {
            stores.rows.push_back(entry.Token);
            stores.credentials.push_back(stores.bareMade.EncodeCredential(entry.Token));
        }
        g_stores = &stores;
        return RunFigures(argc, argv,
                          {{"Import: 1,000 Key URIs vs a prepared INSERT of 1,000 rows (journal " +
                                journal + ", synchronous FULL)",
                            "Import", 1.5, true}});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_cli: %s\n", error.what());
        return 1;
    }
}
