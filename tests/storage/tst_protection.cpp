#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"

#include "StorageTestTools.h"

#include <QTest>

#include <openssl/evp.h>

#include <memory>
#include <string>

namespace {

// The fixed key (24 bytes) and IV of the protected form. Every stored value
// depends on them: this test must change only together with a migration.
const char CipherKeyHex[] = "b7c35490f0a3eb224b94a715534cb285603b4a80ce89aa30";
const char CipherIvHex[] = "c36e3ae2992fd1c4";

std::string Bytes(const QByteArray& bytes)
{
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

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

    // RFC 4648, section 10: test vectors.
    void base64Encode_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("f") << QByteArray("f") << QByteArray("Zg==");
        QTest::newRow("fo") << QByteArray("fo") << QByteArray("Zm8=");
        QTest::newRow("foo") << QByteArray("foo") << QByteArray("Zm9v");
        QTest::newRow("foob") << QByteArray("foob") << QByteArray("Zm9vYg==");
        QTest::newRow("fooba") << QByteArray("fooba") << QByteArray("Zm9vYmE=");
        QTest::newRow("foobar") << QByteArray("foobar") << QByteArray("Zm9vYmFy");
        QTest::newRow("high bytes") << QByteArray("\xfb\xff\x00\x3e", 4) << QByteArray("+/8APg==");
    }

