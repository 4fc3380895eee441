#include "otp/Ocra.h"

#include "otp/NumberText.h"
#include "otp/OtpToken.h"

#include <QtTest>

#include <string>

namespace {

const std::string Key20 = "12345678901234567890";
const std::string Key32 = "12345678901234567890123456789012";
const std::string Key64 = "1234567890123456789012345678901234567890123456789012345678901234";

const std::uint8_t* Bytes(const std::string& text)
{
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

std::string Ocra(const std::string& key, const QString& suite, std::uint64_t counter,
                 const QString& question, const QString& password = QString(),
                 const QString& session = QString(), std::int64_t time = 0)
{
    return ComputeOcra(Bytes(key), static_cast<std::int32_t>(key.size()), suite.toStdString(),
                       counter, question.toStdString(), password.toStdString(),
                       session.toStdString(), time);
}

QByteArray ToQByteArray(const ByteBuffer& buffer)
{
    return QByteArray(reinterpret_cast<const char*>(buffer.bytes.get()), buffer.length);
}

} // namespace

class TestOcra : public QObject
{
    Q_OBJECT

private slots:
    // RFC 6287 Appendix C, keys used raw (20, 32 or 64 bytes for SHA-1, SHA-256,
    // SHA-512). The PSHA1 suites use the password 1234, the T1M suites the time
    // 1206446760 s (0x132d0b6 minutes).
    void rfc6287_data()
    {
        QTest::addColumn<QString>("suite");
        QTest::addColumn<int>("counter");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("response");
        // clang-format off
        const QString qn = "OCRA-1:HOTP-SHA1-6:QN08";
        const QString cqp = "OCRA-1:HOTP-SHA256-8:C-QN08-PSHA1";
        const QString qp = "OCRA-1:HOTP-SHA256-8:QN08-PSHA1";
        const QString cq = "OCRA-1:HOTP-SHA512-8:C-QN08";
        const QString qnt = "OCRA-1:HOTP-SHA512-8:QN08-T1M";
        const QString qa = "OCRA-1:HOTP-SHA256-8:QA08";
        const QString qap = "OCRA-1:HOTP-SHA512-8:QA08-PSHA1";
        const QString qat = "OCRA-1:HOTP-SHA512-8:QA10-T1M";
        QTest::newRow("QN08 00000000") << qn << 0 << "00000000" << "237653";
        QTest::newRow("QN08 11111111") << qn << 0 << "11111111" << "243178";
        QTest::newRow("QN08 22222222") << qn << 0 << "22222222" << "653583";
        QTest::newRow("QN08 33333333") << qn << 0 << "33333333" << "740991";
        QTest::newRow("QN08 44444444") << qn << 0 << "44444444" << "608993";
        QTest::newRow("QN08 55555555") << qn << 0 << "55555555" << "388898";
        QTest::newRow("QN08 66666666") << qn << 0 << "66666666" << "816933";
        QTest::newRow("QN08 77777777") << qn << 0 << "77777777" << "224598";
        QTest::newRow("QN08 88888888") << qn << 0 << "88888888" << "750600";
        QTest::newRow("QN08 99999999") << qn << 0 << "99999999" << "294470";
        QTest::newRow("C-QN08-PSHA1 C=0 12345678") << cqp << 0 << "12345678" << "65347737";
        QTest::newRow("C-QN08-PSHA1 C=1 12345678") << cqp << 1 << "12345678" << "86775851";
        QTest::newRow("C-QN08-PSHA1 C=2 12345678") << cqp << 2 << "12345678" << "78192410";
        QTest::newRow("C-QN08-PSHA1 C=3 12345678") << cqp << 3 << "12345678" << "71565254";
        QTest::newRow("C-QN08-PSHA1 C=4 12345678") << cqp << 4 << "12345678" << "10104329";
        QTest::newRow("C-QN08-PSHA1 C=5 12345678") << cqp << 5 << "12345678" << "65983500";
        QTest::newRow("C-QN08-PSHA1 C=6 12345678") << cqp << 6 << "12345678" << "70069104";
        QTest::newRow("C-QN08-PSHA1 C=7 12345678") << cqp << 7 << "12345678" << "91771096";
        QTest::newRow("C-QN08-PSHA1 C=8 12345678") << cqp << 8 << "12345678" << "75011558";
        QTest::newRow("C-QN08-PSHA1 C=9 12345678") << cqp << 9 << "12345678" << "08522129";
        QTest::newRow("QN08-PSHA1 00000000") << qp << 0 << "00000000" << "83238735";
        QTest::newRow("QN08-PSHA1 11111111") << qp << 0 << "11111111" << "01501458";
        QTest::newRow("QN08-PSHA1 22222222") << qp << 0 << "22222222" << "17957585";
        QTest::newRow("QN08-PSHA1 33333333") << qp << 0 << "33333333" << "86776967";
        QTest::newRow("QN08-PSHA1 44444444") << qp << 0 << "44444444" << "86807031";
        QTest::newRow("C-QN08 C=0 00000000") << cq << 0 << "00000000" << "07016083";
        QTest::newRow("C-QN08 C=1 11111111") << cq << 1 << "11111111" << "63947962";
        QTest::newRow("C-QN08 C=2 22222222") << cq << 2 << "22222222" << "70123924";
        QTest::newRow("C-QN08 C=3 33333333") << cq << 3 << "33333333" << "25341727";
        QTest::newRow("C-QN08 C=4 44444444") << cq << 4 << "44444444" << "33203315";
        QTest::newRow("C-QN08 C=5 55555555") << cq << 5 << "55555555" << "34205738";
        QTest::newRow("C-QN08 C=6 66666666") << cq << 6 << "66666666" << "44343969";
        QTest::newRow("C-QN08 C=7 77777777") << cq << 7 << "77777777" << "51946085";
        QTest::newRow("C-QN08 C=8 88888888") << cq << 8 << "88888888" << "20403879";
        QTest::newRow("C-QN08 C=9 99999999") << cq << 9 << "99999999" << "31409299";
        QTest::newRow("QN08-T1M 00000000") << qnt << 0 << "00000000" << "95209754";
        QTest::newRow("QN08-T1M 11111111") << qnt << 0 << "11111111" << "55907591";
        QTest::newRow("QN08-T1M 22222222") << qnt << 0 << "22222222" << "22048402";
        QTest::newRow("QN08-T1M 33333333") << qnt << 0 << "33333333" << "24218844";
        QTest::newRow("QN08-T1M 44444444") << qnt << 0 << "44444444" << "36209546";
        QTest::newRow("QA08 CLI22220SRV11110") << qa << 0 << "CLI22220SRV11110" << "28247970";
        QTest::newRow("QA08 CLI22221SRV11111") << qa << 0 << "CLI22221SRV11111" << "01984843";
        QTest::newRow("QA08 CLI22222SRV11112") << qa << 0 << "CLI22222SRV11112" << "65387857";
        QTest::newRow("QA08 CLI22223SRV11113") << qa << 0 << "CLI22223SRV11113" << "03351211";
        QTest::newRow("QA08 CLI22224SRV11114") << qa << 0 << "CLI22224SRV11114" << "83412541";
        QTest::newRow("QA08 SRV11110CLI22220") << qa << 0 << "SRV11110CLI22220" << "15510767";
        QTest::newRow("QA08 SRV11111CLI22221") << qa << 0 << "SRV11111CLI22221" << "90175646";
        QTest::newRow("QA08 SRV11112CLI22222") << qa << 0 << "SRV11112CLI22222" << "33777207";
        QTest::newRow("QA08 SRV11113CLI22223") << qa << 0 << "SRV11113CLI22223" << "95285278";
        QTest::newRow("QA08 SRV11114CLI22224") << qa << 0 << "SRV11114CLI22224" << "28934924";
        QTest::newRow("QA08-PSHA1 SRV11110CLI22220") << qap << 0 << "SRV11110CLI22220" << "18806276";
        QTest::newRow("QA08-PSHA1 SRV11111CLI22221") << qap << 0 << "SRV11111CLI22221" << "70020315";
        QTest::newRow("QA08-PSHA1 SRV11112CLI22222") << qap << 0 << "SRV11112CLI22222" << "01600026";
        QTest::newRow("QA08-PSHA1 SRV11113CLI22223") << qap << 0 << "SRV11113CLI22223" << "18951020";
        QTest::newRow("QA08-PSHA1 SRV11114CLI22224") << qap << 0 << "SRV11114CLI22224" << "32528969";
        QTest::newRow("QA08 SIG10000") << qa << 0 << "SIG10000" << "53095496";
        QTest::newRow("QA08 SIG11000") << qa << 0 << "SIG11000" << "04110475";
        QTest::newRow("QA08 SIG12000") << qa << 0 << "SIG12000" << "31331128";
        QTest::newRow("QA08 SIG13000") << qa << 0 << "SIG13000" << "76028668";
        QTest::newRow("QA08 SIG14000") << qa << 0 << "SIG14000" << "46554205";
        QTest::newRow("QA10-T1M SIG1000000") << qat << 0 << "SIG1000000" << "77537423";
        QTest::newRow("QA10-T1M SIG1100000") << qat << 0 << "SIG1100000" << "31970405";
        QTest::newRow("QA10-T1M SIG1200000") << qat << 0 << "SIG1200000" << "10235557";
        QTest::newRow("QA10-T1M SIG1300000") << qat << 0 << "SIG1300000" << "95213541";
        QTest::newRow("QA10-T1M SIG1400000") << qat << 0 << "SIG1400000" << "65360607";
        // clang-format on
    }

