#include "views/ClockNotice.h"

#include "clockcheck/ClockCheck.h"
#include "storage/AppSettings.h"
#include "storage/LocalDatabase.h"
#include "views/FormBuilder.h"
#include "views/StorageGuard.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QRect>
#include <QTimer>

CClockNotice::CClockNotice(LocalDatabase& localDatabase, QWidget* parent)
    : QWidget(parent), database(localDatabase), hourly(new QTimer(this))
{
    setupUi();
    connect(hourly, &QTimer::timeout, this, &CClockNotice::Watch);
    hide();
}

void CClockNotice::setupUi()
{
    clockNoticeLabel = AddWidget<QLabel>(this, "clockNoticeLabel", QRect(0, 0, 369, 20));
    clockOffsetButton = AddWidget<QPushButton>(this, "clockOffsetButton", QRect(270, 22, 81, 24));
    clockOffsetButton->setToolTip(QCoreApplication::translate(
        "CClockNotice", "Compute codes with the time server's clock instead of this machine's"));
    QMetaObject::connectSlotsByName(this);
}

void CClockNotice::Watch()
{
    if (!watching) {
        watching = true;
        connect(&CClockCheck::Instance(), &CClockCheck::changed, this, &CClockNotice::refresh);
    }
    CAppSettings settings;
    if (!GuardStorage(this, tr("read the settings"),
                      [this, &settings] { settings = LoadSettings(database); })) {
        return;
    }
    CClockCheck::Instance().Refresh({settings.ClockCheck,
                                     QString::fromStdString(settings.TimeServer),
                                     settings.UseClockOffset});
    if (settings.ClockCheck && !hourly->isActive()) {
        hourly->start(CClockCheck::QueryIntervalMs);
    }
}

void CClockNotice::refresh()
{
    const CClockCheck& check = CClockCheck::Instance();
    const QString notice = check.Notice();
    clockNoticeLabel->setText(notice);
    clockOffsetButton->setVisible(check.OffsetMeasured());
    clockOffsetButton->setText(check.OffsetApplied()
                                   ? QCoreApplication::translate("CClockNotice", "Undo")
                                   : QCoreApplication::translate("CClockNotice", "Correct"));
    setVisible(!notice.isEmpty());
}

void CClockNotice::on_clockOffsetButton_clicked()
{
    const bool use = !CClockCheck::Instance().OffsetApplied();
    const bool stored = GuardStorage(this, tr("store the settings"), [this, use] {
        CAppSettings settings = LoadSettings(database);
        settings.UseClockOffset = use;
        SaveSettings(database, settings);
    });
    if (stored) {
        CClockCheck::Instance().SetUseOffset(use);
    }
}
