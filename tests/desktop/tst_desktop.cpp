// The real program on a real X server, as a user meets it: Xvfb with openbox,
// key presses and clicks sent through the server (xdotool without --window, so
// the window manager's focus decides where they land), the clipboard read
// back with xclip and every code checked against oathtool's for the same key.
// The copied code is marked for clipboard managers to skip, and a copy that
// another program made since is left alone when the program exits.
// The program finds its home in the password database, so it runs under
// nss_wrapper with a scratch home. The test functions are the steps of one
// session, in order: two runs of the program, a third that locks and is
// started again, and two copies started at once. A session bus of the test's
// own carries the screen saver's signal.
//
// With VELMORA_SCREENSHOTS naming a directory, the run also saves pictures of
// the views there (scripts/screenshots.sh).
#include "support/RunProgram.h"
#include "support/ScratchHome.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRect>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>
#include <QtTest>

#include <ZXing/ReadBarcode.h>

#include <functional>

namespace {

// Generous: the sanitizer build starts and draws slowly.
constexpr int WaitMs = 20000;

struct Token
{
    const char* name;
    const char* serial;
    const char* seed;
    int digits;
    int timer; // 0 for an event-based token

    QString title() const { return QStringLiteral("Velmora [%1:%2]").arg(name, serial); }
    // The install key: the SHA-1 digest of the seed's ten-character key text.
    QString keyHex() const
    {
        const QByteArray text = QByteArray(seed).mid(7, 10);
        return QString::fromLatin1(
            QCryptographicHash::hash(text, QCryptographicHash::Sha1).toHex());
    }
};

// HOTP, 5 digits, Sleep 5, Timer 60 (flags 00000).
const Token Hotp{"Bank", "12345678", "1200000ABCDEFGHIJ6", 5, 0};
// TOTP, two-way, 5 digits, Timer 120 (flags 01033); check digit computed by hand.
const Token Totp{"Clock", "12345678", "120103301234567893", 5, 120};

// Centres of the OTP view's buttons, in the view; the view sits below the menu
// bar, about 20 pixels high (the buttons are 31 high, so a few pixels either
// way still hit them).
constexpr int MenuBarHeight = 20;
const QPoint OtpButton(320, 65);
const QPoint CopyButton(320, 105);

// A step the program was expected to reach; the message says what was not seen.
#define SEEN(reached) QVERIFY2(reached, qPrintable(failure))

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir scratch;
    QProcessEnvironment desktop; // what every X client here runs with
    QProcessEnvironment user;    // and the program: the scratch home's user
    QProcess xvfb;
    QProcess openbox;
    QProcess app;
    QProcess otherCopy; // another program that copied to the clipboard
    QProcess bus;       // the session bus
    QProcess weston;
    QString window;
    QString trayIcon;
    QString alsoShown; // another program's window that screenshots include
    QString failure;
    bool broken = false; // a step failed: the later ones cannot run

    QString tool(const QString& program, const QStringList& args,
                 const QProcessEnvironment* env = nullptr)
    {
        QProcess process;
        process.setProcessEnvironment(env != nullptr ? *env : desktop);
        process.start(program, args);
        process.waitForFinished(WaitMs);
        return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    }

    // Polls `condition` until it holds; gives up early when the program ended.
    bool await(const QString& what, const std::function<bool()>& condition)
    {
        const bool alive = app.state() != QProcess::NotRunning;
        if (QTest::qWaitFor([&] { return condition() || (alive && !running()); }, WaitMs) &&
            condition()) {
            return true;
        }
        failure = QStringLiteral("%1: not seen (program %2, title \"%3\")")
                      .arg(what, running() ? "running" : "ended", title());
        return false;
    }

