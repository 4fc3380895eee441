// The token views driven through the main window: install, OTP display, the
// token menu and the token list, on a temporary database with a fixed clock.
#include "app/MainWindow.h"
#include "otp/Clock.h"
#include "storage/DbConnection.h"
#include "storage/LocalDatabase.h"
#include "views/InstallView.h"
#include "views/ManageTokensView.h"
#include "views/OtpView.h"

#include <QAction>
#include <QClipboard>
#include <QLCDNumber>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

// RFC 6238 Appendix B's first test time.
constexpr std::int64_t FixedTime = 1111111111;
const char* const Serial = "12345678";
const char* const DemoSeed = "1200000ABCDEFGHIJ6";

std::int64_t g_now = FixedTime;

int Install(const char* name, const char* seed)
{
    const COtpTokenPtr token = COtpToken::Create(name, Serial, seed);
    if (!token || !g_localDatabase.SaveToken(token)) {
        return 0;
    }
    return g_localDatabase.GetDefaultToken(); // a new token becomes the selected one
}

// A second connection to the database, as another program would open it.
std::unique_ptr<CDbConnection> OtherConnection()
{
    auto other = std::make_unique<CDbConnection>();
    other->open(g_localDatabase.GetDatabasePath().c_str());
    return other;
}

// Runs `act`, answering the message box it opens with `button`; returns the
// box's title and text (empty if none opened).
template <typename Act> QString Answering(QMessageBox::StandardButton button, Act act)
{
    QString text;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->windowTitle() + QLatin1Char('|') + box->text();
            poll.stop();
            box->button(button)->click();
        }
    });
    poll.start(5);
    act();
    return text;
}

struct Window
{
    std::unique_ptr<CMainWindow> main;

