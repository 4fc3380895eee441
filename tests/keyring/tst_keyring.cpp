// Keyring protection on a real Secret Service (gnome-keyring in a session bus
// of its own, started by the test's command), driven through velmora-cli as
// a user would; and hostile keyring values against the storage layer.
#include "support/FileKeyProvider.h"
#include "support/RunProgram.h"
#include "support/ScratchHome.h"

#include "storage/LocalDatabase.h"

#include <QDateTime>
#include <QFile>
#include <QtTest>

#include <sqlite3.h>

using testsupport::ProgramOutcome;
using testsupport::RunProgram;

namespace {

// The values of one statement's first column, one per row.
QStringList Column(const QString& file, const char* statement)
{
    sqlite3* db = nullptr;
    QStringList values;
    sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(db, statement, -1, &query, nullptr) == SQLITE_OK) {
        while (sqlite3_step(query) == SQLITE_ROW) {
            values << QString::fromUtf8(
                reinterpret_cast<const char*>(sqlite3_column_text(query, 0)));
        }
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    return values;
}

QString Oath(const QStringList& args)
{
    return RunProgram("oathtool", args).out.trimmed();
}

const char Secrets[] = "select Credential from tblToken union all "
                       "select StringValue from tblSystem where Name='PIN'";

} // namespace

class TestKeyring : public QObject
{
    Q_OBJECT

    QString dir = QString::fromStdString(testsupport::MakeTempDirectory());
    QString home = dir + "/home";
    QString file = home + "/.velmora/velmora.db";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    int counter = 5;

    ProgramOutcome Cli(QStringList args, const QProcessEnvironment& env)
    {
        return RunProgram(VELMORA_CLI, args << "--pin-file" << dir + "/pin", env);
    }
    ProgramOutcome Cli(const QStringList& args) { return Cli(args, environment); }

    // The HOTP token's next code and the TOTP token's current one, as oathtool has them.
    void CheckCodes()
    {
        const ProgramOutcome hotp = Cli({"code", "bank"});
        QVERIFY2(hotp.status == 0, qPrintable(hotp.err));
        QCOMPARE(hotp.out.trimmed(), Oath({"-b", "-c", QString::number(counter++),
                                           "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ"}));
        const QString now = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
        const ProgramOutcome totp = Cli({"code", "alice"});
        QVERIFY(totp.out.startsWith(Oath({"-b", "--totp", "--now", now, "JBSWY3DPEHPK3PXP"})) ||
                QDateTime::currentDateTimeUtc().toSecsSinceEpoch() % 30 == 0);
    }

private slots:
    void initTestCase()
    {
        QDir().mkpath(home);
        testsupport::UseScratchHome(environment, home);
        QFile pin(dir + "/pin");
        QVERIFY(pin.open(QIODevice::WriteOnly) && pin.write("2468\n") == 5);
        pin.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        pin.close();
        QFile uris(dir + "/uris");
        QVERIFY(uris.open(QIODevice::WriteOnly));
        uris.write("otpauth://hotp/Bank:bob?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ&counter=5\n"
                   "otpauth://totp/Example:alice?secret=JBSWY3DPEHPK3PXP&issuer=Example\n");
        uris.close();
        const ProgramOutcome imported = Cli({"import", dir + "/uris"});
        QVERIFY2(imported.status == 0, qPrintable(imported.err));
    }

