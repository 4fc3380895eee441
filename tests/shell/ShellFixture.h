#pragma once

#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>
#include <string>

class CMainWindow;
class QWidget;
struct sqlite3;

namespace shelltest {

// Puts the test database back to a fresh start: the default PIN, no tokens.
void ResetStorage();

// A new main window, shown and active, so that its shortcuts are live.
std::unique_ptr<CMainWindow> OpenWindow();

// Runs the deletions the window deferred to the event loop.
void ReturnToEventLoop();

// Records every position a window is moved to.
class MoveRecorder : public QObject
{
public:
    explicit MoveRecorder(QWidget* window);
    const QList<QPoint>& positions() const { return moves; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window;
    QList<QPoint> moves;
};

// Holds an exclusive lock on the test database through a second connection,
// as another program could, so that every statement of the application fails.
class DatabaseLock
{
public:
    DatabaseLock();
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;
    bool held() const { return locked; }

private:
    sqlite3* handle = nullptr;
    bool locked = false;
};

// While it lives, closes every modal message box as soon as it shows and
// records its title and text as "title|text".
class MessageBoxCloser : public QObject
{
public:
    MessageBoxCloser();
    const QStringList& seen() const { return texts; }

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    QStringList texts;
};

// Collects what is written to standard error while it lives.
class StderrCapture
{
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    // Stops capturing and returns what was written.
    std::string finish();

private:
    int savedFd = -1;
    std::string path;
};

} // namespace shelltest
