#include "interop/Interchange.h"

#include "otp/Clock.h"
#include "support/TempDirectory.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>

// Imports and exports, checked against codes `oathtool` computes and against
// fixtures written independently (tests/data/interop/make_fixtures.py: the
// migration payload's protobuf by hand, the vaults with python's scrypt and
// AES-GCM, the QR images with qrencode).

namespace {

constexpr std::int64_t Now = 1111111109; // an RFC 6238 test time
const char* const RfcKeyHex = "3132333435363738393031323334353637383930";

QByteArray Fixture(const char* name)
{
    QFile file(QStringLiteral(VELMORA_TEST_DATA_DIR "/interop/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly)) {
        qFatal("cannot read the fixture %s", name);
    }
    return file.readAll();
}

std::string Text(const QByteArray& bytes)
{
    return bytes.toStdString();
}

PasswordPrompt Password(const QString& password)
{
    return [password]() -> std::optional<std::string> {
        if (password.isNull()) {
            return std::nullopt;
        }
        return password.toStdString();
    };
}

// What oathtool prints for the key: the TOTP code at Now, or the HOTP codes of
// the counter and the one after.
QStringList OathtoolCodes(const QString& hexKey, bool hotp, int digits, qint64 number)
{
    QStringList args{"-d", QString::number(digits)};
    if (hotp) {
        args << "--hotp"
             << "-c" << QString::number(number) << "-w"
             << "1";
    } else {
        args << "--totp"
             << "-s" << QString("%1s").arg(number) << "-N" << QString("@%1").arg(Now);
    }
    QProcess oathtool;
    oathtool.start("oathtool", args << hexKey);
    if (!oathtool.waitForFinished() || oathtool.exitCode() != 0) {
        qFatal("oathtool failed");
    }
    return QString::fromLatin1(oathtool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// The codes the token shows next: two presses of an event-based token (on a
// copy), the current code of a time-based one.
QStringList CodesOf(const COtpToken& token)
{
    COtpToken copy = token;
    QStringList codes{QString::fromStdString(copy.GetOtp().first)};
    if (copy.IsEventBased()) {
        codes << QString::fromStdString(copy.GetOtp().first);
    }
    return codes;
}

COtpTokenPtr MadeToken(std::int32_t type, std::int32_t timer, const char* name, const char* serial)
{
    auto token = std::make_shared<COtpToken>();
    token->TokenType = type;
    token->Timer = timer;
    token->Name = name;
    token->Serial = serial;
    token->Counter = 41;
    token->SetOtpKey(reinterpret_cast<const std::uint8_t*>("12345678901234567890"), 20);
    return token;
}

} // namespace

class InterchangeTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        OtpClock::SetSource([] { return Now; });
    }

    void importedCodes_data();
    void importedCodes();
    void refusedEntries_data();
    void refusedEntries();
    void unreadableInputs_data();
    void unreadableInputs();
    void exportRoundTrips();
    void atomicWrite();
};

void InterchangeTest::importedCodes_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("hexKey");
    QTest::addColumn<bool>("hotp");
    QTest::addColumn<int>("digits");
    QTest::addColumn<qint64>("number"); // period or counter

