#pragma once

#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// The references' side of SQLite: the C interface as a careful program uses
// it, nothing of the project's storage layer. Failures throw std::runtime_error.
class RawDatabase
{
public:
    struct Finalizer
    {
        void operator()(sqlite3_stmt* statement) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, Finalizer>;

    explicit RawDatabase(const std::string& path);
    RawDatabase(const RawDatabase&) = delete;
    RawDatabase& operator=(const RawDatabase&) = delete;
    ~RawDatabase();

    sqlite3* handle() const { return db; }
    void Execute(const char* sql);
    // The first column of the first row as text ("" without a row).
    std::string Text(const char* sql);
    Statement Prepare(const char* sql);
    // Steps a statement that returns no row, then resets it for the next use.
    void Run(sqlite3_stmt* statement);
    // Throws with SQLite's message when `code` is not `expected`.
    void Check(int code, int expected, const char* what) const;

private:
    sqlite3* db = nullptr;
};
