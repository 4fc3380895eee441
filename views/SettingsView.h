#pragma once

#include "storage/AppSettings.h"

#include <QDialog>

class LocalDatabase;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The user's preferences: locking with the session and when idle, closing to
// the tray, the clock check with its time server, and where the secrets'
// key is kept (asking the PIN, and offering a backup before the keyring). OK stores them and
// returns to the OTP view; Cancel and Escape return without storing.
class SettingsView : public QDialog
{
    Q_OBJECT

public:
    SettingsView(LocalDatabase& localDatabase, QWidget* parent, Qt::WindowFlags flags);
    ~SettingsView() override;

    // The longest idle time that can be set: a day.
    static constexpr int MaxIdleMinutes = 24 * 60;

public slots:
    void reject() override;

signals:
    // The settings as just stored, for the window to apply at once.
    void saved(const CAppSettings& settings);

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void on_okButton_clicked();
    void on_cancelButton_clicked();
    void on_clockCheckBox_toggled(bool checked);

private:
    void setupUi();
    void retranslateUi();
    void showSettings();
    // Switches the protection when the keyring box was changed; false when
    // the form should stay (cancelled, wrong PIN, failure).
    bool applyProtection();

    // The database the view reads and writes.
    LocalDatabase& database;
    CAppSettings settings;

    QCheckBox* lockWithSessionBox;
    QLabel* idleLabel;
    QSpinBox* idleMinutesBox;
    QCheckBox* closeToTrayBox;
    QCheckBox* clockCheckBox;
    QLabel* timeServerLabel;
    QLineEdit* timeServerEdit;
    QCheckBox* useClockOffsetBox;
    // Checked while the secrets are kept under a key in the desktop keyring.
    QCheckBox* keyringBox;
    QPushButton* okButton;
    QPushButton* cancelButton;
};
