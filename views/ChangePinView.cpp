#include "views/ChangePinView.h"

#include "views/FormBuilder.h"
#include "views/PinRule.h"
#include "views/PinStorage.h"
#include "views/ViewHost.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>
#include <QShowEvent>
#include <QString>

ChangePinView::ChangePinView(LocalDatabase& localDatabase, QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), database(localDatabase)
{
    setupUi();
}

ChangePinView::~ChangePinView() = default;

void ChangePinView::setupUi()
{
    if (objectName().isEmpty()) {
        setObjectName(QStringLiteral("ChangePinView"));
    }
    resize(390, 188);
    cancelButton = AddWidget<QPushButton>(this, "cancelButton", QRect(210, 136, 95, 31));
    label_2 = AddWidget<QLabel>(this, "label_2", QRect(20, 60, 65, 21));
    pinEdit2 = AddWidget<QLineEdit>(this, "pinEdit2", QRect(100, 96, 251, 31));
    pinEdit2->setEchoMode(QLineEdit::Password);
    pinEdit = AddWidget<QLineEdit>(this, "pinEdit", QRect(100, 56, 251, 31));
    pinEdit->setEchoMode(QLineEdit::Password);
    okButton = AddWidget<QPushButton>(this, "okButton", QRect(100, 136, 95, 31));
    okButton->setAutoDefault(false);
    okButton->setDefault(true);
    label_3 = AddWidget<QLabel>(this, "label_3", QRect(20, 100, 65, 21));
    label_4 = AddWidget<QLabel>(this, "label_4", QRect(20, 20, 71, 21));
    oldPinEdit = AddWidget<QLineEdit>(this, "oldPinEdit", QRect(100, 16, 251, 31));
    oldPinEdit->setEchoMode(QLineEdit::Password);

    QWidget::setTabOrder(oldPinEdit, pinEdit);
    QWidget::setTabOrder(pinEdit, pinEdit2);
    QWidget::setTabOrder(pinEdit2, okButton);
    QWidget::setTabOrder(okButton, cancelButton);

    retranslateUi();
    QMetaObject::connectSlotsByName(this);
}

void ChangePinView::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("ChangePinView", "Dialog"));
    cancelButton->setText(QCoreApplication::translate("ChangePinView", "Cancel"));
    label_2->setText(QCoreApplication::translate("ChangePinView", "PIN:"));
    okButton->setText(QCoreApplication::translate("ChangePinView", "OK"));
    label_3->setText(QCoreApplication::translate("ChangePinView", "Confirm:"));
    label_4->setText(QCoreApplication::translate("ChangePinView", "Old PIN:"));
}

void ChangePinView::showEvent(QShowEvent* event)
{
    oldPinEdit->setFocus(Qt::OtherFocusReason);
    QDialog::showEvent(event);
}

void ChangePinView::on_okButton_clicked()
{
    CViewHost* host = ViewHostOf(this);
    if (host == nullptr) {
        return;
    }
    const QString oldPin = oldPinEdit->text();
    const QString pin = pinEdit->text();
    const QString confirmation = pinEdit2->text();
    if (oldPin.isEmpty() || !IsAcceptableNewPin(pin, confirmation)) {
        host->shake();
        return;
    }

    const PinCheck check = CheckStoredPin(database, this, oldPin);
    if (check == PinCheck::Failed) {
        return;
    }
    if (check == PinCheck::Differs) {
        host->shake();
        return;
    }
    // On failure the form stays, so the user can try again or cancel.
    if (!StorePin(database, this, pin)) {
        return;
    }
    host->otp();
}

void ChangePinView::on_cancelButton_clicked()
{
    if (CViewHost* host = ViewHostOf(this)) {
        host->otp();
    }
}

void ChangePinView::reject()
{
    on_cancelButton_clicked();
}
