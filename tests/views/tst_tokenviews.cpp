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

#include <iostream>
#include <memory>
#include <sstream>

namespace {

// RFC 6238 Appendix B's first test time.
constexpr std::int64_t FixedTime = 1111111111;
const char* const Serial = "12345678";
const char* const DemoSeed = "1200000ABCDEFGHIJ6";

std::int64_t g_now = FixedTime;

int Install(const char* name, const char* seed, const char* serial = Serial)
{
    const COtpTokenPtr token = COtpToken::Create(name, serial, seed);
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

// Answers the next modal message box with `button` and records its text.
void AnswerNextBox(QMessageBox::StandardButton button, QString* text = nullptr)
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, button, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        if (text != nullptr) {
            *text = box->windowTitle() + QLatin1Char('|') + box->text();
        }
        poll->deleteLater();
        box->button(button)->click();
    });
    poll->start(5);
}

struct Window
{
    std::unique_ptr<CMainWindow> main;

    explicit Window(bool logIn = true) : main(std::make_unique<CMainWindow>())
    {
        if (logIn) {
            main->setLoggedIn();
            main->enableActions(true);
            main->otp();
        }
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
    void press() const { QTest::mouseClick(button("otpButton"), Qt::LeftButton); }
    void tick(const char* slot, int times = 1) const
    {
        for (int i = 0; i < times; ++i) {
            QMetaObject::invokeMethod(main->centralWidget(), slot);
        }
    }
    // Presses Remove and answers the confirmation; returns its title and text.
    QString remove(QMessageBox::StandardButton answer) const
    {
        QString message;
        AnswerNextBox(answer, &message);
        QTest::mouseClick(button("removeButton"), Qt::LeftButton);
        return message;
    }
    QString copied() const
    {
        QTest::mouseClick(button("copyButton"), Qt::LeftButton);
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
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("seed");
        QTest::addColumn<QString>("type");
        QTest::newRow("HOTP worked example") << Serial << DemoSeed << "HOTP";
        QTest::newRow("CT worked example") << Serial << "121638301234567895"
                                           << "CT";
        QTest::newRow("TOTP") << Serial << "120000101234567891"
                              << "TOTP";
        QTest::newRow("TB, version 0") << Serial << "020000101234567893"
                                       << "TB";
        QTest::newRow("CB, short serial") << "4711"
                                          << "080000098765432105"
                                          << "CB";
    }
    void installValidSeed()
    {
        QFETCH(QString, serial);
        QFETCH(QString, seed);
        Install("Old", DemoSeed);
        Window window;
        window.main->installToken();
        window.child<QLineEdit>("nameEdit")->setText(QStringLiteral("Demo"));
        window.child<QLineEdit>("serialEdit")->setText(serial);
        window.child<QLineEdit>("seedEdit")->setText(seed);
        QTest::mouseClick(window.button("okButton"), Qt::LeftButton);

        QCOMPARE(g_localDatabase.GetAllTokens().size(), std::size_t(2));
        const COtpTokenPtr stored = g_localDatabase.GetToken(g_localDatabase.GetDefaultToken());
        QTEST(QString::fromStdString(stored->GetTypeName()), "type");
        const QString title = QStringLiteral("Demo:") + serial;
        QCOMPARE(window.main->windowTitle(), QStringLiteral("Velmora [%1]").arg(title));
        const QList<QAction*> entries = window.entries();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[1]->text(), title);
        QVERIFY(!entries[0]->isChecked() && entries[1]->isChecked());
    }

    void rejectedEntryShakesAndStoresNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("seed");
        QTest::newRow("empty name") << "" << Serial << DemoSeed;
        QTest::newRow("empty serial") << "Demo"
                                      << "" << DemoSeed;
        QTest::newRow("empty seed") << "Demo" << Serial << "";
        QTest::newRow("blank seed") << "Demo" << Serial << "   ";
        QTest::newRow("seed check digit changed") << "Demo" << Serial << "1200000ABCDEFGHIJ7";
        QTest::newRow("17 characters") << "Demo" << Serial << "1200000ABCDEFGHIJ";
        QTest::newRow("version 2") << "Demo" << Serial << "2200000ABCDEFGHIJ4";
        QTest::newRow("serial check digit wrong") << "Demo"
                                                  << "12345679" << DemoSeed;
    }
    void rejectedEntryShakesAndStoresNothing()
    {
        QFETCH(QString, name);
        QFETCH(QString, serial);
        QFETCH(QString, seed);
        Window window;
        window.main->show();
        window.main->installToken();
        QLineEdit* edits[] = {window.child<QLineEdit>("nameEdit"),
                              window.child<QLineEdit>("serialEdit"),
                              window.child<QLineEdit>("seedEdit")};
        edits[0]->setText(name);
        edits[1]->setText(serial);
        edits[2]->setText(seed);
        const QPoint home = window.main->pos();
        QSignalSpy moved(window.main->windowHandle(), &QWindow::xChanged);
        QTest::mouseClick(window.button("okButton"), Qt::LeftButton);

        QVERIFY(moved.count() > 1); // shaken, then put back
        QCOMPARE(window.main->pos(), home);
        QVERIFY(g_localDatabase.GetAllTokens().empty());
        QVERIFY(qobject_cast<InstallView*>(window.main->centralWidget()) != nullptr);
        QCOMPARE(edits[0]->text(), name);
        QCOMPARE(edits[1]->text(), serial);
        QCOMPARE(edits[2]->text(), seed);
    }

    void escapeLeavesInstallWithoutStoring()
    {
        Window window;
        window.main->installToken();
        window.child<QLineEdit>("nameEdit")->setText(QStringLiteral("Demo"));
        window.child<QLineEdit>("serialEdit")->setText(QString::fromLatin1(Serial));
        window.child<QLineEdit>("seedEdit")->setText(QString::fromLatin1(DemoSeed));
        QTest::keyClick(window.main->centralWidget(), Qt::Key_Escape);
        QVERIFY(window.otpView() != nullptr);
        QVERIFY(g_localDatabase.GetAllTokens().empty());
    }

    // Codes of the HOTP worked example, counters 1 to 5 (RFC 4226 algorithm).
    void hotpPressesNeverReuseACounter()
    {
        const int id = Install("Demo", DemoSeed);
        Window window;
        QVERIFY(!window.button("copyButton")->isEnabled());
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
        QCOMPARE(g_localDatabase.GetToken(id)->Counter, std::uint64_t(6));
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
        bool sleeping = false; // Sleep 5 s
        for (const QTimer* timer : window.otpView()->findChildren<QTimer*>()) {
            sleeping |= timer->isActive() && timer->interval() == 5 * 1000;
        }
        QVERIFY(sleeping);
        QCOMPARE(window.progress()->maximum(), 60);
        window.tick("autoOffScreen");
        QCOMPARE(window.progress()->value(), 1);
        window.tick("autoOffScreen", 58);
        QVERIFY(window.button("copyButton")->isEnabled());
        window.tick("autoOffScreen");
        QCOMPARE(window.progress()->value(), 0);
        QCOMPARE(window.lcd()->intValue(), 0);
        QCOMPARE(window.lcd("lcdNumber2")->intValue(), 256396);
        QVERIFY(!window.button("copyButton")->isEnabled());
        window.tick("wakeUpOTPButton");
        QVERIFY(window.button("otpButton")->isEnabled());
    }

    // Codes at 1111111111 s and one step later (RFC 6238 algorithm, 5 digits).
    void timeBasedCodeAndProgress_data()
    {
        QTest::addColumn<QString>("seed");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("next");
        QTest::newRow("TOTP, step 60") << "120000101234567891" << 60 << "50874"
                                       << "53883";
        QTest::newRow("TB, step 30") << "020000101234567893" << 30 << "86967"
                                     << "64625";
    }
    void timeBasedCodeAndProgress()
    {
        QFETCH(QString, seed);
        QFETCH(int, step);
        Install("Time", seed.toLatin1().constData());
        Window window;
        QVERIFY(!window.button("otpButton")->isEnabled());
        QTEST(window.copied(), "first");
        QCOMPARE(window.progress()->value(), 31);
        QCOMPARE(window.progress()->maximum(), 60);
        g_now += step;
        window.tick("show_totp");
        QTEST(window.copied(), "next");
        QCOMPARE(window.progress()->value(), int((FixedTime + step) % 60));
    }

    void storageFailureAtPressShowsNoCode()
    {
        const int id = Install("Demo", DemoSeed);
        Window window;
        OtherConnection()->executenonquery("alter table tblToken rename to tblAway");
        QString message;
        AnswerNextBox(QMessageBox::Ok, &message);
        window.press();
        OtherConnection()->executenonquery("alter table tblAway rename to tblToken");
        QVERIFY(message.startsWith(QStringLiteral("Velmora|Could not")));
        QCOMPARE(window.lcd()->intValue(), 0);
        QVERIFY(!window.button("copyButton")->isEnabled());
        QVERIFY(window.button("otpButton")->isEnabled());
        QCOMPARE(g_localDatabase.GetToken(id)->Counter, std::uint64_t(1));
        window.press();
        QCOMPARE(window.copied(), QStringLiteral("56777"));
    }

    void unreadableSecretIsReportedAndKept()
    {
        const int id = Install("Demo", DemoSeed);
        OtherConnection()->executenonquery("update tblToken set Credential='damaged' where ID=%d",
                                           id);
        QString message;
        AnswerNextBox(QMessageBox::Ok, &message);
        Window window;
        QVERIFY(message.contains(QStringLiteral("cannot be read")));
        QVERIFY(!window.button("otpButton")->isEnabled());
        QVERIFY(!window.button("copyButton")->isEnabled());
        QCOMPARE(
            OtherConnection()->executestring("select Credential from tblToken where ID=%d", id),
            std::string("damaged"));
    }

    void menuSelectsWithCtrlDigitAndFallsBack()
    {
        const int first = Install("A", DemoSeed);
        const int second = Install("B", DemoSeed);
        Install("C", DemoSeed);
        Window window;
        window.main->show();
        QVERIFY(QTest::qWaitForWindowActive(window.main.get()));
        QList<QAction*> entries = window.entries();
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries[1]->objectName(), QStringLiteral("actionSelToken"));
        QCOMPARE(entries[1]->data().toInt(), second);
        QCOMPARE(entries[2]->shortcut(), QKeySequence(QStringLiteral("Ctrl+3")));
        QVERIFY(entries[2]->isChecked() && entries[2]->isEnabled());

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

    void menuEntriesDisabledBeforeLogin()
    {
        Window empty(false);
        QCOMPARE(empty.entries().size(), 0);
        QCOMPARE(empty.main->windowTitle(), QStringLiteral("Velmora [No tokens installed]"));

        const int first = Install("A", DemoSeed);
        Install("B", DemoSeed);
        g_localDatabase.SetDefaultToken(first);
        Window locked(false);
        locked.main->show();
        QVERIFY(QTest::qWaitForWindowActive(locked.main.get()));
        QCOMPARE(locked.main->windowTitle(), QStringLiteral("Velmora"));
        QVERIFY(!locked.entries()[1]->isEnabled());
        QTest::keyClick(locked.main.get(), Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(g_localDatabase.GetDefaultToken(), first);
    }

    void manageAsksBeforeDeleting()
    {
        const int first = Install("A", DemoSeed);
        const int second = Install("B", DemoSeed);
        Window window;
        window.main->onManageTokens();
        auto* table = window.child<QTableWidget>("tableWidget");
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(1, 0)->data(Qt::UserRole).toInt(), second);
        QCOMPARE(table->item(1, 1)->text(), QStringLiteral("12345678"));
        QVERIFY(!(table->item(1, 3)->flags() & Qt::ItemIsEditable));
        const QString title = window.main->windowTitle();

        table->setCurrentCell(0, 2);
        QCOMPARE(window.remove(QMessageBox::No),
                 QStringLiteral("Warning|Are you sure you want to delete this token?"));
        QCOMPARE(table->rowCount(), 2);
        QVERIFY(g_localDatabase.TokenExists(first));

        // A row that lost its first cell deletes nothing and says so.
        delete table->takeItem(1, 0);
        table->setCurrentCell(1, 1);
        std::ostringstream captured;
        std::streambuf* saved = std::cerr.rdbuf(captured.rdbuf());
        window.remove(QMessageBox::Yes);
        std::cerr.rdbuf(saved);
        QCOMPARE(captured.str(), std::string("tableWidget: can't find item at (1,0)\n"));
        QVERIFY(g_localDatabase.TokenExists(second));

        table->setCurrentCell(0, 0);
        window.remove(QMessageBox::Yes);
        QCOMPARE(table->rowCount(), 1);
        QVERIFY(!g_localDatabase.TokenExists(first));
        QCOMPARE(window.entries().size(), 1);
        QCOMPARE(window.main->windowTitle(), title); // until an OTP view loads a token

        window.main->onManageTokens();
        window.child<QTableWidget>("tableWidget")->setCurrentCell(0, 0);
        window.remove(QMessageBox::Yes);
        QVERIFY(g_localDatabase.GetAllTokens().empty());
        QCOMPARE(window.main->windowTitle(), QStringLiteral("Velmora [No tokens installed]"));
    }
};

QTEST_MAIN(TokenViewsTest)
#include "tst_tokenviews.moc"
