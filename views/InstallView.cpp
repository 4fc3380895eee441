#include "views/InstallView.h"
#include "otp/OtpToken.h"
#include "storage/LocalDatabase.h"
#include "views/FormBuilder.h"
#include "views/Local8Bit.h"
#include "views/StorageGuard.h"
#include "views/ViewHost.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QRect>

#include <string>

InstallView::InstallView(LocalDatabase& localDatabase, QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), database(localDatabase)
{
    setupUi();
}

InstallView::~InstallView() = default;

void InstallView::setupUi()
{
    if (objectName().isEmpty()) {
        setObjectName(QString::fromUtf8("InstallView"));
    }
    resize(391, 190);

    nameEdit = AddWidget<QLineEdit>(this, "nameEdit", QRect(100, 20, 261, 31));

    labelName = AddWidget<QLabel>(this, "labelName", QRect(20, 20, 65, 21));

    labelSerial = AddWidget<QLabel>(this, "labelSerial", QRect(20, 62, 65, 21));

    labelSeed = AddWidget<QLabel>(this, "labelSeed", QRect(20, 101, 65, 21));

    serialEdit = AddWidget<QLineEdit>(this, "serialEdit", QRect(100, 60, 261, 31));

    seedEdit = AddWidget<QLineEdit>(this, "seedEdit", QRect(100, 100, 261, 31));

    okButton = AddWidget<QPushButton>(this, "okButton", QRect(100, 146, 95, 31));
    okButton->setAutoDefault(false);
    okButton->setDefault(true);

    cancelButton = AddWidget<QPushButton>(this, "cancelButton", QRect(210, 146, 95, 31));
    cancelButton->setAutoDefault(false);

    // One line between the fields and the buttons, in a smaller type so that
    // it fits there; empty until an entry is refused.
    refusalLabel = AddWidget<QLabel>(this, "refusalLabel", QRect(20, 131, 361, 15));
    QFont small = refusalLabel->font();
    small.setPixelSize(11);
    refusalLabel->setFont(small);
    refusalLabel->setTextFormat(Qt::PlainText);

    QWidget::setTabOrder(nameEdit, serialEdit);
    QWidget::setTabOrder(serialEdit, seedEdit);
    QWidget::setTabOrder(seedEdit, okButton);
    QWidget::setTabOrder(okButton, cancelButton);

    retranslateUi();
    QMetaObject::connectSlotsByName(this);
    // A reason stays only until the user changes what it was about.
    for (QLineEdit* edit : {nameEdit, serialEdit, seedEdit}) {
        connect(edit, &QLineEdit::textEdited, this, [this] { showRefusal(QString()); });
    }
}

void InstallView::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("InstallView", "Dialog"));
    labelName->setText(QCoreApplication::translate("InstallView", "Name:"));
    labelSerial->setText(QCoreApplication::translate("InstallView", "Serial:"));
    labelSeed->setText(QCoreApplication::translate("InstallView", "Seed:"));
    okButton->setText(QCoreApplication::translate("InstallView", "OK"));
    cancelButton->setText(QCoreApplication::translate("InstallView", "Cancel"));
}

void InstallView::showEvent(QShowEvent* event)
{
    nameEdit->setFocus(Qt::OtherFocusReason);
    QDialog::showEvent(event);
}

void InstallView::reject()
{
    on_cancelButton_clicked();
}

void InstallView::on_okButton_clicked()
{
    CViewHost* host = ViewHostOf(this);

    // Every rejection shakes the window, says why and keeps what was typed.
    const auto rejectEntry = [this, host](const QString& reason) {
        showRefusal(reason);
        if (host != nullptr) {
            host->shake();
        }
    };

    const QLineEdit* edits[] = {nameEdit, serialEdit, seedEdit};
    const QString empty[] = {tr("the name is empty"), tr("the serial is empty"),
                             tr("the seed is empty")};
    for (int field = 0; field < 3; ++field) {
        if (edits[field]->text().isEmpty()) {
            rejectEntry(empty[field]);
            return;
        }
    }

    // Serials and seeds are often pasted with a blank or line break around them.
    const std::string name = toLocal8BitString(nameEdit->text());
    const std::string serial = toLocal8BitString(serialEdit->text().trimmed());
    const std::string seed = toLocal8BitString(seedEdit->text().trimmed());

    const COtpTokenPtr token = COtpToken::Create(name.c_str(), serial.c_str(), seed.c_str());
    if (!token) {
        // The reasons velmora-seed check gives, from the same engine.
        rejectEntry(fromLocal8BitString(
            COtpToken::CreateRefusal(name.c_str(), serial.c_str(), seed.c_str())));
        return;
    }

    // Not stored: the error box has been shown; the form stays as typed.
    if (!GuardStorage(this, tr("install the token"),
                      [this, &token] { database.SaveToken(token); })) {
        return;
    }
    if (host != nullptr) {
        host->refreshTokenMenu();
        host->otp();
    }
}

void InstallView::showRefusal(const QString& reason)
{
    // A long reason is cut to the line; the whole of it is the tooltip.
    const QString shown = reason.isEmpty() ? QString() : tr("Refused: %1.").arg(reason);
    refusalLabel->setText(
        refusalLabel->fontMetrics().elidedText(shown, Qt::ElideRight, refusalLabel->width()));
    refusalLabel->setToolTip(shown);
    refusalLabel->setAccessibleName(shown);
}

void InstallView::on_cancelButton_clicked()
{
    if (CViewHost* host = ViewHostOf(this)) {
        host->otp();
    }
}
