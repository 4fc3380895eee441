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
#include "support/FileKeyProvider.h"
#include "support/TempDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace faults;

namespace {

const char* const Serial = "12345678";
const char* const Seed = "1200000ABCDEFGHIJ6"; // an HOTP token
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

QString Integrity(const QString& directory)
{
    return Value(Database(directory), "PRAGMA integrity_check");
}

// A store in `directory` (a new one if empty) with the PIN 2468 and the given
// HOTP tokens (IDs 1, 2, ... in order), the last one selected. Row 1 of
// tblSystem holds the PIN, row 2 the selection.
QString MakeStore(const QStringList& names, QString directory = QString())
{
    directory = directory.isEmpty() ? Temp() : directory;
    LocalDatabase database(directory.toStdString());
    database.SetPin("2468");
    for (const QString& name : names) {
        database.SaveToken(COtpToken::Create(name.toUtf8().constData(), Serial, Seed));
    }
    return directory;
}

QString CopyStore(const QString& from)
{
    QString directory = Temp();
    QFile::copy(Database(from), Database(directory));
    // The keyring stand-in's keys go along.
    for (const QString& key : QDir(from).entryList({"key-*"}, QDir::Files)) {
        QFile::copy(from + "/" + key, directory + "/" + key);
    }
    return directory;
}

// The first number of each line a run printed: the counter of each code a
// press showed ("COUNTER CODE"), the ID of each token a list showed.
QList<quint64> FirstNumbers(const QByteArray& out)
{
    QList<quint64> numbers;
    for (const QByteArray& line : out.split('\n')) {
        if (!line.isEmpty()) {
            numbers << line.split(' ').value(0).toULongLong();
        }
    }
    return numbers;
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
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0
               ? static_cast<int>(status.st_mode & 07777)
               : -1;
}

void Chmod(const QString& path, int mode)
{
    ::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode));
}

QByteArray Contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// "" when the rows other than `keys` are byte for byte as they were.
QString UnchangedBesides(const QMap<QString, QByteArray>& before,
                         const QMap<QString, QByteArray>& after, const QStringList& keys = {})
{
    QStringList changed;
    for (const QString& key : before.keys() + after.keys()) {
        if (!keys.contains(key) && !changed.contains(key) &&
            before.value(key) != after.value(key)) {
            changed << key;
        }
    }
    return changed.isEmpty() ? QString() : "rows changed: " + changed.join(", ");
}

// A token row with its Credential left out: what a press must not change.
QByteArray WithoutCredential(const QByteArray& row)
{
    QList<QByteArray> columns = row.split(' ');
    columns.removeIf([](const QByteArray& column) { return column.startsWith("Credential="); });
    return columns.join(' ');
}

// One run hurt at one point (the Nth call of a syscall), and the user's next
// step after it, in a store of its own.
struct HurtRun
{
    QString where;
    QString root;          // a home for the real program
    QString directory;     // the store
    bool hit = false;      // the fault was injected
    bool killed = false;   // and it was a kill
    bool reported = false; // the hurt run reported success
    Outcome run;
    Outcome next;
    bool left = false; // the hurt run left a database or journal behind
    QMap<QString, QByteArray> before;
    QMap<QString, QByteArray> after;
};

// Problems of one case, gathered so that one failure does not hide the rest.
void Check(QStringList& problems, bool ok, const HurtRun& r, const QString& what)
{
    if (!ok) {
        problems << r.where + ": " + what;
    }
}

void Expect(QStringList& problems, const HurtRun& r, const QString& problem)
{
    Check(problems, problem.isEmpty(), r, problem);
}

// All or nothing: the change (to the rows `keys`) exactly when reported.
void CheckAllOrNothing(const HurtRun& r, QStringList& problems, bool changed,
                       const QStringList& keys)
{
    Check(problems, r.killed || changed == r.reported, r,
          r.reported ? "reported done, not stored" : "reported failed, but stored");
    Expect(problems, r, UnchangedBesides(r.before, r.after, changed ? keys : QStringList()));
}

// The new row, named and selected, or nothing at all.
void CheckInstall(const HurtRun& r, QStringList& problems)
{
    const bool stored = r.after.contains("tblToken/3");
    CheckAllOrNothing(r, problems, stored, {"tblToken/3", "tblSystem/2"});
    Check(problems, r.next.out.count('\n') == (stored ? 3 : 2), r, "the list after the install");
    const QString file = Database(r.directory);
    Check(problems, !stored || Value(file, "select Name from tblToken where ID=3") == "New", r,
          "the new row holds something else");
    Check(problems,
          !stored || Value(file, "select IntValue from tblSystem where Name='DefaultToken'") == "3",
          r, "the new token was stored but not selected");
}

// Two presses of token 2 (counter 2 next), then one more: never a counter
// twice, none lost by a failed press (a kill may cost one), and nothing but
// the Credential of token 2 rewritten.
void CheckPresses(const HurtRun& r, QStringList& problems)
{
    const QList<quint64> first = FirstNumbers(r.run.out);
    const QList<quint64> next = FirstNumbers(r.next.out);
    Check(problems, first == QList<quint64>({2, 3}).mid(0, first.size()), r,
          "shown before the fault: " + r.run.out);
    const quint64 lowest = 2 + quint64(first.size());
    Check(problems,
          next == QList<quint64>{lowest} || (r.killed && next == QList<quint64>{lowest + 1}), r,
          "after " + r.run.out + " the restart showed " + r.next.out);
    const qint64 stored = StoredCounter(r.directory, 2);
    Check(problems, stored == qint64(next.value(0)) + 1, r,
          QStringLiteral("stored counter %1").arg(stored));
    Check(problems,
          WithoutCredential(r.after.value("tblToken/2")) ==
              WithoutCredential(r.before.value("tblToken/2")),
          r, "the press rewrote more than the counter");
    Expect(problems, r, UnchangedBesides(r.before, r.after, {"tblToken/2"}));
}

