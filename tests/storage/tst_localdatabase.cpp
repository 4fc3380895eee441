#include "otp/OtpToken.h"
#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"

#include "StorageTestTools.h"

#include <QFile>
#include <QTest>

#include <csignal>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include <sys/resource.h>
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

// The file's bytes, or "(absent)".
string Content(const string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "(absent)";
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// While it lives, no file of this process can grow: a write that would extend
// one fails as on a full disk. Reads still work.
class NoFileGrowth
{
public:
    NoFileGrowth()
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit none = saved;
        none.rlim_cur = 0;
        setrlimit(RLIMIT_FSIZE, &none);
    }
    NoFileGrowth(const NoFileGrowth&) = delete;
    NoFileGrowth& operator=(const NoFileGrowth&) = delete;
    ~NoFileGrowth() { setrlimit(RLIMIT_FSIZE, &saved); }

private:
    rlimit saved{};
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
    token->Name = "hotp";
    token->SetOtpKey(reinterpret_cast<const std::uint8_t*>("12345678901234567890"), 20);
    token->Counter = counter;
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

// "AAEC,AAEC,1234567" protected, with a byte of its last block changed: the
// blocks before it still decrypt to "AAEC,AAEC,123456".
QByteArray DamagedLastBlock()
{
    const LocalDatabase db(testsupport::MakeTempDirectory());
    std::uint8_t cipher[24];
    LocalDatabase::Base64Decode(db.Encrypt("AAEC,AAEC,1234567").substr(4), cipher, 24);
    cipher[23] ^= 0x01;
    return QByteArray::fromStdString("enc:" + LocalDatabase::Base64Encode(cipher, 24));
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

    // Every row of tblToken as SQL text, each value quoted as stored.
    string Dump()
    {
        return RunTool("sqlite3", {QString::fromStdString(file), ".dump tblToken"}).toStdString();
    }

private slots:
    void init()
    {
        directory = testsupport::MakeTempDirectory() + "/data";
        file = directory + "/velmora.db";
    }

    void firstAndSecondStart()
    {
        // Owner only, whatever the umask: the directory, the file and the
        // journal, which SQLite gives the database file's mode.
        const mode_t umaskBefore = umask(0);
        {
            LocalDatabase db(directory);
            QCOMPARE(Mode(directory), 0700);
            QCOMPARE(Mode(file), 0600);
            QVERIFY(!db.IsPinSet());
            QVERIFY(db.SetPin("2468"));
            CDbConnection other;
            other.open(file.c_str());
            other.executenonquery("begin immediate");
            other.executenonquery("insert into tblSystem (Name) values ('x')");
            QCOMPARE(Mode(file + "-journal"), 0600);
            other.executenonquery("rollback");
        }
        umask(umaskBefore);
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
        QVERIFY(db.DeleteToken(id));
        QCOMPARE(db.GetDefaultToken(), 0);
        QVERIFY(db.GetAllTokens().empty());

        // Installing always inserts: another client's row of ID 0 stays its own.
        Query("insert into tblToken (ID, Name) values (0, 'zero')");
        QVERIFY(db.SaveToken(first));
        QCOMPARE(Query("select group_concat(Name) from tblToken"), string("zero,first3"));
        // All or nothing: when the selection cannot be stored, no row stays
        // behind to be duplicated by a retry.
        Query("alter table tblSystem rename to tblAside");
        QCOMPARE(Message<runtime_error>([&] { db.SaveToken(first); }),
                 string("executereader: no such table: tblSystem"));
        Query("alter table tblAside rename to tblSystem");
        // Past the last 32-bit ID, a new row takes the first free one.
        Query("update sqlite_sequence set seq=2147483647");
        QVERIFY(db.SaveToken(first));
        QCOMPARE(Query("select group_concat(ID) from tblToken"), string("0,1,3"));
        QCOMPARE(db.GetDefaultToken(), 1);
    }

    // Texts that must round-trip byte for byte through the token table and the
    // settings, never touching another row; a zero byte is refused.
    void hostileTexts_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("quotes, percent, SQL") << QByteArray(Hostile);
        QTest::newRow("1 MiB") << QByteArray(1 << 20, '\'');
        QTest::newRow("not UTF-8") << QByteArray("\xff\xfe\xc3\x28\x80\xed\xa0\x80");
        QTest::newRow("control characters") << QByteArray("\x01\x1b[31m\r\n\t\x7f\b");
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
            QCOMPARE(db.SetStringValue(value, value + "'v"), 1);
            QCOMPARE(db.SetIntValue(value, 42), 1);
            QCOMPARE(db.GetStringValue(value), value + "'v");
            QCOMPARE(db.GetIntValue(value), 42);
        }
        QCOMPARE(Stored(*db.GetToken(1), 1), Stored(*neighbour, 1));
        QVERIFY(db.CheckPin("1234"));
        QCOMPARE(Query("select count(*) from sqlite_master"), string("4")); // with sqlite_sequence
    }

    // Rows another client wrote or damaged. Each costs only itself: it is read
    // without an error, listed (unless its ID cannot be addressed), computes no
    // code, and a press writes nothing to it; the other token is untouched.
    void damagedRows_data()
    {
        QTest::addColumn<QByteArray>("assignment");
        QTest::addColumn<int>("otpLength");
        QTest::addColumn<quint64>("counter");
        QTest::addColumn<bool>("listed");
        QTest::newRow("plain Credential, largest values")
            << "Credential='AAEC," + QByteArray(128, 'k').toBase64() + ",18446744073709551615'"
            << 128 << quint64(18446744073709551615ull) << true;
        QTest::newRow("key too long")
            << "Credential='AAEC," + QByteArray(129, 'k').toBase64() + ",7'" << 0 << quint64(0)
            << true;
        QTest::newRow("two parts") << QByteArray("Credential='AAEC,7'") << 0 << quint64(0) << true;
        QTest::newRow("counter +5")
            << QByteArray("Credential='AAEC,AAEC,+5'") << 0 << quint64(0) << true;
        QTest::newRow("counter 12a")
            << QByteArray("Credential='AAEC,AAEC,12a'") << 0 << quint64(0) << true;
        QTest::newRow("last block damaged")
            << "Credential='" + DamagedLastBlock() + "'" << 0 << quint64(0) << true;
        QTest::newRow("no Credential") << QByteArray("Credential=NULL") << 0 << quint64(0) << true;
        QTest::newRow("text in Digits") << QByteArray("Digits='six'") << 0 << quint64(0) << true;
        QTest::newRow("Timer beyond 32 bits")
            << QByteArray("Timer=4294967356") << 0 << quint64(0) << true;
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
        QFETCH(int, otpLength);
        QFETCH(quint64, counter);
        QFETCH(bool, listed);
        LocalDatabase db(directory);
        const COtpTokenPtr neighbour = HotpToken(1);
        QVERIFY(db.SaveToken(neighbour));
        QVERIFY(db.SaveToken(HotpToken(5)));
        Query("update tblToken set %s where ID=2", assignment.constData());
        const string before = Dump();

        std::vector<int> listedIds, readIds;
        for (const TokenListing& listing : db.ListTokens()) {
            listedIds.push_back(listing.ID);
        }
        for (const COtpTokenPtr& read : db.GetAllTokens()) {
            readIds.push_back(read->ID);
        }
        QCOMPARE(listedIds, listed ? std::vector<int>({1, 2}) : std::vector<int>({1}));
        QCOMPARE(readIds, listedIds);
        const COtpTokenPtr token = db.GetToken(2);
        QCOMPARE(bool(token), listed);
        if (token) {
            QCOMPARE(token->OtpKeyLength, otpLength);
            QCOMPARE(quint64(token->Counter), counter);
            QVERIFY(!token->GetUnusableReason().empty());
            QCOMPARE(db.ReserveCounter(2)->Counter, token->Counter);
        }
        QCOMPARE(db.GetDefaultToken(), listed ? 2 : 1);
        QCOMPARE(Dump(), before);
        QCOMPARE(Stored(*db.GetToken(1), 1), Stored(*neighbour, 1));
    }

    void pressesReserveCounters()
    {
        LocalDatabase first(directory);
        LocalDatabase second(directory);
        first.SaveToken(HotpToken(7));
        // What another client keeps in the other columns survives every press.
        Query("update tblToken set Name=CAST(X'610062' AS TEXT), TokenID=X'00ff', "
              "Status=-7, Sleep=2147483647, LastSync='2020-01-01'");
        const std::regex credential("'enc:[^']*'");
        const string others = std::regex_replace(Dump(), credential, "");
        for (std::uint64_t expected = 7; expected < 11; ++expected) {
            LocalDatabase& db = expected % 2 == 0 ? second : first;
            QCOMPARE(db.ReserveCounter(1)->Counter, expected);
            QCOMPARE(first.GetToken(1)->Counter, expected + 1);
        }
        QCOMPARE(std::regex_replace(Dump(), credential, ""), others);
        QVERIFY(!first.ReserveCounter(2));

        // A brief lock of another connection is waited out...
        std::promise<void> locked;
        std::thread holder([this, &locked] {
            CDbConnection other;
            other.open(file.c_str());
            other.executenonquery("begin exclusive");
            locked.set_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            other.executenonquery("rollback");
        });
        locked.get_future().wait();
        QCOMPARE(first.ReserveCounter(1)->Counter, std::uint64_t(11));
        holder.join();
        // ...one that outlasts the busy timeout fails the press, which then
        // consumes no counter.
        CDbConnection other;
        other.open(file.c_str());
        other.executenonquery("begin exclusive");
        QCOMPARE(Message<runtime_error>([&] { first.ReserveCounter(1); }),
                 string("database is locked"));
        other.executenonquery("rollback");
        QCOMPARE(second.ReserveCounter(1)->Counter, std::uint64_t(12));
    }

    // A start that cannot open or prepare the file fails with one line naming
    // the file and the reason, closes the connection, and leaves the place as
    // it was: what existed is untouched, what the start made is removed.
    void startFailures()
    {
        const string base = testsupport::MakeTempDirectory();
        std::ofstream(base + "/file") << "x";
        struct Case
        {
            string place;
            string reason;
            std::function<void(const string& databaseFile)> prepare;
        };
        const auto noPreparation = [](const string&) {};
        const auto makePlace = [](const string& place) { return mkdir(place.c_str(), 0700); };
        std::unique_ptr<CDbConnection> lock;
        std::unique_ptr<NoFileGrowth> fullDisk;
        const Case cases[] = {
            {base + "/file/data",
             "cannot create the directory " + base + "/file/data: Not a directory", noPreparation},
            {base + "/file", "cannot open the file: Not a directory", noPreparation},
            {base + "/random", "file is not a database",
             [&](const string& databaseFile) {
                 makePlace(base + "/random");
                 std::ofstream(databaseFile) << string(4096, '\x5a') << "random";
             }},
            {base + "/truncated", "database disk image is malformed",
             [&](const string& databaseFile) {
                 {
                     LocalDatabase full(base + "/truncated");
                     for (int i = 0; i < 20; ++i) {
                         full.SaveToken(MakeToken(string(500, 'x'), i));
                     }
                 }
                 QVERIFY(truncate(databaseFile.c_str(), 5000) == 0);
             }},
            {base + "/locked", "database is locked",
             [&](const string& databaseFile) {
                 {
                     LocalDatabase earlier(base + "/locked");
                 }
                 lock = std::make_unique<CDbConnection>();
                 lock->open(databaseFile.c_str());
                 lock->executenonquery("begin exclusive");
             }},
            {base + "/full/data", "disk I/O error",
             [&](const string&) {
                 makePlace(base + "/full");
                 fullDisk = std::make_unique<NoFileGrowth>();
             }},
            {base + "/journal", "unable to open database file",
             [&](const string& databaseFile) {
                 makePlace(base + "/journal");
                 makePlace(databaseFile + "-journal"); // nowhere to write one
             }},
        };
        for (const Case& c : cases) {
            const string databaseFile = c.place + "/velmora.db";
            c.prepare(databaseFile);
            const string contentBefore = Content(databaseFile);
            const int placeBefore = Mode(c.place);
            {
                LocalDatabase db(c.place);
                fullDisk.reset();
                lock.reset();
                QVERIFY(!db.IsOpen());
                QCOMPARE(db.GetOpenError(),
                         "cannot open the database " + databaseFile + ": " + c.reason);
                QCOMPARE(Message<runtime_error>([&] { db.GetDefaultToken(); }),
                         string("executereader: connection is closed"));
            }
            QCOMPARE(Content(databaseFile), contentBefore);
            QCOMPARE(Mode(c.place), placeBefore);
        }
        QCOMPARE(Mode(base + "/journal/velmora.db-journal"), 0700);
    }
};

QTEST_APPLESS_MAIN(TestLocalDatabase)
#include "tst_localdatabase.moc"
