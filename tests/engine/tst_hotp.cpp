#include "otp/Hotp.h"

#include <QtTest>

#include <cstring>
#include <string>

namespace {

const std::string Key20 = "12345678901234567890";
const std::string Key32 = "12345678901234567890123456789012";
const std::string Key64 = "1234567890123456789012345678901234567890123456789012345678901234";

std::string Otp(const std::string& key, std::uint64_t counter, int digits, bool check = false,
                int hash = HashSha1)
{
    std::uint8_t data[8];
    CounterToBytes(counter, data);
    return GenerateOtp(reinterpret_cast<const std::uint8_t*>(key.data()),
                       static_cast<std::int32_t>(key.size()), data, 8, digits, check, hash);
}

} // namespace

class TestHotp : public QObject
{
    Q_OBJECT

private slots:
    // RFC 4226 Appendix D: key "12345678901234567890", counters 0 to 9.
    void rfc4226_data()
    {
        QTest::addColumn<quint64>("counter");
        QTest::addColumn<QString>("truncated");
        QTest::addColumn<QString>("hotp");
        // clang-format off
        QTest::newRow("counter 0") << 0ULL << "1284755224" << "755224";
        QTest::newRow("counter 1") << 1ULL << "1094287082" << "287082";
        QTest::newRow("counter 2") << 2ULL << "137359152" << "359152";
        QTest::newRow("counter 3") << 3ULL << "1726969429" << "969429";
        QTest::newRow("counter 4") << 4ULL << "1640338314" << "338314";
        QTest::newRow("counter 5") << 5ULL << "868254676" << "254676";
        QTest::newRow("counter 6") << 6ULL << "1918287922" << "287922";
        QTest::newRow("counter 7") << 7ULL << "82162583" << "162583";
        QTest::newRow("counter 8") << 8ULL << "673399871" << "399871";
        QTest::newRow("counter 9") << 9ULL << "645520489" << "520489";
        // clang-format on
    }

    void rfc4226()
    {
        QFETCH(quint64, counter);
        QFETCH(QString, truncated);
        QFETCH(QString, hotp);
        QCOMPARE(QString::fromStdString(Otp(Key20, counter, 6)), hotp);
        // The truncated value is below 2^31, so ten digits show all of it.
        QCOMPARE(QString::fromStdString(Otp(Key20, counter, 10)),
                 truncated.rightJustified(10, '0'));
    }

    // RFC 6238 Appendix B: step 30 s from 0, 8 digits, one key per hash.
    void rfc6238_data()
    {
        QTest::addColumn<qint64>("time");
        QTest::addColumn<quint64>("steps");
        QTest::addColumn<QString>("sha1");
        QTest::addColumn<QString>("sha256");
        QTest::addColumn<QString>("sha512");
        // clang-format off
        QTest::newRow("59") << 59LL << 0x1ULL << "94287082" << "46119246" << "90693936";
        QTest::newRow("1111111109") << 1111111109LL << 0x23523ECULL << "07081804" << "68084774" << "25091201";
        QTest::newRow("1111111111") << 1111111111LL << 0x23523EDULL << "14050471" << "67062674" << "99943326";
        QTest::newRow("1234567890") << 1234567890LL << 0x273EF07ULL << "89005924" << "91819424" << "93441116";
        QTest::newRow("2000000000") << 2000000000LL << 0x3F940AAULL << "69279037" << "90698825" << "38618901";
        QTest::newRow("20000000000") << 20000000000LL << 0x27BC86AAULL << "65353130" << "77737706" << "47863826";
        // clang-format on
    }

    void rfc6238()
    {
        QFETCH(qint64, time);
        QFETCH(quint64, steps);
        QCOMPARE(static_cast<quint64>(time / 30), steps);
        QTEST(QString::fromStdString(Otp(Key20, steps, 8, false, HashSha1)), "sha1");
        QTEST(QString::fromStdString(Otp(Key32, steps, 8, false, HashSha256)), "sha256");
        QTEST(QString::fromStdString(Otp(Key64, steps, 8, false, HashSha512)), "sha512");
    }

    // Values from RFC 4226 Appendix D; check digits from its reference routine.
    void widthAndCheckDigit_data()
    {
        QTest::addColumn<quint64>("counter");
        QTest::addColumn<int>("digits");
        QTest::addColumn<bool>("check");
        QTest::addColumn<QString>("code");
        // clang-format off
        QTest::newRow("one digit") << 0ULL << 1 << false << "4";
        QTest::newRow("twelve digits, padded") << 0ULL << 12 << false << "001284755224";
        QTest::newRow("six digits with check") << 0ULL << 6 << true << "7552243";
        QTest::newRow("twelve digits with check") << 7ULL << 12 << true << "0000821625837";
        // clang-format on
    }

    void widthAndCheckDigit()
    {
        QFETCH(quint64, counter);
        QFETCH(int, digits);
        QFETCH(bool, check);
        QTEST(QString::fromStdString(Otp(Key20, counter, digits, check)), "code");
    }

    void refusedArguments_data()
    {
        QTest::addColumn<int>("keyLength");
        QTest::addColumn<int>("dataLength");
        QTest::addColumn<int>("digits");
        QTest::addColumn<int>("hash");
        // clang-format off
        QTest::newRow("zero digits") << 20 << 8 << 0 << 0;
        QTest::newRow("negative digits") << 20 << 8 << -1 << 0;
        QTest::newRow("thirteen digits") << 20 << 8 << 13 << 0;
        QTest::newRow("hash selector 3") << 20 << 8 << 6 << 3;
        QTest::newRow("hash selector -1") << 20 << 8 << 6 << -1;
        QTest::newRow("negative key length") << -1 << 8 << 6 << 0;
        QTest::newRow("negative data length") << 20 << -8 << 6 << 0;
        // clang-format on
    }

    void refusedArguments()
    {
        QFETCH(int, keyLength);
        QFETCH(int, dataLength);
        QFETCH(int, digits);
        QFETCH(int, hash);
        const std::uint8_t data[8] = {};
        const auto* key = reinterpret_cast<const std::uint8_t*>(Key20.data());
        QCOMPARE(GenerateOtp(key, keyLength, data, dataLength, digits, true, hash), std::string());
    }

    // Check digits of RFC 4226's reference routine, worked by hand.
    void checksum()
    {
        QCOMPARE(CalcChecksum(755224, 6), 3);
        QCOMPARE(CalcChecksum(123456, 6), 6);
        QCOMPARE(CalcChecksum(1234, 6), 4);
        QCOMPARE(CalcChecksum(9000755224ULL, 6), 3); // only the low digits count
        QCOMPARE(CalcChecksum(755224, 0), 0);
        QCOMPARE(CalcChecksum(755224, -3), 0);
    }

    void counterBytes()
    {
        std::uint8_t bytes[8];
        CounterToBytes(1, bytes);
        const std::uint8_t one[8] = {0, 0, 0, 0, 0, 0, 0, 1};
        QVERIFY(std::memcmp(bytes, one, 8) == 0);
        CounterToBytes(0x0102030405060708ULL, bytes);
        const std::uint8_t ordered[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        QVERIFY(std::memcmp(bytes, ordered, 8) == 0);
    }

    void emptyKey()
    {
        // A token without keys still computes: HMAC takes an empty key (value
        // from Python's hmac module).
        QCOMPARE(Otp(std::string(), 0, 6), std::string("328482"));
    }
};

QTEST_APPLESS_MAIN(TestHotp)
#include "tst_hotp.moc"
