#include "storage/DbReader.h"

#include <sqlite3.h>

#include <cstring>
#include <locale>
#include <stdexcept>
#include <utility>

namespace {

std::runtime_error Closed(const char* operation)
{
    return std::runtime_error(std::string(operation) + ": reader is closed");
}

// SQLite's message, with the system's reason for an I/O error: "disk I/O
// error" alone does not tell a file-size limit from a failing disk.
std::string ErrorText(sqlite3* handle)
{
    std::string text = sqlite3_errmsg(handle);
    const int error = sqlite3_system_errno(handle);
    if ((sqlite3_extended_errcode(handle) & 0xff) == SQLITE_IOERR && error != 0) {
        text += std::string(": ") + std::strerror(error);
    }
    return text;
}

// Copies `length` bytes, treating a null pointer (NULL value) as empty.
std::string Bytes(const void* data, int length)
{
    if (data == nullptr || length <= 0) {
        return std::string();
    }
    return std::string(static_cast<const char*>(data), static_cast<std::size_t>(length));
}

// The upper case of a byte as the global locale gives it. ASCII letters are
// mapped directly: a locale (and its facet lookup) per comparison made every
// lookup by name expensive, and no locale maps ASCII letters otherwise.
unsigned char Upper(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
        return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
    }
    return static_cast<unsigned char>(std::use_facet<std::ctype<char>>(std::locale()).toupper(c));
}

} // namespace

bool CDbNameLess::operator()(const std::string& a, const std::string& b) const
{
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char upperA = Upper(a[i]);
        const unsigned char upperB = Upper(b[i]);
        if (upperA != upperB) {
            return upperA < upperB;
        }
    }
    return a.size() < b.size();
}

CDbReader::CDbReader(sqlite3_stmt* prepared, std::shared_ptr<CDbCachedStatement> kept)
    : statement(prepared), cached(std::move(kept)), columnsPreparedAs(-1), released(false)
{
}

CDbReader::CDbReader(CDbReader&& other) noexcept
    : statement(other.statement), cached(std::move(other.cached)),
      columns(std::move(other.columns)), columnsPreparedAs(other.columnsPreparedAs), released(false)
{
    // The moved-from reader gives the statement up entirely: it neither
    // finalizes it nor can step it behind the new owner's back.
    other.statement = nullptr;
    other.released = true;
}

CDbReader::~CDbReader()
{
    close();
}

bool CDbReader::read()
{
    const int result = sqlite3_step(open("read"));
    if (result == SQLITE_ROW) {
        return true;
    }
    if (result == SQLITE_DONE) {
        return false;
    }
    throw std::runtime_error(ErrorText(sqlite3_db_handle(statement)));
}

void CDbReader::reset()
{
    if (sqlite3_reset(open("reset")) != SQLITE_OK) {
        throw std::runtime_error(ErrorText(sqlite3_db_handle(statement)));
    }
}

void CDbReader::close()
{
    if (released || statement == nullptr) {
        return;
    }
    if (cached && !cached->orphaned) {
        // Kept for the next use; the reset also ends its read of the database.
        // Its values stay bound, so the next use's reuse their buffers.
        sqlite3_reset(statement);
        cached->busy = false;
    } else {
        sqlite3_finalize(statement);
    }
    statement = nullptr;
    cached.reset();
}

namespace {

void CheckBind(int result)
{
    if (result != SQLITE_OK) {
        throw std::runtime_error(std::string("bind: ") + sqlite3_errstr(result));
    }
}

} // namespace

void CDbReader::bind(int index, int value)
{
    bind(index, static_cast<std::int64_t>(value));
}

void CDbReader::bind(int index, std::int64_t value)
{
    CheckBind(sqlite3_bind_int64(open("bind"), index, value));
}

void CDbReader::keepbindings(int count)
{
    sqlite3_stmt* kept = open("bind");
    if (sqlite3_bind_parameter_count(kept) != count) {
        sqlite3_clear_bindings(kept);
    }
}

void CDbReader::bind(int index, const std::string& value)
{
    CheckBind(sqlite3_bind_text64(open("bind"), index, value.data(), value.size(), SQLITE_TRANSIENT,
                                  SQLITE_UTF8));
}

