#include "otp/Ocra.h"

#include "otp/NumberText.h"
#include "otp/OtpToken.h"

#include <QtTest>

#include <string>

namespace {

const std::string Key20 = "12345678901234567890";
const std::string Key32 = "12345678901234567890123456789012";
const std::string Key64 = "1234567890123456789012345678901234567890123456789012345678901234";

// The RFC 6287 test keys, one per hash, used as raw bytes.
const std::string& KeyFor(const std::string& suite)
{
    if (suite.find("SHA512") != std::string::npos) {
        return Key64;
    }
    return suite.find("SHA256") != std::string::npos ? Key32 : Key20;
}

std::string Ocra(const std::string& suite, std::uint64_t counter, const std::string& question,
                 const std::string& password, const std::string& session, std::int64_t time)
{
    const std::string& key = KeyFor(suite);
    return ComputeOcra(reinterpret_cast<const std::uint8_t*>(key.data()),
                       static_cast<std::int32_t>(key.size()), suite, counter, question, password,
                       session, time);
}

QByteArray Bytes(const ByteBuffer& buffer)
{
    return QByteArray(reinterpret_cast<const char*>(buffer.bytes.get()), buffer.length);
}

} // namespace

class TestOcra : public QObject
{
    Q_OBJECT

private slots:
    void rfc6287_data();
    void rfc6287();
    void messageFields_data();
    void messageFields();
    void refused_data();
    void refused();
    void conversionErrors_data();
    void conversionErrors();
    void formatters();
    void hexCoding();
    void tokenPair();
};

