#include "clockcheck/ClockCheck.h"

#include "clockcheck/ClockSyncState.h"
#include "clockcheck/SntpQuery.h"
#include "otp/Clock.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {

// Whether what `since` times is due again: an interval old, give or take the
// minute by which the hourly timer of a view may come early.
bool Due(const QElapsedTimer& since)
{
    return !since.isValid() || since.hasExpired(CClockCheck::QueryIntervalMs - 60 * 1000);
}

} // namespace

CClockCheck& CClockCheck::Instance()
{
    static CClockCheck* instance = new CClockCheck(QCoreApplication::instance());
    return *instance;
}

CClockCheck::CClockCheck(QObject* parent)
    : QObject(parent), syncState(new CClockSyncState(this)), query(new CSntpQuery(this))
{
    connect(syncState, &CClockSyncState::answered, this, [this](bool answer) {
        synchronised = answer;
        emit changed();
    });
    connect(query, &CSntpQuery::measured, this, &CClockCheck::onMeasured);
    connect(query, &CSntpQuery::failed, this, [this](const QString& reason) {
        std::fprintf(stderr, "Velmora: clock check with %s: %s\n", qPrintable(queriedServer),
                     qPrintable(reason));
    });
}

void CClockCheck::Refresh(const Options& options)
{
    current = options;
    if (Due(sinceSyncAsked)) {
        sinceSyncAsked.start();
        syncState->Ask();
    }
    if (!options.askServer || options.server != queriedServer) {
        // What another server said, or one the user no longer wants asked,
        // no longer counts.
        offsetSeconds.reset();
        sinceQueried.invalidate();
        queriedServer.clear();
    }
    if (options.askServer && Due(sinceQueried)) {
        sinceQueried.start();
        queriedServer = options.server;
        query->Start(options.server, QueryTimeoutMs);
    }
    applyOffset();
    emit changed();
}

void CClockCheck::onMeasured(qint64 offsetMs)
{
    if (!current.askServer) {
        return; // switched off while the query was under way
    }
    // Rounded to whole seconds, the engine's unit of time.
    offsetSeconds = (offsetMs >= 0 ? offsetMs + 500 : offsetMs - 500) / 1000;
    applyOffset();
    emit changed();
}

bool CClockCheck::OffsetMeasured() const
{
    return offsetSeconds && std::llabs(*offsetSeconds) > ToleranceSeconds;
}

bool CClockCheck::OffsetApplied() const
{
    return applied;
}

void CClockCheck::SetUseOffset(bool use)
{
    current.useOffset = use;
    applyOffset();
    emit changed();
}

void CClockCheck::applyOffset()
{
    applied = current.useOffset && OffsetMeasured();
    OtpClock::SetOffset(applied ? *offsetSeconds : 0);
}

QString CClockCheck::Notice() const
{
    if (OffsetMeasured()) {
        const qint64 seconds = std::llabs(*offsetSeconds);
        // The server ahead of us means our clock is behind.
        const QString way = *offsetSeconds > 0 ? tr("behind") : tr("ahead");
        return applied
                   ? tr("Your clock is %1 s %2: codes use the server's time.").arg(seconds).arg(way)
                   : tr("Your clock is %1 s %2: codes may be refused.").arg(seconds).arg(way);
    }
    // A server's recent answer within the tolerance outweighs the system's word.
    if (synchronised == false && !offsetSeconds) {
        return tr("Your clock is not synchronised: codes may be refused.");
    }
    return QString();
}
