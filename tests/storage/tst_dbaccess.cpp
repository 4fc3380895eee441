#include "storage/DbConnection.h"
#include "support/TempDirectory.h"

#include "StorageTestTools.h"

#include <QTest>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

using std::runtime_error;
using std::string;

// The SQLite access layer: messages, closed and moved readers, column names.
class TestDbAccess : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CDbConnection> db;
    string path;

private slots:
    void init()
    {
        db = std::make_unique<CDbConnection>();
        path = testsupport::MakeTempDirectory() + "/access.db";
        db->open(path.c_str());
        db->executenonquery("create table t (Name text)");
        db->executenonquery("insert into t values ('%q'), ('second')", "it's 100%");
    }

    void statementsAndTheirMessages()
    {
        CDbConnection closed;
        QCOMPARE(Message<runtime_error>([&] { closed.insertid(); }),
                 string("insertid: connection is closed"));
        QCOMPARE(db->executestring("select Name from t"), string("it's 100%"));
        // Without a row: 0 and the empty text.
        QCOMPARE(db->executeint32("select 7 where 0"), 0);
        QCOMPARE(db->executestring("select 'x' where 0"), string());
        QCOMPARE(Message<runtime_error>([&] { db->executenonquery("selec 1"); }),
                 string("executereader: near \"selec\": syntax error"));
        // A failing step reports SQLite's message alone.
        QCOMPARE(Message<runtime_error>(
                     [&] { db->executenonquery("insert into t (rowid) values (1)"); }),
                 string("UNIQUE constraint failed: t.rowid"));
    }

    void indexAndClosedErrors()
    {
        CDbReader reader = db->executereader("select Name, 2 from t");
        const std::pair<string, std::function<void(int)>> getters[] = {
            {"getint32", [&](int i) { reader.getint32(i); }},
            {"getint64", [&](int i) { reader.getint64(i); }},
            {"getdouble", [&](int i) { reader.getdouble(i); }},
            {"getstring", [&](int i) { reader.getstring(i); }},
            {"getblob", [&](int i) { reader.getblob(i); }},
            {"getcolname", [&](int i) { reader.getcolname(i); }},
            {"getcoltype", [&](int i) { reader.getcoltype(i); }},
        };
        QVERIFY(reader.read());
        for (const auto& getter : getters) {
            getter.second(1);
            for (const int index : {2, -1}) {
                QCOMPARE(Message<std::out_of_range>([&] { getter.second(index); }),
                         getter.first + ": index out of range");
            }
        }
        reader.close();
        reader.close(); // finalizes nothing twice
        for (const auto& getter : getters) {
            QCOMPARE(Message<runtime_error>([&] { getter.second(0); }),
                     getter.first + ": reader is closed");
        }
    }

    void movedReaderAndColumnNames()
    {
        auto first = std::make_unique<CDbReader>(db->executereader("select Name from t"));
        QVERIFY(first->read());
        CDbReader second(std::move(*first));
        QCOMPARE(Message<runtime_error>([&] { first->read(); }), string("read: reader is closed"));
        first.reset(); // must not finalize the statement the new reader owns
        QCOMPARE(second.getstring("NAME"), string("it's 100%"));
        QVERIFY(second.read());
        QCOMPARE(second.getstring("name"), string("second"));
        QCOMPARE(Message<runtime_error>([&] { second.getint32("Missing"); }),
                 string("column [Missing] is not found"));
        QVERIFY(!second.read());
    }

    // Kept statements: bound values, reuse after reset, a second reader while
    // one is stepping, and columns found again after a schema change.
    void keptStatements()
    {
        const char* select = "select * from t where Name<>?";
        CDbReader stepping = db->executecached(select, string("second"));
        QVERIFY(stepping.read());
        QCOMPARE(stepping.getstring("name"), string("it's 100%"));
        // The kept statement is busy: this reader gets one of its own.
        QCOMPARE(db->executecached(select, "it's 100%").scalarstring(), string("second"));
        stepping.close();
        QCOMPARE(Message<runtime_error>([&] { stepping.bind(1, 2); }),
                 string("bind: reader is closed"));
        QCOMPARE(Message<runtime_error>([&] { db->executecached("select ?", 1, 2); }),
                 string("bind: column index out of range"));
        // A use with fewer values than parameters gets none of the last use's;
        // a text equal to a kept one finds it, wherever the text lies.
        const char* pair = "select coalesce(?, '-') || coalesce(?, '-')";
        QCOMPARE(db->executecached(pair, "a", "b").scalarstring(), string("ab"));
        QCOMPARE(db->executecached(pair, "c").scalarstring(), string("c-"));
        QCOMPARE(db->executecached(select, "it's 100%").scalarstring(), string("second"));
        QCOMPARE(db->executecached(string(pair).c_str(), "d", "e").scalarstring(), string("de"));
        // Another connection puts a column before Name: "select *" is
        // prepared again by SQLite, and names are looked up anew.
        CDbConnection other;
        other.open(path.c_str());
        for (const char* step :
             {"create table u (First, Name text)", "insert into u select 1, Name from t",
              "drop table t", "alter table u rename to t"}) {
            other.executenonquery(step);
        }
        CDbReader again = db->executecached(select, string("second"));
        QVERIFY(again.read());
        QCOMPARE(again.getstring("NAME"), string("it's 100%"));
        QCOMPARE(again.columnindex("Name"), 1);
    }

    void closeWithAnOpenReader()
    {
        db->executecached("select 1").scalarint32(); // kept, and finalized by close
        auto reader = std::make_unique<CDbReader>(db->executecached("select Name from t"));
        QCOMPARE(
            Message<runtime_error>([&] { db->close(); }),
            string("close: unable to close due to unfinalized statements or unfinished backups"));
        QVERIFY(reader->read()); // the connection is kept
        db.reset();              // the destructor reports the failed close, never throws
        reader.reset();          // the handle goes with its last statement
    }
};

QTEST_APPLESS_MAIN(TestDbAccess)
#include "tst_dbaccess.moc"
