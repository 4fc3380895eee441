#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace testsupport {

// What a program run to its end left behind.
struct ProgramOutcome
{
    int status = -1;
    QString out;
    QString err;
};

// Runs a program as a user would and waits for it; a program that cannot be
// started or does not end in time stops the test run.
inline ProgramOutcome
RunProgram(const QString& program, const QStringList& args,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
           int timeoutMs = 30000)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, args);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit) {
        qFatal("%s %s did not finish: %s", qPrintable(program), qPrintable(args.join(' ')),
               qPrintable(process.errorString()));
    }
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace testsupport