// RFC 6287 Appendix C. T1M rows at 1206446760 s, that is 0x132d0b6 minutes.
void TestOcra::rfc6287_data()
{
    QTest::addColumn<QByteArray>("suite");
    QTest::addColumn<quint64>("counter");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("password");
    QTest::addColumn<qint64>("time");
    QTest::addColumn<QString>("response");
    const QByteArray sha1_6_qn08 = "OCRA-1:HOTP-SHA1-6:QN08";
    const QByteArray sha256_8_c_qn08_psha1 = "OCRA-1:HOTP-SHA256-8:C-QN08-PSHA1";
    const QByteArray sha256_8_qn08_psha1 = "OCRA-1:HOTP-SHA256-8:QN08-PSHA1";
    const QByteArray sha512_8_c_qn08 = "OCRA-1:HOTP-SHA512-8:C-QN08";
    const QByteArray sha512_8_qn08_t1m = "OCRA-1:HOTP-SHA512-8:QN08-T1M";
    const QByteArray sha256_8_qa08 = "OCRA-1:HOTP-SHA256-8:QA08";
    const QByteArray sha512_8_qa08_psha1 = "OCRA-1:HOTP-SHA512-8:QA08-PSHA1";
    const QByteArray sha512_8_qa10_t1m = "OCRA-1:HOTP-SHA512-8:QA10-T1M";
    QTest::newRow("HOTP-SHA1-6:QN08 Q=00000000") << sha1_6_qn08 << 0ULL << "00000000"
                                                 << "" << 0LL << "237653";
    QTest::newRow("HOTP-SHA1-6:QN08 Q=11111111") << sha1_6_qn08 << 0ULL << "11111111"
                                                 << "" << 0LL << "243178";
    QTest::newRow("HOTP-SHA1-6:QN08 Q=22222222") << sha1_6_qn08 << 0ULL << "22222222"
                                                 << "" << 0LL << "653583";
    QTest::newRow("HOTP-SHA1-6:QN08 Q=33333333") << sha1_6_qn08 << 0ULL << "33333333"
                                                 << "" << 0LL << "740991";
    QTest::newRow("HOTP-SHA1-6:QN08 Q=44444444") << sha1_6_qn08 << 0ULL << "44444444"
                                                 << "" << 0LL << "608993";
    QTest::newRow("HOTP-SHA1-6:QN08 Q=55555555") << sha1_6_qn08 << 0ULL << "55555555"
                                                 << "" << 0LL << "388898";
    QTest::newRow("HOTP-SHA1-6:QN08 Q=66666666") << sha1_6_qn08 << 0ULL << "66666666"
                                                 << "" << 0LL << "816933";
    QTest::newRow("HOTP-SHA1-6:QN08 Q=77777777") << sha1_6_qn08 << 0ULL << "77777777"
                                                 << "" << 0LL << "224598";
    QTest::newRow("HOTP-SHA1-6:QN08 Q=88888888") << sha1_6_qn08 << 0ULL << "88888888"
                                                 << "" << 0LL << "750600";
    QTest::newRow("HOTP-SHA1-6:QN08 Q=99999999") << sha1_6_qn08 << 0ULL << "99999999"
                                                 << "" << 0LL << "294470";
    QTest::newRow("HOTP-SHA256-8:C-QN08-PSHA1 C=0 Q=12345678")
        << sha256_8_c_qn08_psha1 << 0ULL << "12345678"
        << "1234" << 0LL << "65347737";
    QTest::newRow("HOTP-SHA256-8:C-QN08-PSHA1 C=1 Q=12345678")
        << sha256_8_c_qn08_psha1 << 1ULL << "12345678"
        << "1234" << 0LL << "86775851";
    QTest::newRow("HOTP-SHA256-8:C-QN08-PSHA1 C=2 Q=12345678")
        << sha256_8_c_qn08_psha1 << 2ULL << "12345678"
        << "1234" << 0LL << "78192410";
    QTest::newRow("HOTP-SHA256-8:C-QN08-PSHA1 C=3 Q=12345678")
        << sha256_8_c_qn08_psha1 << 3ULL << "12345678"
        << "1234" << 0LL << "71565254";
    QTest::newRow("HOTP-SHA256-8:C-QN08-PSHA1 C=4 Q=12345678")
        << sha256_8_c_qn08_psha1 << 4ULL << "12345678"
        << "1234" << 0LL << "10104329";
    QTest::newRow("HOTP-SHA256-8:C-QN08-PSHA1 C=5 Q=12345678")
        << sha256_8_c_qn08_psha1 << 5ULL << "12345678"
        << "1234" << 0LL << "65983500";
    QTest::newRow("HOTP-SHA256-8:C-QN08-PSHA1 C=6 Q=12345678")
        << sha256_8_c_qn08_psha1 << 6ULL << "12345678"
        << "1234" << 0LL << "70069104";
    QTest::newRow("HOTP-SHA256-8:C-QN08-PSHA1 C=7 Q=12345678")
        << sha256_8_c_qn08_psha1 << 7ULL << "12345678"
        << "1234" << 0LL << "91771096";
    QTest::newRow("HOTP-SHA256-8:C-QN08-PSHA1 C=8 Q=12345678")
        << sha256_8_c_qn08_psha1 << 8ULL << "12345678"
        << "1234" << 0LL << "75011558";
    QTest::newRow("HOTP-SHA256-8:C-QN08-PSHA1 C=9 Q=12345678")
        << sha256_8_c_qn08_psha1 << 9ULL << "12345678"
        << "1234" << 0LL << "08522129";
    QTest::newRow("HOTP-SHA256-8:QN08-PSHA1 Q=00000000")
        << sha256_8_qn08_psha1 << 0ULL << "00000000"
        << "1234" << 0LL << "83238735";
    QTest::newRow("HOTP-SHA256-8:QN08-PSHA1 Q=11111111")
        << sha256_8_qn08_psha1 << 0ULL << "11111111"
        << "1234" << 0LL << "01501458";
    QTest::newRow("HOTP-SHA256-8:QN08-PSHA1 Q=22222222")
        << sha256_8_qn08_psha1 << 0ULL << "22222222"
        << "1234" << 0LL << "17957585";
    QTest::newRow("HOTP-SHA256-8:QN08-PSHA1 Q=33333333")
        << sha256_8_qn08_psha1 << 0ULL << "33333333"
        << "1234" << 0LL << "86776967";
    QTest::newRow("HOTP-SHA256-8:QN08-PSHA1 Q=44444444")
        << sha256_8_qn08_psha1 << 0ULL << "44444444"
        << "1234" << 0LL << "86807031";
    QTest::newRow("HOTP-SHA512-8:C-QN08 C=0 Q=00000000") << sha512_8_c_qn08 << 0ULL << "00000000"
                                                         << "" << 0LL << "07016083";
    QTest::newRow("HOTP-SHA512-8:C-QN08 C=1 Q=11111111") << sha512_8_c_qn08 << 1ULL << "11111111"
                                                         << "" << 0LL << "63947962";
    QTest::newRow("HOTP-SHA512-8:C-QN08 C=2 Q=22222222") << sha512_8_c_qn08 << 2ULL << "22222222"
                                                         << "" << 0LL << "70123924";
    QTest::newRow("HOTP-SHA512-8:C-QN08 C=3 Q=33333333") << sha512_8_c_qn08 << 3ULL << "33333333"
                                                         << "" << 0LL << "25341727";
    QTest::newRow("HOTP-SHA512-8:C-QN08 C=4 Q=44444444") << sha512_8_c_qn08 << 4ULL << "44444444"
                                                         << "" << 0LL << "33203315";
    QTest::newRow("HOTP-SHA512-8:C-QN08 C=5 Q=55555555") << sha512_8_c_qn08 << 5ULL << "55555555"
                                                         << "" << 0LL << "34205738";
    QTest::newRow("HOTP-SHA512-8:C-QN08 C=6 Q=66666666") << sha512_8_c_qn08 << 6ULL << "66666666"
                                                         << "" << 0LL << "44343969";
    QTest::newRow("HOTP-SHA512-8:C-QN08 C=7 Q=77777777") << sha512_8_c_qn08 << 7ULL << "77777777"
                                                         << "" << 0LL << "51946085";
    QTest::newRow("HOTP-SHA512-8:C-QN08 C=8 Q=88888888") << sha512_8_c_qn08 << 8ULL << "88888888"
                                                         << "" << 0LL << "20403879";
    QTest::newRow("HOTP-SHA512-8:C-QN08 C=9 Q=99999999") << sha512_8_c_qn08 << 9ULL << "99999999"
                                                         << "" << 0LL << "31409299";
    QTest::newRow("HOTP-SHA512-8:QN08-T1M Q=00000000") << sha512_8_qn08_t1m << 0ULL << "00000000"
                                                       << "" << 1206446760LL << "95209754";
    QTest::newRow("HOTP-SHA512-8:QN08-T1M Q=11111111") << sha512_8_qn08_t1m << 0ULL << "11111111"
                                                       << "" << 1206446760LL << "55907591";
    QTest::newRow("HOTP-SHA512-8:QN08-T1M Q=22222222") << sha512_8_qn08_t1m << 0ULL << "22222222"
                                                       << "" << 1206446760LL << "22048402";
    QTest::newRow("HOTP-SHA512-8:QN08-T1M Q=33333333") << sha512_8_qn08_t1m << 0ULL << "33333333"
                                                       << "" << 1206446760LL << "24218844";
    QTest::newRow("HOTP-SHA512-8:QN08-T1M Q=44444444") << sha512_8_qn08_t1m << 0ULL << "44444444"
                                                       << "" << 1206446760LL << "36209546";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=CLI22220SRV11110")
        << sha256_8_qa08 << 0ULL << "CLI22220SRV11110"
        << "" << 0LL << "28247970";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=CLI22221SRV11111")
        << sha256_8_qa08 << 0ULL << "CLI22221SRV11111"
        << "" << 0LL << "01984843";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=CLI22222SRV11112")
        << sha256_8_qa08 << 0ULL << "CLI22222SRV11112"
        << "" << 0LL << "65387857";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=CLI22223SRV11113")
        << sha256_8_qa08 << 0ULL << "CLI22223SRV11113"
        << "" << 0LL << "03351211";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=CLI22224SRV11114")
        << sha256_8_qa08 << 0ULL << "CLI22224SRV11114"
        << "" << 0LL << "83412541";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=SRV11110CLI22220")
        << sha256_8_qa08 << 0ULL << "SRV11110CLI22220"
        << "" << 0LL << "15510767";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=SRV11111CLI22221")
        << sha256_8_qa08 << 0ULL << "SRV11111CLI22221"
        << "" << 0LL << "90175646";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=SRV11112CLI22222")
        << sha256_8_qa08 << 0ULL << "SRV11112CLI22222"
        << "" << 0LL << "33777207";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=SRV11113CLI22223")
        << sha256_8_qa08 << 0ULL << "SRV11113CLI22223"
        << "" << 0LL << "95285278";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=SRV11114CLI22224")
        << sha256_8_qa08 << 0ULL << "SRV11114CLI22224"
        << "" << 0LL << "28934924";
    QTest::newRow("HOTP-SHA512-8:QA08-PSHA1 Q=SRV11110CLI22220")
        << sha512_8_qa08_psha1 << 0ULL << "SRV11110CLI22220"
        << "1234" << 0LL << "18806276";
    QTest::newRow("HOTP-SHA512-8:QA08-PSHA1 Q=SRV11111CLI22221")
        << sha512_8_qa08_psha1 << 0ULL << "SRV11111CLI22221"
        << "1234" << 0LL << "70020315";
    QTest::newRow("HOTP-SHA512-8:QA08-PSHA1 Q=SRV11112CLI22222")
        << sha512_8_qa08_psha1 << 0ULL << "SRV11112CLI22222"
        << "1234" << 0LL << "01600026";
    QTest::newRow("HOTP-SHA512-8:QA08-PSHA1 Q=SRV11113CLI22223")
        << sha512_8_qa08_psha1 << 0ULL << "SRV11113CLI22223"
        << "1234" << 0LL << "18951020";
    QTest::newRow("HOTP-SHA512-8:QA08-PSHA1 Q=SRV11114CLI22224")
        << sha512_8_qa08_psha1 << 0ULL << "SRV11114CLI22224"
        << "1234" << 0LL << "32528969";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=SIG10000") << sha256_8_qa08 << 0ULL << "SIG10000"
                                                   << "" << 0LL << "53095496";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=SIG11000") << sha256_8_qa08 << 0ULL << "SIG11000"
                                                   << "" << 0LL << "04110475";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=SIG12000") << sha256_8_qa08 << 0ULL << "SIG12000"
                                                   << "" << 0LL << "31331128";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=SIG13000") << sha256_8_qa08 << 0ULL << "SIG13000"
                                                   << "" << 0LL << "76028668";
    QTest::newRow("HOTP-SHA256-8:QA08 Q=SIG14000") << sha256_8_qa08 << 0ULL << "SIG14000"
                                                   << "" << 0LL << "46554205";
    QTest::newRow("HOTP-SHA512-8:QA10-T1M Q=SIG1000000")
        << sha512_8_qa10_t1m << 0ULL << "SIG1000000"
        << "" << 1206446760LL << "77537423";
    QTest::newRow("HOTP-SHA512-8:QA10-T1M Q=SIG1100000")
        << sha512_8_qa10_t1m << 0ULL << "SIG1100000"
        << "" << 1206446760LL << "31970405";
    QTest::newRow("HOTP-SHA512-8:QA10-T1M Q=SIG1200000")
        << sha512_8_qa10_t1m << 0ULL << "SIG1200000"
        << "" << 1206446760LL << "10235557";
    QTest::newRow("HOTP-SHA512-8:QA10-T1M Q=SIG1300000")
        << sha512_8_qa10_t1m << 0ULL << "SIG1300000"
        << "" << 1206446760LL << "95213541";
    QTest::newRow("HOTP-SHA512-8:QA10-T1M Q=SIG1400000")
        << sha512_8_qa10_t1m << 0ULL << "SIG1400000"
        << "" << 1206446760LL << "65360607";
}

