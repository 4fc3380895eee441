#include "storage/DbReader.h"

#include "storage/DbConnection.h"

#include <sqlite3.h>

#include <locale>
#include <stdexcept>
#include <utility>

namespace {

std::runtime_error Closed(const char* operation)
{
    return std::runtime_error(std::string(operation) + ": reader is closed");
}

std::out_of_range OutOfRange(const char* operation)
{
    return std::out_of_range(std::string(operation) + ": index out of range");
}

// Copies `length` bytes, treating a null pointer (NULL value) as empty.
std::string Bytes(const void* data, int length)
{
    if (data == nullptr || length <= 0) {
        return std::string();
    }
    return std::string(static_cast<const char*>(data), static_cast<std::size_t>(length));
}

} // namespace

bool CDbReader::NameLess::operator()(const std::string& a, const std::string& b) const
{
    const std::locale locale;
    const auto& ctype = std::use_facet<std::ctype<char>>(locale);
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        const char upperA = ctype.toupper(a[i]);
        const char upperB = ctype.toupper(b[i]);
        if (upperA != upperB) {
            return static_cast<unsigned char>(upperA) < static_cast<unsigned char>(upperB);
        }
    }
    return a.size() < b.size();
}

CDbReader::CDbReader(CDbConnection* owner)
    : connection(owner), statement(nullptr), columnCount(0), released(false)
{
}

CDbReader::CDbReader(CDbReader&& other) noexcept
    : connection(other.connection), statement(other.statement), columnCount(other.columnCount),
      columns(std::move(other.columns)), released(false)
{
    // The moved-from reader gives the statement up entirely: it neither
    // finalizes it nor can step it behind the new owner's back.
    other.statement = nullptr;
    other.columnCount = 0;
    other.released = true;
}

CDbReader::~CDbReader()
{
    close();
}

bool CDbReader::read()
{
    if (statement == nullptr) {
        throw Closed("read");
    }
    const int result = sqlite3_step(statement);
    if (result == SQLITE_ROW) {
        return true;
    }
    if (result == SQLITE_DONE) {
        return false;
    }
    throw std::runtime_error(sqlite3_errmsg(sqlite3_db_handle(statement)));
}

void CDbReader::reset()
{
    if (statement == nullptr) {
        throw Closed("reset");
    }
    if (sqlite3_reset(statement) != SQLITE_OK) {
        throw std::runtime_error(sqlite3_errmsg(sqlite3_db_handle(statement)));
    }
}

void CDbReader::close()
{
    if (released) {
        return;
    }
    if (statement != nullptr) {
        sqlite3_finalize(statement);
        statement = nullptr;
    }
}

int CDbReader::getint32(int index)
{
    if (statement == nullptr) {
        throw Closed("getint32");
    }
    if (index < 0 || index >= columnCount) {
        throw OutOfRange("getint32");
    }
    return sqlite3_column_int(statement, index);
}

std::int64_t CDbReader::getint64(int index)
{
    if (statement == nullptr) {
        throw Closed("getint64");
    }
    if (index < 0 || index >= columnCount) {
        throw OutOfRange("getint64");
    }
    return sqlite3_column_int64(statement, index);
}

double CDbReader::getdouble(int index)
{
    if (statement == nullptr) {
        throw Closed("getdouble");
    }
    if (index < 0 || index >= columnCount) {
        throw OutOfRange("getdouble");
    }
    return sqlite3_column_double(statement, index);
}

std::string CDbReader::getstring(int index)
{
    if (statement == nullptr) {
        throw Closed("getstring");
    }
    if (index < 0 || index >= columnCount) {
        throw OutOfRange("getstring");
    }
    // Text first, then its length: the length is that of the converted value.
    const unsigned char* text = sqlite3_column_text(statement, index);
    return Bytes(text, sqlite3_column_bytes(statement, index));
}

std::string CDbReader::getblob(int index)
{
    if (statement == nullptr) {
        throw Closed("getblob");
    }
    if (index < 0 || index >= columnCount) {
        throw OutOfRange("getblob");
    }
    const void* blob = sqlite3_column_blob(statement, index);
    return Bytes(blob, sqlite3_column_bytes(statement, index));
}

std::string CDbReader::getcolname(int index)
{
    if (statement == nullptr) {
        throw Closed("getcolname");
    }
    if (index < 0 || index >= columnCount) {
        throw OutOfRange("getcolname");
    }
    const char* name = sqlite3_column_name(statement, index);
    return name == nullptr ? std::string() : std::string(name);
}

int CDbReader::indexOf(const std::string& name) const
{
    const auto found = columns.find(name);
    if (found == columns.end()) {
        throw std::runtime_error("column [" + name + "] is not found");
    }
    return found->second;
}

int CDbReader::getint32(const std::string& name)
{
    return getint32(indexOf(name));
}

std::int64_t CDbReader::getint64(const std::string& name)
{
    return getint64(indexOf(name));
}

double CDbReader::getdouble(const std::string& name)
{
    return getdouble(indexOf(name));
}

std::string CDbReader::getstring(const std::string& name)
{
    return getstring(indexOf(name));
}

std::string CDbReader::getblob(const std::string& name)
{
    return getblob(indexOf(name));
}
