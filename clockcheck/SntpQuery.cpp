#include "clockcheck/SntpQuery.h"

#include <QDateTime>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

namespace {

constexpr int PacketSize = 48;
// Seconds from 1900-01-01, where NTP counts from, to 1970-01-01.
constexpr qint64 NtpEpochToUnix = 2208988800LL;
constexpr qint64 NtpEra = 0x100000000LL;

// Byte offsets of the timestamps in a packet.
constexpr int OriginateAt = 24;
constexpr int ReceiveAt = 32;
constexpr int TransmitAt = 40;

quint64 ToNtp(qint64 unixMs)
{
    const auto seconds = static_cast<quint64>(unixMs / 1000 + NtpEpochToUnix);
    const auto fraction = (static_cast<quint64>(unixMs % 1000) << 32) / 1000;
    // Seconds beyond 32 bits (from 2036 on) wrap into the next era, as the
    // server expects.
    return (seconds << 32) | fraction;
}

qint64 FromNtp(quint64 stamp)
{
    auto seconds = static_cast<qint64>(stamp >> 32);
    // A stamp with the top bit clear is of the era that starts in 2036.
    if (seconds < NtpEra / 2) {
        seconds += NtpEra;
    }
    const auto fraction = static_cast<qint64>(((stamp & 0xFFFFFFFFULL) * 1000) >> 32);
    return (seconds - NtpEpochToUnix) * 1000 + fraction;
}

quint64 StampAt(const QByteArray& packet, int at)
{
    return qFromBigEndian<quint64>(packet.constData() + at);
}

} // namespace

bool SplitServer(const QString& server, QString& host, quint16& port)
{
    const QString text = server.trimmed();
    port = CSntpQuery::DefaultPort;
    QString portText;
    if (text.startsWith('[')) {
        const qsizetype close = text.indexOf(']');
        if (close < 0) {
            return false;
        }
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(':')) {
            return false;
        }
        portText = rest.mid(1);
    } else if (text.count(':') == 1) {
        host = text.section(':', 0, 0);
        portText = text.section(':', 1);
    } else {
        host = text; // a name, or an IPv6 address without a port
    }
    if (!portText.isNull()) {
        bool ok = false;
        const uint value = portText.toUInt(&ok);
        if (!ok || value < 1 || value > 65535) {
            return false;
        }
        port = static_cast<quint16>(value);
    }
    return !host.isEmpty();
}

CSntpQuery::CSntpQuery(QObject* parent) : QObject(parent) {}

CSntpQuery::~CSntpQuery() = default;

void CSntpQuery::Start(const QString& server, int timeoutMs)
{
    delete socket;
    delete timeout;
    QString host;
    quint16 port = DefaultPort;
    socket = new QUdpSocket(this);
    timeout = new QTimer(this);
    if (!SplitServer(server, host, port)) {
        // Reported from the event loop, as every other outcome.
        QTimer::singleShot(0, this, [this, server] { fail("no server in \"" + server + '"'); });
        return;
    }
    timeout->setSingleShot(true);
    connect(timeout, &QTimer::timeout, this, [this] { fail("no answer in time"); });
    connect(socket, &QUdpSocket::connected, this, &CSntpQuery::send);
    connect(socket, &QUdpSocket::readyRead, this, &CSntpQuery::receive);
    connect(socket, &QUdpSocket::errorOccurred, this, [this] { fail(socket->errorString()); });
    timeout->start(timeoutMs);
    // Resolves the name in the background, then connects (a UDP socket only
    // remembers its peer, so it takes no datagram from anyone else).
    socket->connectToHost(host, port);
}

void CSntpQuery::send()
{
    QByteArray request(PacketSize, '\0');
    request[0] = 0x23; // no leap warning, version 4, mode 3 (client)
    sentMs = QDateTime::currentMSecsSinceEpoch();
    sentStamp = ToNtp(sentMs);
    qToBigEndian(sentStamp, request.data() + TransmitAt);
    if (socket->write(request) != PacketSize) {
        fail(socket->errorString());
    }
}

void CSntpQuery::receive()
{
    while (socket != nullptr && socket->hasPendingDatagrams()) {
        const QByteArray reply = socket->receiveDatagram().data();
        const qint64 arrivedMs = QDateTime::currentMSecsSinceEpoch();
        if (reply.size() < PacketSize) {
            continue;
        }
        const auto first = static_cast<quint8>(reply[0]);
        const auto stratum = static_cast<quint8>(reply[1]);
        const int mode = first & 0x07;
        const int leap = first >> 6;
        // Only the answer to this request counts: a server reply that echoes
        // our transmit time. Stratum 0 is a refusal ("kiss of death"), leap
        // indicator 3 a server whose own clock is not synchronised.
        if (mode != 4 || sentStamp == 0 || StampAt(reply, OriginateAt) != sentStamp) {
            continue;
        }
        if (stratum == 0 || stratum > 15 || leap == 3 || StampAt(reply, TransmitAt) == 0) {
            fail("the server has no usable time");
            return;
        }
        const qint64 serverReceived = FromNtp(StampAt(reply, ReceiveAt));
        const qint64 serverSent = FromNtp(StampAt(reply, TransmitAt));
        const qint64 offset = ((serverReceived - sentMs) + (serverSent - arrivedMs)) / 2;
        timeout->stop();
        socket->deleteLater();
        socket = nullptr;
        emit measured(offset);
        return;
    }
}

void CSntpQuery::fail(const QString& reason)
{
    if (socket == nullptr) {
        return; // answered or failed already
    }
    timeout->stop();
    socket->disconnect(this);
    socket->deleteLater();
    socket = nullptr;
    emit failed(reason);
}
