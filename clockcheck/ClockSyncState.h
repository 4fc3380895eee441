#pragma once

#include <QObject>

// Asks the system, over D-Bus and without network, whether it keeps the
// clock synchronised (timedate1's NTPSynchronized). Where the service or the
// system bus does not exist nothing is answered: no news is not a warning.
class CClockSyncState : public QObject
{
    Q_OBJECT

public:
    explicit CClockSyncState(QObject* parent = nullptr);

    // Sends the question; the answer comes back as `answered`, later.
    void Ask();

signals:
    void answered(bool synchronised);
};
