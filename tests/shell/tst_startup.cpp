// Start-up as the program runs it: the database is built before main, then
// RunApplication decides what the user sees. Each case runs in a child
// process of this program (the same static construction and the same
// RunApplication as the application's), on a database directory prepared in
// one start state; the real executable is run too, on a scratch home given to
// it through the password database.
#include "app/Application.h"
#include "app/MainWindow.h"
#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>
#include <QtTest>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

const char* const ChildDirectory = "VELMORA_START_DIRECTORY";

// The child's database lives where the parent prepared it; the parent's own
// is a fresh one it never shows.
std::string DatabaseDirectory()
{
    const char* directory = std::getenv(ChildDirectory);
    return directory != nullptr ? directory : testsupport::MakeTempDirectory();
}

// Reports on standard output what a user would see first, then ends the run:
// an error box (closed), or the main window's view and title (closed).
void ReportFirstSight()
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            std::printf("box|%s\n", qPrintable(box->text()));
            box->close();
        }
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<CMainWindow*>(widget);
            if (window != nullptr && window->isVisible()) {
                std::printf("view|%s\ntitle|%s\n",
                            qPrintable(window->centralWidget()->objectName()),
                            qPrintable(window->windowTitle()));
                window->close();
            }
        }
        std::fflush(stdout);
    });
    poll->start(10);
}

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

Run Finish(QProcess& process)
{
    Run run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        run.err = QStringLiteral("crashed or hung: ") + process.readAllStandardError();
        return run;
    }
    run.status = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// This program as the application, started on `directory`.
Run StartChild(const QString& directory)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(ChildDirectory, directory);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(testsupport::MakeTempDirectory()));
    process.setProcessEnvironment(environment);
    process.start(QCoreApplication::applicationFilePath(), {});
    return Finish(process);
}

// The real executable, whose home the password database puts at `home`, with
// no display: failures must still be reported and end the run.
Run StartProgram(const QString& home)
{
    const QString passwd = QString::fromStdString(testsupport::MakeTempDirectory()) + "/passwd";
    QFile file(passwd);
    if (!file.open(QIODevice::WriteOnly)) {
        return Run();
    }
    file.write(QStringLiteral("user:x:%1:%2:user:%3:/bin/sh\n")
                   .arg(getuid())
                   .arg(getgid())
                   .arg(home)
                   .toLocal8Bit());
    file.close();

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(name);
    }
    environment.insert("LD_PRELOAD", VELMORA_NSS_WRAPPER);
    environment.insert("NSS_WRAPPER_PASSWD", passwd);
    environment.insert("NSS_WRAPPER_GROUP", "/etc/group");
    // The sanitizers' runtime must come first; the preload is harmless before it.
    environment.insert("ASAN_OPTIONS", "verify_asan_link_order=0");
    process.setProcessEnvironment(environment);
    process.start(VELMORA_EXECUTABLE, {});
    return Finish(process);
}

QByteArray Contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

LocalDatabase g_localDatabase(DatabaseDirectory());

class StartupTest : public QObject
{
    Q_OBJECT

private slots:
    // `state` names how the directory is set up; `seen` is what the user sees first.
    void firstSight_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("seen");

        QTest::newRow("fresh") << "fresh" << 0
                               << "view|SetPinView\ntitle|Velmora [No tokens installed]\n";
        QTest::newRow("PIN and a token") << "pin" << 0 << "view|LoginView\ntitle|Velmora\n";
        QTest::newRow("directory is a file")
            << "unopenable" << 1
            << "box|cannot open the database %1/velmora.db: cannot open the file: Not a "
               "directory\n";
        QTest::newRow("damaged")
            << "damaged" << 1
            << "box|cannot open the database %1/velmora.db: file is not a database\n";
        // Held by another program for longer than the start waits.
        QTest::newRow("locked")
            << "locked" << 1 << "box|cannot open the database %1/velmora.db: database is locked\n";
    }

    void firstSight()
    {
        QFETCH(QString, state);
        QFETCH(int, status);
        QFETCH(QString, seen);

        const QString base = QString::fromStdString(testsupport::MakeTempDirectory());
        const QString directory = base + "/data";
        if (state == "locked") {
            LocalDatabase(directory.toStdString());
        } else if (state == "pin") {
            LocalDatabase database(directory.toStdString());
            QVERIFY(database.SetPin("2468"));
            QVERIFY(
                database.SaveToken(COtpToken::Create("Demo", "12345678", "1200000ABCDEFGHIJ6")));
        } else if (state == "unopenable") {
            QFile file(directory);
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (state == "damaged") {
            QVERIFY(QDir().mkpath(directory));
            QFile file(directory + "/velmora.db");
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(4096, '\x5a'));
        }
        const QByteArray before = Contents(directory + "/velmora.db");

        sqlite3* lock = nullptr;
        if (state == "locked") {
            sqlite3_open((directory + "/velmora.db").toLocal8Bit().constData(), &lock);
            QCOMPARE(sqlite3_exec(lock, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
        }
        const Run run = StartChild(directory);
        sqlite3_close_v2(lock);
        QCOMPARE(run.status, status);
        QCOMPARE(run.out, seen.arg(directory));
        if (status == 0) {
            QCOMPARE(run.err, QString());
            return;
        }
        // One line that names the file and the reason (the offscreen platform
        // may add its own notes), and the file as it was.
        const QStringList lines = run.err.split('\n').filter(QRegularExpression("^Velmora: "));
        QCOMPARE(lines, QStringList{"Velmora: " + seen.arg(directory).mid(4).chopped(1)});
        QCOMPARE(Contents(directory + "/velmora.db"), before);
    }

    // The program's own start: its home from the password database, no display.
    void realProgramReportsAndEnds_data()
    {
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("line");
        QTest::newRow("no display")
            << "%1"
            << "Velmora: no display available (neither DISPLAY nor WAYLAND_DISPLAY is set)\n";
        QTest::newRow("home is a file")
            << "%1/file"
            << "Velmora: cannot open the database %1/file/.velmora/velmora.db: cannot create the "
               "directory %1/file/.velmora: Not a directory\n";
        QTest::newRow("home missing")
            << "%1/missing"
            << "Velmora: cannot open the database %1/missing/.velmora/velmora.db: cannot create "
               "the directory %1/missing/.velmora: No such file or directory\n";
    }

    void realProgramReportsAndEnds()
    {
        QFETCH(QString, home);
        QFETCH(QString, line);
        const QString base = QString::fromStdString(testsupport::MakeTempDirectory());
        QFile file(base + "/file");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        const Run run = StartProgram(home.arg(base));
        QCOMPARE(run.err, line.arg(base));
        QCOMPARE(run.status, 1);
        QCOMPARE(run.out, QString());
    }
};

int main(int argc, char* argv[])
{
    if (std::getenv(ChildDirectory) != nullptr) {
        qAddPreRoutine(ReportFirstSight);
        return RunApplication(g_localDatabase, argc, argv);
    }
    QCoreApplication application(argc, argv);
    StartupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