void CDbReader::bind(int index, const char* value)
{
    CheckBind(sqlite3_bind_text(open("bind"), index, value, -1, SQLITE_TRANSIENT));
}

int CDbReader::nonquery()
{
    sqlite3* handle = sqlite3_db_handle(open("read"));
    read();
    close();
    return sqlite3_changes(handle);
}

int CDbReader::scalarint32()
{
    const int value = read() ? getint32(0) : 0;
    close();
    return value;
}

std::int64_t CDbReader::scalarint64()
{
    const std::int64_t value = read() ? getint64(0) : 0;
    close();
    return value;
}

std::string CDbReader::scalarstring()
{
    std::string value = read() ? getstring(0) : std::string();
    close();
    return value;
}

sqlite3_stmt* CDbReader::open(const char* operation) const
{
    if (statement == nullptr) {
        throw Closed(operation);
    }
    return statement;
}

sqlite3_stmt* CDbReader::column(const char* operation, int index) const
{
    open(operation);
    // Asked each time: a re-prepared "select *" may have other columns.
    if (index < 0 || index >= sqlite3_column_count(statement)) {
        throw std::out_of_range(std::string(operation) + ": index out of range");
    }
    return statement;
}

int CDbReader::getint32(int index)
{
    return sqlite3_column_int(column("getint32", index), index);
}

std::int64_t CDbReader::getint64(int index)
{
    return sqlite3_column_int64(column("getint64", index), index);
}

double CDbReader::getdouble(int index)
{
    return sqlite3_column_double(column("getdouble", index), index);
}

std::string CDbReader::getstring(int index)
{
    sqlite3_stmt* stmt = column("getstring", index);
    // Text first, then its length: the length is that of the converted value.
    const unsigned char* text = sqlite3_column_text(stmt, index);
    return Bytes(text, sqlite3_column_bytes(stmt, index));
}

std::string CDbReader::getblob(int index)
{
    sqlite3_stmt* stmt = column("getblob", index);
    const void* blob = sqlite3_column_blob(stmt, index);
    return Bytes(blob, sqlite3_column_bytes(stmt, index));
}

std::string CDbReader::getcolname(int index)
{
    const char* name = sqlite3_column_name(column("getcolname", index), index);
    return name == nullptr ? std::string() : std::string(name);
}

int CDbReader::getcoltype(int index)
{
    return sqlite3_column_type(column("getcoltype", index), index);
}

const CDbColumnMap& CDbReader::columnmap()
{
    const int preparedAs = sqlite3_stmt_status(open("columnindex"), SQLITE_STMTSTATUS_REPREPARE, 0);
    if (columns && columnsPreparedAs == preparedAs) {
        return *columns;
    }
    if (cached && cached->columns && cached->preparedAs == preparedAs) {
        columns = cached->columns;
    } else {
        auto map = std::make_shared<CDbColumnMap>();
        const int count = sqlite3_column_count(statement);
        for (int index = 0; index < count; ++index) {
            // Names equal without regard to case: the later column wins.
            (*map)[getcolname(index)] = index;
        }
        columns = map;
        if (cached) {
            cached->columns = map;
            cached->preparedAs = preparedAs;
        }
    }
    columnsPreparedAs = preparedAs;
    return *columns;
}

int CDbReader::columnindex(const std::string& name)
{
    const CDbColumnMap& map = columnmap();
    const auto found = map.find(name);
    if (found == map.end()) {
        throw std::runtime_error("column [" + name + "] is not found");
    }
    return found->second;
}

int CDbReader::getint32(const std::string& name)
{
    return getint32(columnindex(name));
}

std::int64_t CDbReader::getint64(const std::string& name)
{
    return getint64(columnindex(name));
}

double CDbReader::getdouble(const std::string& name)
{
    return getdouble(columnindex(name));
}

std::string CDbReader::getstring(const std::string& name)
{
    return getstring(columnindex(name));
}

std::string CDbReader::getblob(const std::string& name)
{
    return getblob(columnindex(name));
}
