// What the idling OTP view is measured against: a bare one-second timer that
// updates a seven-segment display and a progress bar of the OTP view's size
// and place, in a window of the application's size.
#include "IdleProbe.h"
#include "ReferenceWindow.h"

#include <QApplication>
#include <QLCDNumber>
#include <QProgressBar>
#include <QTimer>

#include <ctime>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    ReferenceWindow window;
    auto* display = new QLCDNumber(6, window.centralWidget());
    display->setGeometry(50, 50, 191, 41);
    display->setSegmentStyle(QLCDNumber::Filled);
    auto* progress = new QProgressBar(window.centralWidget());
    progress->setGeometry(50, 106, 191, 16);
    progress->setMaximum(30);
    progress->setFormat(QStringLiteral("%v"));

    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [display, progress] {
        const long now = static_cast<long>(std::time(nullptr));
        display->display(QStringLiteral("%1").arg(now % 1000000, 6, 10, QLatin1Char('0')));
        progress->setValue(static_cast<int>(now % 30));
    });
    timer.start(1000);
    window.show();
    StartIdleProbe();
    return QApplication::exec();
}
