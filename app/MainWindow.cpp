#include "app/MainWindow.h"

#include "app/IdleLock.h"
#include "app/SessionLock.h"
#include "app/TokenMenuStyle.h"
#include "app/TrayIcon.h"
#include "storage/LocalDatabase.h"
#include "views/AboutView.h"
#include "views/ChangePinView.h"
#include "views/CodeClipboard.h"
#include "views/ExportDialog.h"
#include "views/ImportDialog.h"
#include "views/InstallView.h"
#include "views/LoginView.h"
#include "views/ManageTokensView.h"
#include "views/OtpView.h"
#include "views/PinAgain.h"
#include "views/SetPinView.h"
#include "views/SettingsView.h"
#include "views/StorageGuard.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QIcon>
#include <QList>
#include <QMenu>
#include <QMenuBar>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QSize>
#include <QString>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>

#include <type_traits>

namespace {

int g_shakeStepInterval = 15;

// Offset of the shake move made while `step` runs down from 32 to 1: the
// diagonal corners of a square whose half-side shrinks by one every four moves.
QPoint ShakeOffset(int step)
{
    const int d = step >> 2;
    const int r = step & 3;
    const int dx = (r == 1 || r == 2) ? d : -d;
    const int dy = (r == 0 || r == 1) ? d : -d;
    return QPoint(dx, dy);
}

// Closes the open menus, message boxes and other modal windows, so that
// nothing shown before a lock stays on screen after it.
void CloseTransientWindows()
{
    // Bounded: a window that refuses to close must not hold the lock up.
    for (int left = 16; left > 0; --left) {
        QWidget* open = QApplication::activePopupWidget();
        if (open == nullptr) {
            open = QApplication::activeModalWidget();
        }
        if (open == nullptr) {
            return;
        }
        if (auto* dialog = qobject_cast<QDialog*>(open)) {
            dialog->reject();
        } else {
            open->close();
        }
    }
}

} // namespace

// The images are compiled into a static library; naming their registration here
// keeps the linker from dropping it from the programs that show this window.
static void RegisterImages()
{
    Q_INIT_RESOURCE(velmora);
}

CMainWindow::CMainWindow(LocalDatabase& localDatabase, QWidget* parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags), database(localDatabase), loggedIn(false),
      idleWatch(new CIdleLock(this)), sessionWatch(new CSessionLock(this))
{
    RegisterImages();
    setupUi();
    centerWindow();
    // This window's own, also for a class that might derive from it.
    CMainWindow::enableActions(false);
    showLogin();
    CMainWindow::refreshTokenMenu();
    // Unreadable settings are reported; the defaults hold meanwhile.
    GuardStorage(this, tr("read the settings"), [this] { appSettings = LoadSettings(database); });
    idleWatch->setMinutes(appSettings.IdleLockMinutes);
    connect(idleWatch, &CIdleLock::idle, this, &CMainWindow::lock);
    connect(sessionWatch, &CSessionLock::sessionLocked, this, [this] {
        if (appSettings.LockWithSession) {
            lock();
        }
    });
    // Once the event loop runs: asking the desktop for its tray is no part
    // of showing the window.
    QTimer::singleShot(0, this, &CMainWindow::startTray);

    connect(actionOTP, &QAction::triggered, this, &CMainWindow::otp);
    connect(actionInstall_Token, &QAction::triggered, this, &CMainWindow::installToken);
    connect(menuSelect_Token, &QMenu::triggered, this, &CMainWindow::SelToken);
    connect(actionManage_Tokens, &QAction::triggered, this, &CMainWindow::onManageTokens);
    connect(actionChange_PIN, &QAction::triggered, this, &CMainWindow::changePin);
    connect(action_About, &QAction::triggered, this, &CMainWindow::about);
    connect(actionSettings, &QAction::triggered, this, &CMainWindow::showSettings);
    connect(actionLock, &QAction::triggered, this, &CMainWindow::lock);
    connect(actionImport_Tokens, &QAction::triggered, this, &CMainWindow::importTokens);
    connect(actionExport_Tokens, &QAction::triggered, this, &CMainWindow::exportTokens);
    connect(actionShow_QR_Code, &QAction::triggered, this, &CMainWindow::showQrCode);
    connect(menuSelect_Token, &QMenu::aboutToShow, this, &CMainWindow::ensureTokenEntries);
}

CMainWindow::~CMainWindow() = default;

