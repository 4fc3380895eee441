#include "clockcheck/ClockSyncState.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QString>
#include <QVariant>

CClockSyncState::CClockSyncState(QObject* parent) : QObject(parent) {}

void CClockSyncState::Ask()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return;
    }
    const QString service = QStringLiteral("org.freedesktop.timedate1");
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, QStringLiteral("/org/freedesktop/timedate1"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << service << QStringLiteral("NTPSynchronized");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *finished;
                // An error (no such service, no such property) says nothing
                // about the clock.
                if (reply.isError()) {
                    return;
                }
                const QVariant value = reply.value().variant();
                if (value.userType() == QMetaType::Bool) {
                    emit answered(value.toBool());
                }
            });
}
