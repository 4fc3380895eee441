// The application shell on a temporary database: the first view, the locked
// and unlocked menus, the PIN forms, About, the shake, and storage failures.
#include "app/MainWindow.h"
#include "shell/ShellFixture.h"
#include "storage/LocalDatabase.h"
#include "views/AboutView.h"
#include "views/ChangePinView.h"
#include "views/InstallView.h"
#include "views/LoginView.h"
#include "views/ManageTokensView.h"
#include "views/OtpView.h"
#include "views/SetPinView.h"

#include <QAction>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include <memory>

using namespace shelltest;

namespace {

template <typename View> View* Central(CMainWindow& window)
{
    return qobject_cast<View*>(window.centralWidget());
}

QAction* Action(CMainWindow& window, const char* name)
{
    return window.findChild<QAction*>(QLatin1String(name), Qt::FindDirectChildrenOnly);
}

QLineEdit* Edit(QWidget* view, const char* name)
{
    return view->findChild<QLineEdit*>(QLatin1String(name));
}

// Triggers a menu action and lets the event loop show the view it switched to.
void Trigger(CMainWindow& window, const char* name)
{
    Action(window, name)->trigger();
    QCoreApplication::processEvents();
}

QPushButton* Button(QWidget* view, const char* name)
{
    return view->findChild<QPushButton*>(QLatin1String(name));
}

// A shake is 32 moves; anything less is not one.
bool Shook(const MoveRecorder& recorder)
{
    return recorder.positions().size() >= 29;
}

// Types `pin` into the login form and presses Enter.
void LogIn(CMainWindow& window, const QString& pin)
{
    if (auto* login = Central<LoginView>(window)) {
        Edit(login, "pinEdit")->setText(pin);
        QTest::keyClick(Edit(login, "pinEdit"), Qt::Key_Return);
        QCoreApplication::processEvents();
    }
}

// A window unlocked with `pin`, which must be the stored PIN.
std::unique_ptr<CMainWindow> LoggedInWindow(const QString& pin)
{
    auto window = OpenWindow();
    LogIn(*window, pin);
    return window;
}

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

private slots:
    void init() { ResetStorage(); }
    void cleanup() { ReturnToEventLoop(); }

    void firstViewFollowsStoredPin();
    void windowIsFixedAndCentred();
    void actionsFollowLockState();
    void shortcutsFollowLockState();
    void viewsAreFreshAndDeletedLater();
    void shakeMovesThroughCornersAndBack();
    void setPinRejects_data();
    void setPinRejects();
    void setPinStoresAndUnlocks();
    void loginRejectsWrongPin();
    void switchDuringShakeIsSafe();
    void changePinRejects_data();
    void changePinRejects();
    void changePinStores();
    void cancelAndEscape();
    void aboutReturnsHome();
    void failedCheckKeepsWindowLockedAndUsable();
    void failedStoreDoesNotUnlock();
    void unreadablePinStateStillAsksForPin();
};

void TestShell::firstViewFollowsStoredPin()
{
    auto fresh = OpenWindow();
    QVERIFY(Central<SetPinView>(*fresh) != nullptr);
    QVERIFY(!fresh->isLoggedIn());

    g_localDatabase.SetPin("2468");
    auto later = OpenWindow();
    QVERIFY(Central<LoginView>(*later) != nullptr);
}

void TestShell::windowIsFixedAndCentred()
{
    CMainWindow window;
    QCOMPARE(window.size(), QSize(389, 218));
    QCOMPARE(window.minimumSize(), QSize(389, 218));
    QCOMPARE(window.maximumSize(), QSize(389, 218));
    QCOMPARE(window.windowIcon().pixmap(48, 48).size(), QSize(48, 48));

    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    QCOMPARE(window.pos(), QPoint((desktop.width() - 389) / 2, (desktop.height() - 218) / 2));
}

