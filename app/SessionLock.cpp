#include "app/SessionLock.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QString>
#include <QtGlobal>

namespace {

const char* const Login1Service = "org.freedesktop.login1";

// Where a bus is expected, without letting the bus library start one of its
// own (its fallback when no address is known).
bool SessionBusExpected()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        return true;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

bool SystemBusExpected()
{
    return !qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS") ||
           QFileInfo::exists(QStringLiteral("/run/dbus/system_bus_socket"));
}

} // namespace

CSessionLock::CSessionLock(QObject* parent) : QObject(parent) {}

CSessionLock::~CSessionLock() = default;

void CSessionLock::watch()
{
    if (watching) {
        return;
    }
    watching = true;

    if (SessionBusExpected()) {
        QDBusConnection session = QDBusConnection::sessionBus();
        // From any sender and path: screen savers publish the interface under
        // paths of their own. QtDBus connects slots by their text only.
        for (const char* interface : {"org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver"}) {
            session.connect(QString(), QString(), QLatin1String(interface),
                            QStringLiteral("ActiveChanged"), this,
                            SLOT(onScreenSaverActiveChanged(bool)));
        }
    }

    if (SystemBusExpected()) {
        // "auto": logind's name for the caller's session, else the user's
        // graphical one. Asked without waiting: the window never blocks on it.
        QDBusMessage call = QDBusMessage::createMethodCall(
            QLatin1String(Login1Service), QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("GetSession"));
        call << QStringLiteral("auto");
        auto* watcher =
            new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, &CSessionLock::onSessionFound);
    }
}

void CSessionLock::onSessionFound(QDBusPendingCallWatcher* call)
{
    const QDBusPendingReply<QDBusObjectPath> reply = *call;
    call->deleteLater();
    if (reply.isError()) {
        return; // no session of ours that logind knows: nothing to follow
    }
    QDBusConnection::systemBus().connect(QLatin1String(Login1Service), reply.value().path(),
                                         QStringLiteral("org.freedesktop.login1.Session"),
                                         QStringLiteral("Lock"), this, SLOT(onSessionLock()));
}

void CSessionLock::onScreenSaverActiveChanged(bool active)
{
    if (active) {
        emit sessionLocked();
    }
}

void CSessionLock::onSessionLock()
{
    emit sessionLocked();
}