void CMainWindow::setupUi()
{
    if (objectName().isEmpty()) {
        setObjectName(QStringLiteral("MainWindow"));
    }
    resize(389, 218);
    setMinimumSize(QSize(389, 218));
    setMaximumSize(QSize(389, 218));
    QIcon icon;
    icon.addFile(QStringLiteral(":/images/Velmora48x48.png"), QSize(), QIcon::Normal, QIcon::Off);
    setWindowIcon(icon);
    setStyleSheet(QString());

    actionChange_PIN = new QAction(this);
    actionChange_PIN->setObjectName(QStringLiteral("actionChange_PIN"));
    actionManage_Tokens = new QAction(this);
    actionManage_Tokens->setObjectName(QStringLiteral("actionManage_Tokens"));
    actionInstall_Token = new QAction(this);
    actionInstall_Token->setObjectName(QStringLiteral("actionInstall_Token"));
    actionExit = new QAction(this);
    actionExit->setObjectName(QStringLiteral("actionExit"));
    actionDownload_Token = new QAction(this);
    actionDownload_Token->setObjectName(QStringLiteral("actionDownload_Token"));
    actionDownload_Token->setEnabled(false);
    actionSync_Token = new QAction(this);
    actionSync_Token->setObjectName(QStringLiteral("actionSync_Token"));
    actionSync_Token->setEnabled(false);
    actionOTP = new QAction(this);
    actionOTP->setObjectName(QStringLiteral("actionOTP"));
    actionSign = new QAction(this);
    actionSign->setObjectName(QStringLiteral("actionSign"));
    actionSign->setEnabled(false);
    actionCNR = new QAction(this);
    actionCNR->setObjectName(QStringLiteral("actionCNR"));
    actionCNR->setEnabled(false);
    action_About = new QAction(this);
    action_About->setObjectName(QStringLiteral("action_About"));
    actionSettings = new QAction(this);
    actionSettings->setObjectName(QStringLiteral("actionSettings"));
    actionLock = new QAction(this);
    actionLock->setObjectName(QStringLiteral("actionLock"));
    actionImport_Tokens = new QAction(this);
    actionImport_Tokens->setObjectName(QStringLiteral("actionImport_Tokens"));
    actionExport_Tokens = new QAction(this);
    actionExport_Tokens->setObjectName(QStringLiteral("actionExport_Tokens"));
    actionShow_QR_Code = new QAction(this);
    actionShow_QR_Code->setObjectName(QStringLiteral("actionShow_QR_Code"));
    for (int place = 1; place <= 9; ++place) {
        auto* digit = new QAction(this);
        digit->setObjectName(QStringLiteral("actionSelectTokenAt%1").arg(place));
        addAction(digit); // live while the window is active, like a menu entry's
        connect(digit, &QAction::triggered, this, [this, place] { selectTokenAt(place); });
        digitShortcuts.append(digit);
    }

    centralwidget = new QWidget(this);
    centralwidget->setObjectName(QStringLiteral("centralwidget"));
    setCentralWidget(centralwidget);

    menubar = new QMenuBar(this);
    menubar->setObjectName(QStringLiteral("menubar"));
    menubar->setGeometry(QRect(0, 0, 389, 22));
    menuFile = new QMenu(menubar);
    menuFile->setObjectName(QStringLiteral("menuFile"));
    menuSelect_Token = new QMenu(menuFile);
    menuSelect_Token->setObjectName(QStringLiteral("menuSelect_Token"));
    auto* menuStyle = new CTokenMenuStyle(QApplication::style()->name());
    menuStyle->setParent(menuSelect_Token);
    menuSelect_Token->setStyle(menuStyle);
    menu_Help = new QMenu(menubar);
    menu_Help->setObjectName(QStringLiteral("menu_Help"));
    setMenuBar(menubar);

    menubar->addAction(menuFile->menuAction());
    menubar->addAction(menu_Help->menuAction());
    menuFile->addAction(actionChange_PIN);
    menuFile->addSeparator();
    menuFile->addAction(actionOTP);
    menuFile->addAction(actionSign);
    menuFile->addAction(actionCNR);
    menuFile->addSeparator();
    menuFile->addAction(menuSelect_Token->menuAction());
    menuFile->addAction(actionInstall_Token);
    menuFile->addAction(actionDownload_Token);
    menuFile->addAction(actionSync_Token);
    menuFile->addAction(actionImport_Tokens);
    menuFile->addAction(actionExport_Tokens);
    menuFile->addAction(actionShow_QR_Code);
    menuFile->addSeparator();
    menuFile->addAction(actionSettings);
    menuFile->addAction(actionLock);
    menuFile->addSeparator();
    menuFile->addAction(actionExit);
    menuSelect_Token->addAction(actionManage_Tokens);
    menuSelect_Token->addSeparator();
    menu_Help->addAction(action_About);

    retranslateUi();
    connect(actionExit, &QAction::triggered, this, &QMainWindow::close);
    QMetaObject::connectSlotsByName(this);
}

