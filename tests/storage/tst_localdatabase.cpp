#include "otp/NumberText.h"
#include "otp/OtpToken.h"
#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"

#include "StorageTestTools.h"

#include <QFile>
#include <QTest>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include <sys/stat.h>

using std::runtime_error;
using std::string;

namespace {

// Quotes, percent signs and statement text, aimed also at the PIN's row.
const char Hostile[] = "it's \"100%s%n\" ' or Name='PIN'); drop table tblToken; --";

int Mode(const string& path)
{
    struct stat status = {};
    return stat(path.c_str(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

const std::initializer_list<string COtpToken::*> TextFields = {
    &COtpToken::TokenID,     &COtpToken::Serial,   &COtpToken::Name,
    &COtpToken::Description, &COtpToken::AppUrl,   &COtpToken::ServiceUrl,
    &COtpToken::OcraSuite,   &COtpToken::UserName, &COtpToken::DomainName};
const std::initializer_list<std::int32_t COtpToken::*> NumberFields = {
    &COtpToken::TokenType, &COtpToken::Status, &COtpToken::Digits,
    &COtpToken::SyncSize,  &COtpToken::Timer,  &COtpToken::Sleep};

// A token whose every stored field differs from the defaults and from the
// other fields, so that two swapped columns show.
COtpTokenPtr MakeToken(const string& text, int seed)
{
    auto token = std::make_shared<COtpToken>();
    int n = seed;
    for (const auto field : TextFields) {
        (*token).*field = text + std::to_string(n++);
    }
    for (const auto field : NumberFields) {
        (*token).*field = n++;
    }
    token->TwoWay = seed % 2 == 0;
    token->CheckSum = seed % 2 == 1;
    const string key = string(3, '\0') + string(126, char(0x80 + seed)); // zero bytes included
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(key.data());
    token->SetTwoWayKey(bytes, 20);
    token->SetOtpKey(bytes + 1, 128);
    token->Counter = 1000000000000ull * std::uint64_t(seed);
    return token;
}

QByteArray Bytes(const std::uint8_t* data, int length)
{
    return QByteArray(reinterpret_cast<const char*>(data), length);
}

// Every field that the database keeps, in one comparable text.
QByteArray Stored(const COtpToken& token, int id)
{
    QByteArray text = QByteArray::number(id);
    for (const auto field : TextFields) {
        text += "|" + QByteArray::fromStdString(token.*field);
    }
    for (const auto field : NumberFields) {
        text += "|" + QByteArray::number(token.*field);
    }
    text += "|" + QByteArray::number(token.TwoWay) + QByteArray::number(token.CheckSum);
    text += "|" + QByteArray::number(token.Counter) + "|" +
            Bytes(token.TwoWayKey, token.TwoWayKeyLength).toHex();
    return text + "|" + Bytes(token.OtpKey, token.OtpKeyLength).toHex();
}

} // namespace

class TestLocalDatabase : public QObject
{
    Q_OBJECT

private:
    string directory;
    string file;

    // Runs one statement on the database file through a connection of its own.
    template <typename... Arguments> string Query(const char* format, Arguments... arguments)
    {
        CDbConnection other;
        other.open(file.c_str());
        return other.executestring(format, arguments...);
    }

private slots:
    void init()
    {
        directory = testsupport::MakeTempDirectory() + "/data";
        file = directory + "/velmora.db";
    }

    void firstAndSecondStart()
    {
        {
            LocalDatabase db(directory);
            QCOMPARE(Mode(directory), 0700);
            QCOMPARE(Mode(file), 0600);
            QVERIFY(!db.IsPinSet());
            QVERIFY(db.SetPin("2468"));
        }
        // The CREATE statements, one a line, as SQLite keeps them (without
        // the blank that ends them).
        QFile schema(QFINDTESTDATA("../data/storage-schema.txt"));
        QVERIFY(schema.open(QIODevice::ReadOnly));
        QCOMPARE(Query("select group_concat(sql, char(10)) || char(10) from sqlite_master "
                       "where name like 'tbl%%'"),
                 schema.readAll().toStdString());
        {
            LocalDatabase again(directory);
            QVERIFY(!again.CreateTables());
            QVERIFY(again.CheckPin("2468")); // not replaced by the default
        }
        // The default PIN comes only with a new token table.
        Query("drop table tblSystem");
        LocalDatabase third(directory);
        QVERIFY(third.IsPinSet());
        QCOMPARE(Query("select count(*) from tblSystem"), string("0"));
    }

    void pinLifeCycle()
    {
        LocalDatabase db(directory);
        QVERIFY(db.SetPin("1234"));
        QVERIFY(db.IsPinSet());
        QVERIFY(db.CheckPin("1234"));
        QVERIFY(!db.CheckPin("1235"));
        QVERIFY(!db.CheckPin(""));
        // A setting with a hostile name leaves the PIN and the schema alone.
        QCOMPARE(db.SetStringValue(Hostile, Hostile + string("'v")), 1);
        QCOMPARE(db.SetIntValue(Hostile, 42), 1);
        QCOMPARE(db.GetStringValue(Hostile), Hostile + string("'v"));
        QCOMPARE(db.GetIntValue(Hostile), 42);
        QVERIFY(db.CheckPin("1234"));
        QCOMPARE(Query("select count(*) from tblSystem"), string("2"));
        QCOMPARE(Query("select count(*) from sqlite_master"), string("4")); // with sqlite_sequence

        QVERIFY(db.SetPin(LocalDatabase::DefaultPin));
        QVERIFY(!db.IsPinSet());
        QCOMPARE(db.SetStringValue("Pin", "enc:AAAAAAAAAAA="), 1); // damaged
        QVERIFY(!db.CheckPin(LocalDatabase::DefaultPin));
    }

    void insertUpdateDelete()
    {
        LocalDatabase db(directory);
        const COtpTokenPtr first = MakeToken("first", 1);
        QVERIFY(db.SaveToken(first));
        const int id = db.GetDefaultToken();
        QVERIFY(db.SaveToken(first)); // still ID 0: a second row, now selected
        const int copy = db.GetDefaultToken();
        QCOMPARE(Stored(*db.GetAllTokens().at(1), copy), Stored(*first, copy));
        QCOMPARE(Query("select Credential from tblToken where ID=%d", id).substr(0, 4), "enc:");

        const COtpTokenPtr hostile = MakeToken(Hostile, 4);
        hostile->ID = id;
        QVERIFY(db.SaveToken(hostile));
        QCOMPARE(Stored(*db.GetToken(id), id), Stored(*hostile, id));
        QCOMPARE(Stored(*db.GetToken(copy), copy), Stored(*first, copy));
        QCOMPARE(db.GetDefaultToken(), copy);

        QVERIFY(!db.SaveToken(COtpTokenPtr()));
        QVERIFY(!db.DeleteToken(copy + 1));
        QVERIFY(db.DeleteToken(copy));
        QVERIFY(!db.GetToken(copy));
        QCOMPARE(db.GetDefaultToken(), id); // falls back on the first row and keeps it
        QCOMPARE(db.GetIntValue("DefaultToken"), id);
        QVERIFY(db.DeleteToken(id));
        QCOMPARE(db.GetDefaultToken(), 0);
        QVERIFY(db.GetAllTokens().empty());
    }

    // Credentials another client wrote: one in plain form with the largest
    // values, and ones this program never writes, which read as no key and
    // counter 0 (a key part over 128 bytes among them).
    void rowsOfAnotherClient_data()
    {
        QTest::addColumn<QByteArray>("credential");
        QTest::addColumn<int>("otpLength");
        QTest::addColumn<quint64>("counter");
        QTest::newRow("plain, largest values")
            << "AAEC," + QByteArray(128, 'k').toBase64() + ",18446744073709551615" << 128
            << quint64(18446744073709551615ull);
        QTest::newRow("key too long")
            << "AAEC," + QByteArray(129, 'k').toBase64() + ",7" << 0 << quint64(0);
        QTest::newRow("two parts") << QByteArray("AAEC,7") << 0 << quint64(0);
    }

    void rowsOfAnotherClient()
    {
        QFETCH(QByteArray, credential);
        QFETCH(int, otpLength);
        QFETCH(quint64, counter);
        LocalDatabase db(directory);
        RunTool("sqlite3", {QString::fromStdString(file),
                            "insert into tblToken (Name, Credential) values ('cli', '" +
                                QString::fromLatin1(credential) + "');"});
        const COtpTokenPtr token = db.GetToken(1);
        QCOMPARE(token->Name, string("cli"));
        QCOMPARE(token->OtpKeyLength, otpLength);
        QCOMPARE(quint64(token->Counter), counter);
    }

    void reservedCountersNeverRepeat()
    {
        LocalDatabase first(directory);
        LocalDatabase second(directory);
        const COtpTokenPtr token = MakeToken("hotp", 4);
        token->Counter = 7;
        first.SaveToken(token);
        for (std::uint64_t expected = 7; expected < 11; ++expected) {
            LocalDatabase& db = expected % 2 == 0 ? second : first;
            QCOMPARE(db.ReserveCounter(1)->Counter, expected);
            QCOMPARE(first.GetToken(1)->Counter, expected + 1);
        }
        QVERIFY(!first.ReserveCounter(2));

        // Another connection's lock fails at once instead of hanging.
        CDbConnection other;
        other.open(file.c_str());
        other.executenonquery("begin exclusive");
        QCOMPARE(Message<runtime_error>([&] { first.GetToken(1); }), string("database is locked"));
        QCOMPARE(Message<runtime_error>([&] { first.ReserveCounter(1); }),
                 string("database is locked"));
        other.executenonquery("rollback");
        QCOMPARE(second.GetToken(1)->Counter, std::uint64_t(11));

        // A token whose secret cannot be read is handed out, never written back.
        other.executenonquery("update tblToken set Credential='unreadable'");
        QCOMPARE(first.ReserveCounter(1)->OtpKeyLength, 0);
        QCOMPARE(Query("select Credential from tblToken"), string("unreadable"));
        // A counter that is no number fails the read, and the transaction ends.
        other.executenonquery("update tblToken set Credential='AAEC,AAEC,12a'");
        QVERIFY_THROWS_EXCEPTION(ConversionError, first.ReserveCounter(1));
        QCOMPARE(other.executenonquery("update tblToken set Credential=''"), 1);
    }

    void openFailures()
    {
        const string base = testsupport::MakeTempDirectory();
        std::ofstream(base + "/file") << "x";
        const std::pair<string, string> cases[] = {
            {base + "/file/data", "cannot create the directory " + base + "/file/data"},
            {base + "/file", "cannot open the file"}};
        for (const auto& [place, reason] : cases) {
            LocalDatabase db(place);
            QVERIFY(!db.IsOpen());
            QCOMPARE(db.GetOpenError(), "cannot open the database " + place +
                                            "/velmora.db: " + reason + ": Not a directory");
            QCOMPARE(Message<runtime_error>([&] { db.GetDefaultToken(); }),
                     string("executereader: connection is closed"));
        }
    }
};

QTEST_APPLESS_MAIN(TestLocalDatabase)
#include "tst_localdatabase.moc"
