#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

struct sqlite3;

// Looks at a database file from beside the program, through SQLite's own
// interface: whether it is whole, what its rows hold byte for byte, and
// changes a test makes to it on purpose.
namespace faults {

// "ok" when PRAGMA integrity_check finds nothing, else what it or the open says.
QString IntegrityCheck(const QString& file);

// Every row of tblToken and tblSystem, keyed "table/ID", each value the
// row's columns with their types and exact bytes; an empty map when the file
// cannot be read (the key "error" says why).
QMap<QString, QByteArray> Rows(const QString& file);

// Runs one statement with `value` bound to its "?" (NULL when value is null);
// the error message, or "" on success.
QString Execute(const QString& file, const QString& statement,
                const QByteArray& value = QByteArray());

// The first column of the first row of a query, as text; "" without a row
// or on an error.
QString Value(const QString& file, const QString& query);

// Another connection's lock on the file, held until destroyed: "immediate"
// keeps other writers out, "exclusive" keeps everyone out.
class HeldLock
{
public:
    HeldLock(const QString& file, const char* kind);
    ~HeldLock();
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    // "" when the lock is held.
    const QString& error() const { return failure; }

private:
    sqlite3* handle = nullptr;
    QString failure;
};

} // namespace faults