void TestOcra::rfc6287()
{
    QFETCH(QByteArray, suite);
    QFETCH(quint64, counter);
    QFETCH(QString, question);
    QFETCH(QString, password);
    QFETCH(qint64, time);
    QTEST(QString::fromStdString(Ocra(suite.toStdString(), counter, question.toStdString(),
                                      password.toStdString(), std::string(), time)),
          "response");
}

// Codes computed with Python's hmac over the message built by hand.
void TestOcra::messageFields_data()
{
    QTest::addColumn<QByteArray>("suite");
    QTest::addColumn<quint64>("counter");
    QTest::addColumn<QByteArray>("question");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("session");
    QTest::addColumn<qint64>("time");
    QTest::addColumn<QString>("code");
    QTest::newRow("session field")
        << QByteArray("OCRA-1:HOTP-SHA1-6:C-QN08-S064") << 5ULL << QByteArray("12345678")
        << QByteArray() << QByteArray("session-42") << 0LL << "891420";
    QTest::newRow("lower case: question as text")
        << QByteArray("ocra-1:hotp-sha1-6:qn08") << 0ULL << QByteArray("1234") << QByteArray()
        << QByteArray() << 0LL << "271719";
    QTest::newRow("MD5 computes SHA-1")
        << QByteArray("OCRA-1:HOTP-MD5-6:QN08") << 0ULL << QByteArray("12345678") << QByteArray()
        << QByteArray() << 0LL << "677776";
    QTest::newRow("PSHA256") << QByteArray("OCRA-1:HOTP-SHA1-6:QN08-PSHA256") << 0ULL
                             << QByteArray("12345678") << QByteArray("1234") << QByteArray() << 0LL
                             << "695906";
    QTest::newRow("PSHA512") << QByteArray("OCRA-1:HOTP-SHA1-6:QN08-PSHA512") << 0ULL
                             << QByteArray("12345678") << QByteArray("1234") << QByteArray() << 0LL
                             << "820408";
    QTest::newRow("question filling its field")
        << QByteArray("OCRA-1:HOTP-SHA1-6:QA128") << 0ULL << QByteArray(128, 'x') << QByteArray()
        << QByteArray() << 0LL << "425094";
    QTest::newRow("hours") << QByteArray("OCRA-1:HOTP-SHA1-6:QN08-T1H") << 0ULL << QByteArray("1")
                           << QByteArray() << QByteArray() << 1206446760LL << "512532";
    QTest::newRow("seconds") << QByteArray("OCRA-1:HOTP-SHA1-6:QN08-T30S") << 0ULL
                             << QByteArray("1") << QByteArray() << QByteArray() << 1206446760LL
                             << "175056";
    QTest::newRow("other unit: seconds")
        << QByteArray("OCRA-1:HOTP-SHA1-6:QN08-T1X") << 0ULL << QByteArray("1") << QByteArray()
        << QByteArray() << 1206446760LL << "885909";
    QTest::newRow("minutes after 2038")
        << QByteArray("OCRA-1:HOTP-SHA1-6:QN08-T1M") << 0ULL << QByteArray("1") << QByteArray()
        << QByteArray() << 4102444800LL << "465736";
    QTest::newRow("twelve digits")
        << QByteArray("OCRA-1:HOTP-SHA1-12:QN08") << 0ULL << QByteArray("12345678") << QByteArray()
        << QByteArray() << 0LL << "000343778310";
}