void CMainWindow::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("MainWindow", "Velmora"));
    actionChange_PIN->setText(QCoreApplication::translate("MainWindow", "Change &PIN..."));
    actionChange_PIN->setShortcut(QCoreApplication::translate("MainWindow", "Ctrl+P"));
    actionManage_Tokens->setText(QCoreApplication::translate("MainWindow", "&Manage Tokens"));
    actionManage_Tokens->setShortcut(QCoreApplication::translate("MainWindow", "Ctrl+M"));
    actionInstall_Token->setText(QCoreApplication::translate("MainWindow", "&Install Token"));
    actionInstall_Token->setShortcut(QCoreApplication::translate("MainWindow", "Ctrl+I"));
    actionExit->setText(QCoreApplication::translate("MainWindow", "E&xit"));
    actionExit->setShortcut(QCoreApplication::translate("MainWindow", "Ctrl+Q"));
    actionDownload_Token->setText(QCoreApplication::translate("MainWindow", "&Download Token"));
    actionDownload_Token->setShortcut(QCoreApplication::translate("MainWindow", "Ctrl+D"));
    actionSync_Token->setText(QCoreApplication::translate("MainWindow", "Sync &Token"));
    actionSync_Token->setShortcut(QCoreApplication::translate("MainWindow", "Ctrl+T"));
    actionOTP->setText(QCoreApplication::translate("MainWindow", "&OTP"));
    actionOTP->setShortcut(QCoreApplication::translate("MainWindow", "Ctrl+O"));
    actionSign->setText(QCoreApplication::translate("MainWindow", "&Sign"));
    actionSign->setShortcut(QCoreApplication::translate("MainWindow", "Ctrl+T"));
    actionCNR->setText(QCoreApplication::translate("MainWindow", "&C&&R"));
    actionCNR->setShortcut(QCoreApplication::translate("MainWindow", "Ctrl+R"));
    action_About->setText(QCoreApplication::translate("MainWindow", "&About"));
    actionSettings->setText(QCoreApplication::translate("MainWindow", "Settings\u2026"));
    actionLock->setText(QCoreApplication::translate("MainWindow", "Lock"));
    actionLock->setShortcut(QCoreApplication::translate("MainWindow", "Ctrl+L"));
    actionImport_Tokens->setText(QCoreApplication::translate("MainWindow", "Import Tokens\u2026"));
    actionImport_Tokens->setShortcut(QCoreApplication::translate("MainWindow", "Ctrl+Shift+I"));
    actionExport_Tokens->setText(QCoreApplication::translate("MainWindow", "Export Tokens\u2026"));
    actionExport_Tokens->setShortcut(QCoreApplication::translate("MainWindow", "Ctrl+Shift+E"));
    actionShow_QR_Code->setText(QCoreApplication::translate("MainWindow", "Show QR Code\u2026"));
    actionShow_QR_Code->setShortcut(QCoreApplication::translate("MainWindow", "Ctrl+Shift+K"));
    menuFile->setTitle(QCoreApplication::translate("MainWindow", "&File"));
    menuSelect_Token->setTitle(QCoreApplication::translate("MainWindow", "S&elect Token"));
    menu_Help->setTitle(QCoreApplication::translate("MainWindow", "&Help"));
}

void CMainWindow::centerWindow()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect desktop = screen->virtualGeometry();
    const QSize frame = frameSize();
    move((desktop.width() - frame.width()) / 2, (desktop.height() - frame.height()) / 2);
}

template <typename View> View* CMainWindow::switchTo()
{
    View* view = nullptr;
    if constexpr (std::is_constructible_v<View, LocalDatabase&, QWidget*, Qt::WindowFlags>) {
        view = new View(database, this, Qt::WindowFlags());
    } else {
        view = new View(this, Qt::WindowFlags());
    }
    if constexpr (std::is_base_of_v<QDialog, View>) {
        view->setWindowFlags(Qt::Widget);
    }
    // setCentralWidget() would delete the old view at once, but it may be the
    // one whose slot is switching views right now: take it out and let the
    // event loop delete it. It stays a child of the window meanwhile, so it
    // still reaches the window and never outlives it.
    if (QWidget* previous = takeCentralWidget()) {
        previous->setParent(this);
        previous->hide();
        previous->deleteLater();
    }
    setCentralWidget(view);
    // The layout would show it only once the event loop runs again, after the
    // keys already queued behind the shortcut that opened it: those must reach
    // the field the view gives the focus on show.
    view->show();
    return view;
}

void CMainWindow::SetShakeStepInterval(int milliseconds)
{
    g_shakeStepInterval = milliseconds;
}