    bool running() const { return app.state() == QProcess::Running; }
    QString title()
    {
        return window.isEmpty() ? QString() : tool("xdotool", {"getwindowname", window});
    }
    bool titleIs(const QString& expected)
    {
        return await(expected, [&] { return title() == expected; });
    }
    void type(const QString& text) { tool("xdotool", {"type", "--delay", "20", text}); }
    void key(const QString& keys) { tool("xdotool", QStringList{"key"} + keys.split(' ')); }
    // The program's visible windows, its tray icon left out.
    QStringList windows(qint64 pid = 0)
    {
        const QString of = QString::number(pid != 0 ? pid : app.processId());
        QStringList shown = tool("xdotool", {"search", "--onlyvisible", "--pid", of})
                                .split('\n', Qt::SkipEmptyParts);
        shown.removeAll(trayIcon);
        return shown;
    }
    bool isActive() { return tool("xdotool", {"getactivewindow"}) == window; }
    // Whether the active window is one of the program's with that title.
    bool activeIs(const QString& name)
    {
        return await(name, [&] {
            const QString active = tool("xdotool", {"getactivewindow"});
            return windows().contains(active) && tool("xdotool", {"getwindowname", active}) == name;
        });
    }

    // Absolute rectangle of a window, with the window manager's frame when `framed`.
    QRect rectOf(const QString& id, bool framed)
    {
        const QString info = tool("xwininfo", {"-id", id});
        auto field = [&info](const char* name) {
            const QRegularExpression re(QStringLiteral("%1:\\s*(-?\\d+)").arg(name));
            return re.match(info).captured(1).toInt();
        };
        QRect rect(field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
                   field("Height"));
        const QStringList frame = tool("xprop", {"-id", id, "_NET_FRAME_EXTENTS"})
                                      .section('=', 1)
                                      .split(',', Qt::SkipEmptyParts);
        if (framed && frame.size() == 4) {
            rect.adjust(-frame[0].toInt(), -frame[2].toInt(), frame[1].toInt(), frame[3].toInt());
        }
        return rect;
    }

    // The mean grey (0 black, 255 white) of a rectangle of the main window.
    int meanGray(const QRect& r)
    {
        const QString file = scratch.filePath("window.png");
        tool("import", {"-window", window, file});
        const QString crop = QString::asprintf("%dx%d+%d+%d", r.width(), r.height(), r.x(), r.y());
        return tool("convert", {file, "-crop", crop, "-colorspace", "gray", "-format",
                                "%[fx:int(255*mean)]", "info:"})
            .toInt();
    }

    void click(const QPoint& inView)
    {
        tool("xdotool", {"mousemove", "--window", window, QString::number(inView.x()),
                         QString::number(inView.y() + MenuBarHeight)});
        // A click of its own, without a window: a real button event, not a sent one.
        tool("xdotool", {"click", "1"});
    }

    // The clipboard, as another program reads it; empty when nobody owns it.
    QString clipboard(const QString& target = "UTF8_STRING")
    {
        return tool("xclip", {"-o", "-selection", "clipboard", "-t", target});
    }
    bool clipboardIsOneOf(const QStringList& codes)
    {
        return await("clipboard holding " + codes.join(" or "),
                     [&] { return codes.contains(clipboard()); });
    }

    // oathtool's code for the token at a counter (event-based) or a time. It
    // makes 6 to 8 digits only; a shorter code is the low digits of the
    // 8-digit one (both are the truncated value modulo a power of ten).
    QString oathtool(const Token& token, qint64 at)
    {
        const QString n = QString::number(at);
        const QStringList mode =
            token.timer == 0
                ? QStringList{"--hotp", "-c", n}
                : QStringList{"--totp", "-s", QString::number(token.timer), "-N", "@" + n};
        return tool("oathtool", mode + QStringList{"-d", "8", token.keyHex()}).right(token.digits);
    }

    // Starts the program; true once its window is up and has the keyboard
    // focus of the window manager.
    bool start()
    {
        app.setProcessEnvironment(user);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        window.clear();
        app.start(QStringLiteral(VELMORA_EXECUTABLE), QStringList());
        if (!app.waitForStarted(WaitMs) ||
            !await("the program's window", [&] { return !windows().isEmpty(); })) {
            return false;
        }
        window = windows().first();
        return await("the window activated", [&] { return isActive(); });
    }

