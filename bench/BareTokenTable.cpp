#include "BareTokenTable.h"

#include <sqlite3.h>

BareTokenTable::BareTokenTable(const std::string& directory, const std::string& projectFile)
    : journalMode(RawDatabase(projectFile).Text("pragma journal_mode")), made(directory),
      database(made.GetDatabasePath()), inserter(database),
      update(database.Prepare("update tblToken set Credential=? where ID=?"))
{
    database.Text(("pragma journal_mode=" + journalMode).c_str());
    database.Execute("pragma synchronous=FULL");
    for (int i = 0; i < 2; ++i) {
        credentials[i] = made.EncodeCredential(benchfixtures::MakeToken(i + 1, TokenTypeHOTP));
    }
    InsertToken();
    sqlite3_bind_int64(update.get(), 2, sqlite3_last_insert_rowid(database.handle()));
}

void BareTokenTable::UpdateCredential()
{
    const std::string& credential = credentials[++writes % 2];
    sqlite3_bind_text(update.get(), 1, credential.c_str(), static_cast<int>(credential.size()),
                      SQLITE_STATIC);
    database.Run(update.get());
}

void BareTokenTable::InsertToken()
{
    inserter.Insert(*benchfixtures::MakeToken(1, TokenTypeHOTP), credentials[0]);
}
