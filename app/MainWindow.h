#pragma once

#include <QMainWindow>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

// The one top-level window: a fixed-size frame with the menus and exactly one
// central view at a time. It starts locked (PIN prompt, File menu disabled but
// Exit) and unlocks for the rest of the run once the PIN is set or entered.
class CMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit CMainWindow(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~CMainWindow() override;

    // Called by the views through their parent pointer.
    void setLoggedIn();
    bool isLoggedIn() const { return loggedIn; }
    void enableActions(bool enable);
    // The sign of a rejected entry: shakes the window and puts it back.
    void shake();
    // LoginView when a PIN is set, else SetPinView.
    void showLogin();
    // The OTP view after login, else the PIN prompt.
    void showHome();
    // Rebuilds the token entries of the Select Token menu from storage.
    void refreshTokenMenu();

public slots:
    void installToken();
    void otp();
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