    void journey()
    {
        if (qEnvironmentVariableIsEmpty("VELMORA_SECRET_SERVICE")) {
            QSKIP("no Secret Service: dbus-run-session and gnome-keyring-daemon are needed");
        }
        CheckCodes();
        const ProgramOutcome on = Cli({"protect", "keyring"});
        QVERIFY2(on.status == 0, qPrintable(on.err));
        for (const QString& value : Column(file, Secrets)) {
            QVERIFY2(value.startsWith("kr1:"), qPrintable(value));
        }
        {
            // The file alone, with the fixed key: no token, no PIN.
            LocalDatabase alone(QFile::encodeName(home + "/.velmora").toStdString());
            for (const COtpTokenPtr& token : alone.GetAllTokens()) {
                QCOMPARE(token->GetUnusableReason(), std::string("its secret cannot be read"));
            }
            QVERIFY(!alone.CheckPin("2468"));
        }
        CheckCodes();
        CheckCodes(); // each run a new start

        // Without the keyring: one clear line, the file byte for byte as it was.
        QFile db(file);
        QVERIFY(db.open(QIODevice::ReadOnly));
        const QByteArray before = db.readAll();
        db.close();
        QProcessEnvironment gone = environment;
        gone.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir + "/no-bus");
        const ProgramOutcome refused = Cli({"code", "bank"}, gone);
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.err.contains("from the desktop keyring") &&
                     refused.err.contains("was left untouched") && refused.err.count('\n') == 1,
                 qPrintable(refused.err));
        QVERIFY(db.open(QIODevice::ReadOnly));
        QCOMPARE(db.readAll(), before);

        const ProgramOutcome off = Cli({"protect", "file"});
        QVERIFY2(off.status == 0, qPrintable(off.err));
        for (const QString& value : Column(file, Secrets)) {
            QVERIFY2(value.startsWith("enc:"), qPrintable(value));
        }
        QVERIFY(Column(file, "select Name from tblSystem where Name='KeyringStore'").isEmpty());
        CheckCodes();
    }

    // Damaged keyring values cost only their own token, with its reason.
    void hostileRows_data()
    {
        QTest::addColumn<QString>("tamper");
        QTest::newRow("wrong tag")
            << "update tblToken set Credential=substr(Credential,1,length(Credential)-3)||"
               "(case when substr(Credential,-3,1)='A' then 'B' else 'A' end)||"
               "substr(Credential,-2) where ID=2";
        QTest::newRow("short body")
            << "update tblToken set Credential='kr1:AAAAAAAAAAAA' where ID=2";
        QTest::newRow("swapped row") << "update tblToken set Credential=(select Credential from "
                                        "tblToken where ID=1) where ID=2";
        QTest::newRow("file form in keyring mode")
            << "update tblToken set Credential='enc:srd83Cc3XrIr+acSGGTPMY3H/wEnSe9t9t/t60w2DSw=' "
               "where ID=2";
    }

    void hostileRows()
    {
        QFETCH(QString, tamper);
        const std::string place = testsupport::MakeTempDirectory();
        testsupport::CFileKeyProvider keys(place);
        {
            LocalDatabase store(place);
            store.SetStoreKeyProvider(&keys);
            QVERIFY(store.SetPin("2468"));
            QCOMPARE(store.SetProtection(LocalDatabase::Protection::Keyring, "2468"),
                     LocalDatabase::ProtectionChange::Done);
            // Rows made in keyring mode: each value bound to the row's new ID.
            for (const char* name : {"A", "B", "C"}) {
                const COtpTokenPtr token = std::make_shared<COtpToken>();
                token->Name = name;
                token->TokenType = 5;
                token->SetOtpKey(reinterpret_cast<const std::uint8_t*>("12345678901234567890"), 20);
                store.SaveToken(token);
            }
        }
        Column(QString::fromStdString(place) + "/velmora.db", tamper.toUtf8().constData());
        LocalDatabase store(place);
        store.SetStoreKeyProvider(&keys);
        store.LoadStoreKey();
        QVERIFY(store.CheckPin("2468"));
        QCOMPARE(store.GetToken(2)->GetUnusableReason(), std::string("its secret cannot be read"));
        QVERIFY(store.GetToken(1)->GetUnusableReason().empty());
        QVERIFY(store.GetToken(3)->GetUnusableReason().empty());
        QVERIFY(!store.ReserveCounter(2).Counter); // never written back
        // A lock forgets the key: nothing opens until it is read again.
        store.ForgetStoreKey();
        QVERIFY(!store.GetMissingStoreKeyId().empty());
        QVERIFY(!store.GetToken(1)->GetUnusableReason().empty());
        store.LoadStoreKey();
        QVERIFY(store.GetToken(1)->GetUnusableReason().empty());
    }

    // A large import by a program that last saw the store in file mode, after
    // another switched it to the keyring: every value goes in the keyring's
    // form, bound to its row.
    void batchAfterASwitch()
    {
        const std::string place = testsupport::MakeTempDirectory();
        testsupport::CFileKeyProvider keys(place);
        LocalDatabase stale(place);
        {
            LocalDatabase other(place);
            other.SetStoreKeyProvider(&keys);
            QVERIFY(other.SetPin("2468"));
            QCOMPARE(other.SetProtection(LocalDatabase::Protection::Keyring, "2468"),
                     LocalDatabase::ProtectionChange::Done);
        }
        const QString db = QString::fromStdString(place) + "/velmora.db";
        const std::string id =
            Column(db, "select StringValue from tblSystem where Name='KeyringStore'")
                .value(0)
                .toStdString();
        stale.SetStoreKey(id, keys.ReadKey(id)); // the mode itself not read again yet
        std::vector<COtpTokenPtr> batch;
        for (int i = 0; i < 100; ++i) {
            const COtpTokenPtr token = std::make_shared<COtpToken>();
            token->Name = "T" + std::to_string(i);
            token->TokenType = 5;
            token->SetOtpKey(reinterpret_cast<const std::uint8_t*>("12345678901234567890"), 20);
            batch.push_back(token);
        }
        stale.InstallTokens(batch);
        for (const QString& value : Column(db, "select Credential from tblToken")) {
            QVERIFY2(value.startsWith("kr1:"), qPrintable(value));
        }
        LocalDatabase fresh(place);
        fresh.SetStoreKeyProvider(&keys);
        fresh.LoadStoreKey();
        const std::vector<COtpTokenPtr> stored = fresh.GetAllTokens();
        QCOMPARE(stored.size(), batch.size());
        for (const COtpTokenPtr& token : stored) {
            QVERIFY2(token->GetUnusableReason().empty(), token->Name.c_str());
        }
    }
};

QTEST_GUILESS_MAIN(TestKeyring)
#include "tst_keyring.moc"