    explicit Window(bool loggedIn = true) : main(std::make_unique<CMainWindow>())
    {
        if (loggedIn) {
            logIn();
        }
    }
    void logIn() const
    {
        main->setLoggedIn();
        main->enableActions(true);
        main->otp();
    }
    template <typename T> T* child(const char* name) const
    {
        return main->centralWidget()->findChild<T*>(QLatin1String(name));
    }
    OtpView* otpView() const { return qobject_cast<OtpView*>(main->centralWidget()); }
    QLCDNumber* lcd(const char* name = "lcdNumber") const { return child<QLCDNumber>(name); }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }
    QProgressBar* progress() const { return child<QProgressBar>("progressBar"); }
    QList<QAction*> entries() const
    {
        return main->findChild<QMenu*>(QStringLiteral("menuSelect_Token"))->actions().mid(2);
    }
    // Opens the install form and types name, serial and seed into it.
    QList<QLineEdit*> fillInstallForm(const QStringList& fields) const
    {
        main->installToken();
        QList<QLineEdit*> edits;
        for (const char* name : {"nameEdit", "serialEdit", "seedEdit"}) {
            edits.append(child<QLineEdit>(name));
            edits.back()->setText(fields[edits.size() - 1]);
        }
        return edits;
    }
    void click(const char* name) const { QTest::mouseClick(button(name), Qt::LeftButton); }
    void press() const { click("otpButton"); }
    void tick(const char* slot) const { QMetaObject::invokeMethod(main->centralWidget(), slot); }
    QString copied() const
    {
        click("copyButton");
        return QApplication::clipboard()->text();
    }
};

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
    }
    void cleanup() { OtpClock::SetSource({}); }

    // The engine's worked examples and seeds whose check digits were computed
    // independently (RFC 4226 reference checksum).
    void installValidSeed_data()
    {
        QTest::addColumn<QString>("seed");
        QTest::addColumn<QString>("serial");
        QTest::newRow("HOTP worked example") << DemoSeed << Serial;
        QTest::newRow("CT worked example") << "121638301234567895" << Serial;
        QTest::newRow("TB, version 0") << "020000101234567893" << Serial;
        QTest::newRow("CB, short serial") << "080000098765432105"
                                          << "4711";
    }
    void installValidSeed()
    {
        QFETCH(QString, serial);
        QFETCH(QString, seed);
        Install("Old", DemoSeed);
        Window window;
        // Escape leaves the form without storing what was typed.
        window.fillInstallForm({"Demo", serial, seed});
        QTest::keyClick(window.main->centralWidget(), Qt::Key_Escape);
        QVERIFY(window.otpView() != nullptr);
        QCOMPARE(g_localDatabase.GetAllTokens().size(), std::size_t(1));

        window.fillInstallForm({"Demo", serial, seed});
        window.click("okButton");
        const QString title = QStringLiteral("Demo:") + serial;
        QCOMPARE(window.main->windowTitle(), QStringLiteral("Velmora [%1]").arg(title));
        const QList<QAction*> entries = window.entries();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[1]->text(), title);
        QVERIFY(!entries[0]->isChecked() && entries[1]->isChecked());
    }

    // Name, serial and seed as typed.
    void rejectedEntryShakesAndStoresNothing_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("empty name") << QStringList{"", Serial, DemoSeed};
        QTest::newRow("empty serial") << QStringList{"Demo", "", DemoSeed};
        QTest::newRow("empty seed") << QStringList{"Demo", Serial, ""};
        QTest::newRow("seed check digit changed")
            << QStringList{"Demo", Serial, "1200000ABCDEFGHIJ7"};
        QTest::newRow("serial check digit wrong") << QStringList{"Demo", "12345679", DemoSeed};
    }
    void rejectedEntryShakesAndStoresNothing()
    {
        QFETCH(QStringList, fields);
        Window window;
        window.main->show();
        const QList<QLineEdit*> edits = window.fillInstallForm(fields);
        QSignalSpy moved(window.main->windowHandle(), &QWindow::xChanged);
        window.click("okButton");

        QVERIFY(moved.count() > 1); // shaken
        QVERIFY(g_localDatabase.GetAllTokens().empty());
        QVERIFY(qobject_cast<InstallView*>(window.main->centralWidget()) != nullptr);
        for (int i = 0; i < edits.size(); ++i) {
            QCOMPARE(edits[i]->text(), fields[i]);
        }
    }

    // Codes of the HOTP worked example, counters 1 to 6 (RFC 4226 algorithm).
    void hotpPressesNeverReuseACounter()
    {
        const int id = Install("Demo", DemoSeed);
        Window window;
        window.press();
        QCOMPARE(window.copied(), QStringLiteral("56777"));
        window.tick("wakeUpOTPButton");
        window.press();
        QCOMPARE(window.copied(), QStringLiteral("68597"));

        const std::string path = g_localDatabase.GetDatabasePath();
        LocalDatabase otherCopy(path.substr(0, path.rfind('/')));
        QCOMPARE(otherCopy.GetToken(id)->Counter, std::uint64_t(3));
        window.main->otp();
        window.press();
        QCOMPARE(window.copied(), QStringLiteral("44532"));
        // Another copy of the program takes counter 4 meanwhile.
        QCOMPARE(otherCopy.ReserveCounter(id)->GetOtp().first, std::string("73845"));
        window.tick("wakeUpOTPButton");
        window.press();
        QCOMPARE(window.copied(), QStringLiteral("46033"));

        // A counter that could not be stored is never shown, and not lost either.
        window.tick("wakeUpOTPButton");
        OtherConnection()->executenonquery("alter table tblToken rename to tblAway");
        const QString message = Answering(QMessageBox::Ok, [&] { window.press(); });
        OtherConnection()->executenonquery("alter table tblAway rename to tblToken");
        QVERIFY(message.startsWith(QStringLiteral("Velmora|Could not")));
        QCOMPARE(window.lcd()->intValue(), 0);
        QVERIFY(!window.button("copyButton")->isEnabled());
        QCOMPARE(g_localDatabase.GetToken(id)->Counter, std::uint64_t(6));
        window.press();
        QCOMPARE(window.copied(), QStringLiteral("01529"));
        QTest::keyClick(window.otpView(), Qt::Key_Escape);
        QVERIFY(!window.otpView()->isHidden());
    }

    // HOTP, 6 digits and check digit, two-way: codes of counter 1 computed
    // independently (RFC 4226 algorithm).
    void twoWayCodeBlanksAfterTimerAndButtonSleeps()
    {
        Install("Two", "120004401234567891");
        Window window;
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

        QVERIFY(!window.button("otpButton")->isEnabled());
        const QList<QTimer*> timers = window.otpView()->findChildren<QTimer*>();
        QVERIFY(std::any_of(timers.begin(), timers.end(), [](const QTimer* timer) {
            return timer->isActive() && timer->interval() == 5 * 1000; // Sleep 5 s
        }));
        for (int second = 1; second < 60; ++second) { // Timer 60 s
            window.tick("autoOffScreen");
        }
        QCOMPARE(window.progress()->value(), 59);
        QVERIFY(window.button("copyButton")->isEnabled());
        window.tick("autoOffScreen");
        QCOMPARE(window.progress()->value(), 0);
        QCOMPARE(window.lcd()->intValue(), 0);
        QVERIFY(!window.button("copyButton")->isEnabled());
        window.tick("wakeUpOTPButton");
        QVERIFY(window.button("otpButton")->isEnabled());
    }

    // Codes at 1111111111 s and one step later (RFC 6238 algorithm, 5 digits);
    // the seed check digits were computed independently.
    void timeBasedCodeAndProgress_data()
    {
        QTest::addColumn<QString>("seed");
        QTest::addColumn<int>("timer");
        QTest::addColumn<int>("step");
        QTest::addColumn<QStringList>("codes");
        QTest::newRow("TOTP, Timer 120")
            << "120102501234567899" << 120 << 120 << QStringList{"07986", "99410"};
        QTest::newRow("TB, Timer 60")
            << "020000101234567893" << 60 << 30 << QStringList{"86967", "64625"};
    }
    void timeBasedCodeAndProgress()
    {
        QFETCH(QString, seed);
        QFETCH(int, timer);
        QFETCH(int, step);
        QFETCH(QStringList, codes);
        Install("Time", seed.toLatin1().constData());
        Window window;
        QVERIFY(!window.button("otpButton")->isEnabled());
        QCOMPARE(window.copied(), codes[0]);
        QCOMPARE(window.progress()->value(), int(FixedTime % timer));
        QCOMPARE(window.progress()->maximum(), timer);
        g_now += step;
        window.tick("show_totp");
        QCOMPARE(window.copied(), codes[1]);
        QCOMPARE(window.progress()->value(), int((FixedTime + step) % timer));
    }

    void unreadableSecretIsReportedAndKept()
    {
        const int id = Install("Demo", DemoSeed);
        OtherConnection()->executenonquery("update tblToken set Credential='damaged' where ID=%d",
                                           id);
        Window window(false);
        const QString message = Answering(QMessageBox::Ok, [&] { window.logIn(); });
        QVERIFY(message.contains(QStringLiteral("cannot be read")));
        QVERIFY(!window.button("otpButton")->isEnabled());
        QVERIFY(!window.button("copyButton")->isEnabled());
        QCOMPARE(
            OtherConnection()->executestring("select Credential from tblToken where ID=%d", id),
            std::string("damaged"));
    }

    void menuSelectsAfterLoginAndFallsBack()
    {
        const int first = Install("A", DemoSeed);
        const int second = Install("B", DemoSeed);
        const int third = Install("C", DemoSeed);
        Window window(false);
        window.main->show();
        QVERIFY(QTest::qWaitForWindowActive(window.main.get()));
        QList<QAction*> entries = window.entries();
        QCOMPARE(entries.size(), 3);
        QVERIFY(entries[2]->isChecked() && !entries[1]->isEnabled());
        QTest::keyClick(window.main.get(), Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(g_localDatabase.GetDefaultToken(), third);
        QCOMPARE(window.main->windowTitle(), QStringLiteral("Velmora"));

        window.logIn();
        QTest::keyClick(window.main.get(), Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(g_localDatabase.GetDefaultToken(), second);
        QCOMPARE(window.main->windowTitle(), QStringLiteral("Velmora [B:12345678]"));
        QVERIFY(!entries[0]->isChecked() && entries[1]->isChecked() && !entries[2]->isChecked());

        g_localDatabase.SetDefaultToken(9999);
        window.main->refreshTokenMenu();
        entries = window.entries();
        QVERIFY(entries[0]->isChecked() && !entries[1]->isChecked());
        QCOMPARE(g_localDatabase.GetDefaultToken(), first);
    }

    void manageAsksBeforeDeleting()
    {
        const int first = Install("A", DemoSeed);
        Install("B", DemoSeed);
        Window window;
        window.main->onManageTokens();
        auto* table = window.child<QTableWidget>("tableWidget");
        const auto remove = [&](QMessageBox::StandardButton answer) {
            return Answering(answer, [&] { window.click("removeButton"); });
        };
        QCOMPARE(table->rowCount(), 2);
        QVERIFY(!(table->item(1, 3)->flags() & Qt::ItemIsEditable));
        const QString title = window.main->windowTitle();

        table->setCurrentCell(0, 2);
        QCOMPARE(remove(QMessageBox::No),
                 QStringLiteral("Warning|Are you sure you want to delete this token?"));
        QCOMPARE(table->rowCount(), 2);
        QVERIFY(g_localDatabase.TokenExists(first));

        table->setCurrentCell(0, 0);
        remove(QMessageBox::Yes);
        QCOMPARE(table->rowCount(), 1);
        QVERIFY(!g_localDatabase.TokenExists(first));
        QCOMPARE(window.entries().size(), 1);
        QCOMPARE(window.main->windowTitle(), title); // until an OTP view loads a token

        table->setCurrentCell(0, 0);
        remove(QMessageBox::Yes);
        QVERIFY(g_localDatabase.GetAllTokens().empty());
        QCOMPARE(window.main->windowTitle(), QStringLiteral("Velmora [No tokens installed]"));
    }
};

QTEST_MAIN(TokenViewsTest)
#include "tst_tokenviews.moc"
