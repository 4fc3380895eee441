#pragma once

#include <cstdint>
#include <map>
#include <string>

struct sqlite3_stmt;
class CDbConnection;

// One prepared statement and its result rows. Owns the statement and
// finalizes it when closed or destroyed; handed on only by moving.
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
    // Finalizes the statement, unless it was handed to another reader.
    void close();

    // Column values of the current row. Throw std::runtime_error when the
    // reader is closed or a name is unknown, std::out_of_range for an index
    // past the last column. NULL reads as 0, 0.0 or the empty string.
    int getint32(int index);
    std::int64_t getint64(int index);
    double getdouble(int index);
    std::string getstring(int index);
    std::string getblob(int index);
    std::string getcolname(int index);

    int getint32(const std::string& name);
    std::int64_t getint64(const std::string& name);
    double getdouble(const std::string& name);
    std::string getstring(const std::string& name);
    std::string getblob(const std::string& name);

private:
    friend class CDbConnection;

    // Orders column names without regard to case.
    struct NameLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };

    explicit CDbReader(CDbConnection* owner);
    int indexOf(const std::string& name) const;

    CDbConnection* connection;
    sqlite3_stmt* statement;
    int columnCount;
    std::map<std::string, int, NameLess> columns;
    bool released;
};