void TestShell::actionsFollowLockState()
{
    const QStringList fileEntries = {"actionChange_PIN",    "actionOTP",
                                     "actionSign",          "actionCNR",
                                     "actionInstall_Token", "actionDownload_Token",
                                     "actionSync_Token",    "actionManage_Tokens"};
    const QStringList neverOffered = {"actionSign", "actionCNR", "actionDownload_Token",
                                      "actionSync_Token"};
    g_localDatabase.SetPin("1357");
    auto window = OpenWindow();
    QMenu* file = window->findChild<QMenu*>("menuFile");
    QCOMPARE(file->actions().size(), 12);
    QCOMPARE(file->actions().at(3)->objectName(), QString("actionSign"));
    QCOMPARE(file->actions().at(9)->objectName(), QString("actionSync_Token"));
    for (const QString& name : fileEntries) {
        QVERIFY2(!Action(*window, qPrintable(name))->isEnabled(), qPrintable(name));
    }
    QVERIFY(!file->actions().at(6)->isEnabled()); // the Select Token submenu
    QVERIFY(Action(*window, "actionExit")->isEnabled());
    QVERIFY(Action(*window, "action_About")->isEnabled());

    LogIn(*window, "1357");
    QVERIFY(window->isLoggedIn());
    for (const QString& name : fileEntries) {
        QCOMPARE(Action(*window, qPrintable(name))->isEnabled(), !neverOffered.contains(name));
    }
    QVERIFY(file->actions().at(6)->isEnabled());
}

void TestShell::shortcutsFollowLockState()
{
    g_localDatabase.SetPin("1357");
    auto window = OpenWindow();
    const QPointer<QWidget> prompt = window->centralWidget();
    for (const Qt::Key key : {Qt::Key_O, Qt::Key_I, Qt::Key_M, Qt::Key_P, Qt::Key_T}) {
        QTest::keyClick(window.get(), key, Qt::ControlModifier);
    }
    QCOMPARE(window->centralWidget(), prompt.data());

    LogIn(*window, "1357");
    QTest::keyClick(window.get(), Qt::Key_P, Qt::ControlModifier);
    QVERIFY(Central<ChangePinView>(*window) != nullptr);
    QTest::keyClick(window.get(), Qt::Key_I, Qt::ControlModifier);
    QVERIFY(Central<InstallView>(*window) != nullptr);
    QTest::keyClick(window.get(), Qt::Key_M, Qt::ControlModifier);
    QVERIFY(Central<ManageTokensView>(*window) != nullptr);
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    QVERIFY(Central<OtpView>(*window) != nullptr);

    // Ctrl+T and Ctrl+R belong to entries that are never offered.
    const QPointer<QWidget> shown = window->centralWidget();
    QTest::keyClick(window.get(), Qt::Key_T, Qt::ControlModifier);
    QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(window->centralWidget(), shown.data());

    QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
    QVERIFY(!window->isVisible());
}

void TestShell::viewsAreFreshAndDeletedLater()
{
    g_localDatabase.SetPin("1357");
    auto window = LoggedInWindow("1357");
    const QPointer<OtpView> first = Central<OtpView>(*window);
    QVERIFY(first != nullptr);
    ReturnToEventLoop();

    Action(*window, "actionOTP")->trigger();
    auto* second = Central<OtpView>(*window);
    QVERIFY(second != nullptr);
    QVERIFY(second != first);
    QVERIFY(!(second->windowFlags() & Qt::Window));

    // The replaced view lives on, hidden and still in the window, until the event loop runs.
    QVERIFY(first != nullptr);
    QVERIFY(first->isHidden());
    QCOMPARE(first->parentWidget(), window.get());
    ReturnToEventLoop();
    QVERIFY(first == nullptr);
}

void TestShell::shakeMovesThroughCornersAndBack()
{
    auto window = OpenWindow();
    window->move(100, 120);
    QCoreApplication::processEvents();
    const QPoint start = window->pos();
    QCOMPARE(start, QPoint(100, 120));

    // Offsets worked out by hand: the half-side d starts at 8, then runs 7..1 for four moves
    // each and 0 for the last three; the corners go (-d,+d), (-d,-d), (+d,-d), (+d,+d).
    QList<QPoint> expected = {QPoint(-8, 8)};
    for (int d = 7; d >= 1; --d) {
        expected << QPoint(-d, -d) << QPoint(d, -d) << QPoint(d, d) << QPoint(-d, d);
    }
    expected << QPoint(0, 0); // three moves to the centre, the return adds no fourth event

    MoveRecorder recorder(window.get());
    window->shake();
    QCOMPARE(window->pos(), start);

    QList<QPoint> offsets;
    for (const QPoint& position : recorder.positions()) {
        offsets << position - start;
    }
    QCOMPARE(offsets, expected);
}