    const QString keyA = "0102030405060708090a";
    const QString keyB = "28292a2b2c2d2e2f303132";
    const QString safeKey = QString("fbfffe").repeated(7);
    QTest::newRow("uri: lower case, padded")
        << QByteArray("otpauth://totp/Example:alice?secret=fausukzmfuxc6mbrgi======&issuer=Example")
        << 0 << "Example: alice" << keyB << false << 6 << qint64(30);
    QTest::newRow("uri: blanks, %3A, + in the label, period 60")
        << QByteArray("otpauth://TOTP/ACME%3A%20jo+e?secret=AEBA+GBAF%20AYDQ+QCIK&digits=8&"
                      "period=60")
        << 0 << "ACME: jo+e" << keyA << false << 8 << qint64(60);
    QTest::newRow("uri: an issuer with a colon")
        << QByteArray("otpauth://totp/a%3Ab:c:d?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ&"
                      "issuer=a%3Ab")
        << 0 << "a:b: c:d" << RfcKeyHex << false << 6 << qint64(30);
    QTest::newRow("uri: the issuer parameter, trimmed, wins over the label")
        << QByteArray("otpauth://totp/Old%20Name:carol?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ&"
                      "issuer=+New+Name+&algorithm=sha1#x")
        << 0 << "New Name: carol" << RfcKeyHex << false << 6 << qint64(30);
    QTest::newRow("uri: hotp, eight digits, byte order mark")
        << QByteArray(
               "\xEF\xBB\xBF\r\n  otpauth://hotp/Bank:dan?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ&"
               "counter=7&digits=8\r\n")
        << 0 << "Bank: dan" << RfcKeyHex << true << 8 << qint64(7);
    const QByteArray migration = Fixture("migration.txt");
    QTest::newRow("migration: unspecified settings")
        << migration << 0 << "Example: alice@example.com" << RfcKeyHex << false << 6 << qint64(30);
    QTest::newRow("migration: hotp, issuer in the name")
        << migration << 1 << "Bank: bob" << keyA << true << 8 << qint64(5);
    QTest::newRow("migration: url-safe Base64")
        << migration << 3 << "Safe: dave" << safeKey << false << 6 << qint64(30);
    for (const char* vault : {"vault-plain.json", "vault-encrypted.json"}) {
        const QByteArray bytes = Fixture(vault);
        QTest::addRow("%s: totp", vault)
            << bytes << 0 << "Vaulted: erin" << keyB << false << 8 << qint64(60);
        QTest::addRow("%s: hotp, lower-case secret", vault)
            << bytes << 1 << "frank" << RfcKeyHex << true << 6 << qint64(3);
    }
    for (const char* image : {"qr-two-codes.png", "qr-two-codes.jpg"}) {
        const QByteArray bytes = Fixture(image);
        QTest::addRow("%s: key uri", image)
            << bytes << 0 << "Pictured: judy" << RfcKeyHex << false << 6 << qint64(30);
        QTest::addRow("%s: migration", image)
            << bytes << 1 << "Safe: dave" << safeKey << false << 6 << qint64(30);
    }
}

void InterchangeTest::importedCodes()
{
    QFETCH(QByteArray, input);
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(QString, hexKey);
    QFETCH(bool, hotp);
    QFETCH(int, digits);
    QFETCH(qint64, number);

    const std::vector<CImportEntry> entries = ReadImport(Text(input), Password("correct horse"));
    QVERIFY(static_cast<std::size_t>(index) < entries.size());
    const CImportEntry& entry = entries[static_cast<std::size_t>(index)];
    QVERIFY2(entry.Token && entry.Refusal.empty(), entry.Refusal.c_str());
    QCOMPARE(QString::fromStdString(entry.Name), name);
    QCOMPARE(QString::fromStdString(entry.TypeName), hotp ? "HOTP" : "TOTP");
    QCOMPARE(entry.Token->TokenType, hotp ? TokenTypeHOTP : TokenTypeTOTP);
    QCOMPARE(CodesOf(*entry.Token), OathtoolCodes(hexKey, hotp, digits, number));
}

