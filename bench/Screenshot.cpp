#include "Screenshot.h"

#include "views/QrPicture.h"

#include <QColor>
#include <QPainter>
#include <QRect>

const char* const ScreenshotUri = "otpauth://totp/Example:alice%40example.com?secret="
                                  "JBSWY3DPEHPK3PXP&issuer=Example&algorithm=SHA1&digits=6&"
                                  "period=30";

QImage MakeScreenshot()
{
    QImage screen(1920, 1080, QImage::Format_RGB32);
    QPainter painter(&screen);
    painter.fillRect(screen.rect(), QColor(0x2E, 0x34, 0x40));
    // Windows with title bars and rows of "text", which a scan must look past.
    const QRect windows[] = {{60, 40, 900, 700}, {700, 300, 1100, 740}, {1500, 60, 380, 500}};
    for (const QRect& window : windows) {
        painter.fillRect(window, QColor(0xF5, 0xF5, 0xF5));
        painter.fillRect(window.x(), window.y(), window.width(), 28, QColor(0x4A, 0x6F, 0xA5));
        for (int y = window.y() + 50; y < window.bottom() - 20; y += 22) {
            for (int x = window.x() + 20; x < window.right() - 60; x += 70) {
                painter.fillRect(x, y, 40 + (x * 7 + y) % 25, 9, QColor(0x30, 0x30, 0x30));
            }
        }
    }
    // The web page's sign-up QR code on a clear patch of its own.
    const QImage code = QrPicture(ScreenshotUri, 0);
    const QImage shown = code.scaled(code.width() * 4, code.height() * 4);
    painter.fillRect(QRect(1100, 420, shown.width() + 40, shown.height() + 40), Qt::white);
    painter.drawImage(1120, 440, shown);
    painter.end();
    return screen;
}
