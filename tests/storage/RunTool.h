#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTest>

// Runs a command-line tool with the given standard input and returns its
// standard output; a tool that fails or cannot start fails the test.
inline QByteArray RunTool(const QString& program, const QStringList& arguments,
                          const QByteArray& input = QByteArray())
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted()) {
        QTest::qFail(qPrintable(program + " cannot be started"), __FILE__, __LINE__);
        return QByteArray();
    }
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(-1);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        QTest::qFail(qPrintable(program + " failed: " + process.readAllStandardError()), __FILE__,
                     __LINE__);
    }
    return process.readAllStandardOutput();
}
