#pragma once

#include <QObject>

class QDBusPendingCallWatcher;

// Tells when the desktop session locks: logind's Lock signal for this
// session (system bus) and the screen saver's ActiveChanged(true) (session
// bus). Nothing is asked of the buses before watch() is called, and a bus
// that is not there is simply not watched.
class CSessionLock : public QObject
{
    Q_OBJECT

public:
    explicit CSessionLock(QObject* parent = nullptr);
    ~CSessionLock() override;

    // Starts listening, once; later calls do nothing.
    void watch();

signals:
    void sessionLocked();

private slots:
    // Slots named for QtDBus, which connects by signature only.
    void onScreenSaverActiveChanged(bool active);
    void onSessionLock();
    void onSessionFound(QDBusPendingCallWatcher* call);

private:
    bool watching = false;
};
