#pragma once

#include "storage/DbReader.h"

#include <cstdint>
#include <string>

struct sqlite3;

// Owns one SQLite database handle and runs statements built with SQLite's
// printf-style formatter. Failures are raised as std::runtime_error whose
// message starts with the name of the failing operation.
//
// Every text value must go into a format through %q inside single quotes
// (or %Q), never through %s, so that no value can change a statement.
class CDbConnection
{
public:
    CDbConnection();
    CDbConnection(const CDbConnection&) = delete;
    CDbConnection& operator=(const CDbConnection&) = delete;
    // Closes the handle; a failing close is reported on standard error.
    ~CDbConnection();

    // Opens or creates the file. Throws "open: unable to open database".
    void open(const char* file);
    // Closes the handle; on failure throws "close: ..." and keeps it.
    void close();
    bool isopen() const { return handle != nullptr; }
    // Row ID of the last insert. Throws when the connection is closed.
    std::int64_t insertid();

    // A reader over the formatted statement; no row is read yet.
    // Throws "executereader: " followed by SQLite's message.
    CDbReader executereader(const char* format, ...);
    // Runs the statement; returns the rows changed by the latest change.
    int executenonquery(const char* format, ...);
    // First column of the first row, or 0 / the empty string without a row.
    int executeint32(const char* format, ...);
    std::string executestring(const char* format, ...);
    // True when a table or other schema object has that name.
    bool tableexists(const char* name);

private:
    friend class CDbReader;

    // A reader over an already formatted statement text (null: out of memory).
    CDbReader prepare(const char* text);

    sqlite3* handle;
};
