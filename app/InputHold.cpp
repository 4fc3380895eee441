#include "app/InputHold.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

CInputHold::CInputHold(QWidget* held) : QObject(held), window(held)
{
    qApp->installEventFilter(this);
}

CInputHold::~CInputHold()
{
    qApp->removeEventFilter(this);
}

bool CInputHold::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel: {
        const auto* widget = qobject_cast<const QWidget*>(watched);
        return widget != nullptr && widget->window() == window;
    }
    default:
        return false;
    }
}