void TestShell::setPinRejects_data()
{
    QTest::addColumn<QString>("pin");
    QTest::addColumn<QString>("confirmation");

    QTest::newRow("both empty") << ""
                                << "";
    QTest::newRow("only the PIN") << "12345"
                                  << "";
    QTest::newRow("only the confirmation") << ""
                                           << "12345";
    QTest::newRow("mismatch") << "12345"
                              << "12346";
    QTest::newRow("case differs") << "abcd"
                                  << "abcD";
    QTest::newRow("three characters") << "123"
                                      << "123";
    // The length counts characters, not the bytes they are stored as.
    QTest::newRow("three non-ASCII characters")
        << QString::fromUtf8("äöü") << QString::fromUtf8("äöü");
}

void TestShell::setPinRejects()
{
    QFETCH(QString, pin);
    QFETCH(QString, confirmation);

    auto window = OpenWindow();
    auto* view = Central<SetPinView>(*window);
    QVERIFY(view != nullptr);
    Edit(view, "pinEdit")->setText(pin);
    Edit(view, "pinEdit2")->setText(confirmation);

    MoveRecorder recorder(window.get());
    QTest::keyClick(Edit(view, "pinEdit2"), Qt::Key_Return);
    QVERIFY(Shook(recorder));
    QCOMPARE(Central<SetPinView>(*window), view);
    QCOMPARE(Edit(view, "pinEdit")->text(), pin);
    QVERIFY(!window->isLoggedIn());
    QVERIFY(!g_localDatabase.IsPinSet());
    QVERIFY(!Action(*window, "actionOTP")->isEnabled());
}

void TestShell::setPinStoresAndUnlocks()
{
    auto window = OpenWindow();
    auto* view = Central<SetPinView>(*window);
    QVERIFY(view != nullptr);
    QTest::keyClicks(Edit(view, "pinEdit"), "w0rd");
    QTest::keyClicks(Edit(view, "pinEdit2"), "w0rd");

    MoveRecorder recorder(window.get());
    QTest::mouseClick(Button(view, "okButton"), Qt::LeftButton);
    QVERIFY(recorder.positions().isEmpty());
    QVERIFY(g_localDatabase.CheckPin("w0rd"));
    QVERIFY(window->isLoggedIn());
    QVERIFY(Action(*window, "actionOTP")->isEnabled());
    QVERIFY(Central<OtpView>(*window) != nullptr);
}

void TestShell::loginRejectsWrongPin()
{
    g_localDatabase.SetPin("1357");
    auto window = OpenWindow();
    auto* view = Central<LoginView>(*window);
    QVERIFY(view != nullptr);
    QLineEdit* pinEdit = Edit(view, "pinEdit");
    QCOMPARE(pinEdit->echoMode(), QLineEdit::Password);

    MoveRecorder empty(window.get());
    QTest::keyClick(pinEdit, Qt::Key_Return);
    QVERIFY(Shook(empty));

    QTest::keyClicks(pinEdit, "1358");
    pinEdit->deselect();
    MoveRecorder wrong(window.get());
    QTest::keyClick(pinEdit, Qt::Key_Return);
    QVERIFY(Shook(wrong));
    QCOMPARE(pinEdit->selectedText(), QString("1358"));
    QCOMPARE(Central<LoginView>(*window), view);
    QVERIFY(!window->isLoggedIn());

    // The selection means the next typing replaces the wrong PIN.
    QTest::keyClicks(pinEdit, "1357");
    QTest::keyClick(pinEdit, Qt::Key_Return);
    QVERIFY(window->isLoggedIn());
    QVERIFY(Central<OtpView>(*window) != nullptr);
}

void TestShell::switchDuringShakeIsSafe()
{
    // Input is handled while the window shakes: About may replace the login form
    // whose wrong PIN is being answered, and the form must not be touched after it.
    g_localDatabase.SetPin("1357");
    auto window = OpenWindow();
    const QPointer<QWidget> login = window->centralWidget();
    Edit(login, "pinEdit")->setText("1358");
    QTimer::singleShot(40, Action(*window, "action_About"), &QAction::trigger);
    QTest::keyClick(Edit(login, "pinEdit"), Qt::Key_Return);
    QVERIFY(Central<AboutView>(*window) != nullptr);
    QVERIFY(login == nullptr);
}

