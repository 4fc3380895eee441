#include "otp/Ocra.h"

#include "engine/RfcVectors.h"
#include "otp/NumberText.h"

#include <QtTest>

#include <string>

class TestOcra : public QObject
{
    Q_OBJECT

private slots:
    // RFC 6287 Appendix C: keys used raw, its T1M suites at 0x132d0b6 minutes.
    // Then key20 and a counter that fills all eight bytes of its field, with
    // codes computed by Python's hmac over messages laid out by hand; an empty
    // code is a refused suite or input, "throws" a numeric question or time
    // step that is not a number.
    void computeOcra_data()
    {
        QTest::addColumn<QString>("suite");
        QTest::addColumn<QString>("key");
        QTest::addColumn<quint64>("counter");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("session");
        QTest::addColumn<qint64>("time");
        QTest::addColumn<QString>("code");
        for (const QStringList& row : ReadVectors("rfc6287-ocra.tsv")) {
            const QString counter = row[2].isEmpty() ? QString() : " C=" + row[2];
            QTest::newRow(qPrintable(row[0] + ' ' + row[3] + counter))
                << row[0] << row[1] << row[2].toULongLong() << row[3] << row[4] << QString()
                << row[5].toLongLong(nullptr, 16) * 60 << row[6];
        }

        const QString k = "key20", s = "OCRA-1:HOTP-SHA1-6:", q = "12345678";
        const quint64 c = 0x0102030405060708ULL;
        const qint64 t = 1206446760;
        // clang-format off
        QTest::newRow("session field") << s + "C-QN08-S064" << k << c << q << "" << "session-42" << 0LL << "833831";
        QTest::newRow("lower-case qn: question as text") << "ocra-1:hotp-sha1-6:qn08" << k << c << "1234" << "" << "" << 0LL << "271719";
        QTest::newRow("MD5 computes SHA-1") << "OCRA-1:HOTP-MD5-6:QN08" << k << c << q << "" << "" << 0LL << "677776";
        QTest::newRow("no password: zero field") << s + "QN08-PSHA1" << k << c << q << "" << "" << 0LL << "364022";
        QTest::newRow("PSHA256") << s + "QN08-PSHA256" << k << c << q << "1234" << "" << 0LL << "695906";
        QTest::newRow("PSHA512") << s + "QN08-PSHA512" << k << c << q << "1234" << "" << 0LL << "820408";
        QTest::newRow("question filling its field") << s + "QA128" << k << c << QString(128, 'x') << "" << "" << 0LL << "425094";
        QTest::newRow("time as the only input") << s + "T1M" << k << c << "" << "" << "" << t << "808087";
        QTest::newRow("hours") << s + "QN08-T1H" << k << c << "1" << "" << "" << t << "512532";
        QTest::newRow("seconds") << s + "QN08-T30S" << k << c << "1" << "" << "" << t << "175056";
        QTest::newRow("minutes after 2038") << s + "QN08-T1M" << k << c << "1" << "" << "" << 4102444800LL << "465736";
        QTest::newRow("twelve digits") << "OCRA-1:HOTP-SHA1-12:QN08" << k << c << q << "" << "" << 0LL << "000343778310";
        QTest::newRow("digit count 0") << "OCRA-1:HOTP-SHA1-0:QN08" << k << c << q << "" << "" << 0LL << "";
        QTest::newRow("digit count 13") << "OCRA-1:HOTP-SHA1-13:QN08" << k << c << q << "" << "" << 0LL << "";
        QTest::newRow("digit count 6X") << "OCRA-1:HOTP-SHA1-6X:QN08" << k << c << q << "" << "" << 0LL << "";
        QTest::newRow("version 2") << "OCRA-2:HOTP-SHA1-6:QN08" << k << c << q << "" << "" << 0LL << "";
        QTest::newRow("two parts") << "OCRA-1:HOTP-SHA1-6" << k << c << q << "" << "" << 0LL << "";
        QTest::newRow("crypto function of two parts") << "OCRA-1:SHA1-6:QN08" << k << c << q << "" << "" << 0LL << "";
        QTest::newRow("empty data input") << s << k << c << q << "" << "" << 0LL << "";
        QTest::newRow("question of 129 bytes") << s + "QA128" << k << c << QString(129, 'x') << "" << "" << 0LL << "";
        QTest::newRow("session of 65 bytes") << s + "QN08-S064" << k << c << q << "" << QString(65, 's') << 0LL << "";
        QTest::newRow("time step 0") << s + "QN08-T0M" << k << c << q << "" << "" << t << "";
        QTest::newRow("letters in a numeric question") << s + "QN08" << k << c << "12AB" << "" << "" << 0LL << "throws";
        QTest::newRow("negative numeric question") << s + "QN08" << k << c << "-1" << "" << "" << 0LL << "throws";
        QTest::newRow("numeric question above 64 bits") << s + "QN08" << k << c << "18446744073709551616" << "" << "" << 0LL << "throws";
        QTest::newRow("time step XM") << s + "QN08-TXM" << k << c << "1" << "" << "" << t << "throws";
        QTest::newRow("time step without number") << s + "QN08-TM" << k << c << "1" << "" << "" << t << "throws";
        QTest::newRow("time item without step") << s + "QN08-T" << k << c << "1" << "" << "" << t << "throws";
        // clang-format on
    }

    void computeOcra()
    {
        QFETCH(QString, suite);
        QFETCH(QString, key);
        QFETCH(quint64, counter);
        QFETCH(QString, question);
        QFETCH(QString, password);
        QFETCH(QString, session);
        QFETCH(qint64, time);
        QFETCH(QString, code);
        const std::string& bytes = key == "key64" ? Key64 : key == "key32" ? Key32 : Key20;
        const auto compute = [&] {
            return QString::fromStdString(ComputeOcra(
                Bytes(bytes), static_cast<std::int32_t>(bytes.size()), suite.toStdString(), counter,
                question.toStdString(), password.toStdString(), session.toStdString(), time));
        };
        if (code == "throws") {
            QVERIFY_THROWS_EXCEPTION(ConversionError, compute());
        } else {
            QCOMPARE(compute(), code);
        }
    }

    void hexCoding()
    {
        const std::uint8_t bytes[] = {0x00, 0x1F, 0xA0, 0xFF};
        QCOMPARE(BytesToHex(bytes, 4), std::string("001FA0FF"));
        // Decoding stops at the first pair that is not hex, and a text longer than
        // the buffer gives zeros (BytesToHex is shown above).
        QCOMPARE(BytesToHex(HexToBytes("0a0BzZ01", 4)), std::string("0A0B0000"));
        QCOMPARE(BytesToHex(HexToBytes("0102030405", 4)), std::string("00000000"));
        QCOMPARE(BytesToHex(HexToBytes("abc")), std::string("0ABC"));
    }
};

QTEST_APPLESS_MAIN(TestOcra)
#include "tst_ocra.moc"
