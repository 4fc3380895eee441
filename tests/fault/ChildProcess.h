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
    QElapsedTimer clock;
    clock.start();
    process.start(command.program, command.arguments);
    // A child still running after a minute has hung: a test failure, not a wait.
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {true, -1, {}, "did not finish: " + command.program.toLocal8Bit() + "\n"};
    }
    const bool crashed = process.exitStatus() != QProcess::NormalExit;
    return {crashed, crashed ? -1 : process.exitCode(), process.readAllStandardOutput(),
            process.readAllStandardError(), clock.elapsed()};
}

// Runs the commands a few at a time (the children mostly wait for the disk:
// a few more than the cores); the outcomes in the commands' order.
inline std::vector<Outcome> RunAll(const std::vector<Command>& commands)
{
    std::vector<Outcome> outcomes(commands.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> workers(
        std::min(std::max(2U, std::thread::hardware_concurrency()) + 1, 6U));
    for (std::thread& worker : workers) {
        worker = std::thread([&] {
            for (std::size_t i = next++; i < commands.size(); i = next++) {
                outcomes[i] = Run(commands[i]);
            }
        });
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
    static const bool usable =
        Run(Command{"strace", {"-f", "-o", "/dev/null", "true"}}).status == 0;
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

// `command` without the right to override file permissions (root has it):
// it meets the modes as any user does.
inline Command Unprivileged(const Command& command)
{
    return geteuid() != 0 ? command
                          : Command{"setpriv",
                                    QStringList{"--inh-caps=-all",
                                                "--bounding-set=-dac_override,-dac_read_search",
                                                "--", command.program} +
                                        command.arguments,
                                    command.environment};
}

// `command` under a file-size limit of `bytes`, as `ulimit -f` sets one.
inline Command Limited(const Command& command, const QString& bytes)
{
    return Command{"prlimit",
                   QStringList{"--fsize=" + bytes, "--", command.program} + command.arguments,
                   command.environment};
}

const QByteArray NoDisplay =
    "Velmora: no display available (neither DISPLAY nor WAYLAND_DISPLAY is set)\n";

// "" when the outcome is a normal exit with `status` and, on standard error:
// nothing for an empty `err`; exactly `err` (and nothing on standard output)
// when it ends in a newline; else one line that starts with `err` and says
// more. Otherwise what is wrong with it.
inline QString Clean(const Outcome& o, int status = 0, const QString& err = QString())
{
    const QString got = QString::fromLocal8Bit(o.err);
    const bool clean =
        !o.crashed && o.status == status &&
        (err.isEmpty()        ? got.isEmpty()
         : err.endsWith('\n') ? got == err && o.out.isEmpty()
                              : got.count('\n') == 1 && got.endsWith('\n') && got.startsWith(err) &&
                                    got.size() > err.size() + 1);
    return clean ? QString()
                 : QStringLiteral("not status %1 with \"%2\": status %3%4: %5")
                       .arg(status)
                       .arg(err, QString::number(o.status), o.crashed ? ", crashed" : "", got);
}

} // namespace faults
