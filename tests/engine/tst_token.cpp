#include "otp/OtpToken.h"

#include "engine/RfcVectors.h"
#include "otp/Clock.h"
#include "otp/NumberText.h"
#include "otp/Ocra.h"
#include "otp/Seed.h"

#include <QtTest>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// What a seed decodes to, in one line.
QString Settings(const COtpToken& t)
{
    return QString::asprintf("%s%s%s, %d digits, sleep %d, timer %d, sync %d, %s",
                             t.GetTypeName().c_str(), t.CheckSum ? " check" : "",
                             t.TwoWay ? " two-way" : "", t.Digits, t.Sleep, t.Timer, t.SyncSize,
                             t.OcraSuite.c_str());
}

// A token computing with the same RFC test key in both slots.
COtpToken RfcToken(std::int32_t type, std::int32_t timer, const std::string& key = Key20)
{
    COtpToken token;
    token.TokenType = type;
    token.Timer = timer;
    token.SetOtpKey(Bytes(key), static_cast<std::int32_t>(key.size()));
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

    void keys()
    {
        COtpToken token;
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

    // Serial "12345678" (check digit 2); seed check digits computed with Python.
    void create_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("seed");
        QTest::addColumn<QString>("settings");
        const QString hotp = ", 5 digits, sleep 5, timer 60, sync 2, OCRA-1:HOTP-SHA1-6:C-QN08";
        const QString s = "12345678";
        // clang-format off
        QTest::newRow("v1 00000: HOTP, first worked example") << s << "1200000ABCDEFGHIJ6" << "HOTP" + hotp;
        QTest::newRow("key text checked up to a letter") << s << "1200000ZZZZZZZZZZ6" << "HOTP" + hotp;
        QTest::newRow("v1 00001: TOTP") << s << "120000101234567891" << "TOTP, 5 digits, sleep 5, timer 60, sync 2, OCRA-1:HOTP-SHA1-6:QN08-T1M";
        QTest::newRow("v0 00000: CB") << s << "020000001234567895" << "CB" + hotp;
        QTest::newRow("v0 00001: TB") << s << "020000101234567893" << "TB, 5 digits, sleep 5, timer 60, sync 2, ";
        QTest::newRow("v1 00002: CR") << s << "120000201234567899" << "CR, 5 digits, sleep 5, timer 60, sync 2, ";
        QTest::newRow("v1 06500: middle values") << s << "120650001234567896" << "HOTP check, 8 digits, sleep 10, timer 180, sync 3, OCRA-1:HOTP-SHA1-6:C-QN08";
        QTest::newRow("v1 83615: bits 4, 14, 16 unused") << s << "128361501234567898" << "CT check two-way, 9 digits, sleep 15, timer 120, sync 2, ";
        QTest::newRow("v1 16383: CT, all set, second worked example") << s << "121638301234567895" << "CT check two-way, 12 digits, sleep 30, timer 240, sync 5, ";
        QTest::newRow("non-digit version") << s << "x200000ABCDEFGHIJ0" << "refused";
        QTest::newRow("18 blanks") << "0" << "                  " << "refused";
        QTest::newRow("blank serial check digit") << "0" << "1 00000ABCDEFGHIJ8" << "refused";
        QTest::newRow("signed flags") << s << "12+0000ABCDEFGHIJ5" << "refused";
        QTest::newRow("blank in flags") << s << "120000 ABCDEFGHIJ5" << "refused";
        QTest::newRow("letter check digit") << s << "1200003ABCDEFGHIJx" << "refused";
        QTest::newRow("any characters in the key text") << s << "1200000 ?!  ~ ab 6" << "HOTP" + hotp;
        QTest::newRow("empty serial") << "" << "120000001234567893" << "refused";
        QTest::newRow("empty seed") << s << "" << "refused";
        QTest::newRow("17 characters") << s << "12000000123456789" << "refused";
        QTest::newRow("19 characters") << s << "1200000012345678930" << "refused";
        QTest::newRow("version 2") << s << "220000001234567891" << "refused";
        QTest::newRow("other serial") << "12345679" << "120000001234567893" << "refused";
        // clang-format on
    }

    void create()
    {
        QFETCH(QString, serial);
        QFETCH(QString, seed);
        const QByteArray s = serial.toLatin1(), d = seed.toLatin1();
        const COtpTokenPtr token = COtpToken::Create("N", s.constData(), d.constData());
        QTEST(token ? Settings(*token) : QStringLiteral("refused"), "settings");
        // The seed module reads the seed as Create does, and writes it back as typed.
        const SeedDecoding decoding = DecodeSeed(s.toStdString(), d.toStdString());
        QCOMPARE(decoding.Refusal.empty(), token != nullptr);
        if (decoding.Refusal.empty()) {
            QCOMPARE(QString::fromStdString(EncodeSeed(s.toStdString(), decoding.Fields).Seed),
                     seed);
        }
        if (token) {
            QVERIFY(token->Counter == 1 && token->Status == 1 && token->ID == 0);
            QVERIFY(token->Serial == s.toStdString() && token->Name == "N" &&
                    token->DisplayName == "N");
            // Each missing text alone is refused, and an empty name.
            QVERIFY(!COtpToken::Create(nullptr, s.constData(), d.constData()));
            QVERIFY(!COtpToken::Create("", s.constData(), d.constData()));
            QVERIFY(!COtpToken::Create("N", nullptr, d.constData()));
            QVERIFY(!COtpToken::Create("N", s.constData(), nullptr));
        }
    }

    // Keys and codes computed independently with Python's hashlib and hmac.
    // The CT token at 1000000000 s: counter 1 and step 1000000000 / 120 in one
    // 16-byte message.
    void workedExamples()
    {
        const COtpTokenPtr token = COtpToken::Create("Demo", "12345678", "1200000ABCDEFGHIJ6");
        QVERIFY(token);
        QCOMPARE(BytesToHex(token->OtpKey, token->OtpKeyLength),
                 std::string("9F67EFC6AFA95F1AEF9B3351D6B01D7E0591B748"));
        QCOMPARE(BytesToHex(token->TwoWayKey, token->TwoWayKeyLength),
                 std::string("E86410FA2D6E2634FD8AC5F4B3AFE7F300000000"));
        QCOMPARE(token->GetOtp(), OtpPair("56777", "24153"));
        QCOMPARE(token->GetOtp(), OtpPair("68597", "86849"));
        QCOMPARE(token->Counter, 3ULL);

        SetNow(1000000000);
        const COtpTokenPtr ct = COtpToken::Create("N", "12345678", "121638301234567895");
        QVERIFY(ct);
        QCOMPARE(ct->GetOtp(), OtpPair("0017339685459", "0011583065336"));
        QVERIFY(ct->IsEventBased() && ct->Counter == 2);
    }

    void singleDigitChangesAreRefused()
    {
        // The CT seed of create_data, all its flags set.
        const std::string valid = "121638301234567895";
        for (std::size_t position = 0; position < valid.size(); ++position) {
            for (char digit = '0'; digit <= '9'; ++digit) {
                std::string changed = valid;
                changed[position] = digit;
                QVERIFY2(changed == valid || !COtpToken::Create("N", "12345678", changed.c_str()),
                         changed.c_str());
            }
        }
    }

    // 6-digit codes of RFC 4226 Appendix D and RFC 6238 Appendix B SHA-1 (its
    // last six digits; 30 s steps, so a TB Timer of 60); codes of the other
    // counters from Python's hmac. After the code, the two codes of GetSyncOtps;
    // the step is what the code's progress counts (half the Timer for TB).
    void codes_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("timer");
        QTest::addColumn<qint64>("now");
        QTest::addColumn<quint64>("counter");
        QTest::addColumn<int>("remaining");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("code");
        QTest::addColumn<quint64>("counterAfter");
        QTest::addColumn<QString>("sync");
        // clang-format off
        QTest::newRow("TOTP 60 at 179") << 5 << 60 << 179LL << 0ULL << 1 << 60 << "359152" << 0ULL << "359152,969429";
        QTest::newRow("TOTP 60 at 180") << 5 << 60 << 180LL << 0ULL << 60 << 60 << "969429" << 0ULL << "969429,338314";
        QTest::newRow("TOTP 30 after 2038") << 5 << 30 << 20000000000LL << 0ULL << 10 << 30 << "353130" << 0ULL << "353130,128202";
        QTest::newRow("TOTP Timer 0 is 180") << 5 << 0 << 360LL << 0ULL << 180 << 180 << "359152" << 0ULL << "359152,969429";
        QTest::newRow("TOTP before 1970") << 5 << 60 << -1LL << 0ULL << 1 << 60 << "991370" << 0ULL << "991370,755224";
        QTest::newRow("TOTP Timer INT_MIN") << 5 << INT_MIN << 120LL << 0ULL << 0 << 0 << "" << 0ULL << "";
        QTest::newRow("TOTP list past 2^63 s") << 5 << 30 << qint64{INT64_MAX - 10} << 0ULL << 3 << 30 << "948383" << 0ULL << "948383,991370";
        QTest::newRow("TB list past 2^63 s") << 1 << 60 << qint64{INT64_MAX - 10} << 0ULL << 0 << 30 << "948383" << 0ULL << "948383,763514";
        QTest::newRow("TB 60 at 89") << 1 << 60 << 89LL << 0ULL << 0 << 30 << "359152" << 0ULL << "359152,338314";
        QTest::newRow("TB 60 at 90") << 1 << 60 << 90LL << 0ULL << 0 << 30 << "969429" << 0ULL << "969429,254676";
        QTest::newRow("TB 60 after 2038") << 1 << 60 << 20000000000LL << 0ULL << 0 << 30 << "353130" << 0ULL << "353130,630850";
        QTest::newRow("HOTP 0") << 4 << 30 << 0LL << 0ULL << 0 << 0 << "755224" << 1ULL << "287082,359152";
        QTest::newRow("CB 9") << 0 << 30 << 0LL << 9ULL << 0 << 0 << "520489" << 10ULL << "403154,481090";
        QTest::newRow("HOTP low 32 bits") << 4 << 30 << 0LL << 0x100000002ULL << 0 << 0 << "359152" << 0x100000003ULL << "969429,338314";
        QTest::newRow("HOTP 2^32-1 is -1") << 4 << 30 << 0LL << 0xFFFFFFFFULL << 0 << 0 << "094451" << 0x100000000ULL << "755224,287082";
        QTest::newRow("unknown type 9") << 9 << 30 << 0LL << 5ULL << 0 << 30 << "" << 5ULL << "";
        // clang-format on
    }

    void codes()
    {
        QFETCH(int, type);
        QFETCH(int, timer);
        QFETCH(qint64, now);
        QFETCH(quint64, counter);
        QFETCH(QString, code);
        SetNow(now);
        COtpToken token = RfcToken(type, timer);
        token.Counter = counter;
        QTEST(token.GetRemainingSeconds(), "remaining");
        QTEST(static_cast<int>(token.GetTimeStep()), "step");
        QCOMPARE(token.GetOtp(), OtpPair(code.toStdString(), code.toStdString()));
        QTEST(static_cast<quint64>(token.Counter), "counterAfter");
        // The press-driven types are the ones whose counter moves, and only for a code.
        QCOMPARE(token.IsEventBased() && !code.isEmpty(), token.Counter != counter);
        QCOMPARE(token.Timer, timer == 0 ? 180 : timer);
        QTEST(QString::fromStdString(token.GetSyncOtps()), "sync");
    }

    // Fields a damaged row can hold: no code, and no counter used up, through
    // any of the code builders. CR makes no code by design and is not unusable.
    void unusable_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("keyLength");
        QTest::addColumn<int>("digits");
        QTest::addColumn<int>("timer");
        QTest::addColumn<quint64>("counter");
        QTest::addColumn<QString>("reason");
        const quint64 last = UINT64_MAX;
        // clang-format off
        QTest::newRow("unreadable secret") << 4 << 0 << 6 << 30 << 7ULL << "its secret cannot be read";
        QTest::newRow("Digits 0") << 4 << 20 << 0 << 30 << 7ULL << "its number of digits (0) is outside 1 to 12";
        QTest::newRow("Digits -6") << 0 << 20 << -6 << 30 << 7ULL << "its number of digits (-6) is outside 1 to 12";
        QTest::newRow("Digits 13") << 3 << 20 << 13 << 30 << 7ULL << "its number of digits (13) is outside 1 to 12";
        QTest::newRow("Digits INT_MAX") << 5 << 20 << INT_MAX << 30 << 7ULL << "its number of digits (2147483647) is outside 1 to 12";
        QTest::newRow("HOTP Timer INT_MIN") << 4 << 20 << 6 << INT_MIN << 7ULL << "its timer (-2147483648 s) is negative";
        QTest::newRow("TOTP Timer -1") << 5 << 20 << 6 << -1 << 7ULL << "its timer (-1 s) is negative";
        QTest::newRow("TB Timer 1") << 1 << 20 << 6 << 1 << 7ULL << "its timer (1 s) is shorter than two seconds";
        QTest::newRow("CT Timer 1") << 3 << 20 << 6 << 1 << 7ULL << "its timer (1 s) is shorter than two seconds";
        QTest::newRow("HOTP counter 2^64-1") << 4 << 20 << 6 << 30 << last << "its counter cannot advance any further";
        QTest::newRow("CT counter 2^64-1") << 3 << 20 << 6 << 30 << last << "its counter cannot advance any further";
        QTest::newRow("HOTP counter 2^64-3") << 4 << 20 << 6 << 30 << last - 2 << "";
        QTest::newRow("TOTP counter 2^64-1") << 5 << 20 << 6 << 30 << last << "";
        QTest::newRow("TB Timer 0 is 180") << 1 << 20 << 6 << 0 << 7ULL << "";
        QTest::newRow("CT twelve digits") << 3 << 20 << 12 << 2 << 7ULL << "";
        QTest::newRow("CR Digits 0") << 2 << 0 << 0 << -1 << 7ULL << "";
        // clang-format on
    }

    void unusable()
    {
        QFETCH(int, type);
        QFETCH(int, keyLength);
        QFETCH(int, digits);
        QFETCH(int, timer);
        QFETCH(quint64, counter);
        QFETCH(QString, reason);
        SetNow(1000000000);
        COtpToken token = RfcToken(type, timer);
        token.SetOtpKey(Bytes(Key20), keyLength);
        token.Digits = digits;
        token.Counter = counter;
        token.OcraSuite = "OCRA-1:HOTP-SHA1-6:C-QN08";
        QCOMPARE(QString::fromStdString(token.GetUnusableReason()), reason);
        const bool codes = reason.isEmpty() && type != TokenTypeCR;
        // Each builder on a copy: a code and the counters it used, or neither.
        const auto check = [&](auto build, quint64 uses) {
            COtpToken copy = token;
            QCOMPARE(build(copy).empty(), !codes);
            QCOMPARE(static_cast<quint64>(copy.Counter - counter), codes ? uses : 0);
        };
        const quint64 press = token.IsEventBased() ? 1 : 0;
        check([](COtpToken& t) { return t.GetOtp().first; }, press);
        check([](COtpToken& t) { return t.GetSyncOtps(); }, 2 * press);
        check([](COtpToken& t) { return t.GetOcraResponse("1", "").first; },
              type == TokenTypeHOTP ? 1 : 0);
    }

    // The list is all or nothing: a SyncSize outside 1..MaxSyncSize, or one the
    // counter cannot cover, gives no code and uses no counter.
    void syncSize_data()
    {
        QTest::addColumn<int>("syncSize");
        QTest::addColumn<quint64>("counter");
        QTest::addColumn<int>("codes");
        const quint64 last = UINT64_MAX;
        QTest::newRow("0") << 0 << 5ULL << 0;
        QTest::newRow("-1") << -1 << 5ULL << 0;
        QTest::newRow("MaxSyncSize") << COtpToken::MaxSyncSize << 5ULL << 100;
        QTest::newRow("above MaxSyncSize") << COtpToken::MaxSyncSize + 1 << 5ULL << 0;
        QTest::newRow("INT_MAX") << INT_MAX << 5ULL << 0;
        QTest::newRow("counter reaching 2^64-1") << 2 << last - 2 << 2;
        QTest::newRow("counter that would pass 2^64-1") << 3 << last - 2 << 0;
    }

    void syncSize()
    {
        QFETCH(int, syncSize);
        QFETCH(quint64, counter);
        QFETCH(int, codes);
        for (const int type : {TokenTypeHOTP, TokenTypeTOTP}) {
            COtpToken token = RfcToken(type, 30);
            token.SyncSize = syncSize;
            token.Counter = counter;
            const QString list = QString::fromStdString(token.GetSyncOtps());
            // A time-based list depends on no counter.
            const int expected =
                type == TokenTypeTOTP && syncSize > 0 && syncSize <= COtpToken::MaxSyncSize
                    ? syncSize
                    : codes;
            QCOMPARE(list.isEmpty() ? 0 : list.split(',').size(), expected);
            QVERIFY(list.isEmpty() || list.contains(QRegularExpression("^\\d{6}(,\\d{6})*$")));
            QCOMPARE(static_cast<quint64>(token.Counter),
                     counter + (type == TokenTypeHOTP ? static_cast<quint64>(codes) : 0));
        }
    }

    // OCRA suites and codes of RFC 6287 Appendix C; the code of the HOTP
    // token's second key and the question-only code of the other types from
    // Python's hmac.
    void ocraResponse()
    {
        COtpToken hotp = RfcToken(TokenTypeHOTP, 30, Key64);
        hotp.SetTwoWayKey(Bytes(Key20), 20);
        hotp.OcraSuite = "OCRA-1:HOTP-SHA512-8:C-QN08";
        hotp.Counter = 3;
        QCOMPARE(hotp.GetOcraResponse("33333333", ""), OtpPair("25341727", "01404140"));
        QCOMPARE(hotp.Counter, 4ULL);
        QVERIFY_THROWS_EXCEPTION(ConversionError, hotp.GetOcraResponse("12AB", ""));
        QCOMPARE(hotp.Counter, 4ULL);
        // A suite that makes no code uses no counter either.
        hotp.OcraSuite = "OCRA-1:HOTP-SHA1-0:C-QN08";
        QCOMPARE(hotp.GetOcraResponse("33333333", ""), OtpPair());
        QCOMPARE(hotp.Counter, 4ULL);

        SetNow(1206446760); // 0x132d0b6 minutes
        COtpToken totp = RfcToken(TokenTypeTOTP, 30, Key64);
        totp.OcraSuite = "OCRA-1:HOTP-SHA512-8:QN08-T1M";
        QCOMPARE(totp.GetOcraResponse("22222222", ""), OtpPair("22048402", "22048402"));

        COtpToken cb = RfcToken(TokenTypeCB, 30);
        QCOMPARE(cb.GetOcraResponse("hello", "ignored"), OtpPair("610376", "610376"));
        QCOMPARE(cb.Counter, 0ULL);
    }

    void names()
    {
        COtpToken token;
        token.Name = "Bank";
        token.UserName = "me";
        token.Serial = "42";
        QCOMPARE(token.GetDisplayName(), std::string("Bank:me:42"));
        token.DomainName = "example.org";
        QCOMPARE(token.GetDisplayName(), std::string("Bank:example.org:me:42"));
        token.DisplayName = "Shown";
        QCOMPARE(token.GetDisplayName(), std::string("Shown"));

        COtpToken other = token;
        other.Name = "Other";
        QVERIFY(token.IsSameToken(other));
        other.Serial = std::string("42\0", 3);
        QVERIFY(!token.IsSameToken(other));
    }
};

QTEST_APPLESS_MAIN(TestToken)
#include "tst_token.moc"