    void rfc6287()
    {
        QFETCH(QString, suite);
        QFETCH(int, counter);
        QFETCH(QString, question);
        const std::string& key = suite.contains("SHA512")   ? Key64
                                 : suite.contains("SHA256") ? Key32
                                                            : Key20;
        const QString password = suite.contains("PSHA1") ? "1234" : "";
        const std::int64_t time = suite.contains("T1M") ? 1206446760 : 0;
        QTEST(QString::fromStdString(Ocra(key, suite, static_cast<std::uint64_t>(counter), question,
                                          password, QString(), time)),
              "response");
    }

    // Key "12345678901234567890", counter 5; codes computed with Python's hmac
    // over the message laid out by hand.
    void messageFields_data()
    {
        QTest::addColumn<QString>("suite");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("session");
        QTest::addColumn<qint64>("time");
        QTest::addColumn<QString>("code");
        const QString sha1 = "OCRA-1:HOTP-SHA1-6:";
        const qint64 t = 1206446760;
        // clang-format off
        QTest::newRow("session field") << sha1 + "C-QN08-S064" << "12345678" << "" << "session-42" << 0LL << "891420";
        QTest::newRow("lower-case qn: question as text") << "ocra-1:hotp-sha1-6:qn08" << "1234" << "" << "" << 0LL << "271719";
        QTest::newRow("MD5 computes SHA-1") << "OCRA-1:HOTP-MD5-6:QN08" << "12345678" << "" << "" << 0LL << "677776";
        QTest::newRow("PSHA256") << sha1 + "QN08-PSHA256" << "12345678" << "1234" << "" << 0LL << "695906";
        QTest::newRow("PSHA512") << sha1 + "QN08-PSHA512" << "12345678" << "1234" << "" << 0LL << "820408";
        QTest::newRow("question filling its field") << sha1 + "QA128" << QString(128, 'x') << "" << "" << 0LL << "425094";
        QTest::newRow("hours") << sha1 + "QN08-T1H" << "1" << "" << "" << t << "512532";
        QTest::newRow("seconds") << sha1 + "QN08-T30S" << "1" << "" << "" << t << "175056";
        QTest::newRow("other unit: seconds") << sha1 + "QN08-T1X" << "1" << "" << "" << t << "885909";
        QTest::newRow("minutes after 2038") << sha1 + "QN08-T1M" << "1" << "" << "" << 4102444800LL << "465736";
        QTest::newRow("twelve digits") << "OCRA-1:HOTP-SHA1-12:QN08" << "12345678" << "" << "" << 0LL << "000343778310";
        // clang-format on
    }

