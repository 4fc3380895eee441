#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

struct sqlite3_stmt;

// Orders column names without regard to case.
struct CDbNameLess
{
    bool operator()(const std::string& a, const std::string& b) const;
};

// Column name to column index, found without regard to case.
using CDbColumnMap = std::map<std::string, int, CDbNameLess>;

// A statement that a connection keeps prepared for reuse; shared between the
// connection and the reader currently stepping it.
struct CDbCachedStatement
{
    std::string text;
    sqlite3_stmt* statement = nullptr;
    // Built at the first lookup by name, again after SQLite re-prepared the
    // statement (a schema change can move the columns of "select *").
    std::shared_ptr<const CDbColumnMap> columns;
    int preparedAs = -1;   // the re-prepare count the map belongs to
    bool busy = false;     // a reader is stepping it
    bool orphaned = false; // its connection is gone: the last reader finalizes it
};

// One prepared statement and its result rows. A statement of its own is
// finalized when the reader is closed or destroyed; a kept statement of the
// connection is reset instead, keeping its values for the next use to
// overwrite (executecached binds every one). Handed on only by moving.
class CDbReader
{
public:
    CDbReader(CDbReader&& other) noexcept;
    CDbReader& operator=(CDbReader&&) = delete;
    CDbReader(const CDbReader&) = delete;
    CDbReader& operator=(const CDbReader&) = delete;
    ~CDbReader();

    // Steps to the next row: true for a row, false when done.
    // Throws std::runtime_error when closed or when SQLite fails.
    bool read();
    // Rewinds the statement. Throws std::runtime_error when closed or on failure.
    void reset();
    // Gives the statement up: finalized, or reset when the connection keeps it.
    void close();

    // Binds a value to the "?" parameter at index (from 1); texts are copied
    // with every byte, zero bytes included. Throws std::runtime_error "bind: ...".
    // For a kept statement about to be given `count` values: when it has
    // another number of parameters, clears every value an earlier use left,
    // so that none is taken for this one's.
    void keepbindings(int count);
    void bind(int index, int value);
    void bind(int index, std::int64_t value);
    void bind(int index, const std::string& value);
    void bind(int index, const char* value);

    // Run the statement for one row, then close the reader: the rows changed
    // by the statement, or the first column of the first row (0 or the empty
    // string when there is none). Throw as read() and the getters.
    int nonquery();
    int scalarint32();
    std::int64_t scalarint64();
    std::string scalarstring();

    // Column values of the current row. Throw std::runtime_error when the
    // reader is closed or a name is unknown, std::out_of_range for an index
    // past the last column. NULL reads as 0, 0.0 or the empty string.
    int getint32(int index);
    std::int64_t getint64(int index);
    double getdouble(int index);
    std::string getstring(int index);
    std::string getblob(int index);
    std::string getcolname(int index);
    // SQLite's storage class of the value (SQLITE_INTEGER, SQLITE_NULL, ...).
    int getcoltype(int index);

    int getint32(const std::string& name);
    std::int64_t getint64(const std::string& name);
    double getdouble(const std::string& name);
    std::string getstring(const std::string& name);
    std::string getblob(const std::string& name);
    // The index of a result column; throws "column [name] is not found".
    int columnindex(const std::string& name);

private:
    friend class CDbConnection;

    CDbReader(sqlite3_stmt* prepared, std::shared_ptr<CDbCachedStatement> kept);
    // The statement, or the operation's "reader is closed" error.
    sqlite3_stmt* open(const char* operation) const;
    // As open(), and checks the index against the current column count.
    sqlite3_stmt* column(const char* operation, int index) const;
    const CDbColumnMap& columnmap();

    sqlite3_stmt* statement;
    std::shared_ptr<CDbCachedStatement> cached; // null for a statement of its own
    std::shared_ptr<const CDbColumnMap> columns;
    int columnsPreparedAs;
    bool released;
};
