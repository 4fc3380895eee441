#pragma once

#include "views/ViewHost.h"

#include <QList>
#include <QMainWindow>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

// The one top-level window: a fixed-size frame with the menus and exactly one
// central view at a time. It starts locked (PIN prompt, File menu disabled but
// Exit) and unlocks for the rest of the run once the PIN is set or entered.
// It is the host of the views it shows.
class CMainWindow : public QMainWindow, public CViewHost
{
    Q_OBJECT

public:
    explicit CMainWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
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
    void refreshTokenMenu() override;
    void closeWindow() override;

    bool isLoggedIn() const { return loggedIn; }
    // LoginView when a PIN is set, else SetPinView.
    void showLogin();

public slots:
    void installToken() override;
    void otp() override;
    void about();
    void changePin();
    void SelToken(QAction* action);
    void onManageTokens();

private:
    void setupUi();
    void retranslateUi();
    void centerWindow();
    // Makes a fresh view of type View the central widget; the old one is
    // deleted once control is back in the event loop.
    template <typename View> View* switchTo();

    bool loggedIn;
    // The token entries of menuSelect_Token, in menu order.
    QList<QAction*> tokenEntries;

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
    QWidget* centralwidget;
    QMenuBar* menubar;
    QMenu* menuFile;
    QMenu* menuSelect_Token;
    QMenu* menu_Help;
};