void InterchangeTest::refusedEntries_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("reason");

    const QByteArray migration = Fixture("migration.txt");
    const QByteArray vault = Fixture("vault-plain.json");
    QTest::newRow("migration: SHA-256") << migration << 2 << "uses SHA256";
    QTest::newRow("vault: steam") << vault << 2 << "type (steam)";
    QTest::newRow("vault: SHA-512") << vault << 3 << "uses SHA512";
    QTest::newRow("vault: digits as text") << vault << 4 << "not a whole number";

    const QByteArray uri = "otpauth://totp/Some:one?secret=GEZDGNBV";
    QTest::newRow("bad percent-encoding")
        << QByteArray("otpauth://totp/a%zzb?secret=GEZDGNBV") << 0 << "percent-encoding";
    QTest::newRow("percent sign at the end") << uri + "&issuer=%4" << 0 << "percent-encoding";
    QTest::newRow("Base32 garbage")
        << QByteArray("otpauth://totp/x?secret=GEZ1GNBV") << 0 << "not valid Base32";
    QTest::newRow("Base32 cut short")
        << QByteArray("otpauth://totp/x?secret=GEZDGN") << 0 << "not valid Base32";
    QTest::newRow("padding inside")
        << QByteArray("otpauth://totp/x?secret=GE=ZDGNBV") << 0 << "not valid Base32";
    QTest::newRow("no secret") << QByteArray("otpauth://totp/x?issuer=y") << 0 << "no secret";
    QTest::newRow("13 digits") << uri + "&digits=13" << 0 << "13 digits";
    QTest::newRow("digits not a number") << uri + "&digits=-6" << 0 << "digits is not";
    QTest::newRow("period 0") << uri + "&period=0" << 0 << "period (0 s)";
    QTest::newRow("period beyond 32 bits") << uri + "&period=2147483648" << 0 << "period";
    QTest::newRow("key longer than a token holds")
        << "otpauth://totp/x?secret=" + QByteArray(208, 'A') << 0 << "longer than a token holds";
    QTest::newRow("hotp counter beyond 32 bits")
        << QByteArray("otpauth://hotp/x?secret=GEZDGNBV&counter=2147483648") << 0 << "counter";
    QTest::newRow("steam uri") << QByteArray("otpauth://steam/x?secret=GEZDGNBV") << 0
                               << "type (steam)";
    QTest::newRow("MD5") << uri + "&algorithm=MD5" << 0 << "uses MD5";
    QTest::newRow("parameter twice") << uri + "&secret=GEZDGNBV" << 0 << "given twice";
    QTest::newRow("zero byte in the name")
        << QByteArray("otpauth://totp/a%00b?secret=GEZDGNBV") << 0 << "control character";
    QTest::newRow("line break in the issuer") << uri + "&issuer=x%0Ay" << 0 << "control character";
    QTest::newRow("uri too long") << uri + "&x=" + QByteArray(9000, 'x') << 0 << "longer than";
    QTest::newRow("a line of something else") << uri + "\nhello" << 1 << "not an otpauth";
    // Long enough to be read in two halves; the only URI is in the second.
    QTest::newRow("a long file") << QByteArray("hello\n").repeated(280) +
                                        "otpauth://totp/x?secret=GEZ1GNBV\n" +
                                        QByteArray("hello\n").repeated(19)
                                 << 280 << "not valid Base32";

    const QByteArray payload = "otpauth-migration://offline?data=";
    QTest::newRow("protobuf: length beyond the end") << payload + "CjgK" << 0 << "longer than";
    QTest::newRow("protobuf: cut inside a number") << payload + "CP__" << 0 << "inside a number";
    QTest::newRow("protobuf: number of eleven bytes")
        << payload + QByteArray("\x08" + QByteArray(11, '\xff')).toBase64() << 0 << "ten bytes";
    QTest::newRow("protobuf: wrong wire type") << payload + "CgIIAQ==" << 0 << "wrong wire type";
    QTest::newRow("protobuf: group wire type") << payload + "Cw==" << 0 << "wire type 3";
    QTest::newRow("migration: not Base64") << payload + "C*g" << 0 << "not Base64";
    QTest::newRow("migration: beyond 1 MiB")
        << payload + QByteArray(1398108, 'A') << 0 << "larger than";
}

