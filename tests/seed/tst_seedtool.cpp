// velmora-seed run as a user runs it. The key material it prints for a new
// token must give, in oathtool, the codes the engine computes for a token
// installed from the seed it prints.
#include "otp/Clock.h"
#include "otp/OtpToken.h"
#include "support/RunProgram.h"

#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

using testsupport::ProgramOutcome;
using testsupport::RunProgram;

ProgramOutcome Tool(const QStringList& args)
{
    return RunProgram(QStringLiteral(VELMORA_SEED_TOOL), args);
}

// The "name: value" lines the tool prints.
QMap<QString, QString> Fields(const QString& output)
{
    QMap<QString, QString> fields;
    for (const QString& line : output.split('\n', Qt::SkipEmptyParts)) {
        const qsizetype colon = line.indexOf(':');
        // The first line of a name that comes twice (note).
        if (!fields.contains(line.left(colon))) {
            fields.insert(line.left(colon), line.mid(colon + 1).trimmed());
        }
    }
    return fields;
}

// The first code oathtool prints.
QString OathCode(const QStringList& args)
{
    const ProgramOutcome outcome = RunProgram(QStringLiteral("oathtool"), args);
    if (outcome.status != 0) {
        qFatal("oathtool %s: %s", qPrintable(args.join(' ')), qPrintable(outcome.err));
    }
    return outcome.out.split('\n').value(0);
}

} // namespace

class TestSeedTool : public QObject
{
    Q_OBJECT

    QSet<QString> keyTexts;

private slots:
    void cleanup() { OtpClock::SetSource({}); }

