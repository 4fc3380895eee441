#include "views/SettingsView.h"

#include "storage/LocalDatabase.h"
#include "views/FormBuilder.h"
#include "views/StorageGuard.h"
#include "views/ViewHost.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QShowEvent>
#include <QSpinBox>
#include <QString>

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

SettingsView::SettingsView(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags)
{
    setupUi();
    // Unreadable settings are reported; the form then offers the defaults.
    GuardStorage(this, tr("read the settings"),
                 [this] { settings = LoadSettings(g_localDatabase); });
    showSettings();
}

SettingsView::~SettingsView() = default;

void SettingsView::setupUi()
{
    if (objectName().isEmpty()) {
        setObjectName(QStringLiteral("SettingsView"));
    }
    resize(390, 188);
    lockWithSessionBox = AddWidget<QCheckBox>(this, "lockWithSessionBox", QRect(20, 6, 350, 22));
    idleLabel = AddWidget<QLabel>(this, "idleLabel", QRect(20, 32, 230, 22));
    idleMinutesBox = AddWidget<QSpinBox>(this, "idleMinutesBox", QRect(250, 30, 101, 26));
    idleMinutesBox->setRange(0, MaxIdleMinutes);
    closeToTrayBox = AddWidget<QCheckBox>(this, "closeToTrayBox", QRect(20, 58, 350, 22));
    clockCheckBox = AddWidget<QCheckBox>(this, "clockCheckBox", QRect(20, 82, 350, 22));
    timeServerLabel = AddWidget<QLabel>(this, "timeServerLabel", QRect(40, 108, 90, 22));
    timeServerEdit = AddWidget<QLineEdit>(this, "timeServerEdit", QRect(130, 106, 221, 26));
    timeServerEdit->setMaxLength(253);
    useClockOffsetBox = AddWidget<QCheckBox>(this, "useClockOffsetBox", QRect(40, 134, 330, 22));
    okButton = AddWidget<QPushButton>(this, "okButton", QRect(100, 160, 95, 28));
    okButton->setAutoDefault(false);
    okButton->setDefault(true);
    cancelButton = AddWidget<QPushButton>(this, "cancelButton", QRect(210, 160, 95, 28));
    idleLabel->setBuddy(idleMinutesBox);
    timeServerLabel->setBuddy(timeServerEdit);

    QWidget::setTabOrder(lockWithSessionBox, idleMinutesBox);
    QWidget::setTabOrder(idleMinutesBox, closeToTrayBox);
    QWidget::setTabOrder(closeToTrayBox, clockCheckBox);
    QWidget::setTabOrder(clockCheckBox, timeServerEdit);
    QWidget::setTabOrder(timeServerEdit, useClockOffsetBox);
    QWidget::setTabOrder(useClockOffsetBox, okButton);
    QWidget::setTabOrder(okButton, cancelButton);

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
    // On failure the form stays, so the user can try again or cancel.
    if (!GuardStorage(this, tr("store the settings"),
                      [&chosen] { SaveSettings(g_localDatabase, chosen); })) {
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
