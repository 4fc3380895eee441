#include "fault/ChildProcess.h"

#include "support/TempDirectory.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>
#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace faults {

namespace {

// A child still running after this has hung: a test failure, not a wait.
const int HangMilliseconds = 60000;

QString PasswdFor(const QString& home)
{
    QString path = QString::fromStdString(testsupport::MakeTempDirectory()) + "/passwd";
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        // Without a home, the user has no entry at all: only another user has.
        const uint uid = home.isEmpty() ? getuid() + 1 : getuid();
        file.write(QStringLiteral("user:x:%1:%2:user:%3:/bin/sh\n")
                       .arg(uid)
                       .arg(getgid())
                       .arg(home.isEmpty() ? QStringLiteral("/nonexistent") : home)
                       .toLocal8Bit());
    }
    return path;
}

} // namespace

Command Driver(const QString& directory, const QStringList& arguments)
{
    return Command{VELMORA_DRIVER, QStringList{directory} + arguments, {}};
}

Command Program(const QString& home)
{
    Command command{VELMORA_EXECUTABLE, {}, {}};
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        command.environment.insert(name, QString());
    }
    command.environment.insert("LD_PRELOAD", VELMORA_NSS_WRAPPER);
    command.environment.insert("NSS_WRAPPER_PASSWD", PasswdFor(home));
    command.environment.insert("NSS_WRAPPER_GROUP", "/etc/group");
    return command;
}

bool StraceUsable()
{
    static const bool usable = [] {
        const Outcome outcome = Run(Command{"strace", {"-f", "-o", "/dev/null", "true"}, {}});
        return !outcome.crashed && outcome.status == 0;
    }();
    return usable;
}

Command Traced(const Command& command, const QString& syscalls, const QString& log,
               const QString& inject)
{
    QStringList arguments{"-f", "-q", "-o", log, "-e", "trace=" + syscalls};
    // With a seccomp filter the calls not traced run at full speed; strace
    // 6.1 then skips injected signals, though.
    if (!inject.contains("signal=")) {
        arguments.prepend("--seccomp-bpf");
    }
    if (!inject.isEmpty()) {
        arguments << "-e"
                  << "inject=" + inject;
    }
    Command traced{"strace", arguments + QStringList{command.program} + command.arguments,
                   command.environment};
    // The leak checker stops the process with ptrace, which strace holds already.
    traced.environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    return traced;
}

Command Unprivileged(const Command& command)
{
    if (geteuid() != 0) {
        return command;
    }
    // Root reads and writes whatever the modes say; without these two
    // capabilities it meets the modes as any user does.
    return Command{"setpriv",
                   QStringList{"--inh-caps=-all", "--bounding-set=-dac_override,-dac_read_search",
                               "--", command.program} +
                       command.arguments,
                   command.environment};
}

Outcome Run(const Command& command)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The sanitizers' runtime wants to be loaded first; a preload before it is harmless.
    // A command's sanitizer options add to the ones the test runs with.
    QStringList asan{environment.value("ASAN_OPTIONS"), "verify_asan_link_order=0",
                     command.environment.value("ASAN_OPTIONS")};
    asan.removeAll(QString());
    environment.insert("ASAN_OPTIONS", asan.join(':'));
    for (auto it = command.environment.cbegin(); it != command.environment.cend(); ++it) {
        if (it.key() == "ASAN_OPTIONS") {
            continue;
        }
        if (it.value().isEmpty()) {
            environment.remove(it.key());
        } else {
            environment.insert(it.key(), it.value());
        }
    }
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier([] { umask(0); });

    Outcome outcome;
    QElapsedTimer clock;
    clock.start();
    process.start(command.program, command.arguments);
    if (!process.waitForFinished(HangMilliseconds)) {
        process.kill();
        process.waitForFinished();
        outcome.crashed = true;
        outcome.err = "did not finish: " + command.program.toLocal8Bit() + "\n";
        return outcome;
    }
    outcome.milliseconds = clock.elapsed();
    outcome.crashed = process.exitStatus() != QProcess::NormalExit;
    outcome.status = outcome.crashed ? -1 : process.exitCode();
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
    return outcome;
}

std::vector<Outcome> RunAll(const std::vector<Command>& commands)
{
    std::vector<Outcome> outcomes(commands.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < commands.size(); i = next++) {
            outcomes[i] = Run(commands[i]);
        }
    };
    // The children mostly wait for the disk: a few more than the cores.
    const unsigned count =
        std::min<unsigned>(std::max(2U, std::thread::hardware_concurrency()) + 1, 6);
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < count; ++i) {
        workers.emplace_back(work);
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    return outcomes;
}

QString CleanFailure(const Outcome& outcome, int status, const QString& prefix)
{
    const QString err = QString::fromLocal8Bit(outcome.err);
    if (outcome.crashed) {
        return "crashed: " + err;
    }
    if (outcome.status != status) {
        return QStringLiteral("exit status %1, not %2: %3")
            .arg(outcome.status)
            .arg(status)
            .arg(err);
    }
    if (!err.endsWith('\n') || err.count('\n') != 1 || !err.startsWith(prefix) ||
        err.size() <= prefix.size() + 1) {
        return "not one line starting \"" + prefix + "\": " + err;
    }
    return QString();
}

QString CleanSuccess(const Outcome& outcome)
{
    if (outcome.crashed || outcome.status != 0 || !outcome.err.isEmpty()) {
        return QStringLiteral("failed (status %1, crashed %2): %3")
            .arg(outcome.status)
            .arg(outcome.crashed)
            .arg(QString::fromLocal8Bit(outcome.err));
    }
    return QString();
}

} // namespace faults