void TestShell::changePinRejects_data()
{
    QTest::addColumn<QString>("oldPin");
    QTest::addColumn<QString>("pin");
    QTest::addColumn<QString>("confirmation");

    QTest::newRow("old PIN empty") << ""
                                   << "9753"
                                   << "9753";
    QTest::newRow("new PIN empty") << "1357"
                                   << ""
                                   << "9753";
    QTest::newRow("confirmation empty") << "1357"
                                        << "9753"
                                        << "";
    QTest::newRow("mismatch") << "1357"
                              << "9753"
                              << "9754";
    QTest::newRow("too short") << "1357"
                               << "975"
                               << "975";
    QTest::newRow("wrong old PIN") << "1358"
                                   << "9753"
                                   << "9753";
}

void TestShell::changePinRejects()
{
    QFETCH(QString, oldPin);
    QFETCH(QString, pin);
    QFETCH(QString, confirmation);

    g_localDatabase.SetPin("1357");
    auto window = LoggedInWindow("1357");
    Trigger(*window, "actionChange_PIN");
    auto* view = Central<ChangePinView>(*window);
    QVERIFY(view != nullptr);
    Edit(view, "oldPinEdit")->setText(oldPin);
    Edit(view, "pinEdit")->setText(pin);
    Edit(view, "pinEdit2")->setText(confirmation);

    MoveRecorder recorder(window.get());
    QTest::keyClick(Edit(view, "pinEdit2"), Qt::Key_Return);
    QVERIFY(Shook(recorder));
    QCOMPARE(Central<ChangePinView>(*window), view);
    QVERIFY(g_localDatabase.CheckPin("1357"));
}

void TestShell::changePinStores()
{
    g_localDatabase.SetPin("1357");
    auto window = LoggedInWindow("1357");
    Trigger(*window, "actionChange_PIN");
    auto* view = Central<ChangePinView>(*window);
    QVERIFY(view != nullptr);
    QCOMPARE(QApplication::focusWidget(), Edit(view, "oldPinEdit"));

    QTest::keyClicks(Edit(view, "oldPinEdit"), "1357");
    QTest::keyClick(Edit(view, "oldPinEdit"), Qt::Key_Tab);
    QTest::keyClicks(QApplication::focusWidget(), "97531");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClicks(QApplication::focusWidget(), "97531");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);

    QVERIFY(g_localDatabase.CheckPin("97531"));
    QVERIFY(!g_localDatabase.CheckPin("1357"));
    QVERIFY(Central<OtpView>(*window) != nullptr);
}

void TestShell::cancelAndEscape()
{
    // The PIN prompts: Escape does nothing, Cancel ends the run.
    for (const bool pinSet : {false, true}) {
        if (pinSet) {
            g_localDatabase.SetPin("1357");
        }
        auto window = OpenWindow();
        QWidget* prompt = window->centralWidget();
        QTest::keyClick(Edit(prompt, "pinEdit"), Qt::Key_Escape);
        QCOMPARE(window->centralWidget(), prompt);
        QVERIFY(window->isVisible());
        QTest::mouseClick(Button(prompt, "cancelButton"), Qt::LeftButton);
        QVERIFY(!window->isVisible());
    }

    // Changing the PIN: Escape and Cancel both go back to the OTP view.
    auto window = LoggedInWindow("1357");
    Trigger(*window, "actionChange_PIN");
    auto* change = Central<ChangePinView>(*window);
    QVERIFY(change != nullptr);
    QTest::keyClick(Edit(change, "pinEdit"), Qt::Key_Escape);
    QVERIFY(Central<OtpView>(*window) != nullptr);
    Trigger(*window, "actionChange_PIN");
    QTest::mouseClick(Button(window->centralWidget(), "cancelButton"), Qt::LeftButton);
    QVERIFY(Central<OtpView>(*window) != nullptr);
    QVERIFY(window->isVisible());
}

