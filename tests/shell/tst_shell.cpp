// The application shell on a temporary database: the first view, the locked
// and unlocked menus, the PIN forms, About, the shake, storage failures, and
// the Select Token menu with its entries, shortcuts and the title.
#include "app/IdleLock.h"
#include "app/MainWindow.h"
#include "app/TokenMenuStyle.h"
#include "storage/DbConnection.h"
#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"
#include "support/TokenFixtures.h"

#include <QAction>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSpinBox>
#include <QtTest>

#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <unistd.h>

namespace {

// The object name of the view the window shows.
QString Shown(CMainWindow& window)
{
    return window.centralWidget()->objectName();
}

QAction* Action(CMainWindow& window, const char* name)
{
    return window.findChild<QAction*>(QLatin1String(name), Qt::FindDirectChildrenOnly);
}

// Records every position a window is moved to.
struct MoveRecorder : QObject
{
    QList<QPoint> positions;
    explicit MoveRecorder(QWidget* window) { window->installEventFilter(this); }
    bool eventFilter(QObject* window, QEvent* event) override
    {
        if (event->type() == QEvent::Move) {
            positions.append(static_cast<QWidget*>(window)->pos());
        }
        return false;
    }
};

// Where a shake moves the window from `start`, worked out by hand: the half-side d
// starts at 8, then runs 7..1 for four moves each and 0 for the last three; the
// corners go (-d,+d), (-d,-d), (+d,-d), (+d,+d). A move to where the window already
// is sends no event, so the last three moves and the return show as one.
QList<QPoint> ShakePath(const QPoint& start)
{
    QList<QPoint> path = {start + QPoint(-8, 8)};
    for (int d = 7; d >= 1; --d) {
        path << start + QPoint(-d, -d) << start + QPoint(d, -d) << start + QPoint(d, d)
             << start + QPoint(-d, d);
    }
    return path << start;
}

// A new main window, shown and active, so that its shortcuts are live.
std::unique_ptr<CMainWindow> OpenWindow()
{
    auto window = std::make_unique<CMainWindow>(g_localDatabase);
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get())) {
        qWarning("the main window did not become active");
    }
    return window;
}

// Types `entries` into the PIN fields the shown form has, top to bottom, and presses Enter.
void Enter(CMainWindow& window, const QStringList& entries)
{
    int next = 0;
    for (const char* name : {"oldPinEdit", "pinEdit", "pinEdit2"}) {
        if (auto* edit = Child<QLineEdit>(window.centralWidget(), name)) {
            edit->setText(entries.value(next++));
        }
    }
    QTest::keyClick(Child<QLineEdit>(window.centralWidget(), "pinEdit"), Qt::Key_Return);
}

// A window showing the form named `form`. Unless that is SetPinView, which
// only a fresh database shows, the stored PIN is 1357.
std::unique_ptr<CMainWindow> OpenForm(const QString& form)
{
    if (form != "SetPinView") {
        g_localDatabase.SetPin("1357");
    }
    auto window = OpenWindow();
    if (form == "ChangePinView") {
        Enter(*window, {"1357"});
        Action(*window, "actionChange_PIN")->trigger();
        QCoreApplication::processEvents(); // shows the form
    }
    return window;
}

// What the window reported while every statement failed: the message boxes
// (each closed as it shows) and what was written to standard error.
struct StorageFailure
{
    QStringList boxes;
    std::string written;
};

// Runs `run` while another connection holds an exclusive lock on the database,
// as another program could.
StorageFailure FailStorageDuring(const std::function<void()>& run)
{
    CDbConnection lock;
    lock.open(g_localDatabase.GetDatabasePath().c_str());
    lock.executenonquery("BEGIN EXCLUSIVE");
    g_localDatabase.SetBusyTimeout(0); // fail at once instead of waiting the lock out
    const std::string path = testsupport::MakeTempDirectory() + "/stderr.txt";
    std::fflush(stderr);
    const int savedFd = ::dup(STDERR_FILENO);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);

    StorageFailure failure{Answering(QMessageBox::Ok, run), {}};

    std::fflush(stderr);
    ::dup2(savedFd, STDERR_FILENO);
    ::close(savedFd);
    lock.executenonquery("ROLLBACK");
    g_localDatabase.SetBusyTimeout(CDbConnection::BusyTimeoutMilliseconds);
    std::ifstream file(path);
    failure.written.assign(std::istreambuf_iterator<char>(file), {});
    return failure;
}