    // step 0: counter-driven, compared over the counters 1 to 5; otherwise
    // time-driven with that step, compared at fixed times.
    void newTokenMatchesOathtool_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("digits");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("uriTail");
        // clang-format off
        QTest::newRow("hotp, defaults") << QStringList{} << "HOTP" << 6 << 0 << "digits=6&counter=1";
        QTest::newRow("hotp 8, two-way") << QStringList{"--type", "hotp", "--digits", "8", "--two-way", "--sleep", "30", "--sync", "5"} << "HOTP" << 8 << 0 << "digits=8&counter=1";
        QTest::newRow("cb 7") << QStringList{"--type", "cb", "--digits=7", "--timer", "240"} << "CB" << 7 << 0 << "digits=7&counter=1";
        QTest::newRow("totp, defaults") << QStringList{"--type", "totp"} << "TOTP" << 6 << 60 << "digits=6&period=60";
        QTest::newRow("totp 240, 8") << QStringList{"--type=totp", "--timer", "240", "--digits", "8"} << "TOTP" << 8 << 240 << "digits=8&period=240";
        QTest::newRow("tb 180: half steps") << QStringList{"--type", "tb", "--timer", "180", "--digits", "7"} << "TB" << 7 << 90 << "digits=7&period=90";
        QTest::newRow("totp, two-way") << QStringList{"--type", "totp", "--two-way"} << "TOTP" << 6 << 60 << "digits=6&period=60";
        // clang-format on
    }

    void newTokenMatchesOathtool()
    {
        QFETCH(QStringList, options);
        QFETCH(int, digits);
        QFETCH(int, step);
        QFETCH(QString, uriTail);
        const ProgramOutcome outcome = Tool(QStringList{"new", "--serial", "12345678"} + options);
        QCOMPARE(outcome.status, 0);
        QVERIFY2(outcome.err.isEmpty(), qPrintable(outcome.err));
        const QMap<QString, QString> fields = Fields(outcome.out);
        const QString seed = fields.value("seed");
        QVERIFY2(QRegularExpression("^[0-9]{18}$").match(seed).hasMatch(), qPrintable(seed));
        QVERIFY2(!keyTexts.contains(seed.mid(7, 10)), "a key text came twice");
        keyTexts.insert(seed.mid(7, 10));
        QTEST(fields.value("type"), "type");

        const COtpTokenPtr token = COtpToken::Create("N", "12345678", qPrintable(seed));
        QVERIFY(token);
        // oathtool's code for the i-th press or time, of the key in hex or Base32.
        const qint64 times[] = {0, 89, 1111111109, 2000000000, 20000000000};
        const auto oath = [&](int i, const QStringList& key) {
            return OathCode((step == 0 ? QStringList{"--hotp", "-c", QString::number(i + 1)}
                                       : QStringList{"--totp", "-s", QString::number(step), "-N",
                                                     "@" + QString::number(times[i])}) +
                            QStringList{"-d", QString::number(digits)} + key);
        };
        // A two-way token's second code comes from the second key printed.
        QCOMPARE(fields.contains("two-way-key-hex"), options.contains("--two-way"));
        QStringList engine;
        QStringList expected;
        for (int i = 0; i < 5; ++i) {
            OtpClock::SetSource([now = times[i]] { return now; });
            const OtpPair codes = token->GetOtp();
            engine << QString::fromStdString(codes.first);
            expected << oath(i, {fields.value("key-hex")});
            if (token->TwoWay) {
                engine << QString::fromStdString(codes.second);
                expected << oath(i, {fields.value("two-way-key-hex")});
            }
        }
        QCOMPARE(engine, expected);
        const auto uri = [&](const QString& base32) {
            return QString("otpauth://%1/12345678?secret=%2&algorithm=SHA1&%3")
                .arg(step == 0 ? "hotp" : "totp", base32, uriTail);
        };
        QCOMPARE(oath(1, {"-b", fields.value("key-base32")}), engine[token->TwoWay ? 2 : 1]);
        QCOMPARE(fields.value("otpauth-uri"), uri(fields.value("key-base32")));
        if (token->TwoWay) {
            QCOMPARE(fields.value("two-way-uri"), uri(fields.value("two-way-key-base32")));
        }
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QStringList newSeed{"new", "--serial", "12345678"};
        const QStringList check{"check", "--serial", "12345678"};
        // clang-format off
        QTest::newRow("digits 4") << newSeed + QStringList{"--digits", "4"} << 1 << "5 to 12 digits, not 4";
        QTest::newRow("digits 13") << newSeed + QStringList{"--digits", "13"} << 1 << "5 to 12 digits, not 13";
        QTest::newRow("digits not a number") << newSeed + QStringList{"--digits", "6x"} << 1 << "whole number";
        QTest::newRow("timer 90") << newSeed + QStringList{"--timer", "90"} << 1 << "60, 120, 180 or 240 seconds, not 90";
        QTest::newRow("timer 300") << newSeed + QStringList{"--timer=300"} << 1 << "not 300";
        QTest::newRow("sleep 20") << newSeed + QStringList{"--sleep", "20"} << 1 << "5, 10, 15 or 30 seconds, not 20";
        QTest::newRow("sync 1") << newSeed + QStringList{"--sync", "1"} << 1 << "2 to 5, not 1";
        QTest::newRow("sync 6") << newSeed + QStringList{"--sync", "6"} << 1 << "2 to 5, not 6";
        QTest::newRow("type sha1") << newSeed + QStringList{"--type", "sha1"} << 1 << "unknown token type";
        QTest::newRow("serial with a letter") << QStringList{"new", "--serial", "12A4"} << 1 << "digits only";
        QTest::newRow("negative serial") << QStringList{"new", "--serial", "-5"} << 1 << "digits only";
        QTest::newRow("serial above 2^31-1") << QStringList{"new", "--serial", "2147483648"} << 1 << "above 2147483647";
        QTest::newRow("no serial") << QStringList{"new"} << 2 << "--serial is required";
        QTest::newRow("unknown option") << newSeed + QStringList{"--hash", "sha256"} << 2 << "unknown option --hash";
        QTest::newRow("switch with a value") << newSeed + QStringList{"--checksum=yes"} << 2 << "takes no value";
        QTest::newRow("no command") << QStringList{} << 2 << "no command";
        QTest::newRow("seed of another serial") << QStringList{"check", "--serial", "12345679", "1200000ABCDEFGHIJ6"} << 1 << "not for serial 12345679";
        QTest::newRow("mistyped seed") << check + QStringList{"1200000ABCDEFGHIJ7"} << 1 << "check digit does not match";
        QTest::newRow("18 blanks") << check + QStringList{"                  "} << 1 << "character 1 of the seed (\" \") is not a digit";
        QTest::newRow("17 characters") << check + QStringList{"12000000123456789"} << 1 << "has 17 characters";
        QTest::newRow("version 2") << check + QStringList{"220000001234567891"} << 1 << "version 2";
        QTest::newRow("two seeds") << check + QStringList{"1200000ABCDEFGHIJ6", "1200000ABCDEFGHIJ6"} << 2 << "exactly one seed";
        QTest::newRow("--version with more") << QStringList{"--version", "new"} << 2 << "unknown command";
        // Output that never arrives must not pass for a seed handed out.
        QTest::newRow("new, output lost") << QStringList{">/dev/full"} + newSeed << 1 << "cannot write the output: No space left on device";
        QTest::newRow("help, output lost") << QStringList{">/dev/full", "--help"} << 1 << "cannot write the output";
        // clang-format on
    }

    void refusals()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const ProgramOutcome outcome =
            args.value(0) != ">/dev/full"
                ? Tool(args)
                : RunProgram("sh",
                             QStringList{"-c", "exec \"$0\" \"$@\" >/dev/full", VELMORA_SEED_TOOL} +
                                 args.mid(1));
        QTEST(outcome.status, "status");
        QVERIFY2(outcome.err.startsWith("velmora-seed: ") && outcome.err.contains(message),
                 qPrintable(outcome.err));
        QCOMPARE(outcome.out, QString());
    }

    void version()
    {
        const ProgramOutcome outcome = Tool({"--version"});
        QCOMPARE(outcome.status, 0);
        QVERIFY2(
            QRegularExpression("^velmora-seed [0-9]+(\\.[0-9]+)+\n$").match(outcome.out).hasMatch(),
            qPrintable(outcome.out + outcome.err));
    }

    // Keys: SHA-1 of the key text, from sha1sum.
    void check_data()
    {
        QTest::addColumn<QString>("seed");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("note"); // in the first note line; "": no note
        const QString abc = "9f67efc6afa95f1aef9b3351d6b01d7e0591b748";
        const QString digits = "87acec17cd9dcd20a716cc2cf67417b71c8a7016";
        // clang-format off
        QTest::newRow("demo seed") << "1200000ABCDEFGHIJ6" << "HOTP 5 no no 60 5 2 " + abc + " otpauth://hotp/12345678?secret=T5T67RVPVFPRV343GNI5NMA5PYCZDN2I&algorithm=SHA1&digits=5&counter=1" << "";
        // TB codes change every half Timer: the URI's period is that step.
        QTest::newRow("TB, version 0") << "020000101234567893" << "TB 5 no no 60 5 2 " + digits + " otpauth://totp/12345678?secret=Q6WOYF6NTXGSBJYWZQWPM5AXW4OIU4AW&algorithm=SHA1&digits=5&period=30" << "";
        QTest::newRow("CT, every flag") << "121638301234567895" << "CT 12 yes yes 240 30 5 " + digits + " " << "servers cannot verify its codes";
        QTest::newRow("CR") << "120000201234567899" << "CR 5 no no 60 5 2 " + digits + " " << "answers challenges only";
        // clang-format on
    }

    void check()
    {
        QFETCH(QString, seed);
        const ProgramOutcome outcome = Tool({"check", "--serial", "12345678", seed});
        QCOMPARE(outcome.status, 0);
        const QMap<QString, QString> f = Fields(outcome.out);
        QCOMPARE(f.value("seed"), seed);
        QTEST(QStringList({f.value("type"), f.value("digits"), f.value("check-digit"),
                           f.value("two-way"), f.value("timer"), f.value("sleep"),
                           f.value("sync-size"), f.value("key-hex"), f.value("otpauth-uri")})
                  .join(' '),
              "fields");
        QFETCH(QString, note);
        QVERIFY2(note.isEmpty() ? !f.contains("note") : f.value("note").contains(note),
                 qPrintable(f.value("note")));
    }
};

QTEST_GUILESS_MAIN(TestSeedTool)
#include "tst_seedtool.moc"