    bool quit()
    {
        key("ctrl+q");
        return app.waitForFinished(WaitMs) && app.exitStatus() == QProcess::NormalExit &&
               app.exitCode() == 0;
    }

    void install(const Token& token)
    {
        key("ctrl+i");
        type(token.name);
        key("Tab");
        type(token.serial);
        key("Tab");
        type(token.seed);
        if (token.timer == 0 && !windows().isEmpty()) {
            screenshot("install-form");
        }
        key("Return");
    }

    // The program's visible windows (the main window with its frame, open
    // menus; the whole screen when there are none) into `directory`, when set.
    void screenshot(const QString& name,
                    const QString& directory = qEnvironmentVariable("VELMORA_SCREENSHOTS"))
    {
        if (directory.isEmpty()) {
            return;
        }
        QTest::qWait(500); // let the last input be drawn
        QRect area;
        for (const QString& id : windows() + QStringList(alsoShown)) {
            area |= rectOf(id, true);
        }
        const QString crop =
            QString::asprintf("%dx%d+%d+%d", area.width(), area.height(), area.x(), area.y());
        QDir().mkpath(directory);
        tool("import", {"-window", "root", "-crop", crop, "+repage",
                        QDir(directory).filePath(name + ".png")});
    }

    // An X server of our own on a random free display. Not -displayfd: a server
    // started that way takes no lock file, so another one started the usual way
    // can take its number from under it.
    bool startServer()
    {
        for (int attempt = 0; attempt < 10; ++attempt) {
            const QString number = QString::number(QRandomGenerator::global()->bounded(100, 1000));
            const QString lock = "/tmp/.X" + number + "-lock";
            desktop.insert("DISPLAY", ":" + number);
            xvfb.start("Xvfb", {":" + number, "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                                "-noreset"});
            if (!xvfb.waitForStarted()) {
                return false;
            }
            // Ready when it answers, and ours when its lock file names it.
            const auto ours = [&] {
                QFile file(lock);
                return file.open(QIODevice::ReadOnly) &&
                       !tool("xprop", {"-root", "-len", "0"}).isEmpty() &&
                       file.readAll().trimmed().toLongLong() == xvfb.processId();
            };
            if (QTest::qWaitFor([&] { return xvfb.state() != QProcess::Running || ours(); },
                                WaitMs) &&
                xvfb.state() == QProcess::Running) {
                return true;
            }
            stop(xvfb);
        }
        return false;
    }

    void stop(QProcess& process)
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished();
            }
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(scratch.isValid());
        QVERIFY(QDir(scratch.path()).mkpath("home/.config"));
        QVERIFY(QDir(scratch.path()).mkpath("runtime"));
        QFile::setPermissions(scratch.filePath("runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        desktop = QProcessEnvironment::systemEnvironment();
        desktop.remove("QT_QPA_PLATFORM");
        desktop.remove("WAYLAND_DISPLAY");
        if (QStandardPaths::findExecutable("Xvfb").isEmpty()) {
            QSKIP("No X server can be started here: Xvfb is not installed.");
        }
        if (!startServer()) {
            QSKIP(qPrintable("No X server can be started here: Xvfb failed: " +
                             QString::fromLocal8Bit(xvfb.readAllStandardError())));
        }
        desktop.insert("HOME", scratch.filePath("home"));
        desktop.insert("XDG_RUNTIME_DIR", scratch.filePath("runtime"));
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
        QVERIFY2(bus.waitForReadyRead(WaitMs), "no session bus (dbus-daemon)");
        desktop.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromLatin1(bus.readLine()).trimmed());

        // Started once it runs its main loop: a window mapped earlier, while it
        // sets itself up, may never be managed.
        const QString ready = scratch.filePath("wm-ready");
        openbox.setProcessEnvironment(desktop);
        openbox.start("openbox", {"--sm-disable", "--startup", "touch " + ready});
        QVERIFY2(openbox.waitForStarted(), "openbox cannot be started");
        QVERIFY2(QTest::qWaitFor([&] { return QFile::exists(ready); }, WaitMs),
                 qPrintable("openbox did not start: " +
                            QString::fromLocal8Bit(openbox.readAllStandardError())));

        // The current user with the scratch home, for the program's getpwuid();
        // the leaks of system libraries are not the program's.
        const QString home = scratch.filePath("home");
        user = desktop;
        testsupport::UseScratchHome(user, home);
        testsupport::AppendOption(user, "LSAN_OPTIONS", "suppressions=" VELMORA_LSAN_SUPPRESSIONS);
        // Never the real home: the program starts only where the preload works.
        const QString looked = tool("getent", {"passwd", QString::number(getuid())}, &user);
        QVERIFY2(
            looked.section(':', 5, 5) == home,
            qPrintable("nss_wrapper does not give the scratch home (libnss-wrapper?): " + looked));
    }

    void init()
    {
        if (broken) {
            QSKIP("an earlier step of the session failed");
        }
    }

    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            broken = true;
            const QString directory = QCoreApplication::applicationDirPath() + "/desktop-output";
            screenshot(QTest::currentTestFunction() + QStringLiteral("-failure"), directory);
            qWarning("screenshot in %s", qPrintable(directory));
        }
    }

    void cleanupTestCase()
    {
        stop(app);
        stop(otherCopy);
        stop(bus);
        stop(weston);
        stop(openbox);
        stop(xvfb);
    }

    // The first run: the PIN set by typing at once (the form must give its
    // field the keyboard, no click into it), then two tokens installed, each
    // code copied; only an unlocked window opens the install form.
    void firstRun()
    {
        SEEN(start());
        SEEN(titleIs("Velmora [No tokens installed]"));
        QVERIFY2(QFile::exists(scratch.filePath("home/.velmora/velmora.db")),
                 "the program did not open its database in the scratch home");
        type("1234");
        key("Tab");
        type("1234");
        key("Return");
        install(Hotp);
        SEEN(titleIs(Hotp.title()));
        click(OtpButton);
        click(CopyButton);
        SEEN(clipboardIsOneOf({oathtool(Hotp, 1)}));
        QCOMPARE(clipboard("x-kde-passwordManagerHint"), QStringLiteral("secret"));

        install(Totp);
        SEEN(titleIs(Totp.title()));
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        click(CopyButton);
        // The copy may fall into the step that follows.
        SEEN(clipboardIsOneOf({oathtool(Totp, now), oathtool(Totp, now + WaitMs / 1000)}));
        QVERIFY2(quit(), "Ctrl+Q did not end the program cleanly");
    }

    // The second run: logged in by typing at once, the first token chosen from
    // the menu by keyboard, and its counter goes on where the first run left it.
    void secondRun()
    {
        SEEN(start());
        SEEN(titleIs("Velmora"));
        screenshot("pin-prompt");
        type("1234");
        key("Return");
        // The token installed last is the selected one.
        SEEN(titleIs(Totp.title()));
        screenshot("totp-two-way");

        key("ctrl+m");
        screenshot("manage-tokens");
        key("alt+f");
        SEEN(await("the File menu", [&] { return windows().size() == 2; }));
        key("e");
        SEEN(await("the token menu", [&] { return windows().size() == 3; }));
        // Past Manage Tokens (the separator is skipped) to the first token.
        key("Down");
        screenshot("token-menu");
        key("Return");
        SEEN(titleIs(Hotp.title()));

        click(OtpButton);
        click(CopyButton);
        SEEN(clipboardIsOneOf({oathtool(Hotp, 2)}));
        screenshot("hotp-code");

        // Another program copies after us: what it copied outlives our exit.
        otherCopy.setProcessEnvironment(desktop);
        otherCopy.start("xclip", {"-quiet", "-selection", "clipboard", "-i"});
        otherCopy.write("mine");
        otherCopy.closeWriteChannel();
        SEEN(clipboardIsOneOf({"mine"}));
        QVERIFY2(quit(), "Ctrl+Q did not end the program cleanly");
        QCOMPARE(clipboard(), QStringLiteral("mine"));
    }

    // Ctrl+L takes a copied code off the clipboard and asks for the PIN, after
    // which the same token shows. A second start hands over to the minimised
    // window and ends; the screen saver starting locks the window.
    void lockAndOneWindow()
    {
        SEEN(start());
        type("1234");
        key("Return");
        SEEN(titleIs(Hotp.title()));
        click(OtpButton);
        click(CopyButton);
        SEEN(clipboardIsOneOf({oathtool(Hotp, 3)}));
        key("ctrl+l");
        SEEN(titleIs("Velmora"));
        SEEN(await("the clipboard emptied", [&] { return clipboard().isEmpty(); }));
        screenshot("locked");
        type("1234");
        key("Return");
        SEEN(titleIs(Hotp.title()));

        tool("xdotool", {"windowminimize", window});
        SEEN(await("the window minimised", [&] { return !isActive(); }));
        QProcess second;
        second.setProcessEnvironment(user);
        second.start(QStringLiteral(VELMORA_EXECUTABLE), QStringList());
        QVERIFY(second.waitForFinished(WaitMs));
        QCOMPARE(second.exitCode(), 0);
        SEEN(await("the window activated again", [&] { return isActive(); }));
        QCOMPARE(windows(), QStringList{window});
        QCOMPARE(QFile::permissions(scratch.filePath("runtime/velmora")),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser |
                     QFile::WriteUser | QFile::ExeUser);
        // The socket, too, is the user's alone.
        const QDir sockets(scratch.filePath("runtime/velmora"), {}, QDir::NoSort, QDir::System);
        QCOMPARE(sockets.count(), 1u);
        QVERIFY(
            !(sockets.entryInfoList()[0].permissions() & (QFile::WriteGroup | QFile::WriteOther)));

        // Sent until seen: the program listens from its login on.
        SEEN(await("locked by the screen saver", [&] {
            tool("dbus-send", {"--session", "--type=signal", "/org/freedesktop/ScreenSaver",
                               "org.freedesktop.ScreenSaver.ActiveChanged", "boolean:true"});
            return title() == "Velmora";
        }));
        QVERIFY2(quit(), "Ctrl+Q did not end the program cleanly");
    }

    // Where the desktop has a tray, with "close to the tray" set by keyboard,
    // the window manager's close hides the window, and a second start brings
    // it back.
    void closeToTray()
    {
        QProcess tray;
        tray.setProcessEnvironment(desktop);
        tray.start("wmdocker", {"-iconsize", "32"});
        QVERIFY2(tray.waitForStarted(), "no tray (wmdocker)");
        SEEN(start());
        // The window the program shows beside its main window.
        SEEN(await("the tray icon", [&] { return windows().size() == 2; }));
        trayIcon = windows().value(windows().indexOf(window) == 0 ? 1 : 0);
        type("1234");
        key("Return");
        SEEN(titleIs(Hotp.title()));
        key("alt+f");
        SEEN(await("the File menu", [&] { return windows().size() == 2; }));
        key("Up Up Up Return"); // Settings…, above Lock and Exit
        SEEN(await("the menu closed", [&] { return windows().size() == 1; }));
        key("Tab Tab space Return");
        key("alt+F4");
        SEEN(await("the window hidden", [&] { return windows().isEmpty(); }));
        QCOMPARE(app.state(), QProcess::Running);
        QCOMPARE(testsupport::RunProgram(VELMORA_EXECUTABLE, {}, user).status, 0);
        SEEN(await("the window back", [&] { return windows() == QStringList{window}; }));
        QVERIFY2(quit(), "Ctrl+Q did not end the program cleanly");
        stop(tray);
    }

    // Two copies started at once end with one window; killed outright, it
    // leaves nothing that keeps the next start from its window.
    void twoStartsAtOnce()
    {
        QProcess rival;
        rival.setProcessEnvironment(user);
        rival.start(QStringLiteral(VELMORA_EXECUTABLE), QStringList());
        app.setProcessEnvironment(user);
        app.start(QStringLiteral(VELMORA_EXECUTABLE), QStringList());
        QVERIFY(rival.waitForStarted(WaitMs) && app.waitForStarted(WaitMs));
        QProcess* ended = nullptr;
        SEEN(await("one copy handing over", [&] {
            ended = rival.state() == QProcess::NotRunning ? &rival
                    : app.state() == QProcess::NotRunning ? &app
                                                          : nullptr;
            return ended != nullptr;
        }));
        QCOMPARE(ended->exitCode(), 0);
        QProcess& kept = ended == &app ? rival : app;
        SEEN(await("the other's window", [&] { return windows(kept.processId()).size() == 1; }));
        QTest::qWait(500);
        QCOMPARE(kept.state(), QProcess::Running);
        QCOMPARE(windows(kept.processId()).size(), 1);
        kept.kill();
        kept.waitForFinished();

        SEEN(start());
        QVERIFY2(quit(), "Ctrl+Q did not end the program cleanly");
    }

    // The third run, on a dark desktop palette and by keyboard alone: Space
    // presses OTP and Ctrl+C copies at once, the code stays dark on the light
    // background, and in Manage Tokens Tab leaves the list and Delete asks
    // before it deletes the selected token.
    void keyboardOnDarkPalette()
    {
        user.insert("QT_QPA_PLATFORMTHEME", "gtk3");
        user.insert("GTK_THEME", "Adwaita:dark");
        SEEN(start());
        type("1234");
        key("Return");
        SEEN(titleIs(Hotp.title()));
        key("space");
        key("ctrl+c");
        SEEN(clipboardIsOneOf({oathtool(Hotp, 4)}));
        // The view keeps the light colours of its light background: the Copy
        // button and the bar stay light, and the code dark (seen in pictures).
        for (const QRect& area :
             {QRect(285, 95 + MenuBarHeight, 70, 20), QRect(55, 106 + MenuBarHeight, 180, 12)}) {
            QVERIFY2(meanGray(area) > 160, "the view follows the dark palette");
        }

        key("ctrl+m");
        key("Tab");
        key("Down"); // the first row, selected, whatever row was current
        key("Up");
        key("Delete");
        SEEN(await("the question before deleting", [&] { return windows().size() == 2; }));
        key("alt+y");
        SEEN(await("the question answered", [&] { return windows().size() == 1; }));
        key("Tab"); // "+"
        key("Tab"); // "-"
        key("Tab"); // Done
        key("space");
        // The shown token is gone: the view falls back to the other one.
        SEEN(titleIs(Totp.title()));
        QVERIFY2(quit(), "Ctrl+Q did not end the program cleanly");
    }

    // An account brought in from a QR code on the screen (a picture viewer
    // stands in for the web page), its codes oathtool's; every token exported
    // to an encrypted vault that velmora-cli imports into another home with
    // the same codes; the QR code Velmora shows decodes to the Key URI again.
    void importExportAndQrCode()
    {
        const QString secret = "JBSWY3DPEHPK3PXP";
        const QString uri = "otpauth://totp/Example:alice?secret=" + secret + "&issuer=Example";
        const QString picture = scratch.filePath("web-page.png");
        tool("qrencode", {"-s", "6", "-o", picture, uri});
        QProcess page;
        page.setProcessEnvironment(desktop);
        page.start("display", {"-geometry", "+0+0", "-title", "Example sign-up", picture});
        SEEN(await("the web page's QR code", [&] {
            alsoShown = tool("xdotool", {"search", "--onlyvisible", "--name", "Example sign-up"});
            return !alsoShown.isEmpty();
        }));
        const auto codes = [&](qint64 at) {
            QStringList near;
            for (const qint64 t : {at, at + 30}) {
                near << tool("oathtool", {"--totp", "-b", secret, "-N", "@" + QString::number(t)});
            }
            return near;
        };

        SEEN(start());
        type("1234");
        key("Return");
        SEEN(titleIs(Totp.title()));
        // Three steps: File > Import Tokens…, Scan screen, Import.
        key("ctrl+shift+i");
        SEEN(activeIs("Import Tokens"));
        key("space");
        // Velmora's windows leave the screen while it is grabbed.
        SEEN(await("the windows hidden for the scan", [&] { return windows().isEmpty(); }));
        SEEN(await("the dialog back after the scan", [&] { return windows().size() == 2; }));
        screenshot("import-scanned");
        key("Return");
        SEEN(titleIs("Velmora [Example:alice]"));
        stop(page);
        alsoShown.clear();
        key("ctrl+c");
        SEEN(clipboardIsOneOf(codes(QDateTime::currentSecsSinceEpoch())));

        // Export Tokens…: the PIN again, then the vault's password twice and the file.
        const QString vault = scratch.filePath("tokens-vault.json");
        key("ctrl+shift+e");
        SEEN(activeIs("PIN"));
        type("1234");
        key("Return");
        SEEN(activeIs("Export Tokens"));
        type("vault-pass");
        key("Tab");
        type("vault-pass");
        screenshot("export-dialog");
        key("Return");
        SEEN(activeIs("Export to File"));
        key("ctrl+a");
        type(vault);
        key("Return");
        SEEN(await("the vault written", [&] { return QFile::exists(vault); }));
        QCOMPARE(QFile::permissions(vault),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        SEEN(activeIs("Export Tokens"));
        key("Escape");
        SEEN(await("the export dialog closed", [&] { return windows().size() == 1; }));

        QProcessEnvironment other = desktop;
        QVERIFY(QDir().mkpath(scratch.filePath("phone-home")));
        testsupport::UseScratchHome(other, scratch.filePath("phone-home"));
        QFile pin(scratch.filePath("pin"));
        QFile password(scratch.filePath("password"));
        QVERIFY(pin.open(QIODevice::WriteOnly) && pin.write("2468\n") == 5);
        QVERIFY(password.open(QIODevice::WriteOnly) && password.write("vault-pass\n") == 11);
        pin.close();
        password.close();
        for (QFile* file : {&pin, &password}) {
            file->setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        }
        const QStringList secrets = {"--pin-file", pin.fileName()};
        const testsupport::ProgramOutcome imported = testsupport::RunProgram(
            VELMORA_CLI,
            QStringList{"import", vault, "--password-file", password.fileName()} + secrets, other);
        QVERIFY2(imported.out.contains("new\tExample: alice (TOTP)"), qPrintable(imported.out));
        const testsupport::ProgramOutcome shown =
            testsupport::RunProgram(VELMORA_CLI, QStringList{"code", "alice"} + secrets, other);
        // "123456 (12 s left)", the code of this step or, just after it ended, the last one.
        QVERIFY2(
            codes(QDateTime::currentSecsSinceEpoch() - 30).contains(shown.out.section(' ', 0, 0)),
            qPrintable(shown.out + shown.err));

        // Show QR Code…: the PIN again, then the picture, read back from the screen.
        key("ctrl+shift+k");
        SEEN(activeIs("PIN"));
        type("1234");
        key("Return");
        SEEN(activeIs("QR Code"));
        screenshot("qr-code");
        const QString screen = scratch.filePath("screen.png");
        tool("import", {"-window", "root", screen});
        QImage grabbed(screen);
        grabbed = grabbed.convertToFormat(QImage::Format_Grayscale8);
        const ZXing::ImageView view(grabbed.constBits(), grabbed.width(), grabbed.height(),
                                    ZXing::ImageFormat::Lum, int(grabbed.bytesPerLine()));
        const ZXing::Result read = ZXing::ReadBarcode(view);
        const QUrl decoded(QString::fromStdString(read.text()));
        QCOMPARE(decoded.scheme() + "://" + decoded.host() + decoded.path(),
                 QStringLiteral("otpauth://totp/Example:alice"));
        QCOMPARE(QUrlQuery(decoded).queryItemValue("secret"), secret);
        // The screen saver locks the window, and the secret leaves the screen with it.
        SEEN(await("the QR code closed by the lock", [&] {
            tool("dbus-send", {"--session", "--type=signal", "/org/freedesktop/ScreenSaver",
                               "org.freedesktop.ScreenSaver.ActiveChanged", "boolean:true"});
            return title() == "Velmora" && windows().size() == 1;
        }));
        QVERIFY2(quit(), "Ctrl+Q did not end the program cleanly");
    }

    // A native Wayland client of Weston, with no X server to fall back on;
    // its protocol log (WAYLAND_DEBUG) shows its window. The headless backend
    // has no seat (no keyboard, no clipboard): the PIN is set and a code
    // copied under the X11 backend, whose seat takes the keys sent to it.
    void nativeWayland()
    {
        if (QStandardPaths::findExecutable("weston").isEmpty() ||
            QStandardPaths::findExecutable("wl-paste").isEmpty()) {
            QSKIP("No Wayland session here: weston or wl-paste is not installed.");
        }
        QProcessEnvironment wayland = user;
        wayland.remove("DISPLAY");
        wayland.remove("QT_QPA_PLATFORMTHEME");
        QVERIFY(QDir().mkpath(scratch.filePath("wayland-home")));
        testsupport::UseScratchHome(wayland, scratch.filePath("wayland-home"));
        wayland.insert("QT_QPA_PLATFORM", "wayland");
        wayland.insert("WAYLAND_DEBUG", "client");
        // Qt's Wayland plugin and libxkbcommon keep allocations until exit,
        // partly in a plugin already unloaded then, out of reach of a
        // suppression; the X11 runs check the program's own code for leaks.
        testsupport::AppendOption(wayland, "ASAN_OPTIONS", "detect_leaks=0");
        app.setProcessChannelMode(QProcess::SeparateChannels);
        QString log;
        const auto logged = [&](const QString& text) {
            return await(text, [&] {
                log += QString::fromLocal8Bit(app.readAllStandardError());
                return log.contains(text);
            });
        };
        for (const QString backend : {"headless", "x11"}) {
            weston.setProcessEnvironment(desktop);
            weston.start("weston", {"--backend=" + backend + "-backend.so", "--no-config",
                                    "--socket=velmora-" + backend, "--idle-time=0"});
            const QString socket = scratch.filePath("runtime/velmora-" + backend);
            const auto up = [&] { return weston.state() == QProcess::Running; };
            if (!weston.waitForStarted(WaitMs) ||
                !QTest::qWaitFor([&] { return QFile::exists(socket) || !up(); }, WaitMs) || !up()) {
                QSKIP(qPrintable("Weston cannot start here: " + weston.readAllStandardError()));
            }
            wayland.insert("WAYLAND_DISPLAY", "velmora-" + backend);
            app.setProcessEnvironment(wayland);
            app.start(QStringLiteral(VELMORA_EXECUTABLE), QStringList());
            QVERIFY(app.waitForStarted(WaitMs));
            SEEN(logged("ack_configure"));    // Weston gave the window its size,
            SEEN(logged("attach(wl_buffer")); // and the program drew into it
            if (backend == "headless") {
                stop(app);
                stop(weston);
                log.clear();
            }
        }
        // Weston's window has the keyboard, and gives it to the program's.
        tool("xdotool",
             {"search", "--pid", QString::number(weston.processId()), "windowactivate", "--sync"});
        type("1234");
        key("Tab");
        type("1234");
        key("Return");
        install(Hotp); // only an unlocked window opens the install form
        SEEN(logged(QStringLiteral("set_title(\"%1\")").arg(Hotp.title())));
        key("space");
        key("ctrl+c");
        QProcessEnvironment paste = desktop;
        paste.insert("WAYLAND_DISPLAY", "velmora-x11");
        const QString code = oathtool(Hotp, 1);
        SEEN(await("the code on the Wayland clipboard",
                   [&] { return tool("wl-paste", {"--no-newline"}, &paste) == code; }));
        QVERIFY(tool("wl-paste", {"--list-types"}, &paste).contains("x-kde-passwordManagerHint"));
        // wl-paste takes the keyboard for a moment: Ctrl+Q until it is back.
        SEEN(await("the end of the program after Ctrl+Q", [&] {
            if (running()) {
                key("ctrl+q");
                app.waitForFinished(1000);
            }
            return !running();
        }));
        QCOMPARE(app.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"
