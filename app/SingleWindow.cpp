#include "app/SingleWindow.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char ShowRequest[] = "show\n";
constexpr char ShownReply[] = "shown\n";
// A running copy answers from its event loop: at once unless it is busy.
constexpr int AnswerWaitMs = 5000;

// `directory`, created if missing, when it is a real folder of this user that
// nobody else may enter; its mode is set to 0700 when it is ours but wider.
bool PrivateFolder(const QByteArray& directory)
{
    if (::mkdir(directory.constData(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat info = {};
    if (::lstat(directory.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid()) {
        return false;
    }
    return (info.st_mode & 0077) == 0 || ::chmod(directory.constData(), 0700) == 0;
}

// The user's runtime directory, else a folder of the user's own under the
// temporary directory; "" when neither can be had safely.
QString RuntimeFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime)) {
        QString folder = runtime + QStringLiteral("/velmora");
        if (PrivateFolder(QFile::encodeName(folder))) {
            return folder;
        }
    }
    const QString folder = QDir::tempPath() + QStringLiteral("/velmora-%1").arg(::geteuid());
    return PrivateFolder(QFile::encodeName(folder)) ? folder : QString();
}

// Whether the process at the other end of a connected socket is this user's.
bool PeerIsThisUser(qintptr descriptor)
{
    struct ucred peer = {};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == ::geteuid();
}

// Holds an exclusive lock on a file while it lives, so that of two copies
// starting at once one listens before the other looks. The kernel drops the
// lock of a killed process.
class StartLock
{
public:
    explicit StartLock(const QString& path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        if (fd >= 0) {
            while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    StartLock(const StartLock&) = delete;
    StartLock& operator=(const StartLock&) = delete;
    ~StartLock()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }

private:
    int fd;
};

} // namespace

CSingleWindow::CSingleWindow(const std::string& storePath, QObject* parent) : QObject(parent)
{
    const QString folder = RuntimeFolder();
    if (!folder.isEmpty()) {
        // Short and fixed in length, whatever the store's path (a socket path
        // has room for about a hundred bytes).
        const QByteArray key = QCryptographicHash::hash(QByteArray::fromStdString(storePath),
                                                        QCryptographicHash::Sha256)
                                   .toHex()
                                   .left(24);
        path = folder + QLatin1Char('/') + QString::fromLatin1(key);
    }
}

CSingleWindow::~CSingleWindow() = default;

bool CSingleWindow::HandOver()
{
    if (path.isEmpty() || server != nullptr) {
        return false;
    }
    const StartLock lock(path + QStringLiteral(".lock"));

    QLocalSocket running;
    running.connectToServer(path);
    if (running.waitForConnected(AnswerWaitMs) && PeerIsThisUser(running.socketDescriptor())) {
        running.write(ShowRequest);
        running.flush();
        while (running.bytesAvailable() < qint64(sizeof ShownReply - 1) &&
               running.waitForReadyRead(AnswerWaitMs)) {
        }
        if (running.readAll() == QByteArray(ShownReply)) {
            return true;
        }
    }
    running.abort();

    // Nobody answers: what is there is left by a copy that was killed.
    QLocalServer::removeServer(path);
    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        delete server;
        server = nullptr;
        return false;
    }
    connect(server, &QLocalServer::newConnection, this, &CSingleWindow::acceptConnections);
    return false;
}

void CSingleWindow::acceptConnections()
{
    while (QLocalSocket* connection = server->nextPendingConnection()) {
        connect(connection, &QLocalSocket::disconnected, connection, &QObject::deleteLater);
        if (!PeerIsThisUser(connection->socketDescriptor())) {
            connection->abort();
            connection->deleteLater();
            continue;
        }
        const QPointer<QLocalSocket> guarded(connection);
        connect(connection, &QLocalSocket::readyRead, this, [this, guarded] {
            if (guarded.isNull() || !guarded->canReadLine()) {
                return;
            }
            if (guarded->readLine(64) == QByteArray(ShowRequest)) {
                emit activationRequested();
                guarded->write(ShownReply);
                guarded->flush();
            }
            guarded->disconnectFromServer();
        });
    }
}
