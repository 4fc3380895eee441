#pragma once

#include <QObject>
#include <QString>

class QTimer;
class QUdpSocket;

// One SNTP request (RFC 4330, client mode over UDP) to a time server, without
// blocking: the answer comes back as a signal, or nothing comes back at all
// when the server cannot be reached, refuses, or is silent past the timeout.
class CSntpQuery : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 DefaultPort = 123;

    explicit CSntpQuery(QObject* parent = nullptr);
    ~CSntpQuery() override;

    // Sends the request to `server`: a host name or address, optionally with
    // ":PORT" ("[ADDRESS]:PORT" for IPv6). A query already under way is dropped.
    void Start(const QString& server, int timeoutMs);

signals:
    // The server's clock minus this machine's, in milliseconds.
    void measured(qint64 offsetMs);
    // No usable answer; `reason` is for a diagnostic line.
    void failed(const QString& reason);

private:
    void send();
    void receive();
    void fail(const QString& reason);

    QUdpSocket* socket = nullptr;
    QTimer* timeout = nullptr;
    // The transmit time of the request as sent (the answer must echo it), and
    // the same instant in milliseconds since 1970.
    quint64 sentStamp = 0;
    qint64 sentMs = 0;
};

// Splits "host", "host:port" and "[v6]:port"; false for a text that names no
// host or a port outside 1..65535.
bool SplitServer(const QString& server, QString& host, quint16& port);
