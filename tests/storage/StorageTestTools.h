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
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        QTest::qFail(qPrintable(program + " failed: " + process.errorString() + " " +
                                process.readAllStandardError()),
                     __FILE__, __LINE__);
    }
    return process.readAllStandardOutput();
}

// The message of the E that the call throws ("no exception" when it returns).
// An exception of another type leaves the test as a failure.
template <typename E, typename Call> std::string Message(Call call)
{
    try {
        call();
    } catch (const E& error) {
        return error.what();
    }
    return "no exception";
}
