#include "views/SettingsView.h"

#include "storage/LocalDatabase.h"
#include "views/FormBuilder.h"
#include "views/Local8Bit.h"
#include "views/StorageGuard.h"
#include "views/VaultBackup.h"
#include "views/ViewHost.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QShowEvent>
#include <QSpinBox>
#include <QString>

#include <openssl/crypto.h>

namespace {

// A host name or address as a resolver takes it: printable ASCII without
// blanks, at most the 253 characters of a full domain name.
bool IsServerName(const QString& name)
{
    if (name.isEmpty() || name.size() > 253) {
        return false;
    }
    for (const QChar c : name) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f) {
            return false;
        }
    }
    return true;
}

} // namespace

SettingsView::SettingsView(LocalDatabase& localDatabase, QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), database(localDatabase)
{
    setupUi();
    // Unreadable settings are reported; the form then offers the defaults.
    GuardStorage(this, tr("read the settings"), [this] { settings = LoadSettings(database); });
    showSettings();
}

SettingsView::~SettingsView() = default;

void SettingsView::setupUi()
{
    if (objectName().isEmpty()) {
        setObjectName(QStringLiteral("SettingsView"));
    }
    resize(390, 190);
    lockWithSessionBox = AddWidget<QCheckBox>(this, "lockWithSessionBox", QRect(20, 4, 350, 22));
    idleLabel = AddWidget<QLabel>(this, "idleLabel", QRect(20, 28, 230, 22));
    idleMinutesBox = AddWidget<QSpinBox>(this, "idleMinutesBox", QRect(250, 26, 101, 24));
    idleMinutesBox->setRange(0, MaxIdleMinutes);
    closeToTrayBox = AddWidget<QCheckBox>(this, "closeToTrayBox", QRect(20, 52, 350, 22));
    clockCheckBox = AddWidget<QCheckBox>(this, "clockCheckBox", QRect(20, 74, 350, 22));
    timeServerLabel = AddWidget<QLabel>(this, "timeServerLabel", QRect(40, 98, 90, 22));
    timeServerEdit = AddWidget<QLineEdit>(this, "timeServerEdit", QRect(130, 97, 221, 24));
    timeServerEdit->setMaxLength(253);
    useClockOffsetBox = AddWidget<QCheckBox>(this, "useClockOffsetBox", QRect(40, 122, 330, 22));
    keyringBox = AddWidget<QCheckBox>(this, "keyringBox", QRect(20, 144, 350, 22));
    okButton = AddWidget<QPushButton>(this, "okButton", QRect(100, 166, 95, 24));
    okButton->setAutoDefault(false);
    okButton->setDefault(true);
    cancelButton = AddWidget<QPushButton>(this, "cancelButton", QRect(210, 166, 95, 24));
    idleLabel->setBuddy(idleMinutesBox);
    timeServerLabel->setBuddy(timeServerEdit);

    SetTabChain({lockWithSessionBox, idleMinutesBox, closeToTrayBox, clockCheckBox, timeServerEdit,
                 useClockOffsetBox, keyringBox, okButton, cancelButton});

    retranslateUi();
    QMetaObject::connectSlotsByName(this);
}

void SettingsView::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("SettingsView", "Settings"));
    lockWithSessionBox->setText(
        QCoreApplication::translate("SettingsView", "&Lock when the session locks"));
    idleLabel->setText(QCoreApplication::translate("SettingsView", "Lock when &idle for:"));
    idleMinutesBox->setSuffix(QCoreApplication::translate("SettingsView", " min"));
    idleMinutesBox->setSpecialValueText(QCoreApplication::translate("SettingsView", "never"));
    closeToTrayBox->setText(
        QCoreApplication::translate("SettingsView", "Close to the &tray instead of quitting"));
    clockCheckBox->setText(
        QCoreApplication::translate("SettingsView", "&Check the clock against a time server"));
    timeServerLabel->setText(QCoreApplication::translate("SettingsView", "&Server:"));
    useClockOffsetBox->setText(
        QCoreApplication::translate("SettingsView", "Compute codes with the measured &offset"));
    keyringBox->setText(QCoreApplication::translate(
        "SettingsView", "Keep the secrets' key in the desktop &keyring"));
    okButton->setText(QCoreApplication::translate("SettingsView", "OK"));
    cancelButton->setText(QCoreApplication::translate("SettingsView", "Cancel"));
}

