#include "shell/ShellFixture.h"

#include "app/MainWindow.h"
#include "storage/LocalDatabase.h"
#include "support/TempDirectory.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QMoveEvent>
#include <QTimerEvent>
#include <QWidget>
#include <QtTest>

#include <sqlite3.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace shelltest {

void ResetStorage()
{
    for (const COtpTokenPtr& token : g_localDatabase.GetAllTokens()) {
        g_localDatabase.DeleteToken(static_cast<int>(token->ID));
    }
    g_localDatabase.SetPin(LocalDatabase::DefaultPin);
}

std::unique_ptr<CMainWindow> OpenWindow()
{
    auto window = std::make_unique<CMainWindow>();
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window.get())) {
        qWarning("the main window did not become active");
    }
    return window;
}

void ReturnToEventLoop()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

MoveRecorder::MoveRecorder(QWidget* watchedWindow) : window(watchedWindow)
{
    window->installEventFilter(this);
}

bool MoveRecorder::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == window && event->type() == QEvent::Move) {
        moves.append(window->pos());
    }
    return false;
}

DatabaseLock::DatabaseLock()
{
    if (sqlite3_open(g_localDatabase.GetDatabasePath().c_str(), &handle) == SQLITE_OK) {
        locked = sqlite3_exec(handle, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
}

DatabaseLock::~DatabaseLock()
{
    if (locked) {
        sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    sqlite3_close(handle);
}

MessageBoxCloser::MessageBoxCloser()
{
    startTimer(5);
}

void MessageBoxCloser::timerEvent(QTimerEvent*)
{
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        texts.append(box->windowTitle() + QLatin1Char('|') + box->text());
        box->reject();
    }
}

StderrCapture::StderrCapture() : path(testsupport::MakeTempDirectory() + "/stderr.txt")
{
    std::fflush(stderr);
    savedFd = ::dup(STDERR_FILENO);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
}

StderrCapture::~StderrCapture()
{
    finish();
}

std::string StderrCapture::finish()
{
    if (savedFd >= 0) {
        std::fflush(stderr);
        ::dup2(savedFd, STDERR_FILENO);
        ::close(savedFd);
        savedFd = -1;
    }
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace shelltest
