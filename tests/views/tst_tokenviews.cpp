// The token views on a fake host: install, OTP display and the token list, on
// a temporary database with a fixed clock.
#include "FakeHost.h"
#include "clockcheck/ClockCheck.h"
#include "interop/Interchange.h"
#include "otp/Clock.h"
#include "storage/AppSettings.h"
#include "storage/DbConnection.h"
#include "storage/LocalDatabase.h"
#include "support/TokenFixtures.h"
#include "views/CodeClipboard.h"
#include "views/ImportDialog.h"
#include "views/InstallView.h"
#include "views/ManageTokensView.h"
#include "views/OtpView.h"
#include "views/QrCodeDialog.h"

#include <QClipboard>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLCDNumber>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QNetworkDatagram>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QTableWidget>
#include <QTextDocument>
#include <QUdpSocket>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <climits>
#include <memory>

namespace {

// RFC 6238 Appendix B's first test time.
constexpr std::int64_t FixedTime = 1111111111;
std::int64_t g_now = FixedTime;

// A second connection to the database, as another program would open it.
std::unique_ptr<CDbConnection> OtherConnection()
{
    auto other = std::make_unique<CDbConnection>();
    other->open(g_localDatabase.GetDatabasePath().c_str());
    return other;
}

QString Clipboard()
{
    return QApplication::clipboard()->text();
}

// Whether a timer of `owner` (or of its children) runs with that many seconds.
bool HasTimer(const QObject* owner, int seconds)
{
    const QList<QTimer*> timers = owner->findChildren<QTimer*>();
    return std::any_of(timers.begin(), timers.end(), [seconds](const QTimer* timer) {
        return timer->isActive() && timer->interval() == seconds * 1000;
    });
}

// An OTP view in a host, as the host's otp() makes it.
struct OtpScreen
{
    FakeHost host;
    OtpView* view = host.open<OtpView>();

    OtpScreen() = default;
    explicit OtpScreen(int tokenId) { view->setToken(tokenId); }
    QLCDNumber* lcd(const char* name = "lcdNumber") const { return Child<QLCDNumber>(view, name); }
    QPushButton* button(const char* name) const { return Child<QPushButton>(view, name); }
    QProgressBar* progress() const { return Child<QProgressBar>(view, "progressBar"); }
    void press() const { Click(view, "otpButton"); }
    void tick(const char* slot) const { QMetaObject::invokeMethod(view, slot); }
    // What Copy put on the clipboard, provided it is marked for clipboard managers to skip.
    QString copied() const
    {
        Click(view, "copyButton");
        const QMimeData* data = QApplication::clipboard()->mimeData();
        if (data->data(QLatin1String(CodeClipboard::SecretHintFormat)) != "secret") {
            return QStringLiteral("(not marked secret)");
        }
        return data->text();
    }
};

// A time server of the test's own on 127.0.0.1 whose clock runs `offsetMs`
// ahead of this machine's: it answers each SNTP request (RFC 4330) as a
// server at stratum 1 does.
class TimeServer
{
public:
    explicit TimeServer(qint64 offsetMs)
    {
        socket.bind(QHostAddress::LocalHost);
        QObject::connect(&socket, &QUdpSocket::readyRead, [this, offsetMs] {
            while (socket.hasPendingDatagrams()) {
                const QNetworkDatagram request = socket.receiveDatagram();
                QByteArray reply(48, '\0');
                reply[0] = 0x24; // version 4, mode 4 (server)
                reply[1] = 1;
                reply.replace(24, 8, request.data().mid(40, 8)); // originate: their transmit
                const qint64 ms = QDateTime::currentMSecsSinceEpoch() + offsetMs;
                // NTP time: seconds since 1900 and a binary fraction.
                const quint64 stamp =
                    (quint64(ms / 1000 + 2208988800LL) << 32) | ((quint64(ms % 1000) << 32) / 1000);
                qToBigEndian(stamp, reply.data() + 32); // received
                qToBigEndian(stamp, reply.data() + 40); // transmitted
                socket.writeDatagram(request.makeReply(reply));
            }
        });
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(socket.localPort()); }

private:
    QUdpSocket socket;
};

// An install form in a host, with name, serial and seed typed into it.
QList<QLineEdit*> FillInstallForm(FakeHost& host, const QStringList& fields)
{
    auto* form = host.open<InstallView>();
    QList<QLineEdit*> edits;
    for (const char* name : {"nameEdit", "serialEdit", "seedEdit"}) {
        edits.append(Child<QLineEdit>(form, name));
        edits.back()->setText(fields[edits.size() - 1]);
    }
    return edits;
}

} // namespace

class TokenViewsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        for (const COtpTokenPtr& token : g_localDatabase.GetAllTokens()) {
            g_localDatabase.DeleteToken(token->ID);
        }
        g_now = FixedTime;
        OtpClock::SetSource([] { return g_now; });
        QApplication::clipboard()->clear();
        SaveSettings(g_localDatabase, CAppSettings());
        CClockCheck::Instance().Refresh({});
    }

    void initTestCase()
    {
        // No system bus: what this machine says of its own clock stays out.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent");
    }

    // Name, serial and seed as typed, and whether OK installs them. Which
    // seeds and serials the engine takes is test_token's to say.
    void installForm_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QString>("reason"); // shown under the fields, as velmora-seed gives it
        // clang-format off
        QTest::newRow("HOTP worked example") << QStringList{"Demo", DemoSerial, DemoSeed} << true << "";
        QTest::newRow("CB, short serial") << QStringList{"Demo", "4711", "080000098765432105"} << true << "";
        // As pasted from a mail: blanks around are no part of them.
        QTest::newRow("pasted with blanks") << QStringList{"Demo", "12345678 \n", " \t1200000ABCDEFGHIJ6\r\n"} << true << "";
        QTest::newRow("empty name") << QStringList{"", DemoSerial, DemoSeed} << false << "the name is empty";
        QTest::newRow("empty serial") << QStringList{"Demo", "", DemoSeed} << false << "the serial is empty";
        QTest::newRow("empty seed") << QStringList{"Demo", DemoSerial, ""} << false << "the seed is empty";
        QTest::newRow("seed check digit changed") << QStringList{"Demo", DemoSerial, "1200000ABCDEFGHIJ7"} << false << "the seed's check digit does not match";
        QTest::newRow("seed of another serial") << QStringList{"Demo", "12345679", DemoSeed} << false << "the seed is not for serial 12345679";
        // clang-format on
    }
    void installForm()
    {
        QFETCH(QStringList, fields);
        QFETCH(bool, stored);
        const int old = Install("Old", DemoSeed);
        FakeHost host;
        // Escape leaves the form without storing what was typed.
        QList<QLineEdit*> edits = FillInstallForm(host, fields);
        QTest::keyClick(edits[0], Qt::Key_Escape);
        QCOMPARE(host.calls, QStringList{"otp"});
        QCOMPARE(g_localDatabase.GetAllTokens().size(), std::size_t(1));

        host.calls.clear();
        edits = FillInstallForm(host, fields);
        QTest::keyClick(edits[2], Qt::Key_Return);
        if (!stored) {
            // The window shakes, and the form keeps what was typed.
            QCOMPARE(host.calls, QStringList{"shake"});
            QCOMPARE(g_localDatabase.GetAllTokens().size(), std::size_t(1));
            QCOMPARE((QStringList{edits[0]->text(), edits[1]->text(), edits[2]->text()}), fields);
            // The reason, whole in the tooltip, until the user types again.
            auto* refusal = Child<QLabel>(edits[0]->parentWidget(), "refusalLabel");
            QFETCH(QString, reason);
            QVERIFY2(refusal->toolTip().contains(reason), qPrintable(refusal->toolTip()));
            QTest::keyClicks(edits[1], "0");
            QCOMPARE(refusal->text(), QString());
            return;
        }
        QCOMPARE(host.calls, (QStringList{"refreshTokenMenu", "otp"}));
        const int installed = g_localDatabase.GetDefaultToken();
        QVERIFY(installed != old);
        const COtpTokenPtr token = g_localDatabase.GetToken(installed);
        QCOMPARE(token->GetDisplayName(), "Demo:" + fields[1].trimmed().toStdString());
        QCOMPARE(QString::fromStdString(token->Serial), fields[1].trimmed());
    }

    // Codes of the HOTP worked example, counters 1 to 6 (RFC 4226 algorithm).
    void hotpPressesNeverReuseACounter()
    {
        const int id = Install("Demo", DemoSeed);
        auto window = std::make_unique<OtpScreen>(id);
        window->press();
        QCOMPARE(window->copied(), QStringLiteral("56777"));
        window->tick("wakeUpOTPButton");
        window->press();
        QCOMPARE(window->copied(), QStringLiteral("68597"));

        const std::string path = g_localDatabase.GetDatabasePath();
        LocalDatabase otherCopy(path.substr(0, path.rfind('/')));
        QCOMPARE(otherCopy.GetToken(id)->Counter, std::uint64_t(3));
        window = std::make_unique<OtpScreen>(id); // back to the home screen
        window->press();
        QCOMPARE(window->copied(), QStringLiteral("44532"));
        // Another copy of the program takes counter 4 meanwhile.
        const CCounterReservation press = otherCopy.ReserveCounter(id);
        QCOMPARE(press.Token->GetOtpAt(*press.Counter).first, std::string("73845"));
        window->tick("wakeUpOTPButton");
        window->press();
        QCOMPARE(window->copied(), QStringLiteral("46033"));

        // A counter that could not be stored is never shown, and not lost either.
        window->tick("wakeUpOTPButton");
        OtherConnection()->executenonquery("alter table tblToken rename to tblAway");
        const QStringList boxes = Answering(QMessageBox::Ok, [&] { window->press(); });
        OtherConnection()->executenonquery("alter table tblAway rename to tblToken");
        QVERIFY(boxes.value(0).startsWith(QStringLiteral("Velmora|Could not")));
        QCOMPARE(window->lcd()->intValue(), 0);
        QVERIFY(!window->button("copyButton")->isEnabled());
        QCOMPARE(g_localDatabase.GetToken(id)->Counter, std::uint64_t(6));
        window->press();
        QCOMPARE(window->copied(), QStringLiteral("01529"));
        QTest::keyClick(window->view, Qt::Key_Escape);
        QVERIFY(!window->view->isHidden());

        // The run ends with the code on the clipboard: it goes with the run.
        QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
        QApplication::exec();
        QCOMPARE(Clipboard(), QString());
    }

    // HOTP, 6 digits and check digit, two-way: codes of counter 1 computed
    // independently (RFC 4226 algorithm).
    void twoWayCodeBlanksAfterTimerAndButtonSleeps()
    {
        OtpScreen window(Install("Two", "120004401234567891"));
        QCOMPARE(window.lcd()->geometry(), QRect(50, 50, 191, 41));
        QCOMPARE(window.progress()->geometry(), QRect(50, 106, 191, 16));
        QVERIFY(window.lcd("lcdNumber2")->isHidden());
        window.press();
        QCOMPARE(window.lcd()->geometry(), QRect(50, 50, 191, 31));
        QCOMPARE(window.lcd("lcdNumber2")->geometry(), QRect(50, 80, 191, 31));
        QVERIFY(!window.lcd("lcdNumber2")->isHidden());
        QCOMPARE(window.progress()->geometry(), QRect(50, 115, 191, 16));
        // Six digits and the check digit: the display widens instead of cutting.
        QCOMPARE(window.lcd()->digitCount(), 7);
        QCOMPARE(window.copied(), QStringLiteral("4159935"));
        QCOMPARE(window.lcd("lcdNumber2")->intValue(), 256396);
        // Screen readers and tooltips tell the two codes apart.
        QVERIFY(window.lcd()->accessibleName() != window.lcd("lcdNumber2")->accessibleName());
        QVERIFY(window.lcd()->toolTip() != window.lcd("lcdNumber2")->toolTip());

        QVERIFY(!window.button("otpButton")->isEnabled());
        QVERIFY(HasTimer(window.view, 5)); // Sleep 5 s
        // Copied, the code is taken off the clipboard when it leaves the display.
        QVERIFY(HasTimer(QCoreApplication::instance(), 60));
        for (int second = 1; second < 60; ++second) { // Timer 60 s
            window.tick("autoOffScreen");
        }
        QCOMPARE(window.progress()->value(), 59);
        QVERIFY(window.button("copyButton")->isEnabled());
        QCOMPARE(Clipboard(), QStringLiteral("4159935"));
        window.tick("autoOffScreen");
        QCOMPARE(window.progress()->value(), 0);
        QCOMPARE(window.lcd()->intValue(), 0);
        QCOMPARE(window.lcd("lcdNumber2")->intValue(), 0);
        QVERIFY(!window.button("copyButton")->isEnabled());
        QCOMPARE(Clipboard(), QString());
        window.tick("wakeUpOTPButton");
        QVERIFY(window.button("otpButton")->isEnabled());
    }

    // A CR token (flags 00002, check digit computed by hand) has no code to
    // show: neither OTP nor Copy, a note instead, and the clipboard keeps
    // what the user copied.
    void challengeTokenOffersNoCode()
    {
        OtpScreen window(Install("Ask", "120000201234567899"));
        QApplication::clipboard()->setText(QStringLiteral("mine"));
        QVERIFY(window.button("otpButton")->isHidden() && window.button("copyButton")->isHidden());
        QVERIFY(!Child<QLabel>(window.view, "noCodeLabel")->isHidden());
        window.tick("on_copyButton_clicked");
        QCOMPARE(Clipboard(), QStringLiteral("mine"));
    }

    // Codes at 1111111111 s and one step later (RFC 6238 algorithm, 5 digits);
    // the seed check digits were computed independently. A TB code lives half
    // the Timer, and so does its progress.
    void timeBasedCodeAndProgress_data()
    {
        QTest::addColumn<QString>("seed");
        QTest::addColumn<int>("step");
        QTest::addColumn<QStringList>("codes");
        QTest::newRow("TOTP, Timer 120")
            << "120102501234567899" << 120 << QStringList{"07986", "99410"};
        QTest::newRow("TB, Timer 60")
            << "020000101234567893" << 30 << QStringList{"86967", "64625"};
    }
    void timeBasedCodeAndProgress()
    {
        QFETCH(QString, seed);
        QFETCH(int, step);
        QFETCH(QStringList, codes);
        OtpScreen window(Install("Time", seed.toLatin1().constData()));
        QVERIFY(!window.button("otpButton")->isEnabled());
        QCOMPARE(window.copied(), codes[0]);
        QCOMPARE(window.progress()->value(), int(FixedTime % step));
        QCOMPARE(window.progress()->maximum(), step);
        // Off the clipboard when the step ends, also if the view is gone by then.
        QVERIFY(HasTimer(QCoreApplication::instance(), step - int(FixedTime % step)));
        g_now += step;
        window.tick("show_totp");
        QCOMPARE(Clipboard(), QString());
        QCOMPARE(window.copied(), codes[1]);
        QCOMPARE(window.progress()->value(), int((FixedTime + step) % step));

        // What the user copied since stays.
        QApplication::clipboard()->setText(QStringLiteral("mine"));
        g_now += step;
        window.tick("show_totp");
        QCOMPARE(Clipboard(), QStringLiteral("mine"));
    }

    // The clock check asks a time server in the background: the code shows at
    // once, and the notice once the answer is in; a server within 10 s, or
    // none, shows nothing. `corrected` is the code 120 s on (as in
    // timeBasedCodeAndProgress), shown once the user takes the server's time.
    void clockNotice_data()
    {
        QTest::addColumn<int>("serverAhead"); // seconds; INT_MIN: no server
        QTest::addColumn<QString>("notice");
        QTest::addColumn<QString>("corrected");
        QTest::newRow("42 s ahead") << 42 << "Your clock is 42 s behind: codes may be refused."
                                    << "";
        QTest::newRow("30 s behind") << -30 << "Your clock is 30 s ahead: codes may be refused."
                                     << "";
        QTest::newRow("120 s ahead, corrected")
            << 120 << "Your clock is 120 s behind: codes may be refused."
            << "99410";
        QTest::newRow("5 s ahead") << 5 << ""
                                   << "";
        QTest::newRow("no server") << INT_MIN << ""
                                   << "";
    }
    void clockNotice()
    {
        QFETCH(int, serverAhead);
        QFETCH(QString, notice);
        QFETCH(QString, corrected);
        std::unique_ptr<TimeServer> server;
        CAppSettings settings;
        settings.ClockCheck = true;
        if (serverAhead != INT_MIN) {
            server = std::make_unique<TimeServer>(qint64(serverAhead) * 1000);
            settings.TimeServer = server->address().toStdString();
        } else {
            QUdpSocket unused; // a port nobody answers on once this is gone
            unused.bind(QHostAddress::LocalHost);
            settings.TimeServer = "127.0.0.1:" + std::to_string(unused.localPort());
        }
        SaveSettings(g_localDatabase, settings);

        OtpScreen window(Install("Time", "120102501234567899"));
        auto* box = Child<QWidget>(window.view, "clockNotice");
        QCOMPARE(window.lcd()->intValue(), 7986);
        QVERIFY(box->isHidden());
        if (notice.isEmpty()) {
            QTest::qWait(500);
            QVERIFY(box->isHidden());
            return;
        }
        QTRY_COMPARE(Child<QLabel>(box, "clockNoticeLabel")->text(), notice);
        QVERIFY(!box->isHidden());
        if (!corrected.isEmpty()) {
            Click(window.view, "clockOffsetButton");
            window.tick("show_totp");
            QCOMPARE(window.copied(), corrected);
            QVERIFY(LoadSettings(g_localDatabase).UseClockOffset);
            Click(window.view, "clockOffsetButton");
            window.tick("show_totp");
            QCOMPARE(window.copied(), QStringLiteral("07986"));
        }
    }

    // Rows as storage may hold them, damaged or written by another program:
    // `change` is an assignment to the row, `usable` whether codes can be had.
    // Which rows are unusable, and why, is the engine's to say (test_token).
    void extremeRowsNeverShowABlankCode_data()
    {
        QTest::addColumn<QString>("seed");
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("usable");
        const QString hotp = DemoSeed;
        const QString tb = "020000101234567893";
        const QString totp = "120102501234567899";
        QTest::newRow("secret unreadable") << hotp << "Credential='damaged'" << false;
        QTest::newRow("Digits 13") << hotp << "Digits=13" << false;
        QTest::newRow("counter exhausted") << hotp << "Counter=max" << false;
        QTest::newRow("TB, Timer 1") << tb << "Timer=1" << false;
        QTest::newRow("HOTP, Timer INT_MAX") << hotp << "Timer=2147483647" << true;
        QTest::newRow("TOTP, Timer INT_MAX") << totp << "Timer=2147483647" << true;
        QTest::newRow("TB, Timer INT_MAX") << tb << "Timer=2147483647" << true;
    }
    void extremeRowsNeverShowABlankCode()
    {
        QFETCH(QString, seed);
        QFETCH(QString, change);
        QFETCH(bool, usable);
        const int id = Install(u8"Zo\u00eb Bank \u20ac", seed.toLatin1().constData());
        if (change == "Counter=max") {
            const COtpTokenPtr token = g_localDatabase.GetToken(id);
            token->Counter = UINT64_MAX;
            g_localDatabase.UpdateToken(token);
        } else {
            OtherConnection()->executenonquery("update tblToken set %s where ID=%d",
                                               qPrintable(change), id);
        }
        const auto stored = [id] {
            return OtherConnection()->executestring("select Credential from tblToken where ID=%d",
                                                    id);
        };
        const std::string before = stored();
        const COtpTokenPtr token = g_localDatabase.GetToken(id);

        OtpScreen window;
        const QStringList boxes = Answering(QMessageBox::Ok, [&] { window.view->setToken(id); });
        QCOMPARE(window.host.windowTitle(),
                 QStringLiteral("Velmora [Zo\u00eb Bank \u20ac:12345678]"));
        if (usable) {
            QCOMPARE(boxes, QStringList());
            if (token->IsEventBased()) {
                window.press();
                window.tick("autoOffScreen");
            }
            QVERIFY(window.button("copyButton")->isEnabled());
            const int step = token->TokenType == TokenTypeTB ? INT_MAX / 2 : INT_MAX;
            QCOMPARE(window.progress()->maximum(), step);
            QCOMPARE(window.progress()->value(), token->IsEventBased() ? 1 : int(FixedTime % step));
            return;
        }
        const QStringList refusal{
            QStringLiteral("Velmora|Token Zo\u00eb Bank \u20ac:12345678 cannot be used; no code "
                           "can be shown: %1.")
                .arg(QString::fromStdString(token->GetUnusableReason()))};
        QCOMPARE(boxes, refusal);
        QVERIFY(!window.button("otpButton")->isEnabled());
        QVERIFY(!window.button("copyButton")->isEnabled());
        // Even a press that got through is refused before a counter is used up.
        QCOMPARE(Answering(QMessageBox::Ok, [&] { window.tick("on_otpButton_clicked"); }), refusal);
        QVERIFY(!window.button("copyButton")->isEnabled());
        QCOMPARE(window.lcd()->intValue(), 0);
        QCOMPARE(stored(), before);
    }

    void manageAsksBeforeDeleting()
    {
        const QString name =
            QStringLiteral("Zo\u00eb <b>Bank</b> \u20ac ") + QString(300, QLatin1Char('x'));
        const int first = Install(name.toUtf8().constData(), DemoSeed);
        const int second = Install("B", DemoSeed);
        FakeHost host;
        auto* view = host.open<ManageTokensView>();
        auto* table = Child<QTableWidget>(view, "tableWidget");
        const auto remove = [&](QMessageBox::StandardButton answer) {
            return Answering(answer, [&] { Click(view, "removeButton"); });
        };
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(0, 0)->text(), name);
        QCOMPARE(table->item(0, 0)->toolTip(), name);
        QCOMPARE(table->item(1, 1)->text(), QString::fromLatin1(DemoSerial));
        QVERIFY(!(table->item(1, 3)->flags() & Qt::ItemIsEditable));

        // Tabbing into the table makes a row current without selecting it.
        table->selectionModel()->setCurrentIndex(table->model()->index(0, 0),
                                                 QItemSelectionModel::NoUpdate);
        QCOMPARE(remove(QMessageBox::Yes), QStringList());
        // Every column fits in the view.
        QVERIFY(table->horizontalHeader()->length() <= table->viewport()->width());
        table->setCurrentCell(0, 2);
        const QStringList asked = remove(QMessageBox::No);
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].section('|', 0, 1),
                 QStringLiteral("Warning|Are you sure you want to delete this token?"));
        // The question names the token, as typed.
        QTextDocument named;
        named.setHtml(asked[0].section('|', 2));
        QCOMPARE(named.toPlainText(), name);
        // Enter keeps the token: No is the default.
        QVERIFY(!remove(QMessageBox::NoButton).isEmpty());
        QCOMPARE(table->rowCount(), 2);
        QVERIFY(g_localDatabase.TokenExists(first));
        QVERIFY(host.calls.isEmpty());

        // Enter or a double-click on a row shows its token.
        QTest::keyClick(table, Qt::Key_Return);
        const QRect cell = table->visualItemRect(table->item(1, 1));
        // A double-click: a click, then the second press.
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(host.calls, (QStringList{QStringLiteral("selectToken(%1)").arg(first),
                                          QStringLiteral("selectToken(%1)").arg(second)}));
        host.calls.clear();

        table->setCurrentCell(0, 0);
        remove(QMessageBox::Yes);
        QCOMPARE(table->rowCount(), 1);
        QVERIFY(!g_localDatabase.TokenExists(first));
        QVERIFY(g_localDatabase.TokenExists(second));
        QCOMPARE(host.calls, QStringList{"refreshTokenMenu"});

        Click(view, "addButton");
        Click(view, "doneButton");
        QCOMPARE(host.calls, (QStringList{"refreshTokenMenu", "installToken", "otp"}));
    }

    // The import lists every entry before storing: new, already installed
    // (stored, or found twice) and refused with the reason. Cancel stores
    // nothing; Import under another program's write lock stores nothing and
    // keeps the dialog; then Import stores the new ones and shows the first.
    void importListsBeforeStoring()
    {
        const char* stored = "otpauth://totp/Example:alice?secret=JBSWY3DPEHPK3PXP&issuer=Example";
        g_localDatabase.InstallTokens({ReadImport(stored, {}).front().Token});
        // Name, then status as listed; rows in the order of the text.
        const QStringList rows = {"Example: alice|already installed", "Bank: bob|new",
                                  "Wide: dave (line 3)|refused: ", "Mail: carol|new"};
        const QString text =
            QString(stored) +
            "\notpauth://hotp/Bank:bob?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ&counter=5\n"
            "otpauth://totp/Wide:dave?secret=JBSWY3DPEHPK3PXP&algorithm=SHA256\n"
            "otpauth://totp/Mail:carol?secret=OZSWY3LPOJQS223F\n" +
            QString(stored); // found twice, listed once
        FakeHost host;
        const auto open = [&] {
            auto* dialog = new ImportDialog(g_localDatabase, &host);
            dialog->show();
            Child<QPlainTextEdit>(dialog, "uriEdit")->setPlainText(text);
            Click(dialog, "addTextButton");
            return dialog;
        };
        ImportDialog* dialog = open();
        auto* table = Child<QTableWidget>(dialog, "entryTable");
        QCOMPARE(table->rowCount(), rows.size());
        for (int row = 0; row < rows.size(); ++row) {
            const QString shown = table->item(row, 0)->text() + '|' + table->item(row, 2)->text();
            // A refusal goes on with its reason.
            QVERIFY2(row == 2 ? shown.startsWith(rows[row]) && shown.size() > rows[row].size()
                              : shown == rows[row],
                     qPrintable(shown));
        }
        Click(dialog, "cancelButton");
        QVERIFY(dialog->isHidden());
        QCOMPARE(g_localDatabase.GetAllTokens().size(), std::size_t(1));

        dialog = open();
        const std::unique_ptr<CDbConnection> other = OtherConnection();
        other->executenonquery("begin immediate");
        g_localDatabase.SetBusyTimeout(0);
        const QStringList boxes =
            Answering(QMessageBox::Ok, [&] { Click(dialog, "importButton"); });
        other->executenonquery("rollback");
        g_localDatabase.SetBusyTimeout(CDbConnection::BusyTimeoutMilliseconds);
        QVERIFY2(boxes.value(0).startsWith("Velmora|Could not import the tokens."),
                 qPrintable(boxes.join(' ')));
        QVERIFY(Child<QLabel>(dialog, "statusLabel")->text().startsWith("Nothing was stored."));
        QVERIFY(dialog->isVisible());
        QCOMPARE(g_localDatabase.GetAllTokens().size(), std::size_t(1));
        QVERIFY(host.calls.isEmpty());

        Click(dialog, "importButton");
        const std::vector<TokenListing> listed = g_localDatabase.ListTokens();
        QCOMPARE(listed.size(), std::size_t(3));
        QCOMPARE(host.calls, (QStringList{"refreshTokenMenu",
                                          QStringLiteral("selectToken(%1)").arg(listed[1].ID)}));
        QVERIFY(dialog->isHidden());
    }

    // Show QR Code asks for the PIN, then shows the picture for a minute at
    // most, and no longer than the view it was shown over (the token changes).
    void qrCodeLeavesTheScreen()
    {
        QVERIFY(g_localDatabase.SetPin("2468"));
        const char* uri = "otpauth://totp/Example:alice?secret=JBSWY3DPEHPK3PXP&issuer=Example";
        const int id = g_localDatabase.InstallTokens({ReadImport(uri, {}).front().Token}).front();
        OtpScreen screen(id);
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [] {
            if (auto* input = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
                input->setTextValue(QStringLiteral("2468"));
                input->accept();
            }
        });
        answer.start(5);
        ShowQrCode(g_localDatabase, id, screen.view);
        const QPointer<QrCodeDialog> dialog = screen.host.findChild<QrCodeDialog*>();
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(HasTimer(dialog, 60));
        delete screen.view;
        QTRY_VERIFY(dialog.isNull());
    }
};

QTEST_MAIN(TokenViewsTest)
#include "tst_tokenviews.moc"
