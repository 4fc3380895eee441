#include "otp/Hotp.h"

#include "engine/RfcVectors.h"

#include <QtTest>

#include <string>

class TestHotp : public QObject
{
    Q_OBJECT

private slots:
    // GenerateOtp over an 8-byte counter, keyed with the first keyLength bytes
    // of Key64 (the RFC keys are prefixes of one another).
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
        // key (value from Python's hmac module). A digit count or hash selector
        // without a table entry, or a negative length, gives no code.
        // clang-format off
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
                  GenerateOtp(Bytes(Key64), keyLength, data, dataLength, digits, check, hash)),
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
