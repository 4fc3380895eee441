#include "storage/DbConnection.h"

#include "storage/Diagnostics.h"

#include <sqlite3.h>

#include <cstdarg>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace {

struct SqliteFree
{
    void operator()(char* text) const { sqlite3_free(text); }
};

// A statement text made by SQLite's formatter, freed by SQLite.
using SqlText = std::unique_ptr<char, SqliteFree>;

// Prepares one statement; the v2 interface reports the real cause of a
// failed step ("database is locked" rather than a generic error) and
// re-prepares after schema changes.
sqlite3_stmt* Prepare(sqlite3* handle, const char* text)
{
    if (handle == nullptr) {
        throw std::runtime_error("executereader: connection is closed");
    }
    if (text == nullptr) {
        throw std::runtime_error("executereader: out of memory");
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(handle, text, -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        throw std::runtime_error(std::string("executereader: ") + sqlite3_errmsg(handle));
    }
    if (statement == nullptr) {
        // Only blanks or comments: there is nothing to step.
        throw std::runtime_error("executereader: empty statement");
    }
    return statement;
}

} // namespace

CDbConnection::CDbConnection() : handle(nullptr) {}

CDbConnection::~CDbConnection()
{
    try {
        close();
    } catch (const std::exception& error) {
        ReportDiagnostic(error.what());
        // Statements still open: their readers finalize them, and SQLite
        // closes the handle with the last one.
        for (auto& entry : cache) {
            entry.second->orphaned = true;
        }
        sqlite3_close_v2(handle);
        handle = nullptr;
    }
}

void CDbConnection::open(const char* file)
{
    // A second open would lose the first handle.
    close();
    // Never through a symbolic link: the start refuses one, and one put in
    // its place later is not followed either. A connection is only ever used
    // by the thread that holds it, so SQLite need not lock it on every call.
    if (sqlite3_open_v2(file, &handle,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW |
                            SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(handle);
        handle = nullptr;
        throw std::runtime_error("open: unable to open database");
    }
    // Another copy of the program (or another client) holds its locks for
    // milliseconds: wait those out, report only a lock that outlasts this.
    setbusytimeout(BusyTimeoutMilliseconds);
}

void CDbConnection::setbusytimeout(int milliseconds)
{
    if (handle != nullptr) {
        sqlite3_busy_timeout(handle, milliseconds);
    }
}

void CDbConnection::close()
{
    if (handle == nullptr) {
        return;
    }
    dropcache();
    if (sqlite3_close(handle) != SQLITE_OK) {
        throw std::runtime_error(std::string("close: ") + sqlite3_errmsg(handle));
    }
    handle = nullptr;
    cache.clear();
}

void CDbConnection::dropcache() noexcept
{
    lastused.reset();
    for (auto entry = cache.begin(); entry != cache.end();) {
        if (entry->second->busy) {
            ++entry;
            continue;
        }
        sqlite3_finalize(entry->second->statement);
        entry = cache.erase(entry);
    }
}

bool CDbConnection::intransaction() const
{
    return handle != nullptr && sqlite3_get_autocommit(handle) == 0;
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
    return CDbReader(Prepare(handle, text), nullptr);
}

CDbReader CDbConnection::prepared(const char* text)
{
    if (text == nullptr) {
        return prepare(text);
    }
    if (!lastused || std::strcmp(lastused->text.c_str(), text) != 0) {
        const auto found = cache.find(text);
        if (found != cache.end()) {
            lastused = found->second;
        } else {
            auto kept = std::make_shared<CDbCachedStatement>();
            kept->statement = Prepare(handle, text);
            kept->text = text;
            cache.emplace(kept->text, kept);
            lastused = std::move(kept);
        }
    }
    if (lastused->busy) {
        return prepare(text);
    }
    lastused->busy = true;
    return CDbReader(lastused->statement, lastused);
}

CDbReader CDbConnection::executereader(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const SqlText text(sqlite3_vmprintf(format, arguments));
    va_end(arguments);
    return prepare(text.get());
}

bool CDbConnection::tableexists(const char* name)
{
    if (name == nullptr || *name == '\0') {
        return false;
    }
    return executeint32("select count(*) from sqlite_master where name='%q'", name) > 0;
}
