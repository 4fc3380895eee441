#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <sqlite3.h>

// Looks at a database file from beside the program, through SQLite's own
// interface: whether it is whole, what its rows hold byte for byte, and
// changes a test makes to it on purpose.
namespace faults {

// One statement on its own connection, finalized and closed when done.
struct Statement
{
    sqlite3* db = nullptr;
    sqlite3_stmt* handle = nullptr;
    QString error;

    Statement(const QString& file, int flags, const QByteArray& text)
    {
        if (sqlite3_open_v2(file.toLocal8Bit().constData(), &db, flags, nullptr) != SQLITE_OK ||
            sqlite3_prepare_v2(db, text.constData(), -1, &handle, nullptr) != SQLITE_OK) {
            error = "error: " + QString::fromUtf8(sqlite3_errmsg(db));
        }
    }
    ~Statement()
    {
        sqlite3_finalize(handle);
        sqlite3_close(db);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // True for a row; false at the end or on an error (kept in `error`).
    bool step()
    {
        const int result = handle != nullptr ? sqlite3_step(handle) : SQLITE_MISUSE;
        if (result != SQLITE_ROW && result != SQLITE_DONE && error.isEmpty()) {
            error = "error: " + QString::fromUtf8(sqlite3_errmsg(db));
        }
        return result == SQLITE_ROW;
    }
    QByteArray bytes(int column) const
    {
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(handle, column)),
                          sqlite3_column_bytes(handle, column));
    }
};

// The first column of the first row of a statement, as text ("" without a
// row), or "error: " and what failed. Read-only unless `flags` say otherwise,
// so a hot journal is never rolled back here: such a file fails.
inline QString Value(const QString& file, const QString& query, int flags = SQLITE_OPEN_READONLY)
{
    Statement statement(file, flags, query.toUtf8());
    const QString value = statement.step() ? QString::fromUtf8(statement.bytes(0)) : QString();
    return statement.error.isEmpty() ? value : statement.error;
}

// Every row of tblToken and tblSystem, keyed "table/ID", each value the
// row's columns with their types and exact bytes; the key "error" alone when
// the file cannot be read.
inline QMap<QString, QByteArray> Rows(const QString& file)
{
    QMap<QString, QByteArray> rows;
    for (const char* table : {"tblToken", "tblSystem"}) {
        Statement statement(file, SQLITE_OPEN_READONLY, QByteArray("select * from ") + table);
        while (statement.step()) {
            QByteArray row;
            for (int i = 0; i < sqlite3_column_count(statement.handle); ++i) {
                const int type = sqlite3_column_type(statement.handle, i);
                row += QByteArray(sqlite3_column_name(statement.handle, i)) + '=' +
                       QByteArray::number(type) + ':' + statement.bytes(i).toHex() + ' ';
            }
            rows.insert(QString::fromLatin1(table) + '/' +
                            QString::number(sqlite3_column_int64(statement.handle, 0)),
                        row);
        }
        if (!statement.error.isEmpty()) {
            return {{"error", statement.error.toUtf8()}};
        }
    }
    return rows;
}

} // namespace faults
