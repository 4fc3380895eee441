#include "otp/NumberText.h"
#include "otp/OtpToken.h"
#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"

#include "StorageTestTools.h"

#include <QTest>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include <sys/stat.h>

using std::runtime_error;
using std::string;

namespace {

// The schema as SQLite keeps it: the creating statements without the blank
// that ends them.
const char TokenTable[] =
    "CREATE TABLE tblToken (\t\t\t\tID INTEGER PRIMARY KEY AUTOINCREMENT,\t\t\t\tTokenType "
    "interger default 5,\t\t\t\tName varchar(50) Collate NOCASE,\t\t\t\tUserName varchar(50) "
    "Collate NOCASE,\t\t\t\tDomainName varchar(50) Collate NOCASE,\t\t\t\tTokenID varchar(50) "
    "Collate NOCASE,\t\t\t\tSerial varchar(50) Collate NOCASE,\t\t\t\tDescription varchar(250) "
    "Collate NOCASE,\t\t\t\tServiceUrl varchar(1024) Collate NOCASE,\t\t\t\tAppUrl "
    "varchar(1024) Collate NOCASE,\t\t\t\tOcraSuite varchar(100) Collate "
    "NOCASE,\t\t\t\tCredential varchar Collate NOCASE,\t\t\t\tStatus integer default "
    "1,\t\t\t\tDigits integer default 6,\t\t\t\tCheckSum integer default 0,\t\t\t\tSyncSize "
    "integer default 2,\t\t\t\tTwoWay integer default 0,\t\t\t\tTimer integer default "
    "60,\t\t\t\tSleep integer default 5,\t\t\t\tLastUpdate DATE NULL,\t\t\t\tLastSync DATE "
    "NULL\t\t\t\t)";
const char SystemTable[] =
    "CREATE TABLE tblSystem (\t\t\t\tID INTEGER PRIMARY KEY AUTOINCREMENT,\t\t\t\tName varchar "
    "unique Collate NOCASE,\t\t\t\tStringValue varchar Collate NOCASE,\t\t\t\tIntValue "
    "integer\t\t\t\t)";

const char Hostile[] = "it's \"100%s%n\" '); drop table tblToken; --";

int Mode(const string& path)
{
    struct stat status
    {
    };
    return stat(path.c_str(), &status) == 0 ? int(status.st_mode & 07777) : -1;
}

const std::initializer_list<string COtpToken::*> TextFields = {
    &COtpToken::TokenID,     &COtpToken::Serial,   &COtpToken::Name,
    &COtpToken::Description, &COtpToken::AppUrl,   &COtpToken::ServiceUrl,
    &COtpToken::OcraSuite,   &COtpToken::UserName, &COtpToken::DomainName};
const std::initializer_list<std::int32_t COtpToken::*> NumberFields = {
    &COtpToken::TokenType, &COtpToken::Status, &COtpToken::Digits,
    &COtpToken::SyncSize,  &COtpToken::Timer,  &COtpToken::Sleep};

// A token whose every stored field differs from the defaults and from other seeds.
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
    token->TwoWay = seed % 2 == 0, token->CheckSum = seed % 2 == 1;
    QByteArray key(129, '\0');
    for (int i = 0; i < key.size(); ++i) {
        key[i] = char(i % 5 == 0 ? 0 : i * seed); // zero bytes included
    }
    token->SetTwoWayKey(reinterpret_cast<const std::uint8_t*>(key.constData()), 20);
    token->SetOtpKey(reinterpret_cast<const std::uint8_t*>(key.constData()) + 1, 128);
    token->Counter = 1000000000000ull * std::uint64_t(seed);
    return token;
}

// Every field that the database keeps, in one comparable text.
QByteArray Stored(const COtpToken& token, int id)
{
    QByteArray text = QByteArray::number(id) + "|" + token.DisplayName.c_str();
    for (const auto field : TextFields) {
        text += "|" + QByteArray::fromStdString(token.*field);
    }
    for (const auto field : NumberFields) {
        text += "|" + QByteArray::number(token.*field);
    }
    return text + "|" + QByteArray::number(token.TwoWay) + QByteArray::number(token.CheckSum) +
           "|" + QByteArray::number(token.Counter) + "|" +
           QByteArray(reinterpret_cast<const char*>(token.TwoWayKey), token.TwoWayKeyLength)
               .toHex() +
           "|" +
           QByteArray(reinterpret_cast<const char*>(token.OtpKey), token.OtpKeyLength).toHex();
}

} // namespace

