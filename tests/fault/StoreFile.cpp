#include "fault/StoreFile.h"

#include <QStringList>

#include <sqlite3.h>

namespace faults {

namespace {

struct Connection
{
    sqlite3* handle = nullptr;
    explicit Connection(const QString& file, int flags)
    {
        if (sqlite3_open_v2(file.toLocal8Bit().constData(), &handle, flags, nullptr) != SQLITE_OK) {
            sqlite3_close(handle);
            handle = nullptr;
        }
    }
    ~Connection() { sqlite3_close(handle); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    QString message() const
    {
        return handle != nullptr ? QString::fromUtf8(sqlite3_errmsg(handle))
                                 : QStringLiteral("cannot open");
    }
};

QByteArray ColumnBytes(sqlite3_stmt* statement, int index)
{
    const int type = sqlite3_column_type(statement, index);
    QByteArray value = QByteArray::number(type) + ':';
    if (type == SQLITE_INTEGER) {
        value += QByteArray::number(sqlite3_column_int64(statement, index));
    } else if (type != SQLITE_NULL) {
        const void* bytes = sqlite3_column_blob(statement, index);
        value += QByteArray(static_cast<const char*>(bytes), sqlite3_column_bytes(statement, index))
                     .toHex();
    }
    return value;
}

} // namespace

QString IntegrityCheck(const QString& file)
{
    const Connection db(file, SQLITE_OPEN_READONLY);
    if (db.handle == nullptr) {
        return db.message();
    }
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db.handle, "PRAGMA integrity_check", -1, &statement, nullptr) !=
        SQLITE_OK) {
        return db.message();
    }
    QStringList lines;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        lines << QString::fromUtf8(
            reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    }
    if (step != SQLITE_DONE) {
        lines << db.message();
    }
    sqlite3_finalize(statement);
    return lines.join('\n');
}

QMap<QString, QByteArray> Rows(const QString& file)
{
    QMap<QString, QByteArray> rows;
    const Connection db(file, SQLITE_OPEN_READONLY);
    for (const char* table : {"tblToken", "tblSystem"}) {
        sqlite3_stmt* statement = nullptr;
        const QByteArray query = QByteArray("select * from ") + table;
        if (db.handle == nullptr || sqlite3_prepare_v2(db.handle, query.constData(), -1, &statement,
                                                       nullptr) != SQLITE_OK) {
            return {{"error", db.message().toUtf8()}};
        }
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            QByteArray row;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                row += QByteArray(sqlite3_column_name(statement, i)) + '=' +
                       ColumnBytes(statement, i) + ' ';
            }
            rows.insert(QString::fromLatin1(table) + '/' +
                            QString::number(sqlite3_column_int64(statement, 0)),
                        row);
        }
        sqlite3_finalize(statement);
        if (step != SQLITE_DONE) {
            return {{"error", db.message().toUtf8()}};
        }
    }
    return rows;
}

QString Execute(const QString& file, const QString& statementText, const QByteArray& value)
{
    const Connection db(file, SQLITE_OPEN_READWRITE);
    sqlite3_stmt* statement = nullptr;
    if (db.handle == nullptr || sqlite3_prepare_v2(db.handle, statementText.toUtf8().constData(),
                                                   -1, &statement, nullptr) != SQLITE_OK) {
        return db.message();
    }
    if (sqlite3_bind_parameter_count(statement) > 0) {
        if (value.isNull()) {
            sqlite3_bind_null(statement, 1);
        } else {
            sqlite3_bind_text(statement, 1, value.constData(), static_cast<int>(value.size()),
                              SQLITE_TRANSIENT);
        }
    }
    const int step = sqlite3_step(statement);
    sqlite3_finalize(statement);
    return step == SQLITE_DONE || step == SQLITE_ROW ? QString() : db.message();
}

QString Value(const QString& file, const QString& query)
{
    const Connection db(file, SQLITE_OPEN_READONLY);
    sqlite3_stmt* statement = nullptr;
    if (db.handle == nullptr || sqlite3_prepare_v2(db.handle, query.toUtf8().constData(), -1,
                                                   &statement, nullptr) != SQLITE_OK) {
        return QString();
    }
    QString value;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        value = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
    }
    sqlite3_finalize(statement);
    return value;
}

HeldLock::HeldLock(const QString& file, const char* kind)
{
    if (sqlite3_open_v2(file.toLocal8Bit().constData(), &handle, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        failure = QStringLiteral("cannot open");
        return;
    }
    const QByteArray begin = QByteArray("begin ") + kind;
    if (sqlite3_exec(handle, begin.constData(), nullptr, nullptr, nullptr) != SQLITE_OK) {
        failure = QString::fromUtf8(sqlite3_errmsg(handle));
    }
}

HeldLock::~HeldLock()
{
    sqlite3_exec(handle, "rollback", nullptr, nullptr, nullptr);
    sqlite3_close(handle);
}

} // namespace faults
