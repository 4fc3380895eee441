#include "otp/Hotp.h"

#include "engine/RfcVectors.h"

#include <QtTest>

#include <string>

namespace {

// The RFC keys are prefixes of this one; the longer prefixes exceed a block.
const std::string Key130 = QByteArray("1234567890").repeated(13).toStdString();

} // namespace

class TestHotp : public QObject
{
    Q_OBJECT

private slots:
    // GenerateOtp over an 8-byte counter, keyed with the first keyLength bytes
    // of Key130.
    void generateOtp_data()
    {
        QTest::addColumn<int>("keyLength");
        QTest::addColumn<int>("hash");
        QTest::addColumn<quint64>("counter");
        QTest::addColumn<int>("dataLength");
        QTest::addColumn<int>("digits");
        QTest::addColumn<bool>("check");
        QTest::addColumn<QString>("code");
        // RFC 4226 Appendix D: the truncated value is below 2^31, so ten digits
        // show all of it.
        for (const QStringList& row : ReadVectors("rfc4226-hotp.tsv")) {
            QTest::addRow("RFC 4226 counter %s", qPrintable(row[0]))
                << 20 << 0 << row[0].toULongLong() << 8 << 6 << false << row[3];
            QTest::addRow("RFC 4226 counter %s truncated", qPrintable(row[0]))
                << 20 << 0 << row[0].toULongLong() << 8 << 10 << false
                << row[2].rightJustified(10, '0');
        }
        // RFC 6238 Appendix B: step 30 s from 0, 8 digits, one key per hash.
        const int keyLengths[] = {20, 32, 64};
        const char* hashNames[] = {"SHA-1", "SHA-256", "SHA-512"};
        for (const QStringList& row : ReadVectors("rfc6238-totp.tsv")) {
            for (int hash = HashSha1; hash <= HashSha512; ++hash) {
                QTest::addRow("RFC 6238 time %s %s", qPrintable(row[0]), hashNames[hash])
                    << keyLengths[hash] << hash << row[1].toULongLong(nullptr, 16) << 8 << 8
                    << false << row[2 + hash];
            }
        }
        // Check digits from RFC 4226's reference routine; HMAC takes an empty
        // key, and hashes a key longer than its block first (values from
        // Python's hmac module; the rows switch keys, as a token's pair does).
        // A digit count or hash selector without a table entry, or a negative
        // length, gives no code.
        // clang-format off
        QTest::newRow("SHA-1 key of 65 bytes") << 65 << 0 << 1ULL << 8 << 8 << false << "65403651";
        QTest::newRow("SHA-1 key of 130 bytes") << 130 << 0 << 1ULL << 8 << 8 << false << "66706887";
        QTest::newRow("SHA-256 key of 65 bytes") << 65 << 1 << 1ULL << 8 << 8 << false << "36516488";
        QTest::newRow("SHA-512 key of 128 bytes") << 128 << 2 << 1ULL << 8 << 8 << false << "08262687";
        QTest::newRow("SHA-512 key of 129 bytes") << 129 << 2 << 1ULL << 8 << 8 << false << "32168708";
        QTest::newRow("SHA-1 key of 65 bytes again") << 65 << 0 << 1ULL << 8 << 8 << false << "65403651";
        QTest::newRow("one digit") << 20 << 0 << 0ULL << 8 << 1 << false << "4";
        QTest::newRow("six digits with check") << 20 << 0 << 0ULL << 8 << 6 << true << "7552243";
        QTest::newRow("twelve digits with check") << 20 << 0 << 7ULL << 8 << 12 << true << "0000821625837";
        QTest::newRow("empty key") << 0 << 0 << 0ULL << 8 << 6 << false << "328482";
        QTest::newRow("zero digits") << 20 << 0 << 0ULL << 8 << 0 << false << "";
        QTest::newRow("negative digits") << 20 << 0 << 0ULL << 8 << -1 << false << "";
        QTest::newRow("thirteen digits") << 20 << 0 << 0ULL << 8 << 13 << true << "";
        QTest::newRow("hash selector 3") << 20 << 3 << 0ULL << 8 << 6 << false << "";
        QTest::newRow("hash selector -1") << 20 << -1 << 0ULL << 8 << 6 << false << "";
        QTest::newRow("negative key length") << -1 << 0 << 0ULL << 8 << 6 << false << "";
        QTest::newRow("negative data length") << 20 << 0 << 0ULL << -8 << 6 << false << "";
        // clang-format on
    }

    void generateOtp()
    {
        QFETCH(int, keyLength);
        QFETCH(int, hash);
        QFETCH(quint64, counter);
        QFETCH(int, dataLength);
        QFETCH(int, digits);
        QFETCH(bool, check);
        std::uint8_t data[8];
        CounterToBytes(counter, data);
        QTEST(QString::fromStdString(
                  GenerateOtp(Bytes(Key130), keyLength, data, dataLength, digits, check, hash)),
              "code");
    }

    // Check digits of RFC 4226's reference routine, worked by hand.
    void checksum()
    {
        QCOMPARE(CalcChecksum(9000755224ULL, 6), 3); // only the low digits count
        QCOMPARE(CalcChecksum(755224, 0), 0);
    }
};

QTEST_APPLESS_MAIN(TestHotp)
#include "tst_hotp.moc"