void InterchangeTest::refusedEntries()
{
    QFETCH(QByteArray, input);
    QFETCH(int, index);
    QFETCH(QString, reason);

    const std::vector<CImportEntry> entries = ReadImport(Text(input), Password("x"));
    QVERIFY(static_cast<std::size_t>(index) < entries.size());
    const CImportEntry& entry = entries[static_cast<std::size_t>(index)];
    QVERIFY(!entry.Token);
    QVERIFY2(QString::fromStdString(entry.Refusal).contains(reason), entry.Refusal.c_str());
    QVERIFY(entry.Refusal.find('\n') == std::string::npos &&
            entry.Name.find('\n') == std::string::npos);
    // A refused Key URI is named with its line, each of these one entry per line.
    const std::size_t line = entry.Name.find(" (line ");
    if (line != std::string::npos) {
        QCOMPARE(entry.Name.substr(line), " (line " + std::to_string(index + 1) + ")");
    }
}

void InterchangeTest::unreadableInputs_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("reason");

    const QByteArray encrypted = Fixture("vault-encrypted.json");
    QTest::newRow("plain text") << QByteArray("hello\nworld") << ""
                                << "not Key URIs";
    QTest::newRow("binary") << QByteArray("\x00\x01\x02", 3) << ""
                            << "not Key URIs";
    QTest::newRow("huge") << QByteArray(65 << 20, 'o') << ""
                          << "larger than";
    QTest::newRow("json cut") << QByteArray("{\"version\": 1,") << ""
                              << "not valid JSON";
    QTest::newRow("json array db")
        << QByteArray(R"({"version":1,"header":{"slots":null,"params":null},"db":[]})") << ""
        << "not an object";
    QTest::newRow("json version as text")
        << QByteArray(R"({"version":"1","header":{"slots":null},"db":{}})") << ""
        << "version 1";
    QTest::newRow("db version 9")
        << QByteArray(R"({"version":1,"header":{"slots":null},"db":{"version":9,"entries":[]}})")
        << ""
        << "database version";
    QTest::newRow("entries not a list")
        << QByteArray(R"({"version":1,"header":{"slots":null},"db":{"version":1,"entries":{}}})")
        << ""
        << "no list of entries";
    QTest::newRow("no password given") << encrypted << QString() << "no password was given";
    QTest::newRow("wrong password") << encrypted << "wrong horse"
                                    << "does not open";
    QTest::newRow("scrypt beyond the bound")
        << QByteArray(encrypted).replace("\"n\": 1024", "\"n\": 4194304") << "correct horse"
        << "more work";
    QTest::newRow("scrypt N not a power of two")
        << QByteArray(encrypted).replace("\"n\": 1024", "\"n\": 1000") << "correct horse"
        << "power of two";
    QTest::newRow("no password slot")
        << QByteArray(encrypted).replace("\"type\": 1", "\"type\": 3") << "correct horse"
        << "no password slot";

    QImage blank(64, 64, QImage::Format_Grayscale8);
    blank.fill(255);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    blank.save(&buffer, "PNG");
    QTest::newRow("image without a QR code") << png << ""
                                             << "no QR code";
}

void InterchangeTest::unreadableInputs()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, password);
    QFETCH(QString, reason);

    try {
        ReadImport(Text(input), Password(password));
        QFAIL("the input was read");
    } catch (const CInterchangeError& error) {
        QVERIFY2(QString::fromUtf8(error.what()).contains(reason), error.what());
    }
}

