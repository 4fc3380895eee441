#include "otp/OtpToken.h"

#include "otp/Clock.h"
#include "otp/NumberText.h"

#include <QtTest>

#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string Key20 = "12345678901234567890";
const std::string Key64 = "1234567890123456789012345678901234567890123456789012345678901234";

QString Hex(const std::uint8_t* bytes, std::int32_t length)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes), length).toHex());
}

// A token computing with the same RFC test key in both slots.
COtpToken RfcToken(std::int32_t type, std::int32_t timer, std::int32_t digits,
                   const std::string& key = Key20)
{
    COtpToken token;
    token.TokenType = type;
    token.Timer = timer;
    token.Digits = digits;
    token.SetOtpKey(reinterpret_cast<const std::uint8_t*>(key.data()),
                    static_cast<std::int32_t>(key.size()));
    token.SetTwoWayKey(token.OtpKey, token.OtpKeyLength);
    return token;
}

void SetNow(std::int64_t now)
{
    OtpClock::SetSource([now] { return now; });
}

} // namespace

class TestToken : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { OtpClock::SetSource({}); }

    void defaultsAndKeys()
    {
        COtpToken token;
        QVERIFY(token.ID == 0 && token.Status == 0 && token.Counter == 0);
        QVERIFY(token.DisplayName.empty() && token.Serial.empty() && token.OcraSuite.empty());
        QVERIFY(token.OtpKeyLength == 0 && token.TwoWayKeyLength == 0);
        QVERIFY(token.Digits == 6 && token.TokenType == TokenTypeHOTP && token.SyncSize == 2);
        QVERIFY(token.Timer == 30 && token.Sleep == 5 && !token.CheckSum && !token.TwoWay);
        const std::uint8_t zeros[COtpToken::MaxKeyLength] = {};
        QVERIFY(std::memcmp(token.OtpKey, zeros, sizeof zeros) == 0);
        QVERIFY(std::memcmp(token.TwoWayKey, zeros, sizeof zeros) == 0);

        const std::vector<std::uint8_t> longKey(200, 0x5A);
        token.SetOtpKey(longKey.data(), 200);
        QCOMPARE(token.OtpKeyLength, COtpToken::MaxKeyLength);
        QCOMPARE(token.OtpKey[127], std::uint8_t{0x5A});
        token.SetTwoWayKey(longKey.data(), -4);
        QCOMPARE(token.TwoWayKeyLength, 0);
        // A length written straight into the field never reaches past the buffer.
        const OtpPair kept = token.GenerateHotpPair(0);
        token.OtpKeyLength = 500;
        QCOMPARE(token.GenerateHotpPair(0).first, kept.first);
    }

    // Serial "12345678" (check digit 2), key text "0123456789"; seed check digits
    // computed with Python.
    void createDecodesSeed_data()
    {
        QTest::addColumn<QString>("seed");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("checkSum");
        QTest::addColumn<bool>("twoWay");
        QTest::addColumn<int>("digits");
        QTest::addColumn<int>("sleep");
        QTest::addColumn<int>("timer");
        QTest::addColumn<int>("syncSize");
        QTest::addColumn<QString>("suite");
        const QString hotp = "OCRA-1:HOTP-SHA1-6:C-QN08";
        const QString totp = "OCRA-1:HOTP-SHA1-6:QN08-T1M";
        // clang-format off
        QTest::newRow("v1 00000: HOTP") << "120000001234567893" << 4 << false << false << 5 << 5 << 60 << 2 << hotp;
        QTest::newRow("v1 00001: TOTP") << "120000101234567891" << 5 << false << false << 5 << 5 << 60 << 2 << totp;
        QTest::newRow("v0 00000: CB") << "020000001234567895" << 0 << false << false << 5 << 5 << 60 << 2 << hotp;
        QTest::newRow("v0 00001: TB") << "020000101234567893" << 1 << false << false << 5 << 5 << 60 << 2 << "";
        QTest::newRow("v1 00002: CR") << "120000201234567899" << 2 << false << false << 5 << 5 << 60 << 2 << "";
        QTest::newRow("v1 06500: middle values") << "120650001234567896" << 4 << true << false << 8 << 10 << 180 << 3 << hotp;
        QTest::newRow("v1 99999: bits 4, 14+ unused") << "129999901234567898" << 3 << true << true << 9 << 15 << 120 << 2 << "";
        QTest::newRow("v1 16383: CT, all set") << "121638301234567895" << 3 << true << true << 12 << 30 << 240 << 5 << "";
        QTest::newRow("non-digit version reads 0") << "x200000ABCDEFGHIJ0" << 0 << false << false << 5 << 5 << 60 << 2 << hotp;
        // clang-format on
    }

    void createDecodesSeed()
    {
        QFETCH(QString, seed);
        const COtpTokenPtr token =
            COtpToken::Create("Name", "12345678", seed.toLatin1().constData());
        QVERIFY(token);
        QTEST(token->TokenType, "type");
        QTEST(token->CheckSum, "checkSum");
        QTEST(token->TwoWay, "twoWay");
        QTEST(token->Digits, "digits");
        QTEST(token->Sleep, "sleep");
        QTEST(token->Timer, "timer");
        QTEST(token->SyncSize, "syncSize");
        QTEST(QString::fromStdString(token->OcraSuite), "suite");
        QVERIFY(token->Counter == 1 && token->Status == 1 && token->ID == 0);
        QCOMPARE(token->Serial, std::string("12345678"));
        QVERIFY(token->Name == "Name" && token->DisplayName == "Name");
    }

    // Keys and codes computed independently with Python's hashlib and hmac.
    void demoToken()
    {
        const COtpTokenPtr token = COtpToken::Create("Demo", "12345678", "1200000ABCDEFGHIJ6");
        QVERIFY(token);
        QCOMPARE(token->TokenType, int(TokenTypeHOTP));
        QCOMPARE(token->Digits, 5);
        QCOMPARE(Hex(token->OtpKey, token->OtpKeyLength),
                 QStringLiteral("9f67efc6afa95f1aef9b3351d6b01d7e0591b748"));
        QCOMPARE(Hex(token->TwoWayKey, token->TwoWayKeyLength),
                 QStringLiteral("e86410fa2d6e2634fd8ac5f4b3afe7f300000000"));
        QCOMPARE(token->GetOtp(), OtpPair("56777", "24153"));
        QCOMPARE(token->GetOtp(), OtpPair("68597", "86849"));
        QCOMPARE(token->Counter, 3ULL);

        // The check digit covers only the digits the number reading takes.
        QVERIFY(COtpToken::Create("Demo", "12345678", "1200000ZZZZZZZZZZ6"));
    }

    void createRefuses_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("seed");
        // clang-format off
        QTest::newRow("empty name") << "" << "12345678" << "120000001234567893";
        QTest::newRow("empty serial") << "N" << "" << "120000001234567893";
        QTest::newRow("empty seed") << "N" << "12345678" << "";
        QTest::newRow("17 characters") << "N" << "12345678" << "12000000123456789";
        QTest::newRow("19 characters") << "N" << "12345678" << "1200000012345678930";
        QTest::newRow("version 2") << "N" << "12345678" << "220000001234567893";
        QTest::newRow("other serial") << "N" << "12345679" << "120000001234567893";
        // clang-format on
    }

    void createRefuses()
    {
        QFETCH(QString, name);
        QFETCH(QString, serial);
        QFETCH(QString, seed);
        const QByteArray n = name.toLatin1(), s = serial.toLatin1(), d = seed.toLatin1();
        QVERIFY(!COtpToken::Create(n.constData(), s.constData(), d.constData()));
        QVERIFY(!COtpToken::Create(nullptr, s.constData(), d.constData()));
    }

    void singleDigitChangesAreRefused()
    {
        const std::string valid = "121638301234567895";
        QVERIFY(COtpToken::Create("N", "12345678", valid.c_str()));
        for (std::size_t position = 0; position < valid.size(); ++position) {
            for (char digit = '0'; digit <= '9'; ++digit) {
                std::string changed = valid;
                if (changed[position] != digit) {
                    changed[position] = digit;
                    QVERIFY2(!COtpToken::Create("N", "12345678", changed.c_str()), changed.c_str());
                }
            }
        }
    }

    // Expected codes: RFC 4226 Appendix D (6 digits) and RFC 6238 Appendix B SHA-1
    // (8 digits, 30 s steps; a TB Timer of 60 steps every 30 s); the codes of the
    // sign-extended counters from Python's hmac.
    void codes_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("timer");
        QTest::addColumn<int>("digits");
        QTest::addColumn<qint64>("now");
        QTest::addColumn<quint64>("counter");
        QTest::addColumn<QString>("code");
        QTest::addColumn<quint64>("counterAfter");
        QTest::addColumn<int>("remaining");
        // clang-format off
        QTest::newRow("TOTP 60 at 120") << 5 << 60 << 6 << 120LL << 0ULL << "359152" << 0ULL << 60;
        QTest::newRow("TOTP 60 at 179") << 5 << 60 << 6 << 179LL << 0ULL << "359152" << 0ULL << 1;
        QTest::newRow("TOTP 60 at 180") << 5 << 60 << 6 << 180LL << 0ULL << "969429" << 0ULL << 60;
        QTest::newRow("TOTP 30 after 2038") << 5 << 30 << 8 << 20000000000LL << 0ULL << "65353130" << 0ULL << 10;
        QTest::newRow("TOTP Timer 0 is 180") << 5 << 0 << 6 << 360LL << 0ULL << "359152" << 0ULL << 180;
        QTest::newRow("TOTP before 1970") << 5 << 60 << 6 << -1LL << 0ULL << "991370" << 0ULL << 1;
        QTest::newRow("TOTP negative Timer") << 5 << -30 << 6 << 120LL << 0ULL << "" << 0ULL << 0;
        QTest::newRow("TB 60 at 60") << 1 << 60 << 6 << 60LL << 0ULL << "359152" << 0ULL << 0;
        QTest::newRow("TB 60 at 89") << 1 << 60 << 6 << 89LL << 0ULL << "359152" << 0ULL << 0;
        QTest::newRow("TB 60 at 90") << 1 << 60 << 6 << 90LL << 0ULL << "969429" << 0ULL << 0;
        QTest::newRow("TB 60 at 1111111109") << 1 << 60 << 8 << 1111111109LL << 0ULL << "07081804" << 0ULL << 0;
        QTest::newRow("TB 60 after 2038") << 1 << 60 << 8 << 20000000000LL << 0ULL << "65353130" << 0ULL << 0;
        QTest::newRow("TB Timer 1: step 0") << 1 << 1 << 6 << 120LL << 0ULL << "" << 0ULL << 0;
        QTest::newRow("TB negative Timer") << 1 << -60 << 6 << 120LL << 0ULL << "" << 0ULL << 0;
        QTest::newRow("HOTP 0") << 4 << 30 << 6 << 0LL << 0ULL << "755224" << 1ULL << 0;
        QTest::newRow("CB 9") << 0 << 30 << 6 << 0LL << 9ULL << "520489" << 10ULL << 0;
        QTest::newRow("HOTP low 32 bits") << 4 << 30 << 6 << 0LL << 0x100000002ULL << "359152" << 0x100000003ULL << 0;
        QTest::newRow("HOTP 2^32-1 is -1") << 4 << 30 << 6 << 0LL << 0xFFFFFFFFULL << "094451" << 0x100000000ULL << 0;
        QTest::newRow("CR") << 2 << 30 << 6 << 0LL << 5ULL << "" << 5ULL << 0;
        QTest::newRow("unknown type 9") << 9 << 30 << 6 << 0LL << 5ULL << "" << 5ULL << 0;
        // clang-format on
    }

    void codes()
    {
        QFETCH(int, type);
        QFETCH(int, timer);
        QFETCH(int, digits);
        QFETCH(qint64, now);
        QFETCH(quint64, counter);
        QFETCH(QString, code);
        SetNow(now);
        COtpToken token = RfcToken(type, timer, digits);
        token.Counter = counter;
        QTEST(token.GetRemainingSeconds(), "remaining");
        const OtpPair pair = token.GetOtp();
        QCOMPARE(QString::fromStdString(pair.first), code);
        QCOMPARE(QString::fromStdString(pair.second), code);
        QTEST(static_cast<quint64>(token.Counter), "counterAfter");
        QCOMPARE(token.Timer, timer == 0 ? 180 : timer);
    }

    // The CT token of seed "121638301234567895" at 1000000000 s: counter 1 and
    // step 1000000000 / 120 in one 16-byte message (codes from Python's hmac).
    void counterAndTime()
    {
        SetNow(1000000000);
        const COtpTokenPtr token = COtpToken::Create("N", "12345678", "121638301234567895");
        QVERIFY(token);
        QCOMPARE(token->GetOtp(), OtpPair("0017339685459", "0011583065336"));
        QCOMPARE(token->Counter, 2ULL);
        // A Timer that makes no step gives no code and spends no counter.
        token->Timer = 1;
        QCOMPARE(token->GetOtp(), OtpPair());
        QCOMPARE(token->Counter, 2ULL);
    }

    // At 59 s; RFC 4226 Appendix D codes of the counters or steps involved.
    void syncOtps_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("timer");
        QTest::addColumn<int>("syncSize");
        QTest::addColumn<QString>("list");
        QTest::addColumn<quint64>("counterAfter");
        // clang-format off
        QTest::newRow("TOTP: steps 1 to 3") << 5 << 30 << 3 << "287082,359152,969429" << 0ULL;
        QTest::newRow("TB: every second step") << 1 << 60 << 2 << "287082,969429" << 0ULL;
        QTest::newRow("HOTP: counters 0 to 2") << 4 << 30 << 3 << "755224,287082,359152" << 3ULL;
        QTest::newRow("CR: nothing") << 2 << 30 << 3 << "" << 0ULL;
        QTest::newRow("size 0") << 4 << 30 << 0 << "" << 0ULL;
        QTest::newRow("TOTP Timer 0: no step") << 5 << 0 << 2 << "" << 0ULL;
        QTest::newRow("TB Timer 1: no step") << 1 << 1 << 2 << "" << 0ULL;
        // clang-format on
    }

    void syncOtps()
    {
        QFETCH(int, type);
        QFETCH(int, timer);
        QFETCH(int, syncSize);
        SetNow(59);
        COtpToken token = RfcToken(type, timer, 6);
        token.SyncSize = syncSize;
        QTEST(QString::fromStdString(token.GetSyncOtps()), "list");
        QTEST(static_cast<quint64>(token.Counter), "counterAfter");
    }

    // OCRA suites and codes of RFC 6287 Appendix C; the question-only code of the
    // other types from Python's hmac.
    void ocraResponse()
    {
        COtpToken hotp = RfcToken(TokenTypeHOTP, 30, 6, Key64);
        hotp.OcraSuite = "OCRA-1:HOTP-SHA512-8:C-QN08";
        hotp.Counter = 3;
        QCOMPARE(hotp.GetOcraResponse("33333333", ""), OtpPair("25341727", "25341727"));
        QCOMPARE(hotp.Counter, 4ULL);
        QVERIFY_THROWS_EXCEPTION(ConversionError, hotp.GetOcraResponse("12AB", ""));
        QCOMPARE(hotp.Counter, 4ULL);

        SetNow(1206446760); // 0x132d0b6 minutes
        COtpToken totp = RfcToken(TokenTypeTOTP, 30, 6, Key64);
        totp.OcraSuite = "OCRA-1:HOTP-SHA512-8:QN08-T1M";
        QCOMPARE(totp.GetOcraResponse("22222222", ""), OtpPair("22048402", "22048402"));

        COtpToken cb = RfcToken(TokenTypeCB, 30, 6);
        QCOMPARE(cb.GetOcraResponse("hello", "ignored"), OtpPair("610376", "610376"));
        QCOMPARE(cb.Counter, 0ULL);
    }

    void names()
    {
        COtpToken token;
        token.Name = "Bank";
        QCOMPARE(token.GetDisplayName(), std::string("Bank:"));
        token.UserName = "me";
        token.Serial = "42";
        QCOMPARE(token.GetDisplayName(), std::string("Bank:me:42"));
        token.DomainName = "example.org";
        QCOMPARE(token.GetDisplayName(), std::string("Bank:example.org:me:42"));
        token.DisplayName = "Shown";
        QCOMPARE(token.GetDisplayName(), std::string("Shown"));

        const char* names[] = {"CB", "TB", "CR", "CT", "HOTP", "TOTP", "TOTP"};
        for (int type = 0; type < 7; ++type) {
            token.TokenType = type;
            QCOMPARE(token.GetTypeName(), std::string(names[type]));
            QCOMPARE(token.IsEventBased(), type == 0 || type == 3 || type == 4);
        }

        COtpToken other = token;
        other.Name = "Other";
        QVERIFY(token.IsSameToken(other));
        other.Serial = std::string("42\0", 3);
        QVERIFY(!token.IsSameToken(other));
    }
};

QTEST_APPLESS_MAIN(TestToken)
#include "tst_token.moc"
