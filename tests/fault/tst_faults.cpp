// Faults as a user meets them, injected from outside into the real code path:
// the driver program makes the calls the views make (and the real executable
// starts as it always does), in child processes that strace hurts at every
// write, sync and unlink point in turn, that run on read-only, locked, full or
// damaged stores, or that race each other. After every case the store must be
// whole (PRAGMA integrity_check), hold what it held unless an operation
// reported success, and no HOTP counter may have been shown twice.
#include "fault/ChildProcess.h"
#include "fault/StoreFile.h"
#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <QtTest>

#include <iterator>
#include <map>
#include <random>
#include <vector>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace faults;

namespace {

const char* const Serial = "12345678";
const char* const Seed = "1200000ABCDEFGHIJ6"; // an HOTP token
const QString NoDisplay =
    "Velmora: no display available (neither DISPLAY nor WAYLAND_DISPLAY is set)\n";
const char* const StraceMissing =
    "strace cannot trace here (ptrace not permitted): fault injection skipped";

QString Temp()
{
    return QString::fromStdString(testsupport::MakeTempDirectory());
}

QString Database(const QString& directory)
{
    return directory + "/velmora.db";
}

// Problems of one case, gathered so that one failure does not hide the rest.
struct Problems
{
    QStringList list;
    void check(bool ok, const QString& where, const QString& what)
    {
        if (!ok) {
            list << where + ": " + what;
        }
    }
    void expectEmpty(const QString& problem, const QString& where)
    {
        check(problem.isEmpty(), where, problem);
    }
    QByteArray report() const { return list.mid(0, 40).join('\n').toLocal8Bit(); }
};

QString CopyStore(const QString& from)
{
    QString directory = Temp();
    QFile::copy(Database(from), Database(directory));
    return directory;
}

// A store with the PIN 2468 and the given HOTP tokens (IDs 1, 2, ... in
// order), the last one selected: a copy of one made once per test run. Row 1
// of tblSystem holds the PIN, row 2 the selection.
QString MakeStore(const QStringList& names, Problems& problems)
{
    static QMap<QString, QString> made;
    const QString key = names.join('/');
    if (!made.contains(key)) {
        const QString directory = Temp();
        std::vector<Command> steps{Driver(directory, {"pin-set", "2468"})};
        for (const QString& name : names) {
            steps.push_back(Driver(directory, {"install", name, Serial, Seed}));
        }
        for (const Command& step : steps) {
            problems.expectEmpty(CleanSuccess(Run(step)), "making the store");
        }
        made.insert(key, directory);
    }
    return CopyStore(made.value(key));
}

// The first number of each line a run printed: the counter of each code a
// press showed ("COUNTER CODE"), the ID of each token a list showed.
QList<quint64> FirstNumbers(const QByteArray& out)
{
    QList<quint64> counters;
    for (const QByteArray& line : out.split('\n')) {
        if (!line.isEmpty()) {
            counters << line.split(' ').value(0).toULongLong();
        }
    }
    return counters;
}

// The token's stored counter, read as the program reads it; -1 when the
// token cannot be read.
qint64 StoredCounter(const QString& directory, int id)
{
    LocalDatabase database(directory.toStdString());
    const COtpTokenPtr token = database.IsOpen() ? database.GetToken(id) : COtpTokenPtr();
    return token && token->GetUnusableReason().empty() ? qint64(token->Counter) : -1;
}

int FileMode(const QString& path)
{
    struct stat status
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &status) == 0
               ? static_cast<int>(status.st_mode & 07777)
               : -1;
}

// How many times each of the syscalls occurs in a strace log.
QMap<QString, int> CountCalls(const QString& log)
{
    QMap<QString, int> counts;
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly)) {
        return counts;
    }
    static const QRegularExpression call(QStringLiteral("^\\d+\\s+(\\w+)\\("));
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QRegularExpressionMatch match = call.match(QString::fromLatin1(line));
        if (match.hasMatch()) {
            ++counts[match.captured(1)];
        }
    }
    return counts;
}

bool LogContains(const QString& log, const char* text)
{
    QFile file(log);
    return file.open(QIODevice::ReadOnly) && file.readAll().contains(text);
}

// One injection point: the Nth call of a syscall.
struct Point
{
    QString syscall;
    int n = 0;
    QString directory;
    QString log;
    QString name() const { return QStringLiteral("%1 #%2").arg(syscall).arg(n); }
};

// A point for every call of each syscall that a clean run of `command` (made
// for a directory by `make`) makes; each point gets a copy of `base`.
template <typename Make>
std::vector<Point> PointsOf(const QString& base, const QString& syscalls, Make make,
                            Problems& problems)
{
    const QString dry = CopyStore(base);
    const QString log = dry + "/strace.log";
    problems.expectEmpty(CleanSuccess(Run(Traced(make(dry), syscalls, log))), "clean run");
    const QMap<QString, int> counts = CountCalls(log);
    std::vector<Point> points;
    for (const QString& syscall : syscalls.split(',')) {
        for (int n = 1; n <= counts.value(syscall); ++n) {
            const QString directory = CopyStore(base);
            points.push_back(Point{syscall, n, directory, directory + "/strace.log"});
        }
    }
    return points;
}

