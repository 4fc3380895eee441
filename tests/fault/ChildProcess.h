#pragma once

#include "support/ScratchHome.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

// Runs the programs under test in child processes, the way the fault tests
// hurt them from outside: under strace's fault injection, without the file
// permission override that root has, on a home from a password database of
// the test's own. Every child runs with umask 000, so the modes of the files
// it creates are the program's own choice.
namespace faults {

struct Command
{
    QString program;
    QStringList arguments;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
};

struct Outcome
{
    bool crashed = false; // ended by a signal (also a kill that was injected)
    int status = -1;
    QByteArray out;
    QByteArray err;
    qint64 milliseconds = 0;
};

inline Outcome Run(const Command& command)
{
    QProcess process;
    process.setProcessEnvironment(command.environment);
    process.setChildProcessModifier([] { umask(0); });
    Outcome outcome;
    QElapsedTimer clock;
    clock.start();
    process.start(command.program, command.arguments);
    // A child still running after a minute has hung: a test failure, not a wait.
    if (!process.waitForFinished(60000)) {
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

// Runs the commands a few at a time; the outcomes in the commands' order.
inline std::vector<Outcome> RunAll(const std::vector<Command>& commands)
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

// The driver over storage and the engine on the database in `directory`.
inline Command Driver(const QString& directory, const QStringList& arguments)
{
    return Command{VELMORA_DRIVER, QStringList{directory} + arguments};
}

// The real executable, whose home the password database puts at `home`, with
// no display: it reports and ends after its start. `home` empty: the password
// database has no entry for the user.
inline Command Program(const QString& home)
{
    Command command{VELMORA_EXECUTABLE, {}};
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        command.environment.remove(name);
    }
    testsupport::UseScratchHome(command.environment, home);
    return command;
}

// True when strace can trace here (ptrace may be forbidden in a container).
inline bool StraceUsable()
{
    static const bool usable = [] {
        const Outcome outcome = Run(Command{"strace", {"-f", "-o", "/dev/null", "true"}});
        return !outcome.crashed && outcome.status == 0;
    }();
    return usable;
}

// `command` under strace, tracing `syscalls` into `log`, with `inject` (an
// inject= expression of strace, e.g. "pwrite64:error=EIO:when=3") if not empty.
inline Command Traced(const Command& command, const QString& syscalls, const QString& log,
                      const QString& inject = QString())
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
    testsupport::AppendOption(traced.environment, "ASAN_OPTIONS", "detect_leaks=0");
    return traced;
}

// `command` without the right to override file permissions (root has it).
inline Command Unprivileged(const Command& command)
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

inline QString Describe(const Outcome& outcome)
{
    return QStringLiteral("status %1%2: %3")
        .arg(outcome.status)
        .arg(outcome.crashed ? ", crashed" : "")
        .arg(QString::fromLocal8Bit(outcome.err));
}

// "" when the outcome is a clean failure: a normal exit with `status` and one
// line on standard error that starts with `prefix` and says more; else what is
// wrong with it.
inline QString CleanFailure(const Outcome& outcome, int status, const QString& prefix)
{
    const QString err = QString::fromLocal8Bit(outcome.err);
    if (outcome.crashed || outcome.status != status || !err.endsWith('\n') ||
        err.count('\n') != 1 || !err.startsWith(prefix) || err.size() <= prefix.size() + 1) {
        return QStringLiteral("not status %1 with one line starting \"%2\", ")
                   .arg(status)
                   .arg(prefix) +
               Describe(outcome);
    }
    return QString();
}

// "" when the outcome is a success with nothing on standard error.
inline QString CleanSuccess(const Outcome& outcome)
{
    const bool clean = !outcome.crashed && outcome.status == 0 && outcome.err.isEmpty();
    return clean ? QString() : "failed, " + Describe(outcome);
}

// "" when the real executable started and, finding no display, said so and ended.
inline QString StartedWithoutDisplay(const Outcome& outcome)
{
    const bool clean =
        !outcome.crashed && outcome.status == 1 && outcome.out.isEmpty() &&
        outcome.err ==
            "Velmora: no display available (neither DISPLAY nor WAYLAND_DISPLAY is set)\n";
    return clean ? QString() : "not ended for want of a display, " + Describe(outcome);
}

} // namespace faults
