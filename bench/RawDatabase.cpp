#include "RawDatabase.h"

#include <sqlite3.h>

#include <stdexcept>

void RawDatabase::Finalizer::operator()(sqlite3_stmt* statement) const
{
    sqlite3_finalize(statement);
}

RawDatabase::RawDatabase(const std::string& path)
{
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        const std::string message = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + path + ": " + message);
    }
}

RawDatabase::~RawDatabase()
{
    sqlite3_close_v2(db);
}

void RawDatabase::Check(int code, int expected, const char* what) const
{
    if (code != expected) {
        throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
    }
}

void RawDatabase::Execute(const char* sql)
{
    Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK, sql);
}

std::string RawDatabase::Text(const char* sql)
{
    const Statement statement = Prepare(sql);
    const int code = sqlite3_step(statement.get());
    if (code == SQLITE_DONE) {
        return std::string();
    }
    Check(code, SQLITE_ROW, sql);
    const auto* text = sqlite3_column_text(statement.get(), 0);
    return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

RawDatabase::Statement RawDatabase::Prepare(const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    Check(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), SQLITE_OK, sql);
    return Statement(statement);
}

void RawDatabase::Run(sqlite3_stmt* statement)
{
    const int code = sqlite3_step(statement);
    sqlite3_reset(statement);
    Check(code, SQLITE_DONE, sqlite3_sql(statement));
}
