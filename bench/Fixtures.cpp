#include "Fixtures.h"

#include "RawDatabase.h"
#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace benchfixtures {

namespace {

// The columns SaveToken writes, in its order.
const char InsertStatement[] =
    "insert into tblToken (TokenType, TokenID, Serial, Name, Description, Credential, AppUrl, "
    "ServiceUrl, OcraSuite, UserName, DomainName, Status, Digits, TwoWay, CheckSum, SyncSize, "
    "Timer, Sleep) values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

std::string Numbered(const char* format, int index)
{
    char text[32];
    std::snprintf(text, sizeof text, format, index);
    return text;
}

} // namespace

std::string DataDirectory()
{
    const char* directory = std::getenv("VELMORA_BENCH_DATA");
    return directory != nullptr && directory[0] != '\0' ? directory
                                                        : testsupport::MakeTempDirectory();
}

COtpTokenPtr MakeToken(int index, std::int32_t type)
{
    auto token = std::make_shared<COtpToken>();
    token->TokenType = type;
    token->Name = Numbered("Token %04d", index);
    token->Serial = Numbered("SN%08d", 40000000 + index);
    token->DomainName = "example.org";
    token->UserName = Numbered("user%d", index);
    std::uint8_t otpKey[20];
    std::uint8_t twoWayKey[20];
    for (int i = 0; i < 20; ++i) {
        otpKey[i] = static_cast<std::uint8_t>(index * 31 + i * 7);
        twoWayKey[i] = static_cast<std::uint8_t>(index * 17 + i * 13 + 1);
    }
    token->SetOtpKey(otpKey, 20);
    token->SetTwoWayKey(twoWayKey, 20);
    token->Counter = 1000000U + static_cast<std::uint64_t>(index);
    return token;
}

std::string CredentialText(const COtpToken& token)
{
    return LocalDatabase::Base64Encode(token.TwoWayKey, token.TwoWayKeyLength) + "," +
           LocalDatabase::Base64Encode(token.OtpKey, token.OtpKeyLength) + "," +
           std::to_string(token.Counter);
}

TokenInserter::TokenInserter(RawDatabase& into)
    : database(into), statement(into.Prepare(InsertStatement))
{
}

void TokenInserter::Insert(const COtpToken& t, const std::string& credential)
{
    sqlite3_stmt* s = statement.get();
    int column = 0;
    sqlite3_bind_int(s, ++column, t.TokenType);
    for (const std::string* value :
         {&t.TokenID, &t.Serial, &t.Name, &t.Description, &credential, &t.AppUrl, &t.ServiceUrl,
          &t.OcraSuite, &t.UserName, &t.DomainName}) {
        sqlite3_bind_text(s, ++column, value->c_str(), static_cast<int>(value->size()),
                          SQLITE_TRANSIENT);
    }
    for (std::int32_t value :
         {t.Status, t.Digits, t.TwoWay ? 1 : 0, t.CheckSum ? 1 : 0, t.SyncSize, t.Timer, t.Sleep}) {
        sqlite3_bind_int(s, ++column, value);
    }
    database.Run(s);
}

void InstallTokens(LocalDatabase& database, int count, std::int32_t type)
{
    const std::size_t before = database.GetAllTokens().size();
    {
        RawDatabase raw(database.GetDatabasePath());
        TokenInserter inserter(raw);
        raw.Execute("begin");
        for (int index = 1; index <= count; ++index) {
            const COtpTokenPtr token = MakeToken(index, type);
            inserter.Insert(*token, database.EncodeCredential(token));
        }
        raw.Execute("commit");
    }
    // The project must read every row back with its secret intact, or the
    // figures would measure a failure path.
    const std::vector<COtpTokenPtr> tokens = database.GetAllTokens();
    bool same = tokens.size() == before + static_cast<std::size_t>(count);
    if (same && count > 0) {
        const COtpToken& read = *tokens.back();
        const COtpTokenPtr made = MakeToken(count, type);
        same = read.GetDisplayName() == made->GetDisplayName() && read.Counter == made->Counter &&
               CredentialText(read) == CredentialText(*made);
    }
    if (!same) {
        throw std::runtime_error("the fixture tokens do not read back");
    }
}

std::vector<TokenListing> Listings(int count)
{
    std::vector<TokenListing> listings;
    for (int index = 1; index <= count; ++index) {
        const COtpTokenPtr t = MakeToken(index, TokenTypeTOTP);
        listings.push_back(TokenListing{index, t->GetDisplayName(), t->Name, t->Serial,
                                        t->DomainName, t->UserName});
    }
    return listings;
}

} // namespace benchfixtures
