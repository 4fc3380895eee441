#pragma once

#include "RawDatabase.h"
#include "otp/OtpToken.h"
#include "storage/TokenListing.h"

#include <cstdint>
#include <string>
#include <vector>

class LocalDatabase;

// The tokens the benchmarks measure. Their databases live on temporary
// directories (support/TempDirectory.h) or one named on the command line,
// never the user's own.
namespace benchfixtures {

// The database directory of a whole-process figure: VELMORA_BENCH_DATA, or a
// fresh temporary directory when it is unset. Safe before main (no iostreams).
std::string DataDirectory();

// The token number `index` of a fixture: a name, serial, domain and user like
// a real install, two 20-byte keys and a counter.
COtpTokenPtr MakeToken(int index, std::int32_t type);

// The Credential's plain text of a fixture token (Base64 of both keys and the
// counter), the text the protection protects.
std::string CredentialText(const COtpToken& token);

// The row SaveToken inserts for a token, as one prepared statement.
class TokenInserter
{
public:
    explicit TokenInserter(RawDatabase& database);
    // Inserts one row (in the caller's transaction, if any).
    void Insert(const COtpToken& token, const std::string& credential);

private:
    RawDatabase& database;
    RawDatabase::Statement statement;
};

// Adds `count` fixture tokens to the database in one transaction, each row as
// SaveToken writes it (Credential from the project's own EncodeCredential),
// and checks that the database reads them back. Throws on any failure.
void InstallTokens(LocalDatabase& database, int count, std::int32_t type);

// What the token menu and list show of the first `count` fixture tokens.
std::vector<TokenListing> Listings(int count);

} // namespace benchfixtures
