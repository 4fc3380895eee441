#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <optional>

class CClockSyncState;
class CSntpQuery;

// What Velmora knows about this machine's clock, for the notice of a
// time-based token: whether the system keeps it synchronised, and, when the
// user allows a time server to be asked, how far it is off. One per process,
// so that a query's answer outlives the view that asked; the views ask it
// again (Refresh) and it decides what is due.
class CClockCheck : public QObject
{
    Q_OBJECT

public:
    // Beyond this (seconds, either way) codes may be refused: the notice shows.
    static constexpr qint64 ToleranceSeconds = 10;
    // A server is asked again after this long (a time-based token still shown).
    static constexpr int QueryIntervalMs = 60 * 60 * 1000;
    static constexpr int QueryTimeoutMs = 5000;

    struct Options
    {
        bool askServer = false; // the ClockCheck setting
        QString server;         // TimeServer
        bool useOffset = false; // UseClockOffset
    };

    // The process's instance, a child of the application object.
    static CClockCheck& Instance();

    // Starts, in the background, what is due with these options: the system's
    // synchronisation state, and a server query when enabled and the last one
    // is an interval old or asked another server.
    void Refresh(const Options& options);

    // The one-line notice; empty when there is nothing to say.
    QString Notice() const;
    // True when an offset beyond the tolerance was measured, so that codes
    // can be computed with it.
    bool OffsetMeasured() const;
    // True while codes are computed with the measured offset.
    bool OffsetApplied() const;
    // Computes codes with the measured offset (while one beyond the
    // tolerance is known), or with the system clock again.
    void SetUseOffset(bool use);

signals:
    // The notice or the applied offset may have changed.
    void changed();

private:
    explicit CClockCheck(QObject* parent);
    void applyOffset();
    void onMeasured(qint64 offsetMs);

    CClockSyncState* syncState;
    CSntpQuery* query;
    Options current;
    std::optional<bool> synchronised;
    QElapsedTimer sinceSyncAsked;
    // Seconds the server's clock is ahead of ours (negative: behind).
    std::optional<qint64> offsetSeconds;
    QElapsedTimer sinceQueried;
    QString queriedServer;
    bool applied = false;
};
