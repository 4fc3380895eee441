#pragma once

#include "storage/AppSettings.h"
#include "views/ViewHost.h"

#include <QList>
#include <QMainWindow>

class CIdleLock;
class LocalDatabase;
class CSessionLock;
class CTrayIcon;
class QAction;
class QCloseEvent;
class QMenu;
class QMenuBar;
class QWidget;

// The one top-level window: a fixed-size frame with the menus and exactly one
// central view at a time. It starts locked (PIN prompt, File menu disabled but
// Exit) and unlocks once the PIN is set or entered; Lock, the desktop
// session's lock and a spell without input lock it again. It is the host of
// the views it shows.
class CMainWindow : public QMainWindow, public CViewHost
{
    Q_OBJECT

public:
    // The window and its views work on `localDatabase`.
    explicit CMainWindow(LocalDatabase& localDatabase, QWidget* parent = nullptr,
                         Qt::WindowFlags flags = Qt::WindowFlags());
    ~CMainWindow() override;

    // A shake moves the window once this many milliseconds have passed since
    // the previous move (15 by default); tests shorten it.
    static void SetShakeStepInterval(int milliseconds);

    // CViewHost: called by the views through their parent pointer.
    void setLoggedIn() override;
    void enableActions(bool enable) override;
    // Shakes the window through the corners of a shrinking square and puts it back.
    void shake() override;
    void showHome() override;
    void selectToken(int tokenId) override;
    void refreshTokenMenu() override;
    void closeWindow() override;

    bool isLoggedIn() const { return loggedIn; }
    // LoginView when a PIN is set, else SetPinView.
    void showLogin();
    // The settings in force: read at construction, replaced when the
    // settings form stores new ones.
    const CAppSettings& settings() const { return appSettings; }
    CIdleLock* idleLock() const { return idleWatch; }
    CSessionLock* sessionLock() const { return sessionWatch; }

signals:
    // The window has locked: the keys in memory are to go.
    void locked();

public slots:
    void installToken() override;
    void otp() override;
    void about();
    void changePin();
    void SelToken(QAction* action);
    void onManageTokens();
    // Back to the PIN prompt at once: every other view goes (and with it the
    // tokens it holds), a code of ours leaves the clipboard, open menus and
    // message boxes close. Logging in again shows the selected token. Nothing
    // when already locked.
    void lock();
    void showSettings();
    // Import Tokens: the import dialog over the window.
    void importTokens();
    // Export Tokens: after the PIN, the export dialog.
    void exportTokens();
    // Show QR Code: the shown token's QR code, after the PIN.
    void showQrCode();
    // Shows, raises and activates the window, also from the tray or minimised.
    void bringToFront();
    void applySettings(const CAppSettings& chosen);

protected:
    // With "close to the tray" on and a tray there, the window manager's
    // close hides the window; Exit and Quit still end the run.
    void closeEvent(QCloseEvent* event) override;

private:
    void setupUi();
    void retranslateUi();
    void centerWindow();
    // Makes a fresh view of type View the central widget; the old one is
    // deleted once control is back in the event loop.
    template <typename View> View* switchTo();
    // The token entries are made when first needed (the menu shown, a digit
    // shortcut pressed), not at start, where a thousand tokens would cost.
    void ensureTokenEntries();
    void buildTokenEntries();
    void dropTokenEntries();
    // Ctrl+1..Ctrl+9 until the entries that carry them exist.
    void selectTokenAt(int place);
    void startTray();

    LocalDatabase& database;
    bool loggedIn;
    // The token entries of menuSelect_Token, in menu order, once built.
    QList<QAction*> tokenEntries;
    bool tokenEntriesBuilt = false;
    // Window-wide stand-ins for the entries' digit shortcuts.
    QList<QAction*> digitShortcuts;
    CAppSettings appSettings;
    CIdleLock* idleWatch;
    CSessionLock* sessionWatch;
    CTrayIcon* tray = nullptr;

    QAction* actionChange_PIN;
    QAction* actionManage_Tokens;
    QAction* actionInstall_Token;
    QAction* actionExit;
    QAction* actionDownload_Token;
    QAction* actionSync_Token;
    QAction* actionOTP;
    QAction* actionSign;
    QAction* actionCNR;
    QAction* action_About;
    QAction* actionSettings;
    QAction* actionLock;
    QAction* actionImport_Tokens;
    QAction* actionExport_Tokens;
    QAction* actionShow_QR_Code;
    QWidget* centralwidget;
    QMenuBar* menubar;
    QMenu* menuFile;
    QMenu* menuSelect_Token;
    QMenu* menu_Help;
};
