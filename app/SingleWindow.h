#pragma once

#include <QObject>
#include <QString>

#include <string>

class QLocalServer;

// Keeps one window per user and store: the first copy of the program listens
// on a local socket in the user's runtime directory; a later one asks it to
// show its window and ends. The socket's name comes from the store's path,
// so copies on different stores (tests, other homes) never meet; its folder
// is the user's alone (mode 0700), and a connection from another user is
// refused on either side. A copy killed outright leaves a socket file that
// nobody answers on: the next start finds it dead and replaces it.
class CSingleWindow : public QObject
{
    Q_OBJECT

public:
    explicit CSingleWindow(const std::string& storePath, QObject* parent = nullptr);
    ~CSingleWindow() override;

    // True when another copy on the same store runs and has been asked to
    // show its window. Otherwise this copy listens from now on, and true is
    // never returned again. Needs the application object (event dispatcher).
    bool HandOver();

    // The socket, "" when no private folder could be had (then every copy
    // runs on its own).
    const QString& socketPath() const { return path; }

signals:
    // Another copy asked for the window.
    void activationRequested();

private:
    void acceptConnections();

    QString path;
    QLocalServer* server = nullptr;
};