void TestOcra::messageFields()
{
    QFETCH(QByteArray, suite);
    QFETCH(quint64, counter);
    QFETCH(QByteArray, question);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, session);
    QFETCH(qint64, time);
    const std::string code = ComputeOcra(reinterpret_cast<const std::uint8_t*>(Key20.data()), 20,
                                         suite.toStdString(), counter, question.toStdString(),
                                         password.toStdString(), session.toStdString(), time);
    QTEST(QString::fromStdString(code), "code");
}

void TestOcra::refused_data()
{
    QTest::addColumn<QByteArray>("suite");
    QTest::addColumn<QByteArray>("question");
    QTest::addColumn<QByteArray>("session");
    QTest::addColumn<qint64>("time");
    const QByteArray q = "12345678";
    QTest::newRow("digit count 0")
        << QByteArray("OCRA-1:HOTP-SHA1-0:QN08") << q << QByteArray() << 0LL;
    QTest::newRow("digit count 13")
        << QByteArray("OCRA-1:HOTP-SHA1-13:QN08") << q << QByteArray() << 0LL;
    QTest::newRow("digit count not a number")
        << QByteArray("OCRA-1:HOTP-SHA1-6X:QN08") << q << QByteArray() << 0LL;
    QTest::newRow("version 2") << QByteArray("OCRA-2:HOTP-SHA1-6:QN08") << q << QByteArray() << 0LL;
    QTest::newRow("two parts") << QByteArray("OCRA-1:HOTP-SHA1-6") << q << QByteArray() << 0LL;
    QTest::newRow("four parts") << QByteArray("OCRA-1:HOTP-SHA1-6:QN08:") << q << QByteArray()
                                << 0LL;
    QTest::newRow("crypto function of two parts")
        << QByteArray("OCRA-1:SHA1-6:QN08") << q << QByteArray() << 0LL;
    QTest::newRow("empty data input")
        << QByteArray("OCRA-1:HOTP-SHA1-6:") << q << QByteArray() << 0LL;
    QTest::newRow("question of 129 bytes")
        << QByteArray("OCRA-1:HOTP-SHA1-6:QA128") << QByteArray(129, 'x') << QByteArray() << 0LL;
    QTest::newRow("session of 65 bytes")
        << QByteArray("OCRA-1:HOTP-SHA1-6:QN08-S064") << q << QByteArray(65, 's') << 0LL;
    QTest::newRow("time step 0") << QByteArray("OCRA-1:HOTP-SHA1-6:QN08-T0M") << q << QByteArray()
                                 << 1206446760LL;
    QTest::newRow("negative time step")
        << QByteArray("OCRA-1:HOTP-SHA1-6:QN08-T-1M") << q << QByteArray() << 1206446760LL;
}