void TestShell::aboutReturnsHome()
{
    // Before login, on a fresh database: back to a new set-PIN form.
    auto fresh = OpenWindow();
    Action(*fresh, "action_About")->trigger();
    auto* about = Central<AboutView>(*fresh);
    QVERIFY(about != nullptr);
    QTest::keyClick(about, Qt::Key_Escape);
    QCOMPARE(Central<AboutView>(*fresh), about);
    QTest::mouseClick(Button(about, "okButton"), Qt::LeftButton);
    QVERIFY(Central<SetPinView>(*fresh) != nullptr);

    // Before login with a PIN: a new login form, the typed text gone.
    g_localDatabase.SetPin("1357");
    auto locked = OpenWindow();
    Edit(locked->centralWidget(), "pinEdit")->setText("13");
    Action(*locked, "action_About")->trigger();
    QTest::mouseClick(Button(locked->centralWidget(), "okButton"), Qt::LeftButton);
    auto* login = Central<LoginView>(*locked);
    QVERIFY(login != nullptr);
    QVERIFY(Edit(login, "pinEdit")->text().isEmpty());

    // After login: the OTP view.
    auto window = LoggedInWindow("1357");
    Action(*window, "action_About")->trigger();
    QTest::mouseClick(Button(window->centralWidget(), "okButton"), Qt::LeftButton);
    QVERIFY(Central<OtpView>(*window) != nullptr);
}

void TestShell::failedCheckKeepsWindowLockedAndUsable()
{
    g_localDatabase.SetPin("1357");
    auto window = OpenWindow();
    auto* view = Central<LoginView>(*window);
    QVERIFY(view != nullptr);
    Edit(view, "pinEdit")->setText("1357");
    {
        DatabaseLock lock;
        QVERIFY(lock.held());
        MessageBoxCloser boxes;
        StderrCapture errors;
        QTest::keyClick(Edit(view, "pinEdit"), Qt::Key_Return);
        const std::string written = errors.finish();

        QCOMPARE(boxes.seen().size(), 1);
        QVERIFY2(boxes.seen().first().startsWith("Velmora|Could not check the PIN."),
                 qPrintable(boxes.seen().first()));
        QVERIFY2(written.rfind("Velmora: could not check the PIN: ", 0) == 0, written.c_str());
        QCOMPARE(written.find('\n'), written.size() - 1);
        QVERIFY(!window->isLoggedIn());
        QCOMPARE(Central<LoginView>(*window), view);
    }

    // The lock is gone: the same entry now unlocks.
    QTest::keyClick(Edit(view, "pinEdit"), Qt::Key_Return);
    QVERIFY(window->isLoggedIn());
    QVERIFY(Central<OtpView>(*window) != nullptr);
}

void TestShell::failedStoreDoesNotUnlock()
{
    auto window = OpenWindow();
    auto* view = Central<SetPinView>(*window);
    QVERIFY(view != nullptr);
    Edit(view, "pinEdit")->setText("8642");
    Edit(view, "pinEdit2")->setText("8642");
    {
        DatabaseLock lock;
        QVERIFY(lock.held());
        MessageBoxCloser boxes;
        StderrCapture errors;
        QTest::keyClick(Edit(view, "pinEdit2"), Qt::Key_Return);
        QCOMPARE(boxes.seen().size(), 1);
        QVERIFY(boxes.seen().first().startsWith("Velmora|Could not store the PIN."));
        QVERIFY(!window->isLoggedIn());
        QCOMPARE(Central<SetPinView>(*window), view);
    }
    QVERIFY(!g_localDatabase.IsPinSet());
    QTest::keyClick(Edit(view, "pinEdit2"), Qt::Key_Return);
    QVERIFY(window->isLoggedIn());
    QVERIFY(g_localDatabase.CheckPin("8642"));
}

void TestShell::unreadablePinStateStillAsksForPin()
{
    // No PIN is set, but while that cannot be read the window must not skip the prompt.
    std::unique_ptr<CMainWindow> window;
    {
        DatabaseLock lock;
        QVERIFY(lock.held());
        MessageBoxCloser boxes;
        StderrCapture errors;
        window = std::make_unique<CMainWindow>();
        QVERIFY(!boxes.seen().isEmpty());
        QVERIFY(boxes.seen().first().startsWith("Velmora|Could not read whether a PIN is set."));
    }
    QVERIFY(Central<LoginView>(*window) != nullptr);
    QVERIFY(!window->isLoggedIn());
    QVERIFY(!Action(*window, "actionOTP")->isEnabled());
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
