#pragma once

#include "storage/DbReader.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

struct sqlite3;

// Owns one SQLite database handle and runs statements built with SQLite's
// printf-style formatter, or kept prepared with bound parameters. Failures are
// raised as std::runtime_error whose message starts with the name of the
// failing operation.
//
// Every text value must go into a format through %q inside single quotes
// (or %Q), never through %s, so that no value can change a statement.
class CDbConnection
{
public:
    // How long a statement waits for another connection's lock before it
    // fails with "database is locked".
    static constexpr int BusyTimeoutMilliseconds = 2000;

    CDbConnection();
    CDbConnection(const CDbConnection&) = delete;
    CDbConnection& operator=(const CDbConnection&) = delete;
    // Closes the handle; a failing close is reported on standard error.
    ~CDbConnection();

    // Opens or creates the file, never through a symbolic link. Throws "open:
    // unable to open database".
    void open(const char* file);
    // Finalizes the kept statements and closes the handle; on failure throws
    // "close: ..." and keeps the handle.
    void close();
    bool isopen() const { return handle != nullptr; }
    // Sets how long a statement waits for a lock (0: fails at once); for tests.
    void setbusytimeout(int milliseconds);
    // True while a transaction is open (SQLite ends one itself on some errors).
    bool intransaction() const;
    // Row ID of the last insert. Throws when the connection is closed.
    std::int64_t insertid();

    // A reader over the formatted statement; no row is read yet.
    // Throws "executereader: " followed by SQLite's message.
    CDbReader executereader(const char* format, ...);
    // Runs the statement; returns the rows changed by the latest change.
    template <typename... Arguments> int executenonquery(const char* format, Arguments... arguments)
    {
        return executereader(format, arguments...).nonquery();
    }
    // First column of the first row, or 0 / the empty string without a row.
    template <typename... Arguments> int executeint32(const char* format, Arguments... arguments)
    {
        return executereader(format, arguments...).scalarint32();
    }
    template <typename... Arguments>
    std::string executestring(const char* format, Arguments... arguments)
    {
        return executereader(format, arguments...).scalarstring();
    }
    // A reader over a statement prepared once per connection and kept, found
    // by its text, with the values bound to its "?" parameters in order. Only
    // for constant texts: every distinct text stays prepared until close().
    template <typename... Values> CDbReader executecached(const char* text, const Values&... values)
    {
        CDbReader reader = prepared(text);
        reader.keepbindings(static_cast<int>(sizeof...(Values)));
        [[maybe_unused]] int index = 0;
        (reader.bind(++index, values), ...);
        return reader;
    }
    // True when a table or other schema object has that name.
    bool tableexists(const char* name);

private:
    // A reader over an already formatted statement text (null: out of memory).
    CDbReader prepare(const char* text);
    // The kept statement for the text, prepared on first use; a statement of
    // its own while the kept one is being stepped by another reader.
    CDbReader prepared(const char* text);
    // Finalizes the kept statements that no reader is stepping.
    void dropcache() noexcept;

    sqlite3* handle;
    // Keyed by a view of the text the entry holds, so a lookup copies nothing.
    std::unordered_map<std::string_view, std::shared_ptr<CDbCachedStatement>> cache;
    // The kept statement used last: a batch runs one statement row after row,
    // found again by comparing its text, without hashing it.
    std::shared_ptr<CDbCachedStatement> lastused;
};