void TestOcra::refused()
{
    QFETCH(QByteArray, suite);
    QFETCH(QByteArray, question);
    QFETCH(QByteArray, session);
    QFETCH(qint64, time);
    QCOMPARE(Ocra(suite.toStdString(), 0, question.toStdString(), std::string(),
                  session.toStdString(), time),
             std::string());
}

void TestOcra::conversionErrors_data()
{
    QTest::addColumn<QByteArray>("suite");
    QTest::addColumn<QByteArray>("question");
    QTest::newRow("letters in a numeric question")
        << QByteArray("OCRA-1:HOTP-SHA1-6:QN08") << QByteArray("12AB");
    QTest::newRow("negative numeric question")
        << QByteArray("OCRA-1:HOTP-SHA1-6:QN08") << QByteArray("-1");
    QTest::newRow("numeric question above 64 bits")
        << QByteArray("OCRA-1:HOTP-SHA1-6:QN08") << QByteArray("18446744073709551616");
    QTest::newRow("time step XM") << QByteArray("OCRA-1:HOTP-SHA1-6:QN08-TXM") << QByteArray("1");
    QTest::newRow("time step without number")
        << QByteArray("OCRA-1:HOTP-SHA1-6:QN08-TM") << QByteArray("1");
    QTest::newRow("time item without step")
        << QByteArray("OCRA-1:HOTP-SHA1-6:QN08-T") << QByteArray("1");
}

