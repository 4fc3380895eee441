// velmora-cli run as a user runs it, on a scratch home: its codes against
// oathtool's, its exit statuses, hostile inputs, and presses racing the
// window's press path for the same HOTP counter.
#include "support/RunProgram.h"
#include "support/ScratchHome.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QtTest>

namespace {

using testsupport::ProgramOutcome;
using testsupport::RunProgram;

const char Uris[] = "otpauth://hotp/Bank:bob?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ&counter=5\n"
                    "otpauth://totp/Example:alice?secret=JBSWY3DPEHPK3PXP&issuer=Example\n"
                    "otpauth://totp/Mail:carol?secret=ozswy3lpojqs223fpe%3D%3D%3D%3D%3D%3D"
                    "&digits=8&period=60\n"
                    "otpauth://totp/Wide:dave?secret=JBSWY3DPEHPK3PXP&algorithm=SHA256\n";

QStringList Oath(const QStringList& args)
{
    const ProgramOutcome outcome = RunProgram("oathtool", args);
    if (outcome.status != 0) {
        qFatal("oathtool %s: %s", qPrintable(args.join(' ')), qPrintable(outcome.err));
    }
    return outcome.out.split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QString dir = QString::fromStdString(testsupport::MakeTempDirectory());
    QString home = dir + "/home";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    QString Write(const QString& name, const QByteArray& bytes, int mode = 0600)
    {
        QFile file(dir + "/" + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            qFatal("cannot write %s", qPrintable(file.fileName()));
        }
        const QFile::Permissions own = QFile::ReadOwner | QFile::WriteOwner;
        file.setPermissions(mode == 0600 ? own : own | QFile::ReadGroup | QFile::ReadOther);
        return file.fileName();
    }

    ProgramOutcome Cli(QStringList args, const QString& pinFile = QString())
    {
        args << "--pin-file" << (pinFile.isEmpty() ? dir + "/pin" : pinFile);
        return RunProgram(VELMORA_CLI, args, environment);
    }

    QByteArray Store() const
    {
        QFile file(home + "/.velmora/velmora.db");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    // A store without a PIN takes the PIN file's; the import stores what the
    // model computes and refuses the rest with its reason.
    void initTestCase()
    {
        QDir().mkpath(home);
        testsupport::UseScratchHome(environment, home);
        Write("pin", "2468\n");
        QCOMPARE(Cli({"list"}).status, 0);
        const ProgramOutcome imported = Cli({"import", Write("uris", Uris)});
        QCOMPARE(imported.status, 3);
        QVERIFY(imported.out.contains("refused\tWide: dave") &&
                imported.out.contains("3 new stored, 0 already installed, 1 refused"));
        QVERIFY(Cli({"import", dir + "/uris"}).out.contains("0 new stored, 3 already installed"));
    }

    void codesMatchOathtool_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("oath"); // without the moving factor
        QTest::addColumn<int>("step");         // 0: event-based
        QTest::newRow("HOTP from its counter")
            << "bank" << QStringList{"GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ"} << 0;
        QTest::newRow("TOTP 30 s, 6 digits")
            << "Example:alice" << QStringList{"--totp", "JBSWY3DPEHPK3PXP"} << 30;
        QTest::newRow("TOTP 60 s, 8 digits, lower case, padded")
            << "3" << QStringList{"--totp", "-s", "60", "-d", "8", "OZSWY3LPOJQS223FPE======"}
            << 60;
    }

    void codesMatchOathtool()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, oath);
        QFETCH(int, step);
        for (int press = 0; press < 2; ++press) {
            const qint64 before = QDateTime::currentSecsSinceEpoch();
            const ProgramOutcome code = Cli({"code", query, "--json"});
            const qint64 after = QDateTime::currentSecsSinceEpoch();
            QVERIFY2(code.status == 0, qPrintable(code.err));
            const QJsonObject shown = QJsonDocument::fromJson(code.out.toUtf8()).object();
            QStringList expected;
            if (step == 0) {
                QCOMPARE(shown["counter"].toString(), QString::number(5 + press));
                expected = Oath(QStringList{"-c", QString::number(5 + press), "-b"} + oath);
            } else {
                QVERIFY(shown["seconds_left"].toInt() >= 1 &&
                        shown["seconds_left"].toInt() <= step);
                for (qint64 t = before; t <= after; ++t) {
                    expected += Oath(
                        QStringList{"--now",
                                    QDateTime::fromSecsSinceEpoch(t, Qt::UTC).toString(Qt::ISODate),
                                    "-b"} +
                        oath);
                }
            }
            QVERIFY2(expected.contains(shown["code"].toString()), qPrintable(code.out));
        }
    }

    // Never a key, and every state a script needs.
    void listsAsJson()
    {
        const ProgramOutcome listed = Cli({"list", "--json"});
        const QJsonArray tokens = QJsonDocument::fromJson(listed.out.toUtf8()).array();
        QCOMPARE(tokens.size(), 3);
        QCOMPARE(tokens[0].toObject()["counter"].toString(), QString("7"));
        QCOMPARE(tokens[1].toObject()["period"].toInt(), 30);
        QCOMPARE(tokens[2].toObject()["digits"].toInt(), 8);
        QVERIFY(!listed.out.contains("JBSWY3") && !listed.out.contains("secret"));
    }

    // Each refusal has its status and one line, and changes nothing.
    void refusals_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("pin"); // the PIN file's name and content
        QTest::addColumn<int>("status");
        QTest::newRow("ambiguous") << QStringList{"code", "a"} << "" << 5;
        QTest::newRow("no match") << QStringList{"code", "nobody"} << "" << 3;
        QTest::newRow("wrong PIN") << QStringList{"code", "bank"} << "wrong" << 4;
        QTest::newRow("PIN file others may read") << QStringList{"list"} << "loose" << 3;
        QTest::newRow("PIN file a symlink") << QStringList{"list"} << "link" << 3;
        QTest::newRow("unknown option") << QStringList{"list", "--all"} << "" << 2;
        QTest::newRow("store others may change") << QStringList{"list"} << "open" << 1;
    }

    void refusals()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, pin);
        QFETCH(int, status);
        QString pinFile;
        if (pin == "link") {
            pinFile = dir + "/link";
            QFile::link(dir + "/pin", pinFile);
        } else if (!pin.isEmpty()) {
            pinFile =
                Write(pin, pin == "wrong" ? "1357\n" : "2468\n", pin == "loose" ? 0644 : 0600);
        }
        const QString data = home + "/.velmora";
        if (pin == "open") {
            QFile::setPermissions(data, QFile::permissions(data) | QFile::WriteOther);
        }
        const QByteArray before = Store();
        const ProgramOutcome outcome = Cli(args, pinFile);
        QFile::setPermissions(data, QFile::permissions(data) & ~QFile::WriteOther);
        QCOMPARE(outcome.status, status);
        QVERIFY2(outcome.err.startsWith("velmora-cli: ") && outcome.err.count('\n') == 1,
                 qPrintable(outcome.err));
        QCOMPARE(Store(), before);
    }

    void hostileInputChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("bad percent-encoding")
            << QByteArray("otpauth://totp/%zz?secret=JBSWY3DPEHPK3PXP\n");
        QTest::newRow("Base32 garbage") << QByteArray("otpauth://totp/x?secret=JB$W!1\n");
        QTest::newRow("truncated payload")
            << QByteArray("otpauth-migration://offline?data=CiBhYmM%3D\n");
        QTest::newRow("JSON of wrong types") << QByteArray(
            R"({"version":1,"header":{"slots":null,"params":null},"db":{"version":2,)"
            R"("entries":[{"type":"totp","name":7,"info":{"secret":[],"digits":"six"}}]}})");
        QTest::newRow("a megabyte of noise") << QByteArray(1 << 20, '\x9c');
        QTest::newRow("vault, wrong password") << QByteArray();
    }

    void hostileInputChangesNothing()
    {
        QFETCH(QByteArray, input);
        QString file = Write("hostile", input);
        QStringList args{"import", file};
        if (input.isEmpty()) {
            file = dir + "/vault";
            QCOMPARE(Cli({"export", "--format", "vault", "--output", file, "--password-file",
                          Write("password", "right\n")})
                         .status,
                     0);
            args = QStringList{"import", file, "--password-file", Write("wrong", "wrong\n")};
        }
        const QByteArray before = Store();
        QCOMPARE(Cli(args).status, 3);
        QCOMPARE(Store(), before);
    }

    // The window's press path (the driver) and velmora-cli press the same
    // HOTP token at once: every counter goes out once, with its own code.
    // The driver pauses as a hand would: a writer that never pauses can keep
    // a starting reader out beyond the busy timeout (status 1, nothing lost).
    void racingPressesNeverRepeat()
    {
        const int counter = QJsonDocument::fromJson(Cli({"list", "--json"}).out.toUtf8())
                                .array()[0]
                                .toObject()["counter"]
                                .toString()
                                .toInt();
        QProcess window;
        window.start(VELMORA_DRIVER, {home + "/.velmora", "press", "1", "300", "15"});
        QVERIFY(window.waitForStarted());
        QMap<int, QString> shown;
        bool duplicate = false;
        for (int press = 0; press < 150; ++press) {
            const ProgramOutcome pressed = Cli({"code", "1", "--json"});
            QVERIFY2(pressed.status == 0, qPrintable(pressed.err));
            const QJsonObject code = QJsonDocument::fromJson(pressed.out.toUtf8()).object();
            duplicate |= shown.contains(code["counter"].toString().toInt());
            shown[code["counter"].toString().toInt()] = code["code"].toString();
        }
        QVERIFY(window.waitForFinished(60000) && window.exitCode() == 0);
        for (const QByteArray& line : window.readAllStandardOutput().split('\n')) {
            if (!line.isEmpty()) {
                duplicate |= shown.contains(line.split(' ')[0].toInt());
                shown[line.split(' ')[0].toInt()] = line.split(' ')[1];
            }
        }
        QVERIFY(!duplicate);
        QCOMPARE(shown.size(), 450);
        QCOMPARE(shown.firstKey(), counter);
        QCOMPARE(shown.lastKey(), counter + 449);
        const QStringList expected = Oath({"-c", QString::number(counter), "-w", "449", "-b",
                                           "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ"});
        QCOMPARE(QStringList(shown.values()), expected);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
