#pragma once

#include "Fixtures.h"
#include "RawDatabase.h"
#include "storage/LocalDatabase.h"

#include <string>

// What a press and an install are measured against: single prepared
// statements on a token table of the project's own schema (a file the project
// made), with the journal mode of the project's database file and synchronous
// FULL, each statement its own transaction.
class BareTokenTable
{
public:
    // Makes the file in `directory` with one token row; `projectFile` is the
    // project's database whose journal mode it copies.
    BareTokenTable(const std::string& directory, const std::string& projectFile);

    // One UPDATE of one row's Credential.
    void UpdateCredential();
    // One INSERT of a new token row.
    void InsertToken();
    const std::string& JournalMode() const { return journalMode; }

private:
    std::string journalMode;
    LocalDatabase made;
    RawDatabase database;
    benchfixtures::TokenInserter inserter;
    RawDatabase::Statement update;
    std::string credentials[2];
    int writes = 0;
};