void TestOcra::conversionErrors()
{
    QFETCH(QByteArray, suite);
    QFETCH(QByteArray, question);
    QVERIFY_THROWS_EXCEPTION(ConversionError, Ocra(suite.toStdString(), 0, question.toStdString(),
                                                   std::string(), std::string(), 1206446760));
}

void TestOcra::formatters()
{
    const std::string qn = "OCRA-1:HOTP-SHA1-6:QN08";
    QCOMPARE(FormatQuestion(qn, "00012345"), std::string("3039"));
    QCOMPARE(FormatQuestion(qn, "4095"), std::string("FFF0"));
    QCOMPARE(FormatQuestion(qn, ""), std::string());
    QCOMPARE(FormatQuestion("OCRA-1:HOTP-SHA1-6:QA08", "ABC"), std::string("414243"));

    QCOMPARE(HashPassword("OCRA-1:HOTP-SHA1-6:QN08-PSHA1", "1234"),
             std::string("7110EDA4D09E062AA5E4A390B0A572AC0D2C0220"));
    QCOMPARE(HashPassword("OCRA-1:HOTP-SHA1-6:QN08-PSHA256", "1234").size(), std::size_t{64});
    QCOMPARE(HashPassword("OCRA-1:HOTP-SHA1-6:QN08-PSHA512", "1234").size(), std::size_t{128});
    QCOMPARE(HashPassword(qn, ""), std::string());

    QCOMPARE(FormatTimeStep("OCRA-1:HOTP-SHA1-6:QN08-T1M", 1206446760), std::string("132d0b6"));
    QCOMPARE(FormatTimeStep("OCRA-1:HOTP-SHA1-6:T1M", 1206446760), std::string("132d0b6"));
    QCOMPARE(FormatTimeStep("OCRA-1:HOTP-SHA1-6:QN08-T1M", 0), std::string());
    QCOMPARE(FormatTimeStep(qn, 1206446760), std::string());
}