    void messageFields()
    {
        QFETCH(QString, suite);
        QFETCH(QString, question);
        QFETCH(QString, password);
        QFETCH(QString, session);
        QFETCH(qint64, time);
        QTEST(QString::fromStdString(Ocra(Key20, suite, 5, question, password, session, time)),
              "code");
    }

    void refused_data()
    {
        QTest::addColumn<QString>("suite");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("session");
        const QString q = "12345678";
        // clang-format off
        QTest::newRow("digit count 0") << "OCRA-1:HOTP-SHA1-0:QN08" << q << "";
        QTest::newRow("digit count 13") << "OCRA-1:HOTP-SHA1-13:QN08" << q << "";
        QTest::newRow("digit count 6X") << "OCRA-1:HOTP-SHA1-6X:QN08" << q << "";
        QTest::newRow("version 2") << "OCRA-2:HOTP-SHA1-6:QN08" << q << "";
        QTest::newRow("two parts") << "OCRA-1:HOTP-SHA1-6" << q << "";
        QTest::newRow("four parts") << "OCRA-1:HOTP-SHA1-6:QN08:" << q << "";
        QTest::newRow("crypto function of two parts") << "OCRA-1:SHA1-6:QN08" << q << "";
        QTest::newRow("empty data input") << "OCRA-1:HOTP-SHA1-6:" << q << "";
        QTest::newRow("question of 129 bytes") << "OCRA-1:HOTP-SHA1-6:QA128" << QString(129, 'x') << "";
        QTest::newRow("session of 65 bytes") << "OCRA-1:HOTP-SHA1-6:QN08-S064" << q << QString(65, 's');
        QTest::newRow("time step 0") << "OCRA-1:HOTP-SHA1-6:QN08-T0M" << q << "";
        QTest::newRow("negative time step") << "OCRA-1:HOTP-SHA1-6:QN08-T-1M" << q << "";
        // clang-format on
    }

