#include "storage/DbConnection.h"

#include "storage/Diagnostics.h"

#include <sqlite3.h>

#include <cstdarg>
#include <memory>
#include <stdexcept>

namespace {

struct SqliteFree
{
    void operator()(char* text) const { sqlite3_free(text); }
};

// A statement text made by SQLite's formatter, freed by SQLite.
using SqlText = std::unique_ptr<char, SqliteFree>;

} // namespace

CDbConnection::CDbConnection() : handle(nullptr) {}

CDbConnection::~CDbConnection()
{
    try {
        close();
    } catch (const std::exception& error) {
        ReportDiagnostic(error.what());
        // Statements still open: let SQLite close the handle once they are finalized.
        sqlite3_close_v2(handle);
        handle = nullptr;
    }
}

void CDbConnection::open(const char* file)
{
    // A second open would lose the first handle.
    close();
    if (sqlite3_open(file, &handle) != SQLITE_OK) {
        throw std::runtime_error("open: unable to open database");
    }
}

void CDbConnection::close()
{
    if (handle == nullptr) {
        return;
    }
    if (sqlite3_close(handle) != SQLITE_OK) {
        throw std::runtime_error(std::string("close: ") + sqlite3_errmsg(handle));
    }
    handle = nullptr;
}

std::int64_t CDbConnection::insertid()
{
    if (handle == nullptr) {
        throw std::runtime_error("insertid: connection is closed");
    }
    return sqlite3_last_insert_rowid(handle);
}

CDbReader CDbConnection::prepare(const char* text)
{
    if (handle == nullptr) {
        throw std::runtime_error("executereader: connection is closed");
    }
    if (text == nullptr) {
        throw std::runtime_error("executereader: out of memory");
    }
    CDbReader reader(this);
    // The v2 interface reports the real cause of a failed step ("database is
    // locked" rather than a generic error) and re-prepares after schema changes.
    if (sqlite3_prepare_v2(handle, text, -1, &reader.statement, nullptr) != SQLITE_OK) {
        throw std::runtime_error(std::string("executereader: ") + sqlite3_errmsg(handle));
    }
    if (reader.statement == nullptr) {
        // Only blanks or comments: there is nothing to step.
        throw std::runtime_error("executereader: empty statement");
    }
    reader.columnCount = sqlite3_column_count(reader.statement);
    for (int index = 0; index < reader.columnCount; ++index) {
        reader.columns[reader.getcolname(index)] = index;
    }
    return reader;
}

CDbReader CDbConnection::executereader(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const SqlText text(sqlite3_vmprintf(format, arguments));
    va_end(arguments);
    return prepare(text.get());
}

int CDbConnection::executenonquery(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const SqlText text(sqlite3_vmprintf(format, arguments));
    va_end(arguments);
    CDbReader reader = prepare(text.get());
    reader.read();
    reader.close();
    return sqlite3_changes(handle);
}

int CDbConnection::executeint32(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const SqlText text(sqlite3_vmprintf(format, arguments));
    va_end(arguments);
    CDbReader reader = prepare(text.get());
    const int value = reader.read() ? reader.getint32(0) : 0;
    reader.close();
    return value;
}

std::string CDbConnection::executestring(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const SqlText text(sqlite3_vmprintf(format, arguments));
    va_end(arguments);
    CDbReader reader = prepare(text.get());
    std::string value = reader.read() ? reader.getstring(0) : std::string();
    reader.close();
    return value;
}

bool CDbConnection::tableexists(const char* name)
{
    if (name == nullptr || *name == '\0') {
        return false;
    }
    return executeint32("select count(*) from sqlite_master where name='%q'", name) > 0;
}
