#include "views/ScreenGrab.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QRandomGenerator>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>
#include <QWidget>

namespace {

// Time the window manager or compositor takes to take hidden windows off the screen.
constexpr int HideSettleMs = 300;
// The portal may ask the user first; a session that never answers must not hang us.
constexpr int PortalTimeoutMs = 60000;

const char* const PortalService = "org.freedesktop.portal.Desktop";
const char* const PortalPath = "/org/freedesktop/portal/desktop";

void Pause(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// Hides the application's visible windows for its lifetime, then shows them again.
class CWindowsHidden
{
public:
    CWindowsHidden()
    {
        active = QApplication::activeWindow();
        for (QWidget* window : QApplication::topLevelWidgets()) {
            // The tray icon stays: it hides no QR code, and hiding would undock it.
            if (window->isVisible() && window->windowType() != Qt::Desktop &&
                !window->inherits("QSystemTrayIconSys")) {
                hidden.append(window);
                places.append(window->pos());
            }
        }
        // Children first: a dialog goes before the window it belongs to.
        for (auto it = hidden.rbegin(); it != hidden.rend(); ++it) {
            (*it)->hide();
        }
        Pause(HideSettleMs);
    }
    ~CWindowsHidden()
    {
        // Where they were: the window manager would place them anew.
        for (int i = 0; i < hidden.size(); ++i) {
            if (QWidget* window = hidden[i]) {
                window->move(places[i]);
                window->show();
            }
        }
        if (active) {
            active->raise();
            active->activateWindow();
        }
    }
    CWindowsHidden(const CWindowsHidden&) = delete;
    CWindowsHidden& operator=(const CWindowsHidden&) = delete;

private:
    QList<QPointer<QWidget>> hidden;
    QList<QPoint> places;
    QPointer<QWidget> active;
};

// Receives the portal's answer to one screenshot request.
class CPortalAnswer : public QObject
{
    Q_OBJECT

public:
    uint response = 2; // 2: the request ended otherwise (portal's own code)
    QString uri;
    QEventLoop loop;

public slots:
    void Response(uint code, const QVariantMap& results)
    {
        response = code;
        uri = results.value(QStringLiteral("uri")).toString();
        loop.quit();
    }
};

CScreenGrab GrabThroughPortal()
{
    CScreenGrab grab;
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString noPortal = QCoreApplication::translate(
        "ScreenGrab", "This desktop session offers no screenshots to applications (the desktop "
                      "portal's Screenshot interface). Take a screenshot yourself and use Open "
                      "file…, or copy the picture and use Paste.");
    // The portal is often started on demand: activatable counts as offered.
    QDBusConnectionInterface* daemon = bus.isConnected() ? bus.interface() : nullptr;
    if (daemon == nullptr ||
        (!daemon->isServiceRegistered(QLatin1String(PortalService)).value() &&
         !daemon->activatableServiceNames().value().contains(QLatin1String(PortalService)))) {
        grab.Failure = noPortal;
        return grab;
    }
    // The request's object path is known before the call, so its answer cannot be missed.
    const QString token = QStringLiteral("velmora%1").arg(QRandomGenerator::global()->generate());
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString request =
        QStringLiteral("%1/request/%2/%3").arg(QLatin1String(PortalPath), sender, token);
    CPortalAnswer answer;
    bus.connect(QLatin1String(PortalService), request,
                QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                &answer, SLOT(Response(uint, QVariantMap)));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(PortalService), QLatin1String(PortalPath),
        QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("Screenshot"));
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("interactive"), false);
    call << QString() << options;
    const QDBusReply<QDBusObjectPath> reply = bus.call(call);
    if (!reply.isValid()) {
        grab.Failure = noPortal + QLatin1Char(' ') + reply.error().message();
        return grab;
    }
    QTimer::singleShot(PortalTimeoutMs, &answer.loop, &QEventLoop::quit);
    answer.loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (answer.response != 0 || answer.uri.isEmpty()) {
        grab.Failure = QCoreApplication::translate("ScreenGrab",
                                                   "The desktop did not hand over a screenshot.");
        return grab;
    }
    const QString file = QUrl(answer.uri).toLocalFile();
    QImage picture(file);
    // The portal saved it for us alone; it may show a secret.
    QFile::remove(file);
    if (picture.isNull()) {
        grab.Failure =
            QCoreApplication::translate("ScreenGrab", "The desktop's screenshot cannot be read.");
        return grab;
    }
    grab.Pictures.append(picture);
    return grab;
}

} // namespace

CScreenGrab GrabScreens()
{
    const CWindowsHidden hidden;
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return GrabThroughPortal();
    }
    CScreenGrab grab;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QImage picture = screen->grabWindow(0).toImage();
        if (!picture.isNull()) {
            grab.Pictures.append(picture);
        }
    }
    if (grab.Pictures.isEmpty()) {
        grab.Failure = QCoreApplication::translate("ScreenGrab", "The screen cannot be grabbed.");
    }
    return grab;
}

#include "ScreenGrab.moc"