// Writes each text to a file of its own and returns the paths.
QStringList TextFiles(const QList<QByteArray>& texts)
{
    const QString directory = Temp();
    QStringList paths;
    for (const QByteArray& text : texts) {
        const QString path = directory + "/" + QString::number(paths.size());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text);
        paths << path;
    }
    return paths;
}

QByteArray ListLine(int id, const QByteArray& name, const QByteArray& serial)
{
    return QByteArray::number(id) + ' ' + name.toHex() + ' ' + serial.toHex() + ' ';
}

// Rows that only `keys` may have changed: the rest must be byte for byte equal.
QString UnchangedBesides(const QMap<QString, QByteArray>& before,
                         const QMap<QString, QByteArray>& after, const QStringList& keys)
{
    QMap<QString, QByteArray> a = before;
    QMap<QString, QByteArray> b = after;
    for (const QString& key : keys) {
        a.remove(key);
        b.remove(key);
    }
    if (a == b) {
        return QString();
    }
    QStringList changed;
    for (const QString& key :
         QSet<QString>(a.keyBegin(), a.keyEnd()) + QSet<QString>(b.keyBegin(), b.keyEnd())) {
        if (a.value(key) != b.value(key)) {
            changed << key;
        }
    }
    return "rows changed: " + changed.join(", ");
}

// A token row with its Credential left out: what a press must not change.
QByteArray WithoutCredential(const QByteArray& row)
{
    QByteArray kept;
    for (const QByteArray& column : row.split(' ')) {
        if (!column.startsWith("Credential=")) {
            kept += column + ' ';
        }
    }
    return kept;
}

// One run hurt at one point, and the user's next step after it, on a store
// that held `before`.
struct HurtRun
{
    QString where;
    QString directory;
    Outcome run;
    Outcome restart;
    bool killed = false; // by the injection
    QMap<QString, QByteArray> before;
    QMap<QString, QByteArray> after;
};

// All or nothing: the new row and its selection, exactly when reported.
void CheckInstall(const HurtRun& r, Problems& problems)
{
    const QString file = Database(r.directory);
    const bool stored = r.after.contains("tblToken/3");
    const bool reported = !r.run.crashed && r.run.status == 0;
    problems.check(r.killed || stored == reported, r.where,
                   reported ? "reported installed, not stored" : "reported failed, but stored");
    if (!stored) {
        problems.expectEmpty(UnchangedBesides(r.before, r.after, {}), r.where);
        return;
    }
    problems.check(Value(file, "select Name from tblToken where ID=3") == "New", r.where,
                   "the new row holds something else");
    problems.check(Value(file, "select IntValue from tblSystem where Name='DefaultToken'") == "3",
                   r.where, "the new token was stored but not selected");
    problems.check(r.restart.out.count('\n') == 3, r.where, "the list after the install");
    problems.expectEmpty(UnchangedBesides(r.before, r.after, {"tblToken/3", "tblSystem/2"}),
                         r.where);
}

// Two presses of token 2 (counter 2 next), then one more: never a counter
// twice, none lost by a failed press (a kill may cost one), and nothing but
// the Credential of token 2 rewritten.
void CheckPresses(const HurtRun& r, Problems& problems)
{
    const QList<quint64> first = FirstNumbers(r.run.out);
    const QList<quint64> next = FirstNumbers(r.restart.out);
    QList<quint64> expected;
    for (int k = 0; k < first.size(); ++k) {
        expected << quint64(2) + quint64(k);
    }
    problems.check(first == expected, r.where, "shown before the fault: " + r.run.out);
    problems.check(next.size() == 1, r.where, "the restart showed no code");
    if (next.size() == 1) {
        const quint64 resumed = next.first();
        const quint64 lowest = 2 + quint64(first.size());
        problems.check(resumed == lowest || (r.killed && resumed == lowest + 1), r.where,
                       QStringLiteral("the restart used counter %1 after %2 shown")
                           .arg(resumed)
                           .arg(first.size()));
        const qint64 stored = StoredCounter(r.directory, 2);
        problems.check(stored == qint64(resumed) + 1, r.where,
                       QStringLiteral("stored counter %1").arg(stored));
    }
    problems.check(WithoutCredential(r.after.value("tblToken/2")) ==
                       WithoutCredential(r.before.value("tblToken/2")),
                   r.where, "the press rewrote more than the counter");
    problems.expectEmpty(UnchangedBesides(r.before, r.after, {"tblToken/2"}), r.where);
}

// The PIN 2468 changed to 1357: the old PIN or the new one, never neither.
void CheckPinChange(const HurtRun& r, Problems& problems)
{
    const bool changed = r.after.value("tblSystem/1") != r.before.value("tblSystem/1");
    const bool reported = !r.run.crashed && r.run.status == 0;
    problems.check(r.killed || changed == reported, r.where,
                   reported ? "reported set, not stored" : "reported failed, but stored");
    problems.check(r.restart.out == (changed ? "pin matches\n" : "pin does not match\n"), r.where,
                   "the new PIN after the restart: " + r.restart.out);
    problems.expectEmpty(UnchangedBesides(r.before, r.after, {"tblSystem/1"}), r.where);
}

} // namespace

class FaultTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The children sync after every write: on a file system in memory that
        // costs nothing, and what the cases test is what the calls return.
        struct statvfs memory
        {
        };
        if (qEnvironmentVariableIsEmpty("TMPDIR") && statvfs("/dev/shm", &memory) == 0 &&
            memory.f_bavail * memory.f_frsize > 256ULL << 20 && access("/dev/shm", W_OK) == 0) {
            qputenv("TMPDIR", "/dev/shm");
        }
    }

    // An I/O error, a full disk or a kill at every write, sync and unlink
    // point of an install, of two presses and of a PIN change in turn, each
    // followed by the user's next step in a new start of the program.
    void injectedFaults_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("syscalls");

        const QString sync = "pwrite64,fdatasync,fsync,ftruncate";
        QTest::newRow("install, I/O error") << "install"
                                            << "error=EIO" << sync + ",unlink";
        QTest::newRow("install, disk full") << "install"
                                            << "error=ENOSPC" << sync;
        QTest::newRow("install, killed") << "install"
                                         << "signal=KILL" << sync + ",unlink,write";
        QTest::newRow("press, I/O error") << "press"
                                          << "error=EIO" << sync + ",unlink";
        QTest::newRow("press, disk full") << "press"
                                          << "error=ENOSPC" << sync;
        QTest::newRow("press, killed") << "press"
                                       << "signal=KILL" << sync + ",unlink,write";
        QTest::newRow("PIN change, I/O error") << "pin-set"
                                               << "error=EIO" << sync + ",unlink";
    }

    void injectedFaults()
    {
        QFETCH(QString, operation);
        QFETCH(QString, fault);
        QFETCH(QString, syscalls);
        if (!StraceUsable()) {
            QSKIP(StraceMissing);
        }
        const bool kill = fault.startsWith("signal");
        struct Steps
        {
            QStringList hurt;
            QStringList next;
            void (*check)(const HurtRun&, Problems&);
        };
        const QMap<QString, Steps> steps{
            {"install", {{"install", "New", Serial, Seed}, {"list"}, CheckInstall}},
            {"press", {{"press", "2", "2"}, {"press", "2"}, CheckPresses}},
            {"pin-set", {{"pin-set", "1357"}, {"pin-check", "1357"}, CheckPinChange}},
        };
        const Steps step = steps.value(operation);

        // PIN 2468; token 1 stays untouched; token 2 is pressed once.
        Problems problems;
        const QString base = MakeStore({"Keep", "Press"}, problems);
        problems.expectEmpty(CleanSuccess(Run(Driver(base, {"press", "2"}))), "first press");
        QVERIFY2(problems.list.isEmpty(), problems.report());

        const std::vector<Point> points = PointsOf(
            base, syscalls, [&](const QString& dir) { return Driver(dir, step.hurt); }, problems);
        QVERIFY2(problems.list.isEmpty(), problems.report());
        QVERIFY(!points.empty());
        std::vector<Command> hurt;
        hurt.reserve(points.size());
        for (const Point& point : points) {
            hurt.push_back(
                Traced(Driver(point.directory, step.hurt), syscalls, point.log,
                       point.syscall + ":" + fault + ":when=" + QString::number(point.n)));
        }
        const std::vector<Outcome> hurtRuns = RunAll(hurt);

        // What a kill leaves behind must be as private as the database.
        int journals = 0;
        for (const Point& point : points) {
            const QString journal = Database(point.directory) + "-journal";
            if (QFile::exists(journal)) {
                ++journals;
                problems.check(FileMode(journal) == 0600, point.name(),
                               QStringLiteral("journal mode %1").arg(FileMode(journal), 0, 8));
            }
        }

        std::vector<Command> restart;
        restart.reserve(points.size());
        for (const Point& point : points) {
            restart.push_back(Driver(point.directory, step.next));
        }
        const std::vector<Outcome> restartRuns = RunAll(restart);

        int injected = 0;
        const QMap<QString, QByteArray> before = Rows(Database(base));
        for (std::size_t i = 0; i < points.size(); ++i) {
            const Point& point = points[i];
            const bool hit = LogContains(point.log, kill ? "killed by SIGKILL" : "(INJECTED)");
            injected += hit ? 1 : 0;
            HurtRun r{point.name(),
                      point.directory,
                      hurtRuns[i],
                      restartRuns[i],
                      kill && hit && hurtRuns[i].crashed,
                      before,
                      Rows(Database(point.directory))};

            // The hurt run: killed, or a success, or one clear line.
            if (kill && hit) {
                problems.check(r.run.crashed, r.where, "survived a kill");
            } else if (!hit || r.run.status == 0) {
                problems.expectEmpty(CleanSuccess(r.run), r.where);
            } else {
                problems.expectEmpty(CleanFailure(r.run, 1, "velmora_driver: " + operation + ": "),
                                     r.where);
            }
            problems.expectEmpty(CleanSuccess(r.restart), r.where + ", restart");
            // (A journal that is not hot may stay until the next write; a hot
            // one fails this check, which opens the file read-only.)
            const QString integrity = IntegrityCheck(Database(point.directory));
            problems.check(integrity == "ok", r.where, "integrity: " + integrity);
            step.check(r, problems);
        }
        qInfo("%s: %d points, %d hit, %d journals left behind", qPrintable(operation),
              int(points.size()), injected, journals);
        problems.check(injected > 0, "all points", "no fault was ever injected");
        if (kill) {
            problems.check(journals > 0, "all points", "no kill left a journal to look at");
        }
        QVERIFY2(problems.list.isEmpty(), problems.report());
    }

    // The first start of the real program on a full disk: it either creates
    // a whole database or reports and leaves no file behind.
    void firstStartFullDisk()
    {
        if (!StraceUsable()) {
            QSKIP(StraceMissing);
        }
        const QString syscalls = "pwrite64,fdatasync,fsync,ftruncate";
        Problems problems;

        const QString dryHome = Temp();
        const QString dryLog = Temp() + "/strace.log";
        const Outcome dry = Run(Traced(Program(dryHome), syscalls, dryLog));
        QCOMPARE(QString::fromLocal8Bit(dry.err), NoDisplay);
        // Created under umask 000, still the owner's alone.
        QCOMPARE(FileMode(dryHome + "/.velmora"), 0700);
        QCOMPARE(FileMode(Database(dryHome + "/.velmora")), 0600);
        const QMap<QString, int> counts = CountCalls(dryLog);

        std::vector<Point> points;
        std::vector<Command> hurt;
        hurt.reserve(points.size());
        for (const QString& syscall : syscalls.split(',')) {
            for (int n = 1; n <= counts.value(syscall); ++n) {
                const Point point{syscall, n, Temp(), Temp() + "/strace.log"};
                hurt.push_back(Traced(Program(point.directory), syscalls, point.log,
                                      syscall + ":error=ENOSPC:when=" + QString::number(n)));
                points.push_back(point);
            }
        }
        QVERIFY(!points.empty());
        const std::vector<Outcome> hurtRuns = RunAll(hurt);
        for (std::size_t i = 0; i < points.size(); ++i) {
            const Point& point = points[i];
            const QString file = Database(point.directory + "/.velmora");
            if (QString::fromLocal8Bit(hurtRuns[i].err) != NoDisplay) {
                problems.expectEmpty(
                    CleanFailure(hurtRuns[i], 1,
                                 "Velmora: cannot open the database " + file + ": "),
                    point.name());
                problems.check(!QFile::exists(file), point.name(), "a database was left behind");
                problems.check(!QFile::exists(file + "-journal"), point.name(),
                               "a journal was left behind");
            }
        }

        // Started again on a disk with room, the program makes a whole store.
        std::vector<Command> again;
        again.reserve(points.size());
        for (const Point& point : points) {
            again.push_back(Program(point.directory));
        }
        const std::vector<Outcome> againRuns = RunAll(again);
        for (std::size_t i = 0; i < points.size(); ++i) {
            const Point& point = points[i];
            const QString file = Database(point.directory + "/.velmora");
            problems.check(QString::fromLocal8Bit(againRuns[i].err) == NoDisplay,
                           point.name() + ", restart", QString::fromLocal8Bit(againRuns[i].err));
            problems.check(IntegrityCheck(file) == "ok", point.name(), IntegrityCheck(file));
            problems.check(
                !Value(file, "select StringValue from tblSystem where Name='PIN'").isEmpty(),
                point.name(), "no PIN stored: the user would be locked out");
        }
        qInfo("first start: %d points", int(points.size()));
        QVERIFY2(problems.list.isEmpty(), problems.report());
    }

    // Stores the program may not write, or must wait for.
    void unwritableStore_data()
    {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QStringList>("operation");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");

        const QStringList press{"press", "2"};
        const QStringList install{"install", "New", Serial, Seed};
        QTest::newRow("read-only directory: press")
            << "directory 0500" << press << 1 << "attempt to write a readonly database";
        QTest::newRow("read-only directory: install")
            << "directory 0500" << install << 1 << "attempt to write a readonly database";
        QTest::newRow("read-only directory: list")
            << "directory 0500" << QStringList{"list"} << 0 << "";
        QTest::newRow("read-only database: press")
            << "database 0400" << press << 1 << "Permission denied";
        QTest::newRow("read-only database: install")
            << "database 0400" << install << 1 << "Permission denied";
        // A press killed with its journal hot, then the directory made read-only:
        // the journal cannot be rolled back, so nothing may be read past it.
        QTest::newRow("hot journal, read-only directory: list")
            << "hot-journal 0500" << QStringList{"list"} << 1 << "cannot open the database";
        QTest::newRow("hot journal, read-only directory: press")
            << "hot-journal 0500" << press << 1 << "cannot open the database";
        QTest::newRow("writer's lock outlasts the wait: press")
            << "immediate 8000" << press << 1 << "database is locked";
        QTest::newRow("writer's lock outlasts the wait: install")
            << "immediate 8000" << install << 1 << "database is locked";
        QTest::newRow("exclusive lock outlasts the wait: start")
            << "exclusive 8000" << press << 1 << "database is locked";
        QTest::newRow("brief exclusive lock is waited out") << "exclusive 500" << press << 0 << "";
    }

    void unwritableStore()
    {
        QFETCH(QString, condition);
        QFETCH(QStringList, operation);
        QFETCH(int, status);
        QFETCH(QString, message);

        Problems problems;
        const QString directory = MakeStore({"Keep", "Press"}, problems);
        QVERIFY2(problems.list.isEmpty(), problems.report());
        const QString file = Database(directory);
        const QMap<QString, QByteArray> before = Rows(file);

        const QStringList words = condition.split(' ');
        const bool locked = words[0] == "immediate" || words[0] == "exclusive";
        Outcome run;
        if (locked) {
            const int hold = words[1].toInt();
            std::unique_ptr<HeldLock> lock(new HeldLock(file, qPrintable(words[0])));
            QCOMPARE(lock->error(), QString());
            Outcome result;
            QThread* runner = QThread::create([&] { result = Run(Driver(directory, operation)); });
            runner->start();
            const bool endedWhileLocked = runner->wait(QDeadlineTimer(hold));
            lock.reset();
            runner->wait();
            delete runner;
            run = result;
            // A lock briefly held is waited for; a long one is given up on
            // after a while, and while it is still held.
            if (status == 0) {
                QVERIFY2(!endedWhileLocked, "did not wait for the lock");
            } else {
                QVERIFY2(endedWhileLocked, "still waiting for the lock");
                QVERIFY2(run.milliseconds >= 1500,
                         qPrintable(QStringLiteral("gave up after %1 ms").arg(run.milliseconds)));
            }
        } else {
            const bool hot = words[0] == "hot-journal";
            if (hot) {
                if (!StraceUsable()) {
                    QSKIP(StraceMissing);
                }
                // Killed at the sync of the database file: its new page is
                // written, the journal holds the old one.
                const Outcome killed =
                    Run(Traced(Driver(directory, {"press", "2"}), "fdatasync",
                               Temp() + "/strace.log", "fdatasync:signal=KILL:when=4"));
                QVERIFY(killed.crashed && killed.out.isEmpty());
                QVERIFY(QFile::exists(file + "-journal"));
            }
            const QString target = words[0] == "database" ? file : directory;
            ::chmod(QFile::encodeName(target).constData(), words[1].toUInt(nullptr, 8));
            run = Run(Unprivileged(Driver(directory, operation)));
            ::chmod(QFile::encodeName(target).constData(), target == file ? 0600 : 0700);
            if (hot) {
                // Allowed again, the next start rolls the journal back.
                QCOMPARE(CleanSuccess(Run(Driver(directory, {"list"}))), QString());
            }
        }

        if (status == 0) {
            QCOMPARE(CleanSuccess(run), QString());
        } else {
            QCOMPARE(CleanFailure(run, status, "velmora_driver: " + operation[0] + ": "),
                     QString());
            QVERIFY2(run.err.contains(message.toLocal8Bit()), run.err);
        }
        QCOMPARE(IntegrityCheck(file), QString("ok"));
        const QMap<QString, QByteArray> after = Rows(file);
        QCOMPARE(UnchangedBesides(before, after,
                                  status == 0 ? QStringList{"tblToken/2"} : QStringList{}),
                 QString());
    }

    // The real program started where its home cannot hold the database.
    void unusableHome_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("line");

        QTest::newRow("no entry in the password database")
            << "no entry"
            << "Velmora: cannot open the database: the password database gives no home directory "
               "for user id %2\n";
        QTest::newRow("home read-only")
            << "home 0500"
            << "Velmora: cannot open the database %1/.velmora/velmora.db: cannot create the "
               "directory %1/.velmora: Permission denied\n";
        QTest::newRow("data directory read-only, no database")
            << "data 0500"
            << "Velmora: cannot open the database %1/.velmora/velmora.db: cannot open the file: "
               "Permission denied\n";
        QTest::newRow("data directory is a file")
            << "data file"
            << "Velmora: cannot open the database %1/.velmora/velmora.db: cannot open the file: "
               "Not a directory\n";
    }

    void unusableHome()
    {
        QFETCH(QString, state);
        QFETCH(QString, line);

        const QString home = Temp();
        if (state == "home 0500") {
            ::chmod(QFile::encodeName(home).constData(), 0500);
        } else if (state == "data 0500") {
            QVERIFY(QDir(home).mkdir(".velmora"));
            ::chmod(QFile::encodeName(home + "/.velmora").constData(), 0500);
        } else if (state == "data file") {
            QFile file(home + "/.velmora");
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const Outcome run = Run(Unprivileged(Program(state == "no entry" ? QString() : home)));
        ::chmod(QFile::encodeName(home).constData(), 0700);
        ::chmod(QFile::encodeName(home + "/.velmora").constData(), 0700);

        QVERIFY2(!run.crashed, run.err);
        line.replace("%1", home).replace("%2", QString::number(getuid()));
        QCOMPARE(QString::fromLocal8Bit(run.err), line);
        QCOMPARE(run.status, 1);
        QVERIFY(!QFile::exists(home + "/.velmora/velmora.db"));
    }

    // A damaged database file at the start of the real program: reported in
    // one line that names the file, never a crash, the file left as it was.
    void damagedFile_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("seed");

        QTest::newRow("truncated to its first page") << "truncate 4096" << 0;
        QTest::newRow("truncated inside a page") << "truncate 10000" << 0;
        QTest::newRow("truncated inside the header") << "truncate 60" << 0;
        QTest::newRow("wrong header text") << "header" << 0;
        QTest::newRow("impossible page size") << "page size" << 0;
        for (int seed = 1; seed <= 6; ++seed) {
            QTest::newRow(qPrintable(QStringLiteral("byte flips %1").arg(seed))) << "flips" << seed;
        }
    }

    void damagedFile()
    {
        QFETCH(QString, damage);
        QFETCH(int, seed);

        Problems problems;
        const QString home = Temp();
        const QString directory = home + "/.velmora";
        QVERIFY(QDir(home).mkdir(".velmora"));
        const QString made = MakeStore({"One", "Two", "Three"}, problems);
        QVERIFY2(problems.list.isEmpty(), problems.report());
        QVERIFY(QFile::copy(Database(made), Database(directory)));

        QFile file(Database(directory));
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        if (damage.startsWith("truncate")) {
            bytes.truncate(damage.mid(9).toInt());
        } else if (damage == "header") {
            bytes.replace(0, 16, QByteArray("Not a database!", 16));
        } else if (damage == "page size") {
            bytes[16] = 0;
            bytes[17] = 3;
        } else {
            // Flips anywhere past the file header, the same in every run.
            std::mt19937 random(static_cast<unsigned>(seed));
            std::uniform_int_distribution<int> offset(100, static_cast<int>(bytes.size()) - 1);
            for (int i = 0; i < 24; ++i) {
                const int at = offset(random);
                bytes[at] = static_cast<char>(bytes[at] ^ (1 + random() % 255));
            }
        }
        file.resize(0);
        file.write(bytes);
        file.close();
        // What SQLite itself finds wrong, on a copy the check cannot change.
        const QString copy = Temp();
        QVERIFY(QFile::copy(Database(directory), Database(copy)));
        const bool detectable = IntegrityCheck(Database(copy)) != "ok";

        // The token calls, on the copy: whatever a start lets through, they
        // work or fail in one clear line.
        for (const QStringList& call : {QStringList{"list"}, QStringList{"press", "2"}}) {
            const Outcome used = Run(Driver(copy, call));
            QVERIFY2(!used.crashed, used.err);
            if (used.status != 0) {
                QCOMPARE(CleanFailure(used, used.status, "velmora_driver: " + call[0] + ": "),
                         QString());
            }
        }

        const Outcome run = Run(Program(home));
        QVERIFY2(!run.crashed, run.err);
        QCOMPARE(run.status, 1);
        QFile after(Database(directory));
        QVERIFY(after.open(QIODevice::ReadOnly));
        QVERIFY2(after.readAll() == bytes, "the damaged file was changed");
        if (!detectable) {
            QCOMPARE(QString::fromLocal8Bit(run.err), NoDisplay);
            return;
        }
        // Found only by a full check (a row missing from tblSystem's unique
        // index): the start reads the schema and nothing more.
        QCOMPARE(
            CleanFailure(run, 1, "Velmora: cannot open the database " + Database(directory) + ": "),
            QString());
    }

    // One token's protected value damaged: that token alone is unusable, the
    // others keep working, and the damaged row is never written.
    void damagedCredential_data()
    {
        QTest::addColumn<QByteArray>("credential");
        QTest::addColumn<bool>("null");

        const QByteArray keys =
            QByteArray(20, 'k').toBase64() + ',' + QByteArray(20, 'K').toBase64() + ',';
        QTest::newRow("last block damaged") << QByteArray("last block") << false;
        QTest::newRow("seven-digit counter, last block damaged")
            << QByteArray("last block 1234567") << false;
        QTest::newRow("counter with a sign") << keys + "+5" << false;
        QTest::newRow("counter not a number") << keys + "12x" << false;
        QTest::newRow("counter at its largest") << keys + "18446744073709551615" << false;
        QTest::newRow("counter beyond 64 bits") << keys + "18446744073709551616" << false;
        QTest::newRow("two parts") << QByteArray(keys).chopped(1) << false;
        QTest::newRow("key beyond 128 bytes")
            << QByteArray(20, 'k').toBase64() + ',' + QByteArray(200, 'K').toBase64() + ",7"
            << false;
        QTest::newRow("nothing after the prefix") << QByteArray("enc:") << false;
        QTest::newRow("not Base64 after the prefix") << QByteArray("enc:%%%%%%%%") << false;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("NULL") << QByteArray() << true;
    }

    void damagedCredential()
    {
        QFETCH(QByteArray, credential);
        QFETCH(bool, null);

        Problems problems;
        const QString directory = MakeStore({"A", "B", "C"}, problems);
        QVERIFY2(problems.list.isEmpty(), problems.report());
        const QString file = Database(directory);

        if (credential.startsWith("last block")) {
            // A protected value as the program writes it, its last block hurt.
            const QString scratch = Temp();
            LocalDatabase protector(scratch.toStdString());
            const QByteArray counter = credential.mid(11).isEmpty() ? "1" : credential.mid(11);
            const std::string plain = (QByteArray(20, 'k').toBase64() + ',' +
                                       QByteArray(20, 'K').toBase64() + ',' + counter)
                                          .toStdString();
            QByteArray cipher =
                QByteArray::fromBase64(QByteArray::fromStdString(protector.Encrypt(plain)).mid(4));
            cipher[cipher.size() - 3] = static_cast<char>(cipher[cipher.size() - 3] ^ 0x5a);
            credential = "enc:" + cipher.toBase64();
        }
        QCOMPARE(Execute(file, "update tblToken set Credential=? where ID=2",
                         null ? QByteArray() : credential),
                 QString());
        const QMap<QString, QByteArray> before = Rows(file);

        // The menu, and presses of all three, twice, side by side.
        for (int round = 0; round < 2; ++round) {
            const std::vector<Outcome> runs = RunAll(
                {Driver(directory, round == 0 ? QStringList{"list"} : QStringList{"get", "2"}),
                 Driver(directory, {"press", "1"}), Driver(directory, {"press", "2"}),
                 Driver(directory, {"press", "3"})});
            if (round == 0) {
                QCOMPARE(CleanSuccess(runs[0]), QString());
                QCOMPARE(FirstNumbers(runs[0].out), (QList<quint64>{1, 2, 3}));
            } else {
                QVERIFY2(!runs[0].crashed, runs[0].err);
                QVERIFY2(runs[0].out.contains(" unusable ") &&
                             !runs[0].out.trimmed().endsWith(" unusable"),
                         "token 2 looks usable: " + runs[0].out);
            }
            QCOMPARE(CleanSuccess(runs[1]), QString());
            QVERIFY2(runs[2].out.isEmpty(), "a code was shown: " + runs[2].out);
            QCOMPARE(CleanFailure(runs[2], 3, "velmora_driver: press: token 2 cannot compute"),
                     QString());
            QCOMPARE(CleanSuccess(runs[3]), QString());
        }

        QCOMPARE(IntegrityCheck(file), QString("ok"));
        const QMap<QString, QByteArray> after = Rows(file);
        QCOMPARE(after.value("tblToken/2"), before.value("tblToken/2"));
        QCOMPARE(UnchangedBesides(before, after, {"tblToken/1", "tblToken/3"}), QString());
        QCOMPARE(StoredCounter(directory, 1), qint64(3));
    }

    // A row another program wrote, with an ID or numbers this program would
    // never write: it costs only itself. Installing still inserts a new row,
    // the good token still works, and the odd row is never written.
    void foreignRow_data()
    {
        QTest::addColumn<qint64>("id");
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("press"); // the exit status of pressing it, -1: not pressed

        QTest::newRow("ID 0") << qint64(0) << "" << -1;
        QTest::newRow("ID beyond 32 bits") << (qint64(1) << 32) + 1 << "" << -1;
        QTest::newRow("Digits 0") << qint64(5) << "Digits=0" << 3;
        QTest::newRow("Digits 13") << qint64(5) << "Digits=13" << 3;
        QTest::newRow("Digits as text") << qint64(5) << "Digits='six'" << 3;
        QTest::newRow("Timer at its lowest") << qint64(5) << "Timer=-2147483648" << 3;
        QTest::newRow("TokenType beyond 32 bits") << qint64(5) << "TokenType=4294967300" << 3;
    }

    void foreignRow()
    {
        QFETCH(qint64, id);
        QFETCH(QString, change);
        QFETCH(int, press);

        Problems problems;
        const QString directory = MakeStore({"Good"}, problems);
        QVERIFY2(problems.list.isEmpty(), problems.report());
        const QString file = Database(directory);
        // A copy of the good row, its secret included, under the odd ID.
        QCOMPARE(Execute(file, QStringLiteral("insert into tblToken (ID, TokenType, Name, Serial, "
                                              "Credential, Digits, Timer, Sleep, Status) select "
                                              "%1, TokenType, 'Odd', Serial, Credential, Digits, "
                                              "Timer, Sleep, Status from tblToken where ID=1")
                                   .arg(id)),
                 QString());
        if (!change.isEmpty()) {
            QCOMPARE(
                Execute(file,
                        QStringLiteral("update tblToken set %1 where ID=%2").arg(change).arg(id)),
                QString());
        }
        const QString odd = QStringLiteral("tblToken/%1").arg(id);
        const QMap<QString, QByteArray> before = Rows(file);

        const Outcome install = Run(Driver(directory, {"install", "New", Serial, Seed}));
        // The odd row, left out of the list, cannot be deleted by the user; the
        // IDs after it do not fit in 32 bits either.
        QCOMPARE(CleanSuccess(install), QString());
        QVERIFY2(install.out != "installed " + QByteArray::number(id) + "\n", install.out);
        const std::vector<Outcome> runs =
            RunAll({Driver(directory, {"press", "1"}), Driver(directory, {"list"})});
        QCOMPARE(CleanSuccess(runs[0]), QString());
        QCOMPARE(FirstNumbers(runs[0].out), QList<quint64>{1});
        // A row that cannot be addressed is left out of the list, and said so.
        if (id > INT32_MAX) {
            QCOMPARE(runs[1].status, 0);
            QCOMPARE(runs[1].err, "the token row " + QByteArray::number(id) + " in " +
                                      file.toLocal8Bit() +
                                      " is left out: its ID does not fit in 32 bits\n");
        } else {
            QCOMPARE(CleanSuccess(runs[1]), QString());
        }
        QVERIFY2(FirstNumbers(runs[1].out).contains(1), runs[1].out);
        if (press >= 0) {
            const Outcome pressed = Run(Driver(directory, {"press", QString::number(id)}));
            QCOMPARE(CleanFailure(pressed, press, "velmora_driver: press: "), QString());
        }

        QCOMPARE(IntegrityCheck(file), QString("ok"));
        const QMap<QString, QByteArray> after = Rows(file);
        QCOMPARE(after.value(odd), before.value(odd));
        QCOMPARE(WithoutCredential(after.value("tblToken/1")),
                 WithoutCredential(before.value("tblToken/1")));
        QCOMPARE(StoredCounter(directory, 1), qint64(2));
    }

    // Two programs pressing one HOTP token, interleaved: every press gets a
    // counter of its own, and none is lost.
    void concurrentPresses()
    {
        const int presses = 300;
        Problems problems;
        const QString directory = MakeStore({"Shared"}, problems);
        QVERIFY2(problems.list.isEmpty(), problems.report());

        // A short pause between presses, as between a user's, lets the other
        // program in: the two take turns rather than one after the other.
        const QStringList press{"press", "1", QString::number(presses), "2"};
        const std::vector<Outcome> runs =
            RunAll({Driver(directory, press), Driver(directory, press)});
        std::map<quint64, int> owner;
        for (int k = 0; k < 2; ++k) {
            QCOMPARE(CleanSuccess(runs[k]), QString());
            const QList<quint64> counters = FirstNumbers(runs[k].out);
            QCOMPARE(counters.size(), presses);
            for (const quint64 counter : counters) {
                QVERIFY2(owner.emplace(counter, k).second,
                         qPrintable(QStringLiteral("counter %1 shown twice").arg(counter)));
            }
        }
        QCOMPARE(owner.begin()->first, quint64(1));
        QCOMPARE(owner.rbegin()->first, quint64(2 * presses));
        QCOMPARE(StoredCounter(directory, 1), qint64(2 * presses + 1));
        QCOMPARE(IntegrityCheck(Database(directory)), QString("ok"));
        int turns = 0;
        for (auto it = std::next(owner.begin()); it != owner.end(); ++it) {
            turns += it->second != std::prev(it)->second ? 1 : 0;
        }
        qInfo("%d turns between the two programs", turns);
        QVERIFY2(turns >= 10, "the two programs did not take turns");
    }

    // Texts a user or another program may hand to the install form: stored
    // and read back byte for byte, or refused in one clear line, and never a
    // change to another row.
    void hostileInput_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<QByteArray>("seed");
        QTest::addColumn<bool>("stored");

        const QByteArray serial(Serial);
        const QByteArray seed(Seed);
        const QByteArray mebibyte(1 << 20, 'x');
        const auto row = [&](const char* title, const QByteArray& n, const QByteArray& s,
                             const QByteArray& k,
                             bool stored) { QTest::newRow(title) << n << s << k << stored; };
        row("quote", "O'Brien", serial, seed, true);
        row("statement end in the name", "x'); DELETE FROM tblToken; --", serial, seed, true);
        row("statement end in the serial", "n", serial + "'); DROP TABLE tblSystem; --", seed,
            true);
        row("percent conversions", "%s%s%n%q%Q%z%d 100%", serial + "%s%n", seed, true);
        row("quotes and backslashes", "\"\\'\\\"`", serial + "\\'", seed, true);
        row("control characters", "\x01\x02\t\r\n\x1b[2J\x7f", serial + "\n\r", seed, true);
        row("not UTF-8", "\xff\xfe\xc3\x28\xed\xa0\x80\xc0\xaf", serial + "\xff\x80", seed, true);
        row("blanks only", "   ", serial, seed, true);
        row("1 MiB name", "'" + mebibyte + "%q'", serial, seed, true);
        row("1 MiB serial", "n", serial + "%" + mebibyte + "'", seed, true);
        row("quote and percent in the seed's key text", "n", serial, "1200000'%s;--\"x%q6", true);
        row("empty name", "", serial, seed, false);
        row("empty serial", "n", "", seed, false);
        row("empty seed", "n", serial, "", false);
        row("1 MiB seed", "n", serial, seed + mebibyte, false);
        row("seed with a quote added", "n", serial, seed + "'", false);
        // The engine takes the blanks for zeros (version, flags and check digits).
        row("seed of blanks", "n", "0", QByteArray(18, ' '), false);
    }

    void hostileInput()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, serial);
        QFETCH(QByteArray, seed);
        QFETCH(bool, stored);

        Problems problems;
        const QString directory = MakeStore({"Keep"}, problems);
        QVERIFY2(problems.list.isEmpty(), problems.report());
        const QString file = Database(directory);
        const QMap<QString, QByteArray> before = Rows(file);

        const Outcome run =
            Run(Driver(directory, QStringList{"install-files"} + TextFiles({name, serial, seed})));
        const Outcome list = Run(Driver(directory, {"list"}));
        QCOMPARE(CleanSuccess(list), QString());
        QCOMPARE(IntegrityCheck(file), QString("ok"));
        const QMap<QString, QByteArray> after = Rows(file);
        if (!stored) {
            QCOMPARE(CleanFailure(run, 3, "velmora_driver: install-files: "), QString());
            QCOMPARE(UnchangedBesides(before, after, {}), QString());
            return;
        }
        QCOMPARE(CleanSuccess(run), QString());
        QCOMPARE(run.out, QByteArray("installed 2\n"));
        const QList<QByteArray> lines = list.out.split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[1].startsWith(ListLine(2, name, serial)));
        QCOMPARE(UnchangedBesides(before, after, {"tblToken/2", "tblSystem/2"}), QString());
        QCOMPARE(Value(file, "select IntValue from tblSystem where Name='DefaultToken'"),
                 QString("2"));
        // The new token works, and the old one still does.
        for (const Outcome& press :
             RunAll({Driver(directory, {"press", "2"}), Driver(directory, {"press", "1"})})) {
            QCOMPARE(CleanSuccess(press), QString());
        }
    }
};

QTEST_GUILESS_MAIN(FaultTest)

#include "tst_faults.moc"
