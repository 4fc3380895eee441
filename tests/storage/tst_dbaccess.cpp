#include "storage/DbConnection.h"
#include "support/TempDirectory.h"

#include <QTest>

#include <functional>
#include <stdexcept>
#include <string>

// The SQLite access layer: messages, closed and moved readers, column names.
class TestDbAccess : public QObject
{
    Q_OBJECT

private:
    std::string path;

    // A connection on a fresh file holding one row of every storage class.
    void OpenSample(CDbConnection& db)
    {
        db.open(path.c_str());
        db.executenonquery("create table t (Name text, Big integer, Real real, Data blob, Nil)");
        db.executenonquery("insert into t values ('%q', 5000000000, 2.5, x'00ff00', NULL)",
                           "it's 100%");
    }

private slots:
    void init() { path = testsupport::MakeTempDirectory() + "/access.db"; }

    void unopenedConnection()
    {
        CDbConnection db;
        QVERIFY(!db.isopen());
        // No statement runs for an empty name, so the closed connection is not noticed.
        QVERIFY(!db.tableexists(nullptr));
        QVERIFY(!db.tableexists(""));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, db.insertid());
        try {
            db.insertid();
        } catch (const std::runtime_error& e) {
            QCOMPARE(std::string(e.what()), std::string("insertid: connection is closed"));
        }
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, db.executeint32("select 1"));
        db.close(); // closing a closed connection does nothing
    }

    void statementResults()
    {
        CDbConnection db;
        OpenSample(db);
        QCOMPARE(db.insertid(), std::int64_t(1));
        QVERIFY(db.tableexists("t"));
        QVERIFY(!db.tableexists("x' or '1'='1"));
        QCOMPARE(db.executestring("select Name from t"), std::string("it's 100%"));
        QCOMPARE(db.executeint32("select count(*) from t where Name='%q'", "x'); drop table t; --"),
                 0);
        QCOMPARE(db.executeint32("select 7 where 0"), 0);
        QCOMPARE(db.executestring("select 'x' where 0"), std::string());
        QCOMPARE(db.executenonquery("update t set Big=Big+1"), 1);
        QCOMPARE(db.executenonquery("update t set Big=1 where 0"), 0);
        try {
            db.executenonquery("selec 1");
            QFAIL("a syntax error was accepted");
        } catch (const std::runtime_error& e) {
            QCOMPARE(std::string(e.what()),
                     std::string("executereader: near \"selec\": syntax error"));
        }
        // A failing step reports SQLite's message alone.
        db.executenonquery("create table u (k unique)");
        db.executenonquery("insert into u values (1)");
        try {
            db.executenonquery("insert into u values (1)");
            QFAIL("a duplicate was accepted");
        } catch (const std::runtime_error& e) {
            QCOMPARE(std::string(e.what()), std::string("UNIQUE constraint failed: u.k"));
        }
    }

    void getters()
    {
        CDbConnection db;
        OpenSample(db);
        CDbReader reader = db.executereader("select * from t");
        QVERIFY(reader.read());
        QCOMPARE(reader.getstring("name"), std::string("it's 100%"));
        QCOMPARE(reader.getint64("BIG"), std::int64_t(5000000000));
        QCOMPARE(reader.getdouble("real"), 2.5);
        QCOMPARE(reader.getblob("Data"), std::string("\0\xff\0", 3));
        QCOMPARE(reader.getint32("Nil"), 0);
        QCOMPARE(reader.getstring(4), std::string());
        QCOMPARE(reader.getdouble(4), 0.0);
        QCOMPARE(reader.getcolname(3), std::string("Data"));
        try {
            reader.getint32("Missing");
            QFAIL("an unknown column was found");
        } catch (const std::runtime_error& e) {
            QCOMPARE(std::string(e.what()), std::string("column [Missing] is not found"));
        }
        QVERIFY(!reader.read());
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
        const std::function<void(CDbReader&, int)> call = [&](CDbReader& r, int i) {
            if (name == "getint32")
                r.getint32(i);
            if (name == "getint64")
                r.getint64(i);
            if (name == "getdouble")
                r.getdouble(i);
            if (name == "getstring")
                r.getstring(i);
            if (name == "getblob")
                r.getblob(i);
            if (name == "getcolname")
                r.getcolname(i);
        };
        CDbConnection db;
        OpenSample(db);
        CDbReader reader = db.executereader("select Name, Big from t");
        QVERIFY(reader.read());
        call(reader, 1);
        for (const int index : {2, -1}) {
            try {
                call(reader, index);
                QFAIL("an index past the columns was accepted");
            } catch (const std::out_of_range& e) {
                QCOMPARE(std::string(e.what()), name + ": index out of range");
            }
        }
        reader.close();
        try {
            call(reader, 0);
            QFAIL("a closed reader answered");
        } catch (const std::runtime_error& e) {
            QCOMPARE(std::string(e.what()), name + ": reader is closed");
        }
    }

    void closedReaderAndReset()
    {
        CDbConnection db;
        OpenSample(db);
        CDbReader reader = db.executereader("select Big from t");
        QVERIFY(reader.read());
        QVERIFY(!reader.read());
        reader.reset();
        QVERIFY(reader.read()); // the same row again after a rewind
        reader.close();
        reader.close();
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, reader.read());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, reader.reset());
    }

    void movedReader()
    {
        CDbConnection db;
        OpenSample(db);
        db.executenonquery("insert into t (Name) values ('second')");
        auto first = std::make_unique<CDbReader>(db.executereader("select Name from t"));
        QVERIFY(first->read());
        CDbReader second(std::move(*first));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, first->read());
        first.reset(); // must not finalize the statement the new reader owns
        QCOMPARE(second.getstring("NAME"), std::string("it's 100%"));
        QVERIFY(second.read());
        QCOMPARE(second.getstring(0), std::string("second"));
    }

    void duplicateColumnNamesTakeTheLaterIndex()
    {
        CDbConnection db;
        OpenSample(db);
        CDbReader reader = db.executereader("select 1 as value, 2 as VALUE");
        QVERIFY(reader.read());
        QCOMPARE(reader.getint32("Value"), 2);
    }

    void closeWithOpenReaderKeepsTheConnection()
    {
        CDbConnection db;
        OpenSample(db);
        CDbReader reader = db.executereader("select Name from t");
        try {
            db.close();
            QFAIL("closed under an open statement");
        } catch (const std::runtime_error& e) {
            QVERIFY(std::string(e.what()).rfind("close: unable to close", 0) == 0);
        }
        QVERIFY(db.isopen());
        QVERIFY(reader.read());
        reader.close();
        db.close();
        QVERIFY(!db.isopen());
    }

    void lockFailsAtOnce()
    {
        CDbConnection db;
        OpenSample(db);
        CDbConnection other;
        other.open(path.c_str());
        other.executenonquery("begin exclusive");
        try {
            db.executeint32("select count(*) from t");
            QFAIL("read through an exclusive lock");
        } catch (const std::runtime_error& e) {
            QCOMPARE(std::string(e.what()), std::string("database is locked"));
        }
        other.executenonquery("rollback");
        QCOMPARE(db.executeint32("select count(*) from t"), 1);
    }
};

QTEST_APPLESS_MAIN(TestDbAccess)
#include "tst_dbaccess.moc"
