#pragma once

#include <QDialog>

class LocalDatabase;
class QLabel;
class QPushButton;
class QTimer;

// The Key URI of one HOTP or TOTP token as a QR code, for a phone's
// authenticator to scan, with a line saying that the picture is the secret.
// It closes itself after a minute.
class QrCodeDialog : public QDialog
{
    Q_OBJECT

public:
    // How long the code stays on the screen.
    static constexpr int ShownMs = 60000;

    QrCodeDialog(LocalDatabase& localDatabase, int tokenId, QWidget* parent);
    ~QrCodeDialog() override;

private:
    void setupUi();
    void showToken(int tokenId);

    LocalDatabase& database;
    QLabel* pictureLabel;
    QLabel* warningLabel;
    QPushButton* closeButton;
    QTimer* closeTimer;
};

// Asks for the PIN again, then shows the QR code of the token over `view`'s
// window; the code closes when `view` goes (the token changes or the window
// locks), when the window locks, and after a minute.
void ShowQrCode(LocalDatabase& database, int tokenId, QWidget* view);