// The PIN 2468 changed to 1357: the old PIN or the new one, never neither.
void CheckPinChange(const HurtRun& r, QStringList& problems)
{
    const bool changed = r.after.value("tblSystem/1") != r.before.value("tblSystem/1");
    CheckAllOrNothing(r, problems, changed, {"tblSystem/1"});
    Check(problems, r.next.out == (changed ? "pin matches\n" : "pin does not match\n"), r,
          "the new PIN after the restart: " + r.next.out);
}

// Switching the protection: every secret in one form, the mode row agreeing,
// all readable in that mode by the next start, and changed exactly when reported.
void CheckProtection(const HurtRun& r, QStringList& problems)
{
    const QString file = Database(r.directory);
    const QString keyring = Value(file, "select count(*) from tblSystem where Name='KeyringStore'");
    const QString form = keyring == "1" ? "kr1:%" : "enc:%";
    Check(problems,
          Value(file, "select count(*) from tblToken where Credential not like '" + form + "'") ==
                  "0" &&
              Value(file, "select count(*) from tblSystem where Name='PIN' and StringValue "
                          "like '" +
                              form + "'") == "1",
          r, "secrets in a form the mode row does not name");
    Check(problems, r.killed || (r.after != r.before) == r.reported, r,
          r.reported ? "reported done, not stored" : "reported failed, but stored");
    Check(problems, r.next.out == "unusable \n", r, "token 2 after the restart: " + r.next.out);
    LocalDatabase database(r.directory.toStdString());
    testsupport::CFileKeyProvider keys(r.directory.toStdString());
    database.SetStoreKeyProvider(&keys);
    database.LoadStoreKey();
    const std::vector<COtpTokenPtr> tokens = database.GetAllTokens();
    Check(problems,
          database.CheckPin("2468") && tokens.size() == 2 &&
              std::all_of(tokens.begin(), tokens.end(),
                          [](const COtpTokenPtr& t) { return t->GetUnusableReason().empty(); }),
          r, "a secret unreadable in the store's mode");
}

// The first start of the real program on a full disk: it either creates a
// whole database, the owner's alone, or reports and leaves no file behind;
// started again on a disk with room, it makes a store with a PIN.
void CheckFirstStart(const HurtRun& r, QStringList& problems)
{
    // (A kill leaves its file for the next start to roll back.)
    Check(problems, r.killed || r.reported || !r.left, r, "a database or journal was left behind");
    Check(problems,
          Value(Database(r.directory), "select count(*) from tblSystem where Name='PIN' and "
                                       "length(StringValue)>0") == "1",
          r, "no PIN stored: the user would be locked out");
    // Created under umask 000, still the owner's alone.
    Check(problems, FileMode(r.directory) == 0700 && FileMode(Database(r.directory)) == 0600, r,
          "the data directory or file is not the owner's alone");
}

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// The driver's install, its texts each in a file of its own.
QStringList Install(const QList<QByteArray>& texts = {"New", Serial, Seed})
{
    const QString directory = Temp();
    QStringList arguments{"install"};
    for (const QByteArray& text : texts) {
        arguments << directory + "/" + QString::number(arguments.size());
        Write(arguments.last(), text);
    }
    return arguments;
}

