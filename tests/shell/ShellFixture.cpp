#include "shell/ShellFixture.h"

#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <sqlite3.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace shelltest {

StorageFailure FailStorageDuring(const std::function<void()>& run)
{
    StorageFailure failure;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&failure] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            failure.boxes.append(box->windowTitle() + QLatin1Char('|') + box->text());
            box->reject();
        }
    });
    closer.start(5);

    sqlite3* lock = nullptr;
    sqlite3_open(g_localDatabase.GetDatabasePath().c_str(), &lock);
    sqlite3_exec(lock, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    g_localDatabase.SetBusyTimeout(0); // fail at once instead of waiting the lock out

    const std::string path = testsupport::MakeTempDirectory() + "/stderr.txt";
    std::fflush(stderr);
    const int savedFd = ::dup(STDERR_FILENO);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);

    run();

    std::fflush(stderr);
    ::dup2(savedFd, STDERR_FILENO);
    ::close(savedFd);
    sqlite3_exec(lock, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(lock);
    g_localDatabase.SetBusyTimeout(CDbConnection::BusyTimeoutMilliseconds);

    std::ifstream file(path);
    failure.written.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return failure;
}

} // namespace shelltest