// The token entries of the Select Token menu, as it shows them when opened.
QList<QAction*> Entries(const CMainWindow& window)
{
    auto* menu = window.findChild<QMenu*>(QStringLiteral("menuSelect_Token"));
    emit menu->aboutToShow();
    return menu->actions().mid(2);
}

// The idle clock, moved on by hand.
std::int64_t g_now = 0;
std::int64_t FakeClock()
{
    return g_now;
}

void LogIn(CMainWindow& window)
{
    window.setLoggedIn();
    window.enableActions(true);
    window.otp();
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        g_localDatabase.SetPin(LocalDatabase::DefaultPin);
        for (const COtpTokenPtr& token : g_localDatabase.GetAllTokens()) {
            g_localDatabase.DeleteToken(token->ID);
        }
        // The path of a shake is what counts here, not its half second.
        CMainWindow::SetShakeStepInterval(0);
        SaveSettings(g_localDatabase, CAppSettings());
        CIdleLock::SetClock(nullptr);
    }

    void menusAndShortcutsFollowLockState()
    {
        const QStringList neverConnected = {"actionSign", "actionCNR", "actionDownload_Token",
                                            "actionSync_Token"};
        auto window = OpenForm("LoginView");
        // Entries in order, with the four separators and the Select Token submenu.
        const QList<QAction*> entries = window->findChild<QMenu*>("menuFile")->actions();
        QCOMPARE(entries.size(), 18);
        for (QAction* entry : entries) {
            QCOMPARE(entry->isEnabled(), entry->objectName() == "actionExit");
        }
        for (const Qt::Key key : {Qt::Key_O, Qt::Key_I, Qt::Key_M, Qt::Key_P}) {
            QTest::keyClick(window.get(), key, Qt::ControlModifier);
        }
        QCOMPARE(Shown(*window), "LoginView");

        Enter(*window, {"1357"});
        for (QAction* entry : entries) {
            QVERIFY2(entry->isEnabled() != neverConnected.contains(entry->objectName()),
                     qPrintable(entry->objectName()));
        }
        QTest::keyClick(window.get(), Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(Shown(*window), "ChangePinView");
        // At once, before the event loop runs: keys typed right after the shortcut
        // reach the form's first field.
        QCOMPARE(QApplication::focusWidget(),
                 Child<QLineEdit>(window->centralWidget(), "oldPinEdit"));
    }

    // An empty `storedPin` means the entry breaks a rule.
    void pinEntry_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("storedPin");

        // clang-format off
        QTest::newRow("set: empty") << "SetPinView" << QStringList{"", ""} << "";
        QTest::newRow("set: mismatch") << "SetPinView" << QStringList{"12345", "12346"} << "";
        QTest::newRow("set: too short") << "SetPinView" << QStringList{"123", "123"} << "";
        // The length counts characters, not the bytes they are stored as.
        QTest::newRow("set: too short, non-ASCII") << "SetPinView" << QStringList{"äöü", "äöü"} << "";
        QTest::newRow("set") << "SetPinView" << QStringList{"w0rd", "w0rd"} << "w0rd";
        QTest::newRow("login: empty") << "LoginView" << QStringList{""} << "";
        QTest::newRow("login: wrong PIN") << "LoginView" << QStringList{"1358"} << "";
        QTest::newRow("login") << "LoginView" << QStringList{"1357"} << "1357";
        QTest::newRow("change: old PIN empty") << "ChangePinView" << QStringList{"", "9753", "9753"} << "";
        QTest::newRow("change: mismatch") << "ChangePinView" << QStringList{"1357", "9753", "9754"} << "";
        QTest::newRow("change: too short") << "ChangePinView" << QStringList{"1357", "975", "975"} << "";
        QTest::newRow("change: wrong old PIN") << "ChangePinView" << QStringList{"1358", "9753", "9753"} << "";
        QTest::newRow("change") << "ChangePinView" << QStringList{"1357", "97531", "97531"} << "97531";
        // clang-format on
    }

    void pinEntry()
    {
        QFETCH(QString, form);
        QFETCH(QStringList, entries);
        QFETCH(QString, storedPin);

        // Also the first view: SetPinView on a fresh database, LoginView once a PIN is set.
        auto window = OpenForm(form);
        QWidget* view = window->centralWidget();
        QCOMPARE(view->objectName(), form);
        // The first field has the keyboard: typing the PIN needs no click.
        QCOMPARE(QApplication::focusWidget(),
                 Child<QLineEdit>(view, form == "ChangePinView" ? "oldPinEdit" : "pinEdit"));
        const QPoint start = window->pos();
        MoveRecorder recorder(window.get());
        Enter(*window, entries);
        QCOMPARE(window->pos(), start);

        if (storedPin.isEmpty()) {
            QCOMPARE(recorder.positions, ShakePath(start));
            QCOMPARE(window->centralWidget(), view);
            QCOMPARE(window->isLoggedIn(), form == "ChangePinView");
            QCOMPARE(g_localDatabase.IsPinSet(), form != "SetPinView");
            QCOMPARE(g_localDatabase.CheckPin("1357"), form != "SetPinView");
            if (form == "LoginView") {
                // Selected, so that typing again replaces the wrong PIN.
                QCOMPARE(Child<QLineEdit>(view, "pinEdit")->selectedText(), entries.first());
            }
            return;
        }
        QVERIFY(recorder.positions.isEmpty());
        QVERIFY(g_localDatabase.CheckPin(storedPin.toStdString()));
        QCOMPARE(g_localDatabase.CheckPin("1357"), storedPin == "1357");
        QVERIFY(window->isLoggedIn());
        QVERIFY(Action(*window, "actionOTP")->isEnabled());
        QCOMPARE(Shown(*window), "OtpView");
        QCOMPARE(Shown(*OpenWindow()), "LoginView");
    }

    void switchDuringShakeIsSafe()
    {
        // Input is handled while the window shakes: About may replace the login form
        // whose wrong PIN is being answered, and the form must not be touched after it.
        CMainWindow::SetShakeStepInterval(15);
        auto window = OpenForm("LoginView");
        const QPointer<QWidget> login = window->centralWidget();
        QTimer::singleShot(40, Action(*window, "action_About"), &QAction::trigger);
        Enter(*window, {"1358"});
        QCOMPARE(Shown(*window), "AboutView");
        QVERIFY(login == nullptr);
    }

    // Leaving a form, or About shown over it ("+About"), by Escape or a
    // button: `then` is the view shown after, empty when the run ended.
    void leaveForm_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QString>("press");
        QTest::addColumn<QString>("then");
        // clang-format off
        // The PIN prompts: Escape does nothing, Cancel ends the run.
        QTest::newRow("set: Escape") << "SetPinView" << "Escape" << "SetPinView";
        QTest::newRow("set: Cancel") << "SetPinView" << "cancelButton" << "";
        QTest::newRow("login: Escape") << "LoginView" << "Escape" << "LoginView";
        QTest::newRow("login: Cancel") << "LoginView" << "cancelButton" << "";
        // Changing the PIN: Escape and Cancel both go back to the OTP view.
        QTest::newRow("change: Escape") << "ChangePinView" << "Escape" << "OtpView";
        QTest::newRow("change: Cancel") << "ChangePinView" << "cancelButton" << "OtpView";
        // About: OK leads back to a new form before login, to the OTP view after.
        QTest::newRow("about: Escape") << "SetPinView+About" << "Escape" << "AboutView";
        QTest::newRow("about: OK") << "SetPinView+About" << "okButton" << "SetPinView";
        QTest::newRow("about after login: OK") << "ChangePinView+About" << "okButton" << "OtpView";
        // clang-format on
    }

    void leaveForm()
    {
        QFETCH(QString, form);
        QFETCH(QString, press);
        QFETCH(QString, then);

        auto window = OpenForm(form.section('+', 0, 0));
        if (form.endsWith("+About")) {
            // About replaces the form, which is deleted only when control
            // returns to the event loop.
            const QPointer<QWidget> replaced = window->centralWidget();
            Action(*window, "action_About")->trigger();
            QVERIFY(replaced != nullptr && replaced->isHidden());
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(replaced == nullptr);
            QCoreApplication::processEvents(); // shows About
        }
        QWidget* view = window->centralWidget();
        QVERIFY(!view->isWindow());
        if (press == "Escape") {
            QTest::keyClick(view->focusWidget() != nullptr ? view->focusWidget() : view,
                            Qt::Key_Escape);
        } else {
            Click(view, qPrintable(press));
        }
        QCOMPARE(window->isVisible(), !then.isEmpty());
        if (then == view->objectName()) {
            QCOMPARE(window->centralWidget(), view);
            QVERIFY(view->isVisible());
        } else if (!then.isEmpty()) {
            QCOMPARE(Shown(*window), then);
        }
    }

    void storageFailureKeepsFormUsable_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("failedAction");

        QTest::newRow("login") << "LoginView" << QStringList{"1357"} << "check the PIN";
        QTest::newRow("set") << "SetPinView" << QStringList{"8642", "8642"} << "store the PIN";
    }

    void storageFailureKeepsFormUsable()
    {
        QFETCH(QString, form);
        QFETCH(QStringList, entries);
        QFETCH(QString, failedAction);

        auto window = OpenForm(form);
        QWidget* view = window->centralWidget();
        const StorageFailure failure = FailStorageDuring([&] { Enter(*window, entries); });
        QCOMPARE(failure.boxes.size(), 1);
        QVERIFY2(failure.boxes.first().startsWith("Velmora|Could not " + failedAction + "."),
                 qPrintable(failure.boxes.first()));
        const std::string line = "Velmora: could not " + failedAction.toStdString() + ": ";
        QVERIFY2(failure.written.rfind(line, 0) == 0, failure.written.c_str());
        QCOMPARE(failure.written.find('\n'), failure.written.size() - 1);
        QVERIFY(!window->isLoggedIn());
        QCOMPARE(window->centralWidget(), view);
        QCOMPARE(g_localDatabase.IsPinSet(), form == "LoginView");

        // The lock is gone: the same entry now goes through.
        Enter(*window, entries);
        QVERIFY(window->isLoggedIn());
        QVERIFY(g_localDatabase.CheckPin(entries.first().toStdString()));
        QCOMPARE(Shown(*window), "OtpView");
    }

    // Locking by Ctrl+L and after idle minutes set in the settings form, on a
    // clock of the test's own: the code leaves the display and the
    // clipboard, the views go, and the PIN brings the token back.
    void lockByKeyAndWhenIdle()
    {
        Install("A", DemoSeed);
        const int shown = Install("B", DemoSeed);
        auto window = OpenForm("LoginView");
        Enter(*window, {"1357"});
        Click(window->centralWidget(), "otpButton");
        Click(window->centralWidget(), "copyButton");
        QVERIFY(!QGuiApplication::clipboard()->text().isEmpty());
        const QPointer<QWidget> otpView = window->centralWidget();

        QTest::keyClick(window.get(), Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(Shown(*window), "LoginView");
        QCOMPARE(window->windowTitle(), QStringLiteral("Velmora"));
        QVERIFY(QGuiApplication::clipboard()->text().isEmpty());
        QVERIFY(!window->isLoggedIn() && !Action(*window, "actionSettings")->isEnabled());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(otpView == nullptr);
        Enter(*window, {"1357"});
        QCOMPARE(window->windowTitle(), QStringLiteral("Velmora [B:12345678]"));
        QCOMPARE(g_localDatabase.GetDefaultToken(), shown);

        CIdleLock::SetClock(&FakeClock);
        Action(*window, "actionSettings")->trigger();
        QCOMPARE(Shown(*window), "SettingsView");
        Child<QSpinBox>(window->centralWidget(), "idleMinutesBox")->setValue(2);
        Click(window->centralWidget(), "okButton");
        QCOMPARE(LoadSettings(g_localDatabase).IdleLockMinutes, 2);
        QCOMPARE(Shown(*window), "OtpView");
        // Input a minute and a half in counts: two minutes after it, not before.
        g_now += 90000;
        QTest::keyClick(window.get(), Qt::Key_Shift);
        g_now += 119000;
        window->idleLock()->check();
        QVERIFY(window->isLoggedIn());
        g_now += 1000;
        window->idleLock()->check();
        QCOMPARE(Shown(*window), "LoginView");
    }

    void unreadablePinStateStillAsksForPin()
    {
        // No PIN is set, but while that cannot be read the window must not skip the prompt.
        std::unique_ptr<CMainWindow> window;
        const StorageFailure failure = FailStorageDuring(
            [&window] { window = std::make_unique<CMainWindow>(g_localDatabase); });
        QVERIFY(failure.boxes.value(0).startsWith("Velmora|Could not read whether a PIN is set."));
        QCOMPARE(Shown(*window), "LoginView");
    }

    // The Select Token menu through a session: locked, logged in, a selected
    // token gone, a token the menu does not list yet, a thousand tokens.
    void tokenMenu()
    {
        const int first = Install("A", DemoSeed);
        // Shown as typed: the bytes stored are those of the local 8-bit encoding.
        const int second = Install(u8"Zo\u00eb Bank \u20ac", DemoSeed);
        const int third = Install("C&D\t\x1b\xc2\x85", DemoSeed);
        auto window = OpenWindow();
        // Made when the menu is first shown, or a digit shortcut asks for them.
        auto* menu = window->findChild<QMenu*>(QStringLiteral("menuSelect_Token"));
        QCOMPARE(menu->actions().size(), 2);
        QTest::keyClick(window.get(), Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(g_localDatabase.GetDefaultToken(), third);
        QCOMPARE(window->windowTitle(), QStringLiteral("Velmora"));
        LogIn(*window);
        QTest::keyClick(window.get(), Qt::Key_2, Qt::ControlModifier);
        QCOMPARE(g_localDatabase.GetDefaultToken(), second);

        window->lock();
        QList<QAction*> entries = Entries(*window);
        QCOMPARE(entries.size(), 3);
        QVERIFY(entries[1]->isChecked() && !entries[1]->isEnabled());
        QCOMPARE(entries[1]->text(), QStringLiteral("Zo\u00eb Bank \u20ac:12345678"));
        // "&" shows, no mnemonic; control characters show in caret notation,
        // and a tab opens no shortcut column.
        QCOMPARE(entries[2]->text(), QStringLiteral("C&&D^I^[\ufffd:12345678"));
        LogIn(*window);
        QTest::keyClick(window.get(), Qt::Key_3, Qt::ControlModifier);
        QVERIFY(!entries[0]->isChecked() && !entries[1]->isChecked() && entries[2]->isChecked());
        QTest::keyClick(window.get(), Qt::Key_2, Qt::ControlModifier);
        QVERIFY(!entries[0]->isChecked() && entries[1]->isChecked() && !entries[2]->isChecked());

        g_localDatabase.SetDefaultToken(9999);
        window->refreshTokenMenu();
        entries = Entries(*window);
        QVERIFY(entries[0]->isChecked() && !entries[1]->isChecked());
        QCOMPARE(g_localDatabase.GetDefaultToken(), first);

        // Chosen from the token list before the menu lists it: selected all the same.
        const int fourth = Install("D\r", DemoSeed);
        g_localDatabase.SetDefaultToken(first);
        window->selectToken(fourth);
        QCOMPARE(g_localDatabase.GetDefaultToken(), fourth);
        QVERIFY(Entries(*window).last()->isChecked());
        QCOMPARE(window->windowTitle(), QStringLiteral("Velmora [D^M:12345678]"));

        // 995 rows like the last, stored by another program in one statement,
        // and a long name.
        CDbConnection other;
        other.open(g_localDatabase.GetDatabasePath().c_str());
        other.executenonquery("create temp table copy as select * from tblToken where ID=%d",
                              fourth);
        other.executenonquery("update copy set ID = null");
        other.executenonquery("with recursive n(i) as (select 1 union all select i + 1 from n "
                              "where i < 995) insert into tblToken select copy.* from copy, n");
        const QString longName = QStringLiteral("L") + QString(299, QLatin1Char('o'));
        const int last = Install(qPrintable(longName), DemoSeed);
        window->refreshTokenMenu();
        entries = Entries(*window);
        QCOMPARE(entries.size(), 1000);
        // Ctrl+1 to Ctrl+9 are the only digit shortcuts; later entries get none.
        QCOMPARE(entries[8]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_9));
        QVERIFY(entries[9]->shortcut().isEmpty());
        // The newest is selected. Cut short only where drawn: the entry and the
        // title keep the whole name.
        QVERIFY(entries.last()->isChecked() && entries.last()->isEnabled());
        QCOMPARE(entries.last()->text(), longName + QStringLiteral(":12345678"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Velmora [%1:12345678]").arg(longName));

        // One scrolling column inside the screen, not columns running off it.
        window->selectToken(entries[500]->data().toInt());
        QVERIFY(entries[500]->isChecked() && !entries.last()->isChecked());
        menu->popup(QPoint(0, 0));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        QVERIFY(menu->height() <= menu->screen()->availableGeometry().height());
        QVERIFY(menu->width() < CTokenMenuStyle::MaxNameWidth + 200);
        QTest::keyClick(menu, Qt::Key_End);
        QTest::keyClick(menu, Qt::Key_Return);
        QCOMPARE(g_localDatabase.GetDefaultToken(), last);
        QVERIFY(entries.last()->isChecked() && !entries[500]->isChecked());

        // Removing the selected token: the title names the one shown from now on, at once.
        g_localDatabase.DeleteToken(last);
        window->refreshTokenMenu();
        QCOMPARE(window->windowTitle(), QStringLiteral("Velmora [A:12345678]"));
        other.executenonquery("delete from tblToken");
        window->refreshTokenMenu();
        QVERIFY(Entries(*window).isEmpty());
        QCOMPARE(window->windowTitle(), QStringLiteral("Velmora [No tokens installed]"));
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
