// Start-up as the program runs it: the database is built before main, then
// RunApplication decides what the user sees. Each case runs in a child
// process of this program (the same static construction and the same
// RunApplication as the application's), on a database directory prepared in
// one start state. (The real executable's own start, its home from the
// password database, is tst_faults' unusableHome.)
#include "app/Application.h"
#include "app/MainWindow.h"
#include "storage/LocalDatabase.h"
#include "support/RunProgram.h"
#include "support/TempDirectory.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(ChildDirectory, directory);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_RUNTIME_DIR",
                           QString::fromStdString(testsupport::MakeTempDirectory()));
        const testsupport::ProgramOutcome run =
            testsupport::RunProgram(QCoreApplication::applicationFilePath(), {}, environment);
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
