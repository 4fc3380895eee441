#include "views/LoginView.h"

#include "views/FormBuilder.h"
#include "views/PinStorage.h"
#include "views/ViewHost.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRect>
#include <QShowEvent>
#include <QString>

LoginView::LoginView(LocalDatabase& localDatabase, QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), database(localDatabase)
{
    setupUi();
}

LoginView::~LoginView() = default;

void LoginView::setupUi()
{
    if (objectName().isEmpty()) {
        setObjectName(QStringLiteral("LoginView"));
    }
    resize(390, 188);
    cancelButton = AddWidget<QPushButton>(this, "cancelButton", QRect(210, 136, 95, 31));
    label_2 = AddWidget<QLabel>(this, "label_2", QRect(20, 60, 65, 21));
    pinEdit = AddWidget<QLineEdit>(this, "pinEdit", QRect(100, 56, 251, 31));
    pinEdit->setEchoMode(QLineEdit::Password);
    label = AddWidget<QLabel>(this, "label", QRect(20, 16, 301, 21));
    okButton = AddWidget<QPushButton>(this, "okButton", QRect(100, 136, 95, 31));
    okButton->setAutoDefault(false);
    okButton->setDefault(true);

    QWidget::setTabOrder(pinEdit, okButton);
    QWidget::setTabOrder(okButton, cancelButton);

    retranslateUi();
    QMetaObject::connectSlotsByName(this);
}

void LoginView::retranslateUi()
{
    setWindowTitle(QCoreApplication::translate("LoginView", "Dialog"));
    cancelButton->setText(QCoreApplication::translate("LoginView", "Cancel"));
    label_2->setText(QCoreApplication::translate("LoginView", "PIN:"));
    label->setText(QCoreApplication::translate("LoginView", "Please enter your PIN:"));
    okButton->setText(QCoreApplication::translate("LoginView", "OK"));
}

void LoginView::showEvent(QShowEvent* event)
{
    pinEdit->setFocus(Qt::OtherFocusReason);
    QDialog::showEvent(event);
}

void LoginView::on_okButton_clicked()
{
    CViewHost* host = ViewHostOf(this);
    if (host == nullptr) {
        return;
    }
    const QString pin = pinEdit->text();
    if (pin.isEmpty()) {
        host->shake();
        return;
    }

    // A PIN that cannot be checked does not unlock; the error box says why.
    const PinCheck check = CheckStoredPin(database, this, pin);
    if (check == PinCheck::Failed) {
        return;
    }
    if (check == PinCheck::Differs) {
        // Input goes on during the shake, so another view may have replaced
        // and deleted this one by the time it ends.
        const QPointer<LoginView> self(this);
        host->shake();
        if (self) {
            pinEdit->selectAll();
        }
        return;
    }
    host->setLoggedIn();
    host->enableActions(true);
    host->otp();
}

void LoginView::on_cancelButton_clicked()
{
    if (CViewHost* host = ViewHostOf(this)) {
        host->closeWindow();
    }
}

void LoginView::reject() {}