void CMainWindow::closeWindow()
{
    close();
}

void CMainWindow::setLoggedIn()
{
    loggedIn = true;
    // The buses are asked only once there is something to lock.
    if (appSettings.LockWithSession) {
        sessionWatch->watch();
    }
}

void CMainWindow::enableActions(bool enable)
{
    for (QAction* entry : menuFile->actions()) {
        if (entry != actionExit) {
            entry->setEnabled(enable);
        }
    }
    for (QAction* entry : menuSelect_Token->actions()) {
        entry->setEnabled(enable);
    }
    for (QAction* digit : digitShortcuts) {
        digit->setEnabled(enable);
    }
    // Never offered, whatever the state.
    for (QAction* entry : {actionSign, actionCNR, actionDownload_Token, actionSync_Token}) {
        entry->setEnabled(false);
    }
}

void CMainWindow::shake()
{
    const QPoint origin = pos();
    QElapsedTimer timer;
    timer.start();
    int step = 32;
    for (;;) {
        // Input keeps being handled while the window shakes.
        QCoreApplication::processEvents();
        if (timer.elapsed() >= g_shakeStepInterval) {
            const QPoint offset = ShakeOffset(step);
            --step;
            move(origin + offset);
            timer.restart();
            if (step == 0) {
                break;
            }
        }
    }
    move(origin);
}

void CMainWindow::showLogin()
{
    // A PIN state that cannot be read counts as a set PIN: the prompt is never skipped.
    bool pinSet = true;
    GuardStorage(this, tr("read whether a PIN is set"),
                 [this, &pinSet] { pinSet = database.IsPinSet(); });
    if (pinSet) {
        switchTo<LoginView>();
    } else {
        switchTo<SetPinView>();
    }
}

void CMainWindow::showHome()
{
    if (loggedIn) {
        otp();
    } else {
        showLogin();
    }
}

void CMainWindow::installToken()
{
    switchTo<InstallView>();
}

void CMainWindow::otp()
{
    OtpView* view = switchTo<OtpView>();
    int tokenId = 0;
    GuardStorage(this, tr("read the selected token"),
                 [this, &tokenId] { tokenId = database.GetDefaultToken(); });
    view->setToken(tokenId);
}

void CMainWindow::about()
{
    switchTo<AboutView>();
}

void CMainWindow::changePin()
{
    switchTo<ChangePinView>();
}

void CMainWindow::onManageTokens()
{
    switchTo<ManageTokensView>();
}

void CMainWindow::showSettings()
{
    auto* view = switchTo<SettingsView>();
    connect(view, &SettingsView::saved, this, &CMainWindow::applySettings);
}

void CMainWindow::importTokens()
{
    auto* dialog = new ImportDialog(database, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void CMainWindow::exportTokens()
{
    if (!ConfirmPin(database, this, tr("An export holds the tokens' secrets. PIN:")) || !loggedIn) {
        return;
    }
    auto* dialog = new ExportDialog(database, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void CMainWindow::showQrCode()
{
    auto* view = qobject_cast<OtpView*>(centralWidget());
    if (view == nullptr) {
        otp();
        view = qobject_cast<OtpView*>(centralWidget());
    }
    if (view != nullptr) {
        view->showQrCode();
    }
}

void CMainWindow::applySettings(const CAppSettings& chosen)
{
    appSettings = chosen;
    idleWatch->setMinutes(appSettings.IdleLockMinutes);
    if (appSettings.LockWithSession && loggedIn) {
        sessionWatch->watch();
    }
}

void CMainWindow::lock()
{
    if (!loggedIn) {
        return;
    }
    loggedIn = false;
    CodeClipboard::WithdrawAll();
    CloseTransientWindows();
    enableActions(false);
    // The view shown goes when control is back in the event loop (it may
    // be below us on the stack), and the tokens it holds with it.
    showLogin();
    setWindowTitle(QCoreApplication::translate("MainWindow", "Velmora"));
    refreshTokenMenu();
    emit locked();
}

void CMainWindow::bringToFront()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void CMainWindow::startTray()
{
    if (tray == nullptr && QSystemTrayIcon::isSystemTrayAvailable()) {
        tray = new CTrayIcon(this, actionLock);
        connect(tray, &CTrayIcon::quitRequested, this, [this] {
            close();
            QCoreApplication::quit();
        });
    }
}

void CMainWindow::closeEvent(QCloseEvent* event)
{
    // Only the window manager's close (a spontaneous event) goes to the tray.
    if (event->spontaneous() && appSettings.CloseToTray && tray != nullptr && tray->isShown()) {
        event->ignore();
        hide();
        return;
    }
    QMainWindow::closeEvent(event);
}
