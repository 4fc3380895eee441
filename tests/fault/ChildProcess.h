#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <vector>

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
    // Added to (or, with an empty value, removed from) the test's environment;
    // ASAN_OPTIONS add to the test's own.
    QMap<QString, QString> environment;
};

struct Outcome
{
    bool crashed = false; // ended by a signal (also a kill that was injected)
    int status = -1;
    QByteArray out;
    QByteArray err;
    qint64 milliseconds = 0;
};

// The driver over storage and the engine on the database in `directory`.
Command Driver(const QString& directory, const QStringList& arguments);

// The real executable, whose home the password database puts at `home`, with
// no display: it reports and ends after its start. `home` empty: the password
// database has no entry for the user.
Command Program(const QString& home);

// True when strace can trace here (ptrace may be forbidden in a container).
bool StraceUsable();

// `command` under strace, tracing `syscalls` into `log`, with `inject` (an
// inject= expression of strace, e.g. "pwrite64:error=EIO:when=3") if not empty.
Command Traced(const Command& command, const QString& syscalls, const QString& log,
               const QString& inject = QString());

// `command` without the right to override file permissions (root has it).
Command Unprivileged(const Command& command);

Outcome Run(const Command& command);
// Runs the commands a few at a time; the outcomes in the commands' order.
std::vector<Outcome> RunAll(const std::vector<Command>& commands);

// "" when the outcome is a clean failure: a normal exit with `status` and one
// line on standard error that starts with `prefix` and says more; else what is
// wrong with it.
QString CleanFailure(const Outcome& outcome, int status, const QString& prefix);
// "" when the outcome is a success with nothing on standard error.
QString CleanSuccess(const Outcome& outcome);

} // namespace faults