// Whether a process of the program's user, its parent even, can open the
// program's /proc/PID/mem once the program waits (for its standard input, on
// a full standard output, or for its window's events): 1 opened, 0 refused,
// -1 the program never got to wait. As the user nobody when the test runs as
// root, whom nothing is refused. `command` starts with `env` and settings.
int MemoryOpenedByParent(const QStringList& command, const QString& program)
{
    std::vector<std::string> strings;
    std::vector<char*> argv;
    for (const QString& part : command) {
        strings.push_back(part.toStdString());
    }
    argv.reserve(strings.size() + 1);
    for (std::string& part : strings) {
        argv.push_back(part.data());
    }
    argv.push_back(nullptr);
    const std::string waiting = "(" + QFileInfo(program).fileName().left(15).toStdString() + ") S";
    const pid_t parent = fork();
    if (parent == 0) {
        int input[2];
        int output[2];
        static char fill[4096];
        if ((geteuid() == 0 &&
             (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) ||
            pipe(input) != 0 || pipe2(output, O_NONBLOCK) != 0) {
            _exit(4);
        }
        while (write(output[1], fill, sizeof fill) > 0) {
        }
        fcntl(output[1], F_SETFL, 0);
        const pid_t child = fork();
        if (child == 0) {
            dup2(input[0], 0);
            dup2(output[1], 1);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        char path[64];
        char stat[256] = {};
        int result = 3;
        for (int tries = 0; tries < 600 && result == 3; ++tries, usleep(50000)) {
            std::snprintf(path, sizeof path, "/proc/%d/stat", child);
            const int file = open(path, O_RDONLY);
            stat[std::max<ssize_t>(file >= 0 ? read(file, stat, sizeof stat - 1) : 0, 0)] = 0;
            close(file);
            if (std::strstr(stat, waiting.c_str()) != nullptr) {
                std::snprintf(path, sizeof path, "/proc/%d/mem", child);
                const int memory = open(path, O_RDONLY);
                result = memory >= 0 ? 1 : errno == EACCES ? 0 : 4;
                close(memory);
            }
        }
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        _exit(result);
    }
    int status = 0;
    waitpid(parent, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) < 2 ? WEXITSTATUS(status) : -1;
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
        struct statvfs memory = {};
        if (qEnvironmentVariableIsEmpty("TMPDIR") && statvfs("/dev/shm", &memory) == 0 &&
            memory.f_bavail * memory.f_frsize > 256ULL << 20 && access("/dev/shm", W_OK) == 0) {
            qputenv("TMPDIR", "/dev/shm");
        }
    }

    // An I/O error, a full disk or a kill at every write, sync and unlink
    // point of an install, of two presses, of a PIN change and of the real
    // program's first start in turn, each followed by the user's next step in
    // a new start of the program.
    void injectedFaults_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("syscalls");

        const QString sync = "pwrite64,fdatasync,fsync,ftruncate";
        for (const QString& operation : QStringList{"install", "press", "pin-set"}) {
            const QByteArray name = operation.toLatin1();
            QTest::addRow("%s, I/O error", name.constData())
                << operation << "error=EIO" << sync + ",unlink";
            if (operation != "pin-set") {
                QTest::addRow("%s, disk full", name.constData())
                    << operation << "error=ENOSPC" << sync;
                QTest::addRow("%s, killed", name.constData())
                    << operation << "signal=KILL" << sync + ",unlink,write";
            }
        }
        for (const char* operation : {"protect-keyring", "protect-file"}) {
            QTest::addRow("%s, killed", operation)
                << operation << "signal=KILL" << sync + ",unlink,write";
        }
        QTest::newRow("first start, disk full") << "start"
                                                << "error=ENOSPC" << sync;
        QTest::newRow("first start, killed") << "start"
                                             << "signal=KILL" << sync + ",unlink,write";
    }

    void injectedFaults()
    {
        QFETCH(QString, operation);
        QFETCH(QString, fault);
        QFETCH(QString, syscalls);
        if (!StraceUsable()) {
            QSKIP(StraceMissing);
        }
        struct Steps
        {
            QStringList hurt;
            QStringList next;
            void (*check)(const HurtRun&, QStringList&);
        };
        const Steps step =
            QMap<QString, Steps>{
                {"install", {Install(), {"list"}, CheckInstall}},
                {"press", {{"press", "2", "2"}, {"press", "2"}, CheckPresses}},
                {"pin-set", {{"pin-set", "1357"}, {"pin-check", "1357"}, CheckPinChange}},
                {"protect-keyring",
                 {{"protect", "keyring", "2468"}, {"get", "2"}, CheckProtection}},
                {"protect-file", {{"protect", "file", "2468"}, {"get", "2"}, CheckProtection}},
                {"start", {{}, {}, CheckFirstStart}},
            }
                .value(operation);
        // The real program's store is in its home; it reports a start without a display.
        const bool start = operation == "start";
        const auto command = [&](const QString& root, const QStringList& arguments) {
            return start ? Program(root) : Driver(root, arguments);
        };
        const auto succeeded = [&](const Outcome& outcome) {
            return start ? Clean(outcome, 1, NoDisplay) : Clean(outcome, 0);
        };

        // PIN 2468; token 1 stays untouched; token 2, pressed once, holds
        // bytes in a column no form writes, which a press must leave alone.
        // The first start begins in an empty home.
        const QString base = start ? Temp() : MakeStore({"Keep", "Press"});
        if (!start) {
            QVERIFY(LocalDatabase(base.toStdString()).ReserveCounter(2).Counter);
            QCOMPARE(Value(Database(base), "update tblToken set Description=x'00ff' where ID=2",
                           SQLITE_OPEN_READWRITE),
                     QString());
        }
        if (operation == "protect-file") {
            LocalDatabase database(base.toStdString());
            testsupport::CFileKeyProvider keys(base.toStdString());
            database.SetStoreKeyProvider(&keys);
            QCOMPARE(database.SetProtection(LocalDatabase::Protection::Keyring, "2468"),
                     LocalDatabase::ProtectionChange::Done);
        }
        const QMap<QString, QByteArray> before = Rows(Database(base));

        // A clean run shows which calls there are to hurt.
        QStringList problems;
        const QString dry = CopyStore(base);
        const Outcome clean = Run(Traced(command(dry, step.hurt), syscalls, dry + "/strace.log"));
        QVERIFY2(succeeded(clean).isEmpty(), qPrintable(succeeded(clean)));
        const QString log = QString::fromLatin1(Contents(dry + "/strace.log"));
        std::vector<HurtRun> runs;
        std::vector<Command> commands;
        for (const QString& syscall : syscalls.split(',')) {
            const auto calls = log.count(QRegularExpression("^\\d+\\s+" + syscall + "\\(",
                                                            QRegularExpression::MultilineOption));
            for (int n = 1; n <= calls; ++n) {
                HurtRun r;
                r.where = QStringLiteral("%1 #%2").arg(syscall).arg(n);
                r.root = CopyStore(base);
                r.directory = r.root + (start ? "/.velmora" : "");
                r.before = before;
                commands.push_back(Traced(command(r.root, step.hurt), syscalls,
                                          r.root + "/strace.log",
                                          syscall + ":" + fault + ":when=" + QString::number(n)));
                runs.push_back(r);
            }
        }
        QVERIFY(!runs.empty());
        std::vector<Outcome> outcomes = RunAll(commands);
        commands.clear();
        int hit = 0;
        int journals = 0;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            HurtRun& r = runs[i];
            r.run = outcomes[i];
            const QByteArray traced = Contents(r.root + "/strace.log");
            r.killed = fault.startsWith("signal") && traced.contains("killed by SIGKILL");
            r.hit = r.killed || traced.contains("(INJECTED)");
            hit += r.hit ? 1 : 0;
            r.reported = succeeded(r.run).isEmpty();
            // The hurt run: killed, or a success, or one clear line.
            if (r.killed) {
                Check(problems, r.run.crashed, r, "survived a kill");
            } else if (!r.hit || r.reported) {
                Expect(problems, r, succeeded(r.run));
            } else {
                Expect(problems, r,
                       Clean(r.run, 1,
                             start ? "Velmora: cannot open the database " + Database(r.directory) +
                                         ": "
                                   : "velmora_driver: " + operation + ": "));
            }
            // What a kill leaves behind must be as private as the database.
            const int mode = FileMode(Database(r.directory) + "-journal");
            journals += mode != -1 ? 1 : 0;
            Check(problems, mode == -1 || mode == 0600, r,
                  QStringLiteral("journal mode %1").arg(mode, 0, 8));
            r.left = mode != -1 || QFile::exists(Database(r.directory));
            commands.push_back(command(r.root, step.next));
        }
        outcomes = RunAll(commands);
        for (std::size_t i = 0; i < runs.size(); ++i) {
            HurtRun& r = runs[i];
            r.next = outcomes[i];
            r.after = Rows(Database(r.directory));
            Expect(problems, r, succeeded(r.next));
            // (A journal that is not hot may stay until the next write; a hot
            // one fails this check, which opens the file read-only.)
            const QString integrity = Integrity(r.directory);
            Check(problems, integrity == "ok", r, "integrity: " + integrity);
            step.check(r, problems);
        }
        qInfo("%s: %d points, %d hit, %d journals left behind", qPrintable(operation),
              int(runs.size()), hit, journals);
        QVERIFY2(hit > 0, "no fault was ever injected");
        QVERIFY2(!fault.startsWith("signal") || journals > 0, "no kill left a journal to look at");
        QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 40).join('\n')));
    }

    void unwritableStore_data()
    {
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QStringList>("operation");
        QTest::addColumn<QString>("message"); // of the failure, none for a success

        const QStringList press{"press", "2"};
        const QStringList install = Install();
        for (const QStringList& operation : {press, install}) {
            const QByteArray name = operation[0].toLatin1();
            QTest::addRow("read-only directory: %s", name.constData())
                << "directory 0500" << operation << "attempt to write a readonly database";
            QTest::addRow("read-only database: %s", name.constData())
                << "database 0400" << operation << "Permission denied";
            QTest::addRow("file-size limit: %s", name.constData())
                << "limit 8192" << operation << "disk I/O error";
        }
        QTest::newRow("read-only directory: list") << "directory 0500" << QStringList{"list"} << "";
        // A press killed with its journal hot, then the directory made read-only:
        // the journal cannot be rolled back, so nothing may be read past it.
        QTest::newRow("hot journal, read-only directory: list")
            << "hot-journal 0500" << QStringList{"list"} << "cannot open the database";
        QTest::newRow("hot journal, read-only directory: press")
            << "hot-journal 0500" << press << "cannot open the database";
        // Locks held for `hold` ms, from the start or taken `delay` ms after it.
        // (An exclusive lock at the start: tst_startup's locked state.)
        QTest::newRow("writer's lock outlasts the wait: start")
            << "immediate 8000 0" << install << "database is locked";
        QTest::newRow("writer's lock taken after the start outlasts the wait: press")
            << "immediate 8000 500" << QStringList{"press", "2", "1", "1000"}
            << "database is locked";
        QTest::newRow("brief exclusive lock is waited out") << "exclusive 500 0" << press << "";
    }

    void unwritableStore()
    {
        QFETCH(QString, condition);
        QFETCH(QStringList, operation);
        QFETCH(QString, message);
        const int status = message.isEmpty() ? 0 : 1;

        const QString directory = MakeStore({"Keep", "Press"});
        const QString file = Database(directory);
        const QMap<QString, QByteArray> before = Rows(file);

        const QStringList words = condition.split(' ');
        Outcome run;
        if (words.size() == 3) {
            const int hold = words[1].toInt();
            const int delay = words[2].toInt();
            std::unique_ptr<QThread> runner(
                QThread::create([&] { run = Run(Driver(directory, operation)); }));
            if (delay > 0) {
                runner->start();
                QThread::msleep(static_cast<unsigned long>(delay));
            }
            // Held until destroyed: closing the connection rolls back.
            auto lock = std::make_unique<Statement>(file, SQLITE_OPEN_READWRITE,
                                                    "begin " + words[0].toLatin1());
            lock->step();
            QCOMPARE(lock->error, QString());
            if (delay == 0) {
                runner->start();
            }
            const bool endedWhileLocked = runner->wait(QDeadlineTimer(hold - delay));
            lock.reset();
            runner->wait();
            // A lock briefly held is waited for; a long one is given up on
            // after a while, and while it is still held.
            if (status == 0) {
                QVERIFY2(!endedWhileLocked, "did not wait for the lock");
            } else {
                QVERIFY2(endedWhileLocked, "still waiting for the lock");
                // Given up on at the press, after the pause, not at the start.
                const qint64 waited = run.milliseconds - (delay > 0 ? 1000 : 0);
                QVERIFY2(waited >= 1500,
                         qPrintable(QStringLiteral("gave up after %1 ms waiting").arg(waited)));
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
            const bool limit = words[0] == "limit";
            Chmod(target, limit ? 0700 : words[1].toInt(nullptr, 8));
            run = Run(limit ? Limited(Driver(directory, operation), words[1])
                            : Unprivileged(Driver(directory, operation)));
            Chmod(target, target == file ? 0600 : 0700);
            if (hot) {
                // Allowed again, the next start rolls the journal back.
                QCOMPARE(Clean(Run(Driver(directory, {"list"}))), QString());
            }
        }

        QCOMPARE(Clean(run, status, status == 0 ? "" : "velmora_driver: " + operation[0] + ": "),
                 QString());
        QVERIFY2(run.err.contains(message.toLocal8Bit()), run.err);
        QCOMPARE(Integrity(directory), QString("ok"));
        QCOMPARE(UnchangedBesides(before, Rows(file),
                                  status == 0 ? QStringList{"tblToken/2"} : QStringList{}),
                 QString());
    }

    // The real program's own start: its home from the password database, no
    // display. Where the home cannot hold the database, or its file is
    // damaged, it reports in one line that names the file, never crashes, and
    // creates and changes nothing; else it says that there is no display. The
    // token calls on a damaged file work or fail in one clear line. (A data
    // directory that is a file, a file that is not a database at all:
    // tst_startup's unopenable and damaged states.)
    void programStart_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("line");

        // After "Velmora: cannot open the database"; %1 the home's parent.
        QTest::newRow("usable home, no display") << "usable"
                                                 << "";
        QTest::newRow("no entry in the password database")
            << "no entry"
            << ": the password database gives no home directory for user id %2";
        QTest::newRow("home missing") << "home missing"
                                      << " %1/missing/.velmora/velmora.db: cannot create the "
                                         "directory %1/missing/.velmora: No such file or directory";
        QTest::newRow("home is a file") << "home file"
                                        << " %1/file/.velmora/velmora.db: cannot create the "
                                           "directory %1/file/.velmora: Not a directory";
        QTest::newRow("home read-only") << "home 0500"
                                        << " %1/.velmora/velmora.db: cannot create the directory "
                                           "%1/.velmora: Permission denied";
        QTest::newRow("data directory read-only, no database")
            << "data 0500"
            << " %1/.velmora/velmora.db: cannot open the file: Permission denied";
        // Places others could change or replace, refused before anything is
        // written ("nobody": given to that user); own loose modes are tightened.
        const QString refusing = " %1/.velmora/velmora.db: refusing %1";
        QTest::newRow("home 0777") << "home=0777" << refusing + ": anybody can write to it";
        QTest::newRow("home 1777") << "home=1777"
                                   << "";
        QTest::newRow("nobody's data 0777, database 0666")
            << "data=0777,nobody database=0666,nobody" << refusing + "/.velmora: it belongs to";
        QTest::newRow("nobody's database")
            << "database=0600,nobody" << refusing + "/.velmora/velmora.db: it belongs";
        QTest::newRow("database 0666")
            << "database=0666" << refusing + "/.velmora/velmora.db: users other";
        QTest::newRow("database 0660")
            << "database=0660" << refusing + "/.velmora/velmora.db: users other";
        QTest::newRow("database symlink")
            << "database=symlink" << refusing + "/.velmora/velmora.db: it is a symbolic";
        QTest::newRow("nobody's journal symlink")
            << "journal=symlink,nobody" << refusing + "/.velmora/velmora.db-journal: it is a";
        QTest::newRow("own data 0755, database 0644") << "data=0755 database=0644"
                                                      << "";
        QTest::newRow("UTF-16") << "UTF-16"
                                << " %1/.velmora/velmora.db: its text encoding is";
        QTest::newRow("file-size limit 0") << "limit"
                                           << " %1/.velmora/velmora.db: disk I/O error:";
        // Damaged files: the line is whatever SQLite finds wrong with them.
        for (const char* damage :
             {"truncate 4096", "truncate 10000", "truncate 60", "page size", "index", "flips 1",
              "flips 2", "flips 3", "flips 4", "flips 5", "flips 6"}) {
            QTest::addRow("damaged: %s", damage) << damage << "";
        }
    }

    void programStart()
    {
        QFETCH(QString, state);
        QFETCH(QString, line);

        const QString base = Temp();
        const QString home = base + (state == "home missing" ? "/missing"
                                     : state == "home file"  ? "/file"
                                                             : "");
        const QString data = home + "/.velmora";
        const QString file = Database(data);
        const bool damaged = state.startsWith("truncate") || state.startsWith("flips") ||
                             state == "page size" || state == "index";
        const bool opens = state == "usable" || state == "home=1777" || state.contains("0755");
        QByteArray bytes;
        if (state.contains('=')) {
            // "PART=MODE|symlink[,nobody] ...": a store with its parts changed so.
            if (!state.startsWith("home")) {
                MakeStore({"One"}, data);
            }
            QVERIFY(Write(base + "/elsewhere", ""));
            Chmod(base + "/elsewhere", 0644);
            const QMap<QString, QString> parts{
                {"home", home}, {"data", data}, {"database", file}, {"journal", file + "-journal"}};
            for (const QString& change : state.split(' ')) {
                const QString path = parts.value(change.section('=', 0, 0));
                const QString how = change.section('=', 1);
                if (how.startsWith("symlink")) {
                    QFile::remove(path);
                    QVERIFY(QFile::link(base + "/elsewhere", path));
                } else {
                    Chmod(path, how.section(',', 0, 0).toInt(nullptr, 8));
                }
                if (how.endsWith(",nobody") &&
                    (geteuid() != 0 || ::lchown(qPrintable(path), 65534, 65534) != 0)) {
                    QSKIP("giving a file to the user nobody needs root");
                }
            }
        } else if (state == "UTF-16") {
            QVERIFY(QDir(home).mkdir(".velmora"));
            Run(Command{"sqlite3", {file, "pragma encoding='UTF-16le'; create table t(x)"}});
            Chmod(data, 0700);
            Chmod(file, 0600);
        } else if (state == "home file") {
            QVERIFY(Write(home, ""));
        } else if (state == "data 0500") {
            QVERIFY(QDir(home).mkdir(".velmora"));
            Chmod(home + "/.velmora", 0500);
        } else if (state == "home 0500") {
            Chmod(home, 0500);
        } else if (damaged) {
            MakeStore({"One", "Two", "Three"}, home + "/.velmora");
            bytes = Contents(file);
        }
        if (state.startsWith("truncate")) {
            bytes.truncate(state.mid(9).toInt());
        } else if (state == "page size") {
            bytes[16] = 0;
            bytes[17] = 3;
        } else if (state == "index") {
            // A key of tblSystem's unique index that no row has: only the full
            // check finds it, and it would let a setting be stored twice.
            const int page = Value(file, "select rootpage from sqlite_master where "
                                         "name='sqlite_autoindex_tblSystem_1'")
                                 .toInt();
            const int at = int(bytes.indexOf("DefaultToken", qsizetype(page - 1) * 4096));
            QVERIFY(page > 1 && at > 0 && Value(file, "pragma page_size") == "4096");
            bytes[at + 11] = 'm';
        } else if (state.startsWith("flips")) {
            // Flips anywhere past the file header, the same in every run.
            std::mt19937 random(state.mid(6).toUInt());
            std::uniform_int_distribution<int> offset(100, static_cast<int>(bytes.size()) - 1);
            for (int i = 0; i < 24; ++i) {
                const int at = offset(random);
                bytes[at] = static_cast<char>(bytes[at] ^ (1 + random() % 255));
            }
        }
        const bool more = state.contains('=') || state == "UTF-16" || state == "limit";
        QString expected = "Velmora: cannot open the database" + line + (more ? "" : "\n");
        expected.replace("%1", base).replace("%2", QString::number(getuid()));
        if (opens) {
            expected = NoDisplay;
        }
        if (state.contains("0755")) {
            expected.prepend(data +
                             " could be read by users other than you (mode 0755): changed to "
                             "mode 0700\n" +
                             file +
                             " could be read by users other than you "
                             "(mode 0644): changed to mode 0600\n");
        }
        if (damaged) {
            QVERIFY(Write(file, bytes));
            // What SQLite itself finds wrong, on a copy the check cannot change.
            const QString copy = CopyStore(home + "/.velmora");
            expected = Integrity(copy) != "ok" ? "Velmora: cannot open the database " + file + ": "
                                               : QString(NoDisplay);
            // The token calls, on the copy: whatever a start lets through, they
            // work or fail in one clear line.
            for (const QStringList& call : {QStringList{"list"}, QStringList{"press", "2"}}) {
                const Outcome used = Run(Driver(copy, call));
                QCOMPARE(Clean(used, used.status,
                               used.status == 0 ? "" : "velmora_driver: " + call[0] + ": "),
                         QString());
            }
        }
        bytes = Contents(file);
        const bool existed = QFile::exists(file);
        const Command program = Program(state == "no entry" ? QString() : home);
        const Outcome run = Run(Unprivileged(state == "limit" ? Limited(program, "0") : program));
        Chmod(base, 0700);
        Chmod(base + "/.velmora", 0700);

        QCOMPARE(Clean(run, 1, expected), QString());
        QCOMPARE(QFile::exists(file), opens || existed);
        QVERIFY2(opens || Contents(file) == bytes, "a refused file was changed");
        QVERIFY2(!state.contains("0755") || (FileMode(data) == 0700 && FileMode(file) == 0600),
                 "loose modes were not tightened");
    }

    // A row this program cannot use, damaged or written by another program: a
    // protected value that does not decode, an ID or numbers this program
    // would never write. It costs only itself: it is listed where its ID can be
    // addressed (so that it can be removed), a press of it is refused before a
    // counter is consumed, it is never written, installing still inserts a new
    // row, and the good token still works.
    void oddRow_data()
    {
        QTest::addColumn<qint64>("id");
        QTest::addColumn<QString>("change"); // an assignment to the odd row

        const QByteArray keys =
            QByteArray(20, 'k').toBase64() + ',' + QByteArray(20, 'K').toBase64() + ',';
        const auto credential = [](const char* title, const QByteArray& value) {
            QTest::newRow(title) << qint64(5)
                                 << (value.isNull()
                                         ? QString("Credential=NULL")
                                         : "Credential=CAST(X'" + value.toHex() + "' AS TEXT)");
        };
        // A protected value as the program writes it, its last block hurt.
        const auto damaged = [&keys](const char* counter) {
            const std::string plain = keys.toStdString() + counter;
            QByteArray cipher = QByteArray::fromBase64(QByteArray::fromStdString(
                LocalDatabase(Temp().toStdString()).Encrypt(plain).substr(4)));
            cipher[cipher.size() - 3] = static_cast<char>(cipher[cipher.size() - 3] ^ 0x5a);
            return "enc:" + cipher.toBase64();
        };
        credential("last block damaged", damaged("1"));
        credential("seven-digit counter, last block damaged", damaged("1234567"));
        credential("counter with a sign", keys + "+5");
        credential("counter not a number", keys + "12x");
        credential("counter at its largest", keys + "18446744073709551615");
        credential("counter beyond 64 bits", keys + "18446744073709551616");
        credential("two parts", keys.chopped(1));
        credential("key beyond 128 bytes",
                   QByteArray(20, 'k').toBase64() + ',' + QByteArray(200, 'K').toBase64() + ",7");
        credential("nothing after the prefix", "enc:");
        credential("not Base64 after the prefix", "enc:%%%%%%%%");
        credential("empty", "");
        credential("NULL", QByteArray());
        QTest::newRow("ID 0") << qint64(0) << "Name='Odd'";
        QTest::newRow("ID beyond 32 bits") << (qint64(1) << 32) + 1 << "Name='Odd'";
        for (const char* change : {"Digits=0", "Digits=13", "Digits='six'", "Timer=-2147483648",
                                   "TokenType=4294967300"}) {
            QTest::newRow(change) << qint64(5) << change;
        }
    }

    void oddRow()
    {
        QFETCH(qint64, id);
        QFETCH(QString, change);

        const QString directory = MakeStore({"Good"});
        const QString file = Database(directory);
        // A copy of the good row, its secret included, under the odd ID, then changed.
        for (const QString& statement :
             {QStringLiteral("insert into tblToken (ID, TokenType, Name, Serial, Credential, "
                             "Digits, Timer, Sleep, Status) select %1, TokenType, 'Odd', Serial, "
                             "Credential, Digits, Timer, Sleep, Status from tblToken where ID=1"),
              "update tblToken set " + change + " where ID=%1"}) {
            QCOMPARE(Value(file, statement.arg(id), SQLITE_OPEN_READWRITE), QString());
        }
        const QMap<QString, QByteArray> before = Rows(file);

        // The odd row, left out of the list, cannot be deleted by the user; the
        // IDs after it do not fit in 32 bits either.
        const Outcome install = Run(Driver(directory, Install()));
        QCOMPARE(Clean(install), QString());
        const QString installed = QString::fromLatin1(install.out.mid(10).trimmed());
        QVERIFY2(install.out.startsWith("installed ") && installed != QString::number(id),
                 install.out);
        std::vector<Command> calls{Driver(directory, {"press", "1"}), Driver(directory, {"list"})};
        if (id == 5) {
            calls.push_back(Driver(directory, {"get", "5"}));
            calls.push_back(Driver(directory, {"press", "5"}));
        }
        const std::vector<Outcome> runs = RunAll(calls);
        QCOMPARE(Clean(runs[0]), QString());
        QCOMPARE(FirstNumbers(runs[0].out), QList<quint64>{1});
        const QList<quint64> listed = FirstNumbers(runs[1].out);
        if (id > INT32_MAX) {
            // A row that cannot be addressed is left out of the list, and said so.
            QCOMPARE(runs[1].status, 0);
            QCOMPARE(runs[1].err, "the token row " + QByteArray::number(id) + " in " +
                                      file.toLocal8Bit() +
                                      " is left out: its ID does not fit in 32 bits\n");
            QCOMPARE(listed, (QList<quint64>{1, installed.toULongLong()}));
        } else {
            QCOMPARE(Clean(runs[1]), QString());
            QVERIFY2(listed.contains(1) && listed.contains(quint64(id)), runs[1].out);
        }
        if (id == 5) {
            if (change.startsWith("Credential")) {
                QCOMPARE(Clean(runs[2]), QString());
                QVERIFY2(runs[2].out.startsWith("unusable ") && runs[2].out != "unusable \n",
                         "the row looks usable: " + runs[2].out);
            }
            QVERIFY2(runs[3].out.isEmpty(), "a code was shown: " + runs[3].out);
            QCOMPARE(Clean(runs[3], 3, "velmora_driver: press: token 5 cannot compute"), QString());
        }

        QCOMPARE(Integrity(directory), QString("ok"));
        const QMap<QString, QByteArray> after = Rows(file);
        QCOMPARE(WithoutCredential(after.value("tblToken/1")),
                 WithoutCredential(before.value("tblToken/1")));
        QCOMPARE(
            UnchangedBesides(before, after, {"tblToken/1", "tblToken/" + installed, "tblSystem/2"}),
            QString());
        QCOMPARE(StoredCounter(directory, 1), qint64(2));
    }

    // Two programs pressing one HOTP token, interleaved: every press gets a
    // counter of its own, and none is lost.
    void concurrentPresses()
    {
        const qsizetype presses = 300;
        const QString directory = MakeStore({"Shared"});

        // A short pause before each press, as between a user's, lets the other
        // program in: the two take turns rather than one after the other.
        const QStringList press{"press", "1", QString::number(presses), "2"};
        const std::vector<Outcome> runs =
            RunAll({Driver(directory, press), Driver(directory, press)});
        QList<quint64> all;
        int turns = 0; // the other program pressed between two presses of one
        for (const Outcome& run : runs) {
            QCOMPARE(Clean(run), QString());
            const QList<quint64> counters = FirstNumbers(run.out);
            QCOMPARE(counters.size(), presses);
            all += counters;
            for (qsizetype i = 1; i < presses; ++i) {
                turns += counters[i] != counters[i - 1] + 1 ? 1 : 0;
            }
        }
        // Every counter from 1 once, none twice, none lost.
        std::sort(all.begin(), all.end());
        QList<quint64> expected(2 * presses);
        std::iota(expected.begin(), expected.end(), 1);
        QCOMPARE(all, expected);
        QCOMPARE(StoredCounter(directory, 1), qint64(2 * presses + 1));
        QCOMPARE(Integrity(directory), QString("ok"));
        qInfo("%d turns between the two programs", turns);
        QVERIFY2(turns >= 10, "the two programs did not take turns");
    }

    // Keys stay out of other programs' reach: not even the parent of a Velmora
    // program, running as the same user, can read its memory. An ordinary
    // program shows that it could otherwise.
    void memoryOutOfReach_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("readable");
        QTest::newRow("velmora") << VELMORA_EXECUTABLE << QStringList() << false;
        QTest::newRow("velmora-seed")
            << VELMORA_SEED_TOOL << QStringList{"new", "--serial", Serial} << false;
        QTest::newRow("velmora-cli")
            << VELMORA_CLI << QStringList{"list", "--pin-fd", "0"} << false;
        QTest::newRow("an ordinary program") << "cat" << QStringList() << true;
    }

    void memoryOutOfReach()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(bool, readable);
        // A home of its own for the user the program runs as.
        const uid_t user = geteuid() == 0 ? 65534 : geteuid();
        const QString home = Temp();
        QVERIFY(chown(QFile::encodeName(home).constData(), user, user) == 0);
        QProcessEnvironment environment;
        testsupport::UseScratchHome(environment, home, user);
        QStringList command{"env", "HOME=" + home, "XDG_RUNTIME_DIR=" + home};
        for (const QString& name : environment.keys()) {
            command << name + '=' + environment.value(name);
        }
        QCOMPARE(MemoryOpenedByParent(command << program << arguments, program), readable ? 1 : 0);
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
        // (Each text column with every one of these, through storage alone: test_localdatabase.)
        row("quotes, statement ends, percent conversions",
            "O'Brien'); DELETE FROM tblToken; -- %s%s%n%q%Q%z%d 100% \"\\'\\\"`",
            serial + "'); DROP TABLE tblSystem; -- %s%n\\'", seed, true);
        row("control characters, not UTF-8",
            "\x01\x02\t\r\n\x1b[2J\x7f\xff\xfe\xc3\x28\xed\xa0\x80\xc0\xaf",
            serial + "\n\r\xff\x80", seed, true);
        row("blanks only", "   ", serial, seed, true);
        row("1 MiB name and serial", "'" + mebibyte + "%q'", serial + "%" + mebibyte + "'", seed,
            true);
        row("quote and percent in the seed's key text", "n", serial, "1200000'%s;--\"x%q6", true);
        // (Refusals of empty or changed texts: test_token.)
        row("empty seed", "n", serial, "", false);
        row("1 MiB seed", "n", serial, seed + mebibyte, false);
        // The engine takes the blanks for zeros (version, flags and check digits).
        row("seed of blanks", "n", "0", QByteArray(18, ' '), false);
    }

    void hostileInput()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, serial);
        QFETCH(QByteArray, seed);
        QFETCH(bool, stored);

        const QString directory = MakeStore({"Keep"});
        const QString file = Database(directory);
        const QMap<QString, QByteArray> before = Rows(file);

        const Outcome run = Run(Driver(directory, Install({name, serial, seed})));
        const Outcome list = Run(Driver(directory, {"list"}));
        QCOMPARE(Clean(list), QString());
        QCOMPARE(Integrity(directory), QString("ok"));
        if (!stored) {
            QCOMPARE(Clean(run, 3, "velmora_driver: install: "), QString());
            QCOMPARE(UnchangedBesides(before, Rows(file)), QString());
            return;
        }
        QCOMPARE(Clean(run), QString());
        QCOMPARE(run.out, QByteArray("installed 2\n"));
        const QList<QByteArray> lines = list.out.split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[1].startsWith("2 " + name.toHex() + ' ' + serial.toHex() + ' '));
        QCOMPARE(UnchangedBesides(before, Rows(file), {"tblToken/2", "tblSystem/2"}), QString());
        QCOMPARE(Value(file, "select IntValue from tblSystem where Name='DefaultToken'"),
                 QString("2"));
        // The new token works, and the old one still does.
        for (const Outcome& press :
             RunAll({Driver(directory, {"press", "2"}), Driver(directory, {"press", "1"})})) {
            QCOMPARE(Clean(press), QString());
        }
    }
};

QTEST_GUILESS_MAIN(FaultTest)

#include "tst_faults.moc"
