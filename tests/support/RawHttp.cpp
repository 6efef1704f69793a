#include "RawHttp.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

RawHttp::Answer RawHttp::exchange(quint16 port, const QByteArray &request, int timeoutMs)
{
    Answer answer;
    QTcpSocket socket;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QTcpSocket::connected, [&] {
        answer.connected = true;
        socket.write(request);
    });
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { answer.bytes += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, [&] {
        if (socket.isOpen())
            answer.bytes += socket.readAll();
        answer.closedByServer = true;
        loop.quit();
    });
    QObject::connect(&socket, &QTcpSocket::errorOccurred, [&](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            return;
        loop.quit();
    });
    limit.start(timeoutMs);
    socket.connectToHost(QHostAddress::LocalHost, port);
    loop.exec();
    socket.abort();
    return answer;
}

QByteArray RawHttp::get(quint16 port, const QByteArray &path, int timeoutMs)
{
    const Answer a =
        exchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
                 timeoutMs);
    return a.statusLine().contains(" 200 ") ? a.body() : QByteArray();
}

QByteArray RawHttp::Answer::statusLine() const
{
    const qsizetype end = bytes.indexOf("\r\n");
    return end < 0 ? bytes : bytes.left(end);
}

QByteArray RawHttp::Answer::header(const QByteArray &name) const
{
    const qsizetype headEnd = bytes.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = bytes.left(headEnd < 0 ? bytes.size() : headEnd).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

QByteArray RawHttp::Answer::body() const
{
    const qsizetype headEnd = bytes.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return {};
    QByteArray rest = bytes.mid(headEnd + 4);
    // Chunked answers (the node exporter's) are put back together.
    if (header("Transfer-Encoding").toLower() != "chunked")
        return rest;
    QByteArray body;
    for (;;) {
        const qsizetype lineEnd = rest.indexOf("\r\n");
        if (lineEnd < 0)
            break;
        bool ok = false;
        const qsizetype size = rest.left(lineEnd).split(';').first().trimmed().toLongLong(&ok, 16);
        if (!ok || size == 0)
            break;
        body += rest.mid(lineEnd + 2, size);
        rest = rest.mid(lineEnd + 2 + size + 2);
    }
    return body;
}