    void refused()
    {
        QFETCH(QString, suite);
        QFETCH(QString, question);
        QFETCH(QString, session);
        QCOMPARE(Ocra(Key20, suite, 0, question, QString(), session, 1206446760), std::string());
    }

    void conversionErrors_data()
    {
        QTest::addColumn<QString>("suite");
        QTest::addColumn<QString>("question");
        const QString qn = "OCRA-1:HOTP-SHA1-6:QN08";
        // clang-format off
        QTest::newRow("letters in a numeric question") << qn << "12AB";
        QTest::newRow("negative numeric question") << qn << "-1";
        QTest::newRow("numeric question above 64 bits") << qn << "18446744073709551616";
        QTest::newRow("time step XM") << qn + "-TXM" << "1";
        QTest::newRow("time step without number") << qn + "-TM" << "1";
        QTest::newRow("time item without step") << qn + "-T" << "1";
        // clang-format on
    }

    void conversionErrors()
    {
        QFETCH(QString, suite);
        QFETCH(QString, question);
        QVERIFY_THROWS_EXCEPTION(ConversionError,
                                 Ocra(Key20, suite, 0, question, QString(), QString(), 1206446760));
    }

    void formatters()
    {
        const std::string qn = "OCRA-1:HOTP-SHA1-6:QN08";
        QCOMPARE(FormatQuestion(qn, "00012345"), std::string("3039"));
        QCOMPARE(FormatQuestion(qn, "4095"), std::string("FFF0"));
        QCOMPARE(FormatQuestion("OCRA-1:HOTP-SHA1-6:QA08", "ABC"), std::string("414243"));

        QCOMPARE(HashPassword(qn + "-PSHA1", "1234"),
                 std::string("7110EDA4D09E062AA5E4A390B0A572AC0D2C0220"));
        QCOMPARE(HashPassword(qn, ""), std::string());

        QCOMPARE(FormatTimeStep(qn + "-T1M", 1206446760), std::string("132d0b6"));
        QCOMPARE(FormatTimeStep("OCRA-1:HOTP-SHA1-6:T1M", 1206446760), std::string("132d0b6"));
        QCOMPARE(FormatTimeStep(qn + "-T1M", 0), std::string());
        QCOMPARE(FormatTimeStep(qn, 1206446760), std::string());
    }

    void hexCoding()
    {
        const std::uint8_t bytes[] = {0x00, 0x1F, 0xA0, 0xFF};
        QCOMPARE(BytesToHex(bytes, 4), std::string("001FA0FF"));
        QCOMPARE(BytesToHex(bytes, 0), std::string());
        QCOMPARE(ToQByteArray(HexToBytes("ABC", 4)), QByteArray::fromHex("00000ABC"));
        QCOMPARE(ToQByteArray(HexToBytes("0a0BzZ01", 4)), QByteArray::fromHex("0A0B0000"));
        QCOMPARE(ToQByteArray(HexToBytes("0102030405", 4)), QByteArray(4, '\0'));
        QCOMPARE(ToQByteArray(HexToBytes("abc")), QByteArray::fromHex("0ABC"));
        QCOMPARE(HexToBytes("").length, 0);
    }

    // Both keys of a token answer: the RFC 6287 Appendix C value for the main
    // key, the second code from Python's hmac.
    void tokenPair()
    {
        COtpToken token;
        token.SetOtpKey(Bytes(Key32), 32);
        token.SetTwoWayKey(Bytes(Key64), 64);
        QCOMPARE(token.GenerateOcraPair("OCRA-1:HOTP-SHA256-8:QN08-PSHA1", 0, "11111111", "1234",
                                        std::string(), 0),
                 OtpPair("01501458", "91586185"));
    }
};

QTEST_APPLESS_MAIN(TestOcra)
#include "tst_ocra.moc"
