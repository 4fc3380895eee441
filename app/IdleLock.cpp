#include "app/IdleLock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>

#include <algorithm>

namespace {

std::int64_t SteadyClock()
{
    static QElapsedTimer clock;
    if (!clock.isValid()) {
        clock.start();
    }
    return clock.elapsed();
}

CIdleLock::Clock g_clock = &SteadyClock;

bool IsInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
        return true;
    default:
        return false;
    }
}

} // namespace

void CIdleLock::SetClock(Clock clock)
{
    g_clock = clock != nullptr ? clock : &SteadyClock;
}

CIdleLock::CIdleLock(QObject* parent) : QObject(parent)
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &CIdleLock::check);
}

CIdleLock::~CIdleLock() = default;

void CIdleLock::setMinutes(int minutes)
{
    const bool watching = limitMinutes > 0;
    limitMinutes = std::max(minutes, 0);
    if (limitMinutes == 0) {
        timer.stop();
        if (watching) {
            QCoreApplication::instance()->removeEventFilter(this);
        }
        return;
    }
    // The application's filter sees the input of every window, menus included.
    if (!watching) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    lastInput = g_clock();
    timer.start(static_cast<int>(limitMs()));
}

std::int64_t CIdleLock::limitMs() const
{
    return std::int64_t{limitMinutes} * 60 * 1000;
}

void CIdleLock::check()
{
    if (limitMinutes == 0) {
        return;
    }
    const std::int64_t now = g_clock();
    const std::int64_t quiet = now - lastInput;
    if (quiet >= limitMs()) {
        lastInput = now;
        timer.start(static_cast<int>(limitMs()));
        emit idle();
        return;
    }
    timer.start(static_cast<int>(limitMs() - quiet));
}

bool CIdleLock::eventFilter(QObject* watched, QEvent* event)
{
    if (IsInput(event->type())) {
        lastInput = g_clock();
    }
    return QObject::eventFilter(watched, event);
}