    void base64Encode()
    {
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, text);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.constData());
        QCOMPARE(LocalDatabase::Base64Encode(bytes, int(data.size())), Bytes(text));
        std::uint8_t out[16] = {};
        QCOMPARE(LocalDatabase::Base64Decode(Bytes(text), out, 16), int(data.size()));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(out), int(data.size())), data);
    }

    // The tolerant decoder: foreign characters are skipped, "=" ends the text,
    // an incomplete group without "=" adds nothing.
    void base64DecodeRules_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("blanks and line breaks")
            << QByteArray("Zm 9v\nYm\tFy\r\n") << QByteArray("foobar");
        QTest::newRow("other characters") << QByteArray("Z*m!9-v") << QByteArray("foo");
        QTest::newRow("two symbols and =") << QByteArray("Zg=") << QByteArray("f");
        QTest::newRow("two symbols, end") << QByteArray("Zm9vZg") << QByteArray("foo");
        QTest::newRow("three symbols and =") << QByteArray("Zm8=") << QByteArray("fo");
        QTest::newRow("three symbols, end") << QByteArray("Zm8") << QByteArray();
        QTest::newRow("= first") << QByteArray("=Zm9v") << QByteArray();
        QTest::newRow("= second") << QByteArray("Zm9vZ=mFy") << QByteArray("foo");
        QTest::newRow("text after =") << QByteArray("Zg==Zm9v") << QByteArray("f");
    }

    void base64DecodeRules()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, data);
        std::uint8_t out[16] = {};
        QCOMPARE(LocalDatabase::Base64Decode(Bytes(text), out, 16), int(data.size()));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(out), int(data.size())), data);
    }

    void base64DecodeCopiesAtMostMax()
    {
        const std::string text = LocalDatabase::Base64Encode(
            reinterpret_cast<const std::uint8_t*>("0123456789abcdefghijklmnopqrstuv"), 32);
        std::uint8_t out[32];
        std::fill(out, out + 32, 0xAA);
        QCOMPARE(LocalDatabase::Base64Decode(text, out, 20), 32);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(out), 20),
                 QByteArray("0123456789abcdefghij"));
        QCOMPARE(out[20], std::uint8_t(0xAA));
        QCOMPARE(LocalDatabase::Base64Decode(text, out, 0), 32);
        QCOMPARE(LocalDatabase::Base64Decode(text, nullptr, -1), 32);
    }

    void roundTripAndLength_data()
    {
        QTest::addColumn<int>("length");
        for (const int length : {0, 1, 7, 8, 9, 16, 28, 300}) {
            QTest::newRow(qPrintable(QString("%1 bytes").arg(length))) << length;
        }
    }

    void roundTripAndLength()
    {
        QFETCH(int, length);
        std::string plain;
        for (int i = 0; i < length; ++i) {
            plain += char(i % 3 == 0 ? 0 : i * 37); // zero bytes included
        }
        const std::string stored = db->Encrypt(plain);
        const int cipherLength = (length / 8 + 1) * 8;
        QCOMPARE(stored.substr(0, 4), std::string("enc:"));
        QCOMPARE(int(stored.size()), 4 + 4 * ((cipherLength + 2) / 3));
        QCOMPARE(db->Decrypt(stored), plain);
    }

    void prefixes()
    {
        QCOMPARE(db->Encrypt("enc:abc"), std::string("enc:abc"));
        QCOMPARE(db->Decrypt("abc,def,1"), std::string("abc,def,1"));
        QCOMPARE(db->Decrypt("Enc:abc"), std::string("Enc:abc"));
        QCOMPARE(db->Decrypt("enc:"), std::string());
        QCOMPARE(db->Decrypt("enc:!!!!"), std::string());
    }

    void damagedValuesGiveTheUndamagedBlocks()
    {
        const std::string plain = "0123456789abcdef";
        const std::string stored = db->Encrypt(plain);
        std::uint8_t cipher[24];
        QCOMPARE(LocalDatabase::Base64Decode(stored.substr(4), cipher, 24), 24);

        // A changed padding block: the update step still gave both data blocks.
        cipher[23] ^= 0x01;
        QCOMPARE(db->Decrypt("enc:" + LocalDatabase::Base64Encode(cipher, 24)), plain);
        // A length that is no multiple of the block: the whole blocks before it.
        QCOMPARE(db->Decrypt("enc:" + LocalDatabase::Base64Encode(cipher, 12)), plain.substr(0, 8));
    }

    // The protected form checked against a second implementation.
    void matchesTheOpensslCommandLine_data()
    {
        QTest::addColumn<QByteArray>("plain");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("one block of text") << QByteArray("12345678");
        QTest::newRow("credential") << QByteArray("AAEC,Zm9vYmFy,42");
        QTest::newRow("zero bytes") << QByteArray("\0a\0b\0", 5);
    }

    void matchesTheOpensslCommandLine()
    {
        QFETCH(QByteArray, plain);
        const QByteArray expected =
            RunTool("openssl",
                    {"enc", "-des-ede3-cbc", "-K", CipherKeyHex, "-iv", CipherIvHex, "-a", "-A"},
                    plain)
                .trimmed();
        QVERIFY(!expected.isEmpty());
        QCOMPARE(db->Encrypt(Bytes(plain)), "enc:" + Bytes(expected));
    }

    void cipherTable()
    {
        const struct
        {
            int algorithm, mode;
            const EVP_CIPHER* cipher;
        } rows[] = {
            {1, 1, EVP_rc2_cbc()},      {1, 2, EVP_rc2_cfb64()},    {1, 3, EVP_rc2_ecb()},
            {1, 4, EVP_rc2_ofb()},      {2, 3, EVP_rc4()},          {3, 0, EVP_des_cbc()},
            {3, 2, EVP_des_cfb1()},     {3, 3, EVP_des_ecb()},      {3, 4, EVP_des_ofb()},
            {4, 1, EVP_des_ede3_cbc()}, {4, 7, EVP_des_ede3_cbc()}, {4, 2, EVP_des_ede3_cfb1()},
            {4, 3, EVP_des_ede3_ecb()}, {4, 4, EVP_des_ede3_ofb()}, {9, 3, EVP_rc2_cbc()},
        };
        for (const auto& row : rows) {
            QVERIFY(row.cipher != nullptr);
            QCOMPARE(LocalDatabase::GetCipher(row.algorithm, row.mode), row.cipher);
        }
    }
};

QTEST_APPLESS_MAIN(TestProtection)
#include "tst_protection.moc"
