#include "otp/OtpToken.h"
#include "storage/LocalDatabase.h"
#include "support/RunProgram.h"
#include "support/TempDirectory.h"

#include "StorageTestTools.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>

using std::runtime_error;
using std::string;

// Storage as the views use it. The process-level fault tests (tests/fault)
// cover locks, damaged Credentials and foreign rows, the file modes and
// every write and sync point; these pin exact texts and edge values.
namespace {

// A path's mode and, for a file, its bytes; "absent" when there is none.
string State(const string& path)
{
    struct stat status = {};
    if (stat(path.c_str(), &status) != 0) {
        return "absent";
    }
    std::ostringstream state;
    state << std::oct << (status.st_mode & 07777) << ':';
    if (S_ISREG(status.st_mode)) {
        state << std::ifstream(path, std::ios::binary).rdbuf();
    }
    return state.str();
}

// While it lives, no file of this process can grow: a write that would extend
// one fails as on a full disk. Reads still work.
struct NoFileGrowth
{
    rlimit saved{};
    NoFileGrowth()
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit none{0, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &none);
    }
    ~NoFileGrowth() { setrlimit(RLIMIT_FSIZE, &saved); }
};

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

// An HOTP token that can compute codes, at the given counter.
COtpTokenPtr HotpToken(std::uint64_t counter)
{
    auto token = std::make_shared<COtpToken>();
    token->SetOtpKey(reinterpret_cast<const std::uint8_t*>("12345678901234567890"), 20);
    token->Counter = counter;
    return token;
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
    const auto hex = [](const std::uint8_t* key, int length) {
        return QByteArray(reinterpret_cast<const char*>(key), length).toHex();
    };
    return text + "|" + QByteArray::number(token.TwoWay) + QByteArray::number(token.CheckSum) +
           "|" + QByteArray::number(token.Counter) + "|" +
           hex(token.TwoWayKey, token.TwoWayKeyLength) + "|" +
           hex(token.OtpKey, token.OtpKeyLength);
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

    void startsAndPin()
    {
        {
            LocalDatabase db(directory);
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
        LocalDatabase db(directory);
        QVERIFY(!db.CreateTables());
        QVERIFY(db.CheckPin("2468")); // not replaced by the default
        QVERIFY(db.IsPinSet());
        QVERIFY(!db.CheckPin(""));
        QVERIFY(db.SetPin(LocalDatabase::DefaultPin));
        QVERIFY(!db.IsPinSet());
        QCOMPARE(db.SetStringValue("Pin", "enc:AAAAAAAAAAA="), 1); // damaged
        QVERIFY(!db.CheckPin(LocalDatabase::DefaultPin));
        // The default PIN comes only with a new token table.
        Query("drop table tblSystem");
        LocalDatabase third(directory);
        QVERIFY(third.IsPinSet());
        QCOMPARE(Query("select count(*) from tblSystem"), string("0"));
        // A write that another program's trigger swallows is not a stored PIN.
        Query("create trigger keep before insert on tblSystem begin select raise(ignore); end");
        QVERIFY(!third.SetPin("1357"));
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

        const COtpTokenPtr changed = MakeToken("changed", 4);
        changed->ID = id;
        QVERIFY(db.SaveToken(changed));
        QCOMPARE(Stored(*db.GetToken(id), id), Stored(*changed, id));
        QCOMPARE(Stored(*db.GetToken(copy), copy), Stored(*first, copy));
        QCOMPARE(db.GetDefaultToken(), copy);

        QVERIFY(!db.SaveToken(COtpTokenPtr()));
        QVERIFY(!db.DeleteToken(copy + 1));
        QVERIFY(db.DeleteToken(copy));
        QVERIFY(!db.GetToken(copy));
        {
            // The repair cannot be stored: the first row is still the answer.
            const NoFileGrowth fullDisk;
            QCOMPARE(db.GetDefaultToken(), id);
            QCOMPARE(db.GetIntValue("DefaultToken"), copy);
        }
        QCOMPARE(db.GetDefaultToken(), id); // falls back on the first row and keeps it
        QCOMPARE(db.GetIntValue("DefaultToken"), id);

        // An import stores all its tokens or none of them, small or large
        // (a large one has its values encrypted on a second thread).
        Query("create trigger refuse before insert on tblToken when new.Name='No' "
              "begin select raise(abort, 'refused'); end");
        const COtpTokenPtr refused = HotpToken(0);
        refused->Name = "No";
        QVERIFY_THROWS_EXCEPTION(runtime_error, db.InstallTokens({HotpToken(0), refused}));
        std::vector<COtpTokenPtr> batch;
        for (int seed = 1; seed <= 150; ++seed) {
            batch.push_back(MakeToken("batch", seed));
        }
        batch[140] = refused;
        const string rows = Query("select group_concat(ID) from tblToken");
        QVERIFY_THROWS_EXCEPTION(runtime_error, db.InstallTokens(batch));
        QCOMPARE(Query("select group_concat(ID) from tblToken"), rows);
        Query("drop trigger refuse");
        batch[140] = MakeToken("batch", 141);
        const std::vector<int> ids = db.InstallTokens(batch);
        QCOMPARE(ids.size(), batch.size());
        for (std::size_t i = 0; i < batch.size(); i += 7) {
            QCOMPARE(Stored(*db.GetToken(ids[i]), ids[i]), Stored(*batch[i], ids[i]));
        }
        QCOMPARE(Stored(*db.GetToken(ids.back()), ids.back()), Stored(*batch.back(), ids.back()));
        Query("delete from tblToken where Name like 'batch%%'");

        // All or nothing: when the selection cannot be stored, no row stays
        // behind to be duplicated by a retry, and the connection goes on.
        Query("alter table tblSystem rename to tblAside");
        // (The protection mode is read first; this connection's schema learns
        // of the rename only when that statement steps, hence no prefix.)
        QCOMPARE(Message<runtime_error>([&] { db.SaveToken(first); }),
                 string("no such table: tblSystem"));
        Query("alter table tblAside rename to tblSystem");
        // Past the last 32-bit ID, a new row takes the first free one.
        Query("update sqlite_sequence set seq=2147483647");
        QVERIFY(db.SaveToken(first));
        QCOMPARE(Query("select group_concat(ID) from tblToken"), std::to_string(id) + ",2");
        QCOMPARE(db.GetDefaultToken(), 2);
        QVERIFY(db.DeleteToken(id) && db.DeleteToken(2));
        QCOMPARE(db.GetDefaultToken(), 0);
        QVERIFY(db.GetAllTokens().empty());
    }

    // Texts that must round-trip byte for byte through every text column, by
    // insert and by update, and through the settings, never touching another
    // row; a zero byte is refused.
    void hostileTexts_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("quotes, percent, SQL, controls, not UTF-8")
            << QByteArray("it's \"100%s%n\" ' or Name='PIN'); drop table tblToken; --"
                          "\x01\x1b[31m\r\n\t\x7f\b\xff\xfe\xc3\x28\x80\xed\xa0\x80");
        QTest::newRow("1 MiB") << QByteArray(1 << 20, '\'');
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("zero byte") << QByteArray("a\0b", 3);
    }

    void hostileTexts()
    {
        QFETCH(QByteArray, text);
        const string value = text.toStdString();
        LocalDatabase db(directory);
        db.SetPin("1234");
        const COtpTokenPtr neighbour = MakeToken("neighbour", 1);
        QVERIFY(db.SaveToken(neighbour));
        const COtpTokenPtr token = MakeToken("", 2);
        for (const auto field : TextFields) {
            (*token).*field = value;
        }
        if (text.contains('\0')) {
            QCOMPARE(Message<std::invalid_argument>([&] { db.SaveToken(token); }),
                     string("SaveToken: the TokenID holds a zero byte, which cannot be stored"));
            QCOMPARE(Message<std::invalid_argument>([&] { db.SetStringValue("x", value); }),
                     string("SetStringValue: the value holds a zero byte, which cannot be stored"));
            QCOMPARE(Query("select count(*) from tblToken"), string("1"));
        } else {
            QVERIFY(db.SaveToken(token));
            QCOMPARE(Stored(*db.GetToken(2), 2), Stored(*token, 2));
            const TokenListing listed = db.ListTokens().at(1);
            QCOMPARE(listed.Name + listed.Serial + listed.DomainName + listed.UserName,
                     value + value + value + value);
            token->ID = 2;
            QVERIFY(db.SaveToken(token)); // the update statement too
            QCOMPARE(Stored(*db.GetToken(2), 2), Stored(*token, 2));
            QCOMPARE(db.SetStringValue(value, "first"), 1);
            QCOMPARE(db.SetStringValue(value, value + "'v"), 1); // an update
            QCOMPARE(db.SetIntValue(value, 42), 1);
            QCOMPARE(db.GetStringValue(value), value + "'v");
            QCOMPARE(db.GetIntValue(value), 42);
        }
        QCOMPARE(Stored(*db.GetToken(1), 1), Stored(*neighbour, 1));
        QVERIFY(db.CheckPin("1234"));
        QCOMPARE(Query("select count(*) from sqlite_master"), string("4")); // with sqlite_sequence
    }

    // Edge values of a row another client wrote: read without an error, listed
    // (unless its ID cannot be addressed), no code, and a press changes no
    // byte of the file. Damaged Credentials, keys beyond 128 bytes and other
    // odd numbers are covered by the fault tests' oddRow.
    void damagedRows_data()
    {
        QTest::addColumn<QByteArray>("assignment");
        QTest::addColumn<int>("otpLength");
        QTest::addColumn<quint64>("counter");
        QTest::addColumn<bool>("listed");
        QTest::newRow("plain Credential, largest values")
            << "Credential='AAEC," + QByteArray(128, 'k').toBase64() + ",18446744073709551615'"
            << 128 << quint64(18446744073709551615ull) << true;
        QTest::newRow("fraction in Sleep") << QByteArray("Sleep=2.5") << 0 << quint64(0) << true;
        QTest::newRow("NULL numbers (Digits 0)")
            << QByteArray("TokenType=NULL, Digits=NULL") << 20 << quint64(5) << true;
        // Its low 32 bits are 2: never to be taken for row 2, nor selected.
        QTest::newRow("ID beyond 32 bits")
            << QByteArray("ID=-4294967294") << 0 << quint64(0) << false;
    }

    void damagedRows()
    {
        QFETCH(QByteArray, assignment);
        QFETCH(bool, listed);
        LocalDatabase db(directory);
        const COtpTokenPtr neighbour = HotpToken(1);
        QVERIFY(db.SaveToken(neighbour));
        QVERIFY(db.SaveToken(HotpToken(5)));
        Query("update tblToken set %s where ID=2", assignment.constData());
        QCOMPARE(db.GetDefaultToken(), listed ? 2 : 1);
        const string before = State(file);

        const std::vector<TokenListing> listings = db.ListTokens();
        const std::vector<COtpTokenPtr> tokens = db.GetAllTokens();
        QCOMPARE(listings.size(), std::size_t(listed ? 2 : 1));
        QCOMPARE(tokens.size(), listings.size());
        for (std::size_t i = 0; i < listings.size(); ++i) {
            QVERIFY(listings[i].ID == int(i) + 1 && tokens[i]->ID == int(i) + 1);
        }
        const COtpTokenPtr token = db.GetToken(2);
        QCOMPARE(bool(token), listed);
        if (token) {
            QTEST(token->OtpKeyLength, "otpLength");
            QTEST(quint64(token->Counter), "counter");
            QVERIFY(!token->GetUnusableReason().empty());
            const CCounterReservation press = db.ReserveCounter(2);
            QVERIFY(!press.Counter);
            QCOMPARE(press.Token->Counter, token->Counter);
        }
        QCOMPARE(State(file), before);
        QCOMPARE(Stored(*db.GetToken(1), 1), Stored(*neighbour, 1));
    }

    // Two instances take turns; what another client keeps in the other
    // columns survives every press.
    void pressesReserveCounters()
    {
        LocalDatabase first(directory);
        LocalDatabase second(directory);
        first.SaveToken(HotpToken(7));
        Query("update tblToken set Name=CAST(X'610062' AS TEXT), TokenID=X'00ff', "
              "Status=-7, Sleep=2147483647, LastSync='2020-01-01'");
        const auto others = [this] {
            const testsupport::ProgramOutcome dump = testsupport::RunProgram(
                "sqlite3", {QString::fromStdString(file), ".dump tblToken"});
            return QString(dump.out).remove(QRegularExpression("'enc:[^']*'")) + dump.err;
        };
        const QString before = others();
        QVERIFY(before.contains("X'00ff'"));
        for (std::uint64_t expected = 7; expected < 11; ++expected) {
            LocalDatabase& db = expected % 2 == 0 ? second : first;
            const CCounterReservation press = db.ReserveCounter(1);
            QCOMPARE(*press.Counter, expected);
            QCOMPARE(press.Token->Counter, expected + 1);
            QCOMPARE(first.GetToken(1)->Counter, expected + 1);
        }
        QCOMPARE(others(), before);
        QVERIFY(!first.ReserveCounter(2).Token);
    }

    // A start that cannot open or prepare the file fails with one line naming
    // the file and the reason, closes the connection, and leaves the place as
    // it was: what existed is untouched, what the start made is removed.
    void startFailures_data()
    {
        QTest::addColumn<QString>("place");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not a database") << "random"
                                        << "file is not a database";
        QTest::newRow("full disk") << "full"
                                   << "disk I/O error: File too large";
        QTest::newRow("no room for the journal") << "journal"
                                                 << "refusing %1-journal: it is not a regular file";
    }

    void startFailures()
    {
        QFETCH(QString, place);
        QFETCH(QString, reason);
        const string where = testsupport::MakeTempDirectory() + "/" + place.toStdString();
        const string databaseFile = where + "/velmora.db";
        if (place != "full") { // the start makes the directory, and must remove it
            mkdir(where.c_str(), 0700);
        }
        if (place == "random") {
            std::ofstream(databaseFile) << string(4096, '\x5a') << "random";
            chmod(databaseFile.c_str(), 0600); // else the start makes it private
        } else if (place == "journal") {
            mkdir((databaseFile + "-journal").c_str(), 0700); // nowhere to write one
        }
        const string fileBefore = State(databaseFile);
        const string placeBefore = State(where);
        {
            std::unique_ptr<NoFileGrowth> fullDisk(place == "full" ? new NoFileGrowth : nullptr);
            LocalDatabase db(where);
            fullDisk.reset();
            QVERIFY(!db.IsOpen());
            QCOMPARE(db.GetOpenError(), "cannot open the database " + databaseFile + ": " +
                                            QString(reason)
                                                .replace("%1", QString::fromStdString(databaseFile))
                                                .toStdString());
            QCOMPARE(Message<runtime_error>([&] { db.GetDefaultToken(); }),
                     string("executereader: connection is closed"));
        }
        QCOMPARE(State(databaseFile), fileBefore);
        QCOMPARE(State(where), placeBefore);
        QCOMPARE(State(databaseFile + "-journal"), string(place == "journal" ? "700:" : "absent"));
    }
};

QTEST_APPLESS_MAIN(TestLocalDatabase)
#include "tst_localdatabase.moc"
