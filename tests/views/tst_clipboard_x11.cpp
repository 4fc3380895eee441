// Copy and the clipboard on a real X server, which this test starts itself
// (Xvfb), read back by another program (xclip) as a clipboard manager reads it.
// Without Xvfb or xclip the test is skipped and says why.
#include "FakeHost.h"
#include "otp/Clock.h"
#include "storage/LocalDatabase.h"
#include "support/TokenFixtures.h"
#include "views/OtpView.h"

#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// An Xvfb of this test's own, on a display number it picks itself.
class XServer
{
public:
    XServer() = default;
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    ~XServer()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }

    // Starts the server and points DISPLAY at it; returns why not on failure.
    QString start()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty()) {
            return QStringLiteral("Xvfb or xclip is not installed (scripts/install-deps.sh)");
        }
        int ready[2];
        if (::pipe(ready) != 0) {
            return QStringLiteral("no pipe for Xvfb");
        }
        const QByteArray program = xvfb.toLocal8Bit();
        const QByteArray readyFd = QByteArray::number(ready[1]);
        pid = ::fork();
        if (pid == 0) {
            ::close(ready[0]);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            // -displayfd: the server takes a free display and writes its number once ready.
            ::execl(program.constData(), "Xvfb", "-displayfd", readyFd.constData(), "-screen", "0",
                    "1024x768x24", "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ready[1]);
        QByteArray display;
        pollfd wait{ready[0], POLLIN, 0};
        char buffer[16];
        while (!display.contains('\n') && ::poll(&wait, 1, 10000) > 0) {
            const ssize_t got = ::read(ready[0], buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            display.append(buffer, got);
        }
        ::close(ready[0]);
        if (pid < 0 || !display.contains('\n')) {
            return QStringLiteral("Xvfb did not start");
        }
        qputenv("DISPLAY", ":" + display.trimmed());
        return QString();
    }

private:
    pid_t pid = -1;
};

QString g_noServer;

// What another program reads from the clipboard (of `target`); empty when nothing is there.
QString ReadClipboard(const QString& target = QStringLiteral("UTF8_STRING"))
{
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"),
                {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                 QStringLiteral("-t"), target});
    // Events keep flowing: this process may be the one that answers.
    if (!QTest::qWaitFor([&xclip] { return xclip.state() == QProcess::NotRunning; }, 10000)) {
        return QStringLiteral("(xclip did not finish)");
    }
    return QString::fromUtf8(xclip.readAllStandardOutput());
}

} // namespace

class ClipboardX11Test : public QObject
{
    Q_OBJECT

private slots:
    void copiedCodeIsSecretAndLeavesWithIt()
    {
        if (!g_noServer.isEmpty()) {
            QSKIP(qPrintable(QStringLiteral("no X server could be started: ") + g_noServer));
        }
        OtpClock::SetSource([] { return std::int64_t{1111111111}; });
        const int id = Install("Demo", DemoSeed); // HOTP: 56777, 68597, 44532, ...
        FakeHost host;
        auto* view = host.open<OtpView>();
        view->setToken(id);
        const auto press = [view] {
            QMetaObject::invokeMethod(view, "wakeUpOTPButton");
            QTest::mouseClick(view->findChild<QPushButton*>(QStringLiteral("otpButton")),
                              Qt::LeftButton);
            QTest::mouseClick(view->findChild<QPushButton*>(QStringLiteral("copyButton")),
                              Qt::LeftButton);
        };
        const auto blank = [view] {
            for (int second = 0; second < 60; ++second) { // Timer 60 s
                QMetaObject::invokeMethod(view, "autoOffScreen");
            }
        };

        press();
        QCOMPARE(ReadClipboard(), QStringLiteral("56777"));
        QCOMPARE(ReadClipboard(QStringLiteral("x-kde-passwordManagerHint")),
                 QStringLiteral("secret"));
        blank();
        QCOMPARE(ReadClipboard(), QString());

        // Another program copies after us: what it copied stays.
        press();
        QProcess other;
        other.start(QStringLiteral("xclip"),
                    {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                     QStringLiteral("clipboard"), QStringLiteral("-i")});
        other.write("mine");
        other.closeWriteChannel();
        QTRY_COMPARE(ReadClipboard(), QStringLiteral("mine"));
        blank();
        QCOMPARE(ReadClipboard(), QStringLiteral("mine"));
        other.kill();
        other.waitForFinished();

        // The run ends while a code is on the clipboard.
        press();
        QCOMPARE(ReadClipboard(), QStringLiteral("44532"));
        QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
        QApplication::exec();
        QCOMPARE(ReadClipboard(), QString());
        OtpClock::SetSource({});
    }
};

int main(int argc, char* argv[])
{
    XServer server;
    g_noServer = server.start();
    if (g_noServer.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        // A bare server has no session bus; looking for one only leaks inside libdbus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    }
    QApplication application(argc, argv);
    ClipboardX11Test test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_clipboard_x11.moc"