void TestOcra::hexCoding()
{
    const std::uint8_t bytes[] = {0x00, 0x1F, 0xA0, 0xFF};
    QCOMPARE(BytesToHex(bytes, 4), std::string("001FA0FF"));
    QCOMPARE(BytesToHex(bytes, 0), std::string());

    QCOMPARE(Bytes(HexToBytes("ABC", 4)), QByteArray::fromHex("00000ABC"));
    QCOMPARE(Bytes(HexToBytes("0a0BzZ01", 4)), QByteArray::fromHex("0A0B0000"));
    QCOMPARE(Bytes(HexToBytes("0102030405", 4)), QByteArray(4, '\0'));
    QCOMPARE(Bytes(HexToBytes("abc")), QByteArray::fromHex("0ABC"));
    QCOMPARE(BytesToHex(HexToBytes("")), std::string());
}

// Both keys of a token answer: the RFC 6287 Appendix C value for the main
// key, the second code from Python's hmac.
void TestOcra::tokenPair()
{
    COtpToken token;
    token.SetOtpKey(reinterpret_cast<const std::uint8_t*>(Key32.data()), 32);
    token.SetTwoWayKey(reinterpret_cast<const std::uint8_t*>(Key64.data()), 64);
    const OtpPair pair = token.GenerateOcraPair("OCRA-1:HOTP-SHA256-8:QN08-PSHA1", 0, "11111111",
                                                "1234", std::string(), 0);
    QCOMPARE(pair, OtpPair("01501458", "91586185"));
}

QTEST_APPLESS_MAIN(TestOcra)
#include "tst_ocra.moc"
