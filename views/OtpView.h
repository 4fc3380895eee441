#pragma once

#include "otp/OtpToken.h"

#include <QDialog>
#include <QString>

#include <memory>
#include <string>

class LocalDatabase;
class QAction;
class QLabel;
class CClockNotice;
class QLCDNumber;
class QProgressBar;
class QPushButton;
class QTimer;

// The home screen: the selected token's code on a seven-segment display, an
// optional second code, a progress bar, and the OTP and Copy buttons.
class OtpView : public QDialog
{
    Q_OBJECT

public:
    OtpView(LocalDatabase& localDatabase, QWidget* parent, Qt::WindowFlags flags);
    ~OtpView() override;

    // Loads and shows the token with that ID (0: no token). Called once per view.
    void setToken(int tokenId);
    // After the PIN, the shown token's QR code; it closes with this view.
    void showQrCode();

public slots:
    // Escape leaves the view in place.
    void reject() override;

private slots:
    void show_totp();
    void on_otpButton_clicked();
    void on_copyButton_clicked();
    void wakeUpOTPButton();
    void autoOffScreen();

private:
    void setupUi();
    void retranslateUi();
    void showOtp(const OtpPair& codes);
    void arrangeDisplays(bool twoDisplays);
    // No token: blank display, both buttons disabled, no timers.
    void showNoToken();
    // Takes a shown code off the displays (and the clipboard) and ends its countdown.
    void blankCode();
    // A token that cannot compute codes: nothing shown, no OTP button, and a
    // message that says why.
    void refuseUnusable(const std::string& reason);
    // A token that answers challenges only: no OTP or Copy, a note in their place.
    void showNoCodeNotice();
    // Seconds the shown code stays valid; 0 when that is not known.
    int secondsLeftForCode() const;

    // The database the view reads and writes.
    LocalDatabase& database;
    QString code;
    COtpTokenPtr token;
    int countdown;
    std::shared_ptr<QTimer> displayTimer;
    std::shared_ptr<QTimer> wakeTimer;

    QLCDNumber* lcdNumber;
    QPushButton* otpButton;
    QPushButton* copyButton;
    QProgressBar* progressBar;
    QLCDNumber* lcdNumber2;
    QLabel* noCodeLabel;
    // Under a time-based code: a clock that may make it fail.
    CClockNotice* clockNotice;
    QAction* showQrAction;
};