void SettingsView::showSettings()
{
    lockWithSessionBox->setChecked(settings.LockWithSession);
    idleMinutesBox->setValue(settings.IdleLockMinutes);
    closeToTrayBox->setChecked(settings.CloseToTray);
    clockCheckBox->setChecked(settings.ClockCheck);
    timeServerEdit->setText(QString::fromStdString(settings.TimeServer));
    useClockOffsetBox->setChecked(settings.UseClockOffset);
    on_clockCheckBox_toggled(settings.ClockCheck);
    bool keyring = false;
    GuardStorage(this, tr("read the protection"), [this, &keyring] {
        keyring = database.GetProtection() == LocalDatabase::Protection::Keyring;
    });
    keyringBox->setChecked(keyring);
}

bool SettingsView::applyProtection()
{
    bool keyring = false;
    if (!GuardStorage(this, tr("read the protection"), [this, &keyring] {
            keyring = database.GetProtection() == LocalDatabase::Protection::Keyring;
        })) {
        return false;
    }
    if (keyringBox->isChecked() == keyring) {
        return true;
    }
    bool ok = false;
    QString typed = QInputDialog::getText(this, tr("Protection"),
                                          tr("The PIN, to change where the secrets' key is kept:"),
                                          QLineEdit::Password, QString(), &ok);
    std::string pin = toLocal8BitString(typed);
    OPENSSL_cleanse(typed.data(), static_cast<std::size_t>(typed.size()) * sizeof(QChar));
    struct Wipe
    {
        std::string& text;
        ~Wipe() { OPENSSL_cleanse(text.data(), text.size()); }
    } wipe{pin};
    if (!ok || (!keyring && !OfferVaultBackup(database, this))) {
        return false;
    }
    LocalDatabase::ProtectionChange change = LocalDatabase::ProtectionChange::Unchanged;
    const LocalDatabase::Protection mode =
        keyring ? LocalDatabase::Protection::File : LocalDatabase::Protection::Keyring;
    if (!GuardStorage(this, tr("change the protection"),
                      [&] { change = database.SetProtection(mode, pin); })) {
        return false;
    }
    if (change == LocalDatabase::ProtectionChange::WrongPin) {
        if (CViewHost* host = ViewHostOf(this)) {
            host->shake();
        }
        return false;
    }
    return true;
}

void SettingsView::showEvent(QShowEvent* event)
{
    lockWithSessionBox->setFocus(Qt::OtherFocusReason);
    QDialog::showEvent(event);
}

void SettingsView::on_clockCheckBox_toggled(bool checked)
{
    timeServerEdit->setEnabled(checked);
    useClockOffsetBox->setEnabled(checked);
}

void SettingsView::on_okButton_clicked()
{
    CViewHost* host = ViewHostOf(this);
    if (host == nullptr) {
        return;
    }
    const QString server = timeServerEdit->text().trimmed();
    if (!IsServerName(server)) {
        host->shake();
        timeServerEdit->setFocus(Qt::OtherFocusReason);
        return;
    }
    CAppSettings chosen = settings;
    chosen.LockWithSession = lockWithSessionBox->isChecked();
    chosen.IdleLockMinutes = idleMinutesBox->value();
    chosen.CloseToTray = closeToTrayBox->isChecked();
    chosen.ClockCheck = clockCheckBox->isChecked();
    chosen.TimeServer = server.toStdString();
    chosen.UseClockOffset = useClockOffsetBox->isChecked();
    if (!applyProtection()) {
        return;
    }
    // On failure the form stays, so the user can try again or cancel.
    if (!GuardStorage(this, tr("store the settings"),
                      [this, &chosen] { SaveSettings(database, chosen); })) {
        return;
    }
    settings = chosen;
    emit saved(chosen);
    host->otp();
}

void SettingsView::on_cancelButton_clicked()
{
    if (CViewHost* host = ViewHostOf(this)) {
        host->otp();
    }
}

void SettingsView::reject()
{
    on_cancelButton_clicked();
}
