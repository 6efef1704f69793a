#include "MetricsListener.h"

#include "metrics/PrometheusText.h"

#include <QTcpSocket>
#include <QTimer>

MetricsListener::MetricsListener(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &MetricsListener::accept);
}

MetricsListener::~MetricsListener()
{
    close();
}

QString MetricsListener::listen(const ListenAddress &address)
{
    close();
    if (!address.error.isEmpty())
        return address.error;
    if (address.address.isNull())
        return QStringLiteral("The metrics endpoint has no address to listen on");
    if (!m_server.listen(address.address, address.port))
        return QStringLiteral("The metrics endpoint cannot listen on %1:%2: %3")
            .arg(address.address.protocol() == QAbstractSocket::IPv6Protocol
                     ? QLatin1Char('[') + address.address.toString() + QLatin1Char(']')
                     : address.address.toString())
            .arg(address.port)
            .arg(m_server.errorString());
    m_address = address;
    return {};
}

void MetricsListener::close()
{
    m_server.close();
    m_address = {};
    const QList<QTcpSocket *> sockets = m_clients.keys();
    for (QTcpSocket *socket : sockets)
        drop(socket);
}

void MetricsListener::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_clients.size() >= MaxClients) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        Client &client = m_clients[socket];
        // One deadline for the whole exchange, not renewed by each byte: a
        // client that trickles its request is cut off all the same.
        client.deadline = new QTimer(socket);
        client.deadline->setSingleShot(true);
        connect(client.deadline, &QTimer::timeout, this, [this, socket] { drop(socket); });
        client.deadline->start(m_idleTimeoutMs);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { drop(socket); });
        read(socket);
    }
}

void MetricsListener::drop(QTcpSocket *socket)
{
    if (m_clients.remove(socket) == 0)
        return;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

void MetricsListener::read(QTcpSocket *socket)
{
    auto found = m_clients.find(socket);
    if (found == m_clients.end())
        return;
    Client &client = *found;
    if (client.answered) {
        // Nothing more is read once answered; the bytes are thrown away.
        socket->skip(socket->bytesAvailable());
        return;
    }
    client.request += socket->read(MaxRequestBytes + 1 - client.request.size());
    qsizetype end = client.request.indexOf("\r\n\r\n");
    if (end < 0)
        end = client.request.indexOf("\n\n");
    if (end >= 0) {
        answer(socket, client, client.request.left(end));
        return;
    }
    if (client.request.size() > MaxRequestBytes)
        reply(socket, client, "HTTP/1.1", 400, "Bad Request", "request too long\n");
}

void MetricsListener::answer(QTcpSocket *socket, Client &client, const QByteArray &request)
{
    qsizetype lineEnd = request.indexOf('\n');
    QByteArray line = lineEnd < 0 ? request : request.left(lineEnd);
    if (line.endsWith('\r'))
        line.chop(1);
    const QList<QByteArray> parts = line.split(' ');
    const bool wellFormed =
        parts.size() == 3 && !parts.at(0).isEmpty() && parts.at(1).startsWith('/');
    const QByteArray version = wellFormed ? parts.at(2) : QByteArray();
    if (!wellFormed || (version != "HTTP/1.0" && version != "HTTP/1.1")) {
        reply(socket, client, "HTTP/1.1", 400, "Bad Request", "bad request\n");
        return;
    }
    if (parts.at(0) != "GET") {
        reply(socket, client, version, 405, "Method Not Allowed", "only GET is served\n",
              "Allow: GET\r\n");
        return;
    }
    QByteArray path = parts.at(1);
    const qsizetype query = path.indexOf('?');
    if (query >= 0)
        path.truncate(query);
    if (path != "/metrics") {
        reply(socket, client, version, 404, "Not Found", "only /metrics is served\n");
        return;
    }
    reply(socket, client, version, 200, "OK", m_body,
          "Content-Type: " + PrometheusText::contentType() + "\r\n");
}

void MetricsListener::reply(QTcpSocket *socket, Client &client, const QByteArray &version,
                            int status, const QByteArray &reason, const QByteArray &body,
                            const QByteArray &extraHeaders)
{
    client.answered = true;
    QByteArray head = version + ' ' + QByteArray::number(status) + ' ' + reason + "\r\n";
    if (!extraHeaders.contains("Content-Type:"))
        head += "Content-Type: text/plain; charset=utf-8\r\n";
    head += extraHeaders;
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(head + body);
    // Closes once everything is out; a client that never reads meets the
    // deadline instead.
    socket->disconnectFromHost();
}
