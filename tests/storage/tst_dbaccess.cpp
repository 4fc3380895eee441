#include "storage/DbConnection.h"
#include "support/TempDirectory.h"

#include "StorageTestTools.h"

#include <QTest>

#include <memory>
#include <stdexcept>
#include <string>

using std::runtime_error;

// The SQLite access layer: messages, closed and moved readers, column names.
class TestDbAccess : public QObject
{
    Q_OBJECT

private:
    std::string path;
    std::unique_ptr<CDbConnection> db;

private slots:
    // A connection on a fresh file holding one row of every storage class.
    void init()
    {
        path = testsupport::MakeTempDirectory() + "/access.db";
        db = std::make_unique<CDbConnection>();
        db->open(path.c_str());
        db->executenonquery("create table t (Name text, Big integer, Real real, Data blob, Nil)");
        db->executenonquery("insert into t values ('%q', 5000000000, 2.5, x'00ff00', NULL)",
                            "it's 100%");
    }

    void unopenedConnection()
    {
        CDbConnection closed;
        // No statement runs for an empty name, so the closed connection is not noticed.
        QVERIFY(!closed.tableexists(nullptr));
        QVERIFY(!closed.tableexists(""));
        QVERIFY(
            Throws<runtime_error>([&] { closed.insertid(); }, "insertid: connection is closed"));
        QVERIFY(Throws<runtime_error>([&] { closed.executeint32("select 1"); },
                                      "executereader: connection is closed"));
        closed.close();
        QVERIFY(!closed.isopen());
    }

    void statementResults()
    {
        QCOMPARE(db->insertid(), std::int64_t(1));
        QVERIFY(db->tableexists("t"));
        QVERIFY(!db->tableexists("x' or '1'='1"));
        QCOMPARE(db->executestring("select Name from t"), std::string("it's 100%"));
        QCOMPARE(db->executeint32("select count(*) from t where Name='%q'", "'); drop table t; --"),
                 0);
        QCOMPARE(db->executeint32("select 7 where 0"), 0);
        QCOMPARE(db->executestring("select 'x' where 0"), std::string());
        QCOMPARE(db->executenonquery("update t set Big=Big+1"), 1);
        QCOMPARE(db->executenonquery("update t set Big=1 where 0"), 0);
        QVERIFY(Throws<runtime_error>([&] { db->executenonquery("selec 1"); },
                                      "executereader: near \"selec\": syntax error"));
        // A failing step reports SQLite's message alone.
        QVERIFY(
            Throws<runtime_error>([&] { db->executenonquery("insert into t (rowid) values (1)"); },
                                  "UNIQUE constraint failed: t.rowid"));
    }

    void getters()
    {
        CDbReader reader = db->executereader("select *, 1 as value, 2 as VALUE from t");
        QVERIFY(reader.read());
        QCOMPARE(reader.getstring("name"), std::string("it's 100%"));
        QCOMPARE(reader.getint64("BIG"), std::int64_t(5000000000));
        QCOMPARE(reader.getdouble("real"), 2.5);
        QCOMPARE(reader.getblob("Data"), std::string("\0\xff\0", 3));
        QCOMPARE(reader.getint32("Nil"), 0);
        QCOMPARE(reader.getstring(4), std::string());
        QCOMPARE(reader.getcolname(3), std::string("Data"));
        QCOMPARE(reader.getint32("Value"), 2); // of equal names the later column counts
        QVERIFY(Throws<runtime_error>([&] { reader.getint32("Missing"); },
                                      "column [Missing] is not found"));
        QVERIFY(!reader.read());
        reader.reset();
        QVERIFY(reader.read()); // the same row again after a rewind
        reader.close();
        reader.close();
        QVERIFY(Throws<runtime_error>([&] { reader.read(); }, "read: reader is closed"));
        QVERIFY(Throws<runtime_error>([&] { reader.reset(); }, "reset: reader is closed"));
        QVERIFY(Throws<runtime_error>([&] { reader.getstring("Name"); },
                                      "getstring: reader is closed"));
    }

    void indexAndClosedErrors_data()
    {
        QTest::addColumn<QString>("getter");
        for (const char* name :
             {"getint32", "getint64", "getdouble", "getstring", "getblob", "getcolname"}) {
            QTest::newRow(name) << QString(name);
        }
    }

    void indexAndClosedErrors()
    {
        QFETCH(QString, getter);
        const std::string name = getter.toStdString();
        CDbReader reader = db->executereader("select Name, Big from t");
        const auto call = [&](int i) {
            name == "getint32"    ? void(reader.getint32(i))
            : name == "getint64"  ? void(reader.getint64(i))
            : name == "getdouble" ? void(reader.getdouble(i))
            : name == "getstring" ? void(reader.getstring(i))
            : name == "getblob"   ? void(reader.getblob(i))
                                  : void(reader.getcolname(i));
        };
        QVERIFY(reader.read());
        call(1);
        QVERIFY(Throws<std::out_of_range>([&] { call(2); }, name + ": index out of range"));
        QVERIFY(Throws<std::out_of_range>([&] { call(-1); }, name + ": index out of range"));
        reader.close();
        QVERIFY(Throws<runtime_error>([&] { call(0); }, name + ": reader is closed"));
    }

    void movedReader()
    {
        db->executenonquery("insert into t (Name) values ('second')");
        auto first = std::make_unique<CDbReader>(db->executereader("select Name from t"));
        QVERIFY(first->read());
        CDbReader second(std::move(*first));
        QVERIFY(Throws<runtime_error>([&] { first->read(); }, "read: reader is closed"));
        first.reset(); // must not finalize the statement the new reader owns
        QCOMPARE(second.getstring("NAME"), std::string("it's 100%"));
        QVERIFY(second.read());
        QCOMPARE(second.getstring(0), std::string("second"));
    }

    void closeWithOpenReaderKeepsTheConnection()
    {
        CDbReader reader = db->executereader("select Name from t");
        QVERIFY(Throws<runtime_error>([&] { db->close(); },
                                      "close: unable to close due to unfinalized statements or "
                                      "unfinished backups"));
        QVERIFY(reader.read());
        reader.close();
        db->close();
        QVERIFY(!db->isopen());
    }

    void destructorWithOpenReaderDoesNotThrow()
    {
        auto reader = std::make_unique<CDbReader>(db->executereader("select Name from t"));
        db.reset();     // reports the failed close on standard error
        reader.reset(); // the handle goes with its last statement
    }
};

QTEST_APPLESS_MAIN(TestDbAccess)
#include "tst_dbaccess.moc"
