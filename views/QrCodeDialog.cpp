#include "views/QrCodeDialog.h"

#include "interop/Interchange.h"
#include "storage/LocalDatabase.h"
#include "views/FormBuilder.h"
#include "views/PinAgain.h"
#include "views/QrPicture.h"
#include "views/StorageGuard.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QRect>
#include <QTimer>

#include <openssl/crypto.h>

#include <exception>
#include <string>

namespace {

// Wide enough for a phone camera at arm's length, small enough for a laptop screen.
constexpr int PictureSide = 360;

} // namespace

QrCodeDialog::QrCodeDialog(LocalDatabase& localDatabase, int tokenId, QWidget* parent)
    : QDialog(parent), database(localDatabase), closeTimer(new QTimer(this))
{
    setupUi();
    showToken(tokenId);
    closeTimer->setSingleShot(true);
    connect(closeTimer, &QTimer::timeout, this, &QDialog::reject);
    closeTimer->start(ShownMs);
}

QrCodeDialog::~QrCodeDialog() = default;

void QrCodeDialog::setupUi()
{
    setObjectName(QStringLiteral("QrCodeDialog"));
    setWindowTitle(QCoreApplication::translate("QrCodeDialog", "QR Code"));
    pictureLabel = AddWidget<QLabel>(this, "pictureLabel", QRect(12, 12, 400, 400));
    pictureLabel->setAlignment(Qt::AlignCenter);
    warningLabel = AddWidget<QLabel>(this, "warningLabel", QRect(12, 418, 400, 54));
    warningLabel->setWordWrap(true);
    closeButton = AddWidget<QPushButton>(this, "closeButton", QRect(312, 478, 100, 30));
    closeButton->setText(QCoreApplication::translate("QrCodeDialog", "Close"));
    closeButton->setDefault(true);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    setFixedSize(424, 520);
    closeButton->setFocus();
}

void QrCodeDialog::showToken(int tokenId)
{
    COtpTokenPtr token;
    if (!GuardStorage(this, tr("read the token"),
                      [this, &token, tokenId] { token = database.GetToken(tokenId); }) ||
        !token) {
        warningLabel->setText(tr("The token cannot be read."));
        return;
    }
    std::string reason;
    std::string uri = KeyUriOf(*token, &reason);
    if (uri.empty()) {
        warningLabel->setText(
            tr("This token cannot be shown as a QR code: %1.").arg(QString::fromStdString(reason)));
        return;
    }
    QImage picture;
    try {
        picture = QrPicture(uri, PictureSide);
    } catch (const std::exception& error) {
        OPENSSL_cleanse(uri.data(), uri.size());
        warningLabel->setText(
            tr("The QR code cannot be drawn: %1.").arg(QString::fromStdString(error.what())));
        return;
    }
    OPENSSL_cleanse(uri.data(), uri.size());
    if (picture.isNull()) {
        warningLabel->setText(tr("The token's Key URI is too long for a QR code."));
        return;
    }
    pictureLabel->setPixmap(QPixmap::fromImage(picture));
    warningLabel->setText(tr("This picture is the token's secret: whoever sees or photographs it "
                             "can make its codes. It closes in a minute."));
}

void ShowQrCode(LocalDatabase& database, int tokenId, QWidget* view)
{
    const QPointer<QWidget> owner(view);
    if (!ConfirmPin(database, view->window(),
                    QCoreApplication::translate("QrCodeDialog",
                                                "The QR code shows the token's secret. PIN:")) ||
        !owner) {
        return;
    }
    auto* dialog = new QrCodeDialog(database, tokenId, owner->window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(owner, &QObject::destroyed, dialog, &QDialog::reject);
    dialog->open();
}
