#include "storage/LocalDatabase.h"
#include "support/RunProgram.h"
#include "support/TempDirectory.h"

#include <QTest>

#include <fstream>
#include <memory>
#include <string>

namespace {

// The fixed key (24 bytes) and IV of the protected form. Every stored value
// depends on them: this test must change only together with a migration.
const char CipherKeyHex[] = "b7c35490f0a3eb224b94a715534cb285603b4a80ce89aa30";
const char CipherIvHex[] = "c36e3ae2992fd1c4";

} // namespace

class TestProtection : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<LocalDatabase> db;

private slots:
    void initTestCase()
    {
        db = std::make_unique<LocalDatabase>(testsupport::MakeTempDirectory());
        QVERIFY(db->IsOpen());
    }

    // RFC 4648, section 10; then the decoder's tolerance: characters outside
    // the alphabet are skipped, "=" ends the text, an incomplete group
    // without "=" adds nothing.
    void base64_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("fo") << QByteArray("Zm8=") << QByteArray("fo");
        QTest::newRow("high bytes") << QByteArray("+/8APg==") << QByteArray("\xfb\xff\x00\x3e", 4);
        QTest::newRow("foreign characters")
            << QByteArray("Zm 9v\nY*m!F-y\r\n") << QByteArray("foobar");
        QTest::newRow("incomplete group") << QByteArray("Zm9vZg") << QByteArray("foo");
        QTest::newRow("= after one symbol") << QByteArray("Zm9vZ=mFy") << QByteArray("foo");
        QTest::newRow("text after =") << QByteArray("Zg==Zm9v") << QByteArray("f");
    }

    void base64()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, data);
        // Qt's encoder is the second implementation.
        QCOMPARE(LocalDatabase::Base64Encode(
                     reinterpret_cast<const std::uint8_t*>(data.constData()), int(data.size())),
                 data.toBase64().toStdString());
        std::uint8_t out[8] = {};
        QCOMPARE(LocalDatabase::Base64Decode(text.toStdString(), out, 8), int(data.size()));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(out), int(data.size())), data);
        // One byte short: the full length is told, one byte less is written.
        const int max = int(data.size()) - 1;
        std::uint8_t guarded[8] = {0xee, 0xee, 0xee, 0xee, 0xee, 0xee, 0xee, 0xee};
        QCOMPARE(LocalDatabase::Base64Decode(text.toStdString(), guarded, max), int(data.size()));
        QCOMPARE(guarded[max], std::uint8_t(0xee));
    }

    // The protected form checked against a second implementation, and back.
    void matchesTheOpensslCommandLine_data()
    {
        QTest::addColumn<QByteArray>("plain");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("a whole block") << QByteArray("12345678");
        QTest::newRow("zero bytes") << QByteArray("\0a\0b\0c\0d\0e\0f\0g\0h\0", 17);
    }

    void matchesTheOpensslCommandLine()
    {
        QFETCH(QByteArray, plain);
        const std::string in = testsupport::MakeTempDirectory() + "/plain";
        std::ofstream(in, std::ios::binary) << plain.toStdString();
        const testsupport::ProgramOutcome openssl = testsupport::RunProgram(
            "openssl", {"enc", "-des-ede3-cbc", "-K", CipherKeyHex, "-iv", CipherIvHex, "-a", "-A",
                        "-in", QString::fromStdString(in)});
        QCOMPARE(openssl.status, 0);
        const std::string stored = db->Encrypt(plain.toStdString());
        QCOMPARE(stored, "enc:" + openssl.out.trimmed().toStdString());
        QCOMPARE(db->Decrypt(stored), plain.toStdString());
    }

    // Decrypt gives the undamaged blocks of a damaged value; DecryptChecked
    // gives nothing, so that no shortened value is ever taken for the stored one.
    void damagedValues()
    {
        const std::string plain = "0123456789abcdef";
        const std::string stored = db->Encrypt(plain);
        std::uint8_t cipher[24];
        QCOMPARE(LocalDatabase::Base64Decode(stored.substr(4), cipher, 24), 24);
        // A changed padding block: the update step still gave both data blocks.
        cipher[23] ^= 0x01;
        const std::string badPadding = "enc:" + LocalDatabase::Base64Encode(cipher, 24);
        QCOMPARE(db->Decrypt(badPadding), plain);
        QVERIFY(!db->DecryptChecked(badPadding));
        // A length that is no multiple of the block: the whole blocks before it.
        const std::string cut = "enc:" + LocalDatabase::Base64Encode(cipher, 12);
        QCOMPARE(db->Decrypt(cut), plain.substr(0, 8));
        QVERIFY(!db->DecryptChecked(cut));
        // The cipher restarts cleanly after a failure.
        QCOMPARE(db->DecryptChecked(stored).value_or("(nothing)"), plain);
        // Only a text starting with "enc:" is protected.
        QCOMPARE(db->DecryptChecked("a,b,1").value_or("(nothing)"), std::string("a,b,1"));
        QCOMPARE(db->Decrypt("a,b,1") + db->Decrypt("enc:"), std::string("a,b,1"));
        QCOMPARE(db->Encrypt("enc:abc"), std::string("enc:abc"));
    }
};

QTEST_APPLESS_MAIN(TestProtection)
#include "tst_protection.moc"
