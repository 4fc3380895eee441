// Ends the process as soon as the first frame of the main window is painted:
// the start-up figures time exec to first paint, and the exit and its clean-up
// are no part of that. Linked into both start-up programs, so that the
// application and its reference stop at the same point.
#include <QCoreApplication>
#include <QEvent>
#include <QMainWindow>
#include <QMetaObject>
#include <QObject>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace {

class FirstPaintExit : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!seen && event->type() == QEvent::Paint) {
            const auto* widget = qobject_cast<QWidget*>(watched);
            // An error box would be a first paint too, but not the one measured.
            if (widget != nullptr && qobject_cast<QMainWindow*>(widget->window()) != nullptr) {
                seen = true;
                // Queued: the rest of the frame (the children, the flush to the
                // screen) is done before control is back in the event loop.
                QMetaObject::invokeMethod(
                    this,
                    [] {
                        std::fflush(nullptr);
                        std::_Exit(0);
                    },
                    Qt::QueuedConnection);
            }
        }
        return false;
    }

private:
    bool seen = false;
};

// Runs when the QApplication is constructed, before any window exists.
void InstallFirstPaintExit()
{
    QCoreApplication* application = QCoreApplication::instance();
    application->installEventFilter(new FirstPaintExit(application));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallFirstPaintExit)
