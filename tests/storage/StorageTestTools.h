#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTest>

#include <string>

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

// True when the call throws an E whose message is exactly `message`; another
// message is shown. An exception of another type leaves the test as a failure.
template <typename E, typename Call> bool Throws(Call call, const std::string& message)
{
    try {
        call();
    } catch (const E& error) {
        if (error.what() == message) {
            return true;
        }
        qWarning("unexpected message: %s", error.what());
    }
    return false;
}