void InterchangeTest::exportRoundTrips()
{
    std::vector<COtpTokenPtr> tokens;
    for (const char* uri : {"otpauth://totp/Acme:ann?secret=GEZDGNBVGY3TQOJQ&issuer=Acme",
                            "otpauth://totp/bo?secret=AEBAGBAFAYDQQCIK&digits=8&period=60",
                            "otpauth://hotp/Bank:cy?secret=FAUSUKZMFUXC6MBRGI&counter=7"}) {
        tokens.push_back(ReadImport(uri, nullptr).at(0).Token);
    }
    tokens.push_back(MadeToken(TokenTypeCB, 60, "Desk", "12345678"));
    tokens.push_back(MadeToken(TokenTypeTB, 60, "Door", "87654321")); // a TOTP of 30 s
    tokens.push_back(MadeToken(TokenTypeCR, 60, "Quiz", "1"));
    tokens.push_back(MadeToken(TokenTypeHOTP, 60, "Check", "2"));
    tokens.back()->CheckSum = true;
    tokens.push_back(MadeToken(TokenTypeTOTP, 60, "Both", "3"));
    tokens.back()->TwoWay = true;
    const std::size_t exportable = 5;

    const CExport uris = ExportKeyUris(tokens);
    const CExport vault = ExportVault(tokens, "pass word");
    for (const CExport* exported : {&uris, &vault}) {
        QCOMPARE(exported->Count, int(exportable));
        QCOMPARE(exported->Refused.size(), std::size_t(3));
        QCOMPARE(QString::fromStdString(exported->Refused[1].Name), "Check:2");
        QVERIFY(exported->Refused[1].Reason.find("check digit") != std::string::npos);

        const std::vector<CImportEntry> back = ReadImport(exported->Bytes, Password("pass word"));
        QCOMPARE(back.size(), exportable);
        for (std::size_t i = 0; i < exportable; ++i) {
            QVERIFY2(back[i].Token, back[i].Refusal.c_str());
            QCOMPARE(CodesOf(*back[i].Token), CodesOf(*tokens[i]));
            QCOMPARE(back[i].Token->Name, tokens[i]->Name);
            QCOMPARE(back[i].Token->Serial, tokens[i]->Serial);
            // The same account again, but for TB, which comes back as TOTP.
            QCOMPARE(IsSameAccount(*back[i].Token, *tokens[i]), i < 3);
        }
    }
    // The same key and period with other digits is another account.
    const COtpTokenPtr eight =
        ReadImport("otpauth://totp/Acme:ann?secret=GEZDGNBVGY3TQOJQ&digits=8", nullptr).at(0).Token;
    QVERIFY(!IsSameAccount(*eight, *tokens[0]));
    QCOMPARE(QString::fromStdString(KeyUriOf(*tokens[4], nullptr)),
             "otpauth://totp/Door:87654321?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ&issuer=Door&"
             "algorithm=SHA1&digits=6&period=30");

    // The vault is written with the agreed scrypt cost, and opens with its password only.
    const QJsonObject root =
        QJsonDocument::fromJson(QByteArray::fromStdString(vault.Bytes)).object();
    const QJsonObject slot = root["header"].toObject()["slots"].toArray().at(0).toObject();
    QCOMPARE(slot["n"].toInt(), 32768);
    QVERIFY_THROWS_EXCEPTION(CInterchangeError, ReadImport(vault.Bytes, Password("pass Word")));
    std::string changed = vault.Bytes;
    const std::size_t db = changed.find("\"db\": \"") + 8;
    changed[db] = changed[db] == 'A' ? 'B' : 'A';
    try {
        ReadImport(changed, Password("pass word"));
        QFAIL("a changed vault was read");
    } catch (const CInterchangeError& error) {
        QVERIFY2(std::string(error.what()).find("tag") != std::string::npos, error.what());
    }
}

void InterchangeTest::atomicWrite()
{
    const QString folder = QString::fromStdString(testsupport::MakeTempDirectory());
    const std::string path = (folder + "/accounts.txt").toStdString();
    WriteFileAtomically(path, "old");
    const mode_t previous = umask(0);
    WriteFileAtomically(path, "new\n");
    umask(previous);

    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("new\n"));
    struct stat status = {};
    QCOMPARE(stat(path.c_str(), &status), 0);
    QCOMPARE(status.st_mode & 07777, mode_t(0600));
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"accounts.txt"});
    QVERIFY_THROWS_EXCEPTION(CInterchangeError,
                             WriteFileAtomically((folder + "/no/such").toStdString(), "x"));
}

QTEST_APPLESS_MAIN(InterchangeTest)
#include "tst_interop.moc"
