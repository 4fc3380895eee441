#include "views/CodeClipboard.h"

#include <QByteArray>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLatin1String>
#include <QMimeData>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

// The code this program put on the clipboard last; null when it has been taken off.
QString g_copied;
// Takes it off when its time is up, also once the view that copied it is gone.
QPointer<QTimer> g_expiry;

bool ClipboardHoldsCopy()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    return data != nullptr && data->hasFormat(QLatin1String(CodeClipboard::SecretHintFormat)) &&
           data->text() == g_copied;
}

QTimer* ExpiryTimer()
{
    if (g_expiry.isNull()) {
        QCoreApplication* application = QCoreApplication::instance();
        g_expiry = new QTimer(application);
        g_expiry->setSingleShot(true);
        QObject::connect(g_expiry, &QTimer::timeout, g_expiry, &CodeClipboard::WithdrawAll);
        // Before the application goes, which would hand the code to a clipboard manager.
        QObject::connect(application, &QCoreApplication::aboutToQuit, g_expiry,
                         &CodeClipboard::WithdrawAll);
    }
    return g_expiry;
}

} // namespace

namespace CodeClipboard {

void Copy(const QString& code, int validForSeconds)
{
    auto* data = new QMimeData;
    data->setText(code);
    data->setData(QLatin1String(SecretHintFormat), QByteArrayLiteral("secret"));
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    g_copied = code;

    QTimer* expiry = ExpiryTimer();
    if (validForSeconds > 0) {
        expiry->start(static_cast<int>(std::min<std::int64_t>(std::int64_t{validForSeconds} * 1000,
                                                              std::numeric_limits<int>::max())));
    } else {
        expiry->stop();
    }
}

void Withdraw(const QString& code)
{
    if (code == g_copied) {
        WithdrawAll();
    }
}

void WithdrawAll()
{
    if (g_copied.isNull()) {
        return;
    }
    if (ClipboardHoldsCopy()) {
        QGuiApplication::clipboard()->clear(QClipboard::Clipboard);
    }
    g_copied = QString();
    if (g_expiry) {
        g_expiry->stop();
    }
}

} // namespace CodeClipboard
