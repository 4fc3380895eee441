#pragma once

class QWidget;

// What a view asks of the window that shows it. The views are created as
// children of their host and reach it through their parent widget; the main
// window is the host of the program, tests may bring their own.
class CViewHost
{
public:
    virtual ~CViewHost() = default;

    // Marks the PIN as given for the rest of the run.
    virtual void setLoggedIn() = 0;
    // Enables the menu actions (never the ones that are not offered).
    virtual void enableActions(bool enable) = 0;
    // Switches to a new OTP view of the selected token.
    virtual void otp() = 0;
    // Switches to the install form.
    virtual void installToken() = 0;
    // The OTP view after login, else the PIN prompt.
    virtual void showHome() = 0;
    // The sign of a rejected entry.
    virtual void shake() = 0;
    // Rebuilds the token entries of the Select Token menu from storage.
    virtual void refreshTokenMenu() = 0;
    // Closes the window, which ends the run.
    virtual void closeWindow() = 0;

protected:
    CViewHost() = default;
    CViewHost(const CViewHost&) = default;
    CViewHost& operator=(const CViewHost&) = default;
};

// The host of a view: its parent widget, when that is one (null otherwise).
CViewHost* ViewHostOf(const QWidget* view);