class TestLocalDatabase : public QObject
{
    Q_OBJECT

private:
    string directory;
    string file;

    // Runs one statement on the database file through a connection of its own.
    string Query(const char* format, int id = 0)
    {
        CDbConnection other;
        other.open(file.c_str());
        return other.executestring(format, id);
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
            QVERIFY(db.IsOpen());
            QCOMPARE(db.GetOpenError(), string());
            QCOMPARE(db.GetDatabasePath(), file);
            QCOMPARE(Mode(directory), 0700);
            QCOMPARE(Mode(file), 0600);
            QCOMPARE(Query("select sql from sqlite_master where name='tblToken'"),
                     string(TokenTable));
            QCOMPARE(Query("select sql from sqlite_master where name='tblSystem'"),
                     string(SystemTable));
            QCOMPARE(db.GetStringValue("PIN").size(), size_t(4 + 44));
            QVERIFY(!db.IsPinSet());
            QCOMPARE(db.GetDefaultToken(), 0);
            QVERIFY(db.SetPin("2468"));
        }
        const string pin = Query("select StringValue from tblSystem");
        LocalDatabase again(directory);
        QVERIFY(!again.CreateTables());
        QVERIFY(again.CheckPin("2468"));
        QCOMPARE(Query("select group_concat(StringValue) from tblSystem"), pin);
    }

    void tokenTableWithoutSystemTable()
    {
        QVERIFY(mkdir(directory.c_str(), 0700) == 0);
        RunTool("sqlite3", {QString::fromStdString(file), "create table tblToken (ID integer);"});
        LocalDatabase db(directory);
        QVERIFY(db.IsPinSet());
        QVERIFY(!db.CheckPin(LocalDatabase::DefaultPin));
        QCOMPARE(Query("select count(*) from tblSystem"), string("0"));
    }

    void pinLifeCycle()
    {
        LocalDatabase db(directory);
        QVERIFY(db.SetPin("1234"));
        QVERIFY(db.IsPinSet());
        QVERIFY(db.CheckPin("1234"));
        for (const char* wrong : {"1235", "", "12345", "123"}) {
            QVERIFY(!db.CheckPin(wrong));
        }
        QCOMPARE(db.GetStringValue("pin"), db.GetStringValue("PIN"));
        QVERIFY(db.SetPin(LocalDatabase::DefaultPin));
        QVERIFY(!db.IsPinSet());
        QCOMPARE(db.SetStringValue("Pin", "enc:AAAAAAAAAAA="), 1); // damaged
        QVERIFY(!db.CheckPin(LocalDatabase::DefaultPin));
        QCOMPARE(db.SetStringValue("PIN", ""), 1);
        QVERIFY(!db.CheckPin(""));
    }

    void hostileSettings_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("quote") << QByteArray("it's");
        QTest::newRow("percent") << QByteArray("100%s%n%d%q");
        QTest::newRow("statement") << QByteArray("x'); drop table tblToken; --");
        QTest::newRow("other row") << QByteArray("x' or Name='PIN");
    }

    void hostileSettings()
    {
        QFETCH(QByteArray, name);
        LocalDatabase db(directory);
        const string pin = db.GetStringValue("PIN");
        QCOMPARE(db.SetStringValue(name.toStdString(), name.toStdString() + "'v"), 1);
        QCOMPARE(db.SetIntValue(name.toStdString(), 42), 1);
        QCOMPARE(db.GetStringValue(name.toStdString()), name.toStdString() + "'v");
        QCOMPARE(db.GetIntValue(name.toStdString()), 42);
        QCOMPARE(db.GetStringValue("PIN"), pin);
        QCOMPARE(Query("select count(*) from tblSystem"), string("2"));
        QCOMPARE(Query("select count(*) from sqlite_master"), string("4")); // with sqlite_sequence
    }

    void insertUpdateDelete()
    {
        LocalDatabase db(directory);
        const COtpTokenPtr first = MakeToken("first", 1);
        QVERIFY(db.SaveToken(first));
        QCOMPARE(first->ID, 0);
        const int id = db.GetDefaultToken();
        QVERIFY(db.SaveToken(first)); // still ID 0: a second row, now selected
        const int copy = db.GetDefaultToken();
        QVERIFY(copy > id);
        QCOMPARE(int(db.GetAllTokens().size()), 2);
        QCOMPARE(Stored(*db.GetAllTokens().at(1), copy), Stored(*first, copy));

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
        QCOMPARE(db.GetIntValue("DefaultToken"), id);
        QVERIFY(db.GetAllTokens().empty());
    }

    void emptyCredential()
    {
        LocalDatabase db(directory);
        QVERIFY(db.SaveToken(std::make_shared<COtpToken>()));
        QCOMPARE(Query("select Credential from tblToken"), db.Encrypt(",,0"));
        QCOMPARE(Stored(*db.GetToken(1), 1), Stored(COtpToken(), 1));
    }

    // Credentials as another writer may leave them (NULL: no value).
    void storedCredentials_data()
    {
        QTest::addColumn<QByteArray>("credential");
        QTest::addColumn<QByteArray>("twoWayKey");
        QTest::addColumn<int>("otpLength");
        QTest::addColumn<quint64>("counter");
        const QByteArray key128(128, 'k');
        const QByteArray none;
        QTest::newRow("plain") << QByteArray("AAEC,Zm9vYmFy,42") << QByteArray("\0\1\2", 3) << 6
                               << quint64(42);
        QTest::newRow("largest") << key128.toBase64() + ",,18446744073709551615" << key128 << 0
                                 << quint64(18446744073709551615ull);
        QTest::newRow("key too long")
            << QByteArray(129, 'k').toBase64() + ",AAEC,7" << none << 0 << quint64(0);
        QTest::newRow("two parts") << QByteArray("AAEC,7") << none << 0 << quint64(0);
        QTest::newRow("four parts") << QByteArray("A,B,C,7") << none << 0 << quint64(0);
        QTest::newRow("NULL") << QByteArray() << none << 0 << quint64(0);
        QTest::newRow("damaged") << QByteArray("enc:AAAAAAAAAAA=") << none << 0 << quint64(0);
    }

    void storedCredentials()
    {
        QFETCH(QByteArray, credential);
        QFETCH(QByteArray, twoWayKey);
        QFETCH(int, otpLength);
        QFETCH(quint64, counter);
        LocalDatabase db(directory);
        db.SaveToken(std::make_shared<COtpToken>());
        CDbConnection other;
        other.open(file.c_str());
        other.executenonquery("update tblToken set Credential=%Q",
                              credential.isNull() ? nullptr : credential.constData());
        const COtpTokenPtr token = db.GetToken(1);
        QCOMPARE(
            QByteArray(reinterpret_cast<const char*>(token->TwoWayKey), token->TwoWayKeyLength),
            twoWayKey);
        QCOMPARE(token->OtpKeyLength, otpLength);
        QCOMPARE(quint64(token->Counter), counter);
    }

    void counterThatIsNoNumberFailsTheRead()
    {
        LocalDatabase db(directory);
        db.SaveToken(std::make_shared<COtpToken>());
        for (const char* counter : {"AAEC,AAEC,12a", "AAEC,AAEC,-1", "AAEC,AAEC,"}) {
            CDbConnection other;
            other.open(file.c_str());
            other.executenonquery("update tblToken set Credential='%q'", counter);
            QVERIFY_THROWS_EXCEPTION(ConversionError, db.GetToken(1));
        }
    }

    void rowsOfAnotherClient()
    {
        LocalDatabase db(directory);
        const COtpTokenPtr saved = MakeToken(Hostile, 2);
        QVERIFY(db.SaveToken(saved));
        const QString path = QString::fromStdString(file);
        RunTool("sqlite3", {path, "insert into tblToken (Name, Serial, Credential) "
                                  "values ('cli', '77', 'AAEC,Zm9v,9');"});
        QCOMPARE(RunTool("sqlite3", {path, "select Name from tblToken where ID=1"}),
                 QByteArray::fromStdString(saved->Name) + "\n");
        const COtpTokenPtr token = db.GetAllTokens().at(1);
        QCOMPARE(token->Name, string("cli"));
        QCOMPARE(token->GetDisplayName(), string("cli:77"));
        // Columns the client left out read as the table's defaults.
        QCOMPARE(token->TokenType, 5);
        QCOMPARE(token->Status, 1);
        QCOMPARE(token->Digits, 6);
        QCOMPARE(token->SyncSize, 2);
        QCOMPARE(token->Timer, 60);
        QCOMPARE(token->Sleep, 5);
        QCOMPARE(token->Description, string());
        QCOMPARE(token->OtpKeyLength, 3);
        QCOMPARE(token->Counter, std::uint64_t(9));
    }

    void lockedDatabase()
    {
        LocalDatabase db(directory);
        CDbConnection other;
        other.open(file.c_str());
        other.executenonquery("begin exclusive");
        QVERIFY(Throws<runtime_error>([&] { db.IsPinSet(); }, "database is locked"));
        other.executenonquery("rollback");
        other.executenonquery("begin immediate"); // an open write transaction
        QVERIFY(!db.IsPinSet());
        QVERIFY(Throws<runtime_error>([&] { db.SetPin("1111"); }, "database is locked"));
        other.executenonquery("commit");
        QVERIFY(db.SetPin("1111"));
    }

    void reservedCountersNeverRepeat()
    {
        LocalDatabase first(directory);
        LocalDatabase second(directory);
        const COtpTokenPtr token = MakeToken("hotp", 4);
        token->Counter = 7;
        first.SaveToken(token);
        for (std::uint64_t expected = 7; expected < 13; ++expected) {
            LocalDatabase& db = expected % 2 == 0 ? second : first;
            QCOMPARE(db.ReserveCounter(1)->Counter, expected);
            QCOMPARE(first.GetToken(1)->Counter, expected + 1);
        }
        QVERIFY(!first.ReserveCounter(2));

        CDbConnection other;
        other.open(file.c_str());
        other.executenonquery("begin immediate");
        QVERIFY(Throws<runtime_error>([&] { first.ReserveCounter(1); }, "database is locked"));
        other.executenonquery("rollback");
        QCOMPARE(second.GetToken(1)->Counter, std::uint64_t(13));

        // A token whose secret cannot be read is handed out, never written back.
        other.executenonquery("update tblToken set Credential='unreadable'");
        QCOMPARE(first.ReserveCounter(1)->OtpKeyLength, 0);
        QCOMPARE(Query("select Credential from tblToken"), string("unreadable"));
    }

    void openFailures()
    {
        const string base = testsupport::MakeTempDirectory();
        std::ofstream(base + "/file") << "x";
        QVERIFY(mkdir((base + "/dir").c_str(), 0700) == 0 &&
                mkdir((base + "/dir/velmora.db").c_str(), 0700) == 0);
        const struct
        {
            string directory, reason;
        } cases[] = {
            {base + "/file/data",
             "cannot create the directory " + base + "/file/data: Not a directory"},
            {base + "/file", "cannot open the file: Not a directory"},
            {base + "/dir", "cannot open the file: Is a directory"},
        };
        for (const auto& failure : cases) {
            LocalDatabase db(failure.directory);
            QVERIFY(!db.IsOpen());
            QCOMPARE(db.GetOpenError(), "cannot open the database " + failure.directory +
                                            "/velmora.db: " + failure.reason);
            QVERIFY(Throws<runtime_error>([&] { db.GetDefaultToken(); },
                                          "executereader: connection is closed"));
        }
    }
};

QTEST_APPLESS_MAIN(TestLocalDatabase)
#include "tst_localdatabase.moc"
