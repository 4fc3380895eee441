#include "views/SetPinView.h"

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

SetPinView::SetPinView(LocalDatabase& localDatabase, QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), database(localDatabase)
{
    setupUi();
}

SetPinView::~SetPinView() = default;

void SetPinView::setupUi()
{
    if (objectName().isEmpty()) {
        setObjectName(QStringLiteral("SetPinView"));
    }
    resize(391, 190);
    okButton = AddWidget<QPushButton>(this, "okButton", QRect(100, 140, 95, 31));
    okButton->setAutoDefault(false);
    okButton->setDefault(true);
    cancelButton = AddWidget<QPushButton>(this, "cancelButton", QRect(210, 140, 95, 31));
    label = AddWidget<QLabel>(this, "label", QRect(20, 20, 301, 21));
    label_2 = AddWidget<QLabel>(this, "label_2", QRect(20, 64, 65, 21));
    label_3 = AddWidget<QLabel>(this, "label_3", QRect(20, 104, 65, 21));
    pinEdit2 = AddWidget<QLineEdit>(this, "pinEdit2", QRect(100, 100, 251, 31));
    pinEdit2->setEchoMode(QLineEdit::Password);
    pinEdit = AddWidget<QLineEdit>(this, "pinEdit", QRect(100, 60, 251, 31));
    pinEdit->setEchoMode(QLineEdit::Password);

    QWidget::setTabOrder(pinEdit, pinEdit2);
    QWidget::setTabOrder(pinEdit2, okButton);
    QWidget::setTabOrder(okButton, cancelButton);

    retranslateUi();
    QMetaObject::connectSlotsByName(this);
}

void SetPinView::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("SetPinView", "Dialog"));
    okButton->setText(QCoreApplication::translate("SetPinView", "OK"));
    cancelButton->setText(QCoreApplication::translate("SetPinView", "Cancel"));
    label->setText(
        QCoreApplication::translate("SetPinView", "Please set your PIN to protect Velmora:"));
    label_2->setText(QCoreApplication::translate("SetPinView", "PIN:"));
    label_3->setText(QCoreApplication::translate("SetPinView", "Confirm:"));
}

void SetPinView::showEvent(QShowEvent* event)
{
    pinEdit->setFocus(Qt::OtherFocusReason);
    QDialog::showEvent(event);
}

void SetPinView::on_okButton_clicked()
{
    CViewHost* host = ViewHostOf(this);
    if (host == nullptr) {
        return;
    }
    const QString pin = pinEdit->text();
    const QString confirmation = pinEdit2->text();
    if (!IsAcceptableNewPin(pin, confirmation)) {
        host->shake();
        return;
    }

    if (!StorePin(database, this, pin)) {
        return;
    }
    host->setLoggedIn();
    host->enableActions(true);
    host->otp();
}

void SetPinView::on_cancelButton_clicked()
{
    if (CViewHost* host = ViewHostOf(this)) {
        host->closeWindow();
    }
}

void SetPinView::reject() {}
