#include "FakeConnectProxy.h"

#include <QTcpSocket>

struct FakeConnectProxy::Tunnel {
    QTcpSocket *client = nullptr;
    QTcpSocket *target = nullptr;
    QByteArray request;
    bool requestDone = false;
    QByteArray pending; // client bytes that came before the target connected
};

FakeConnectProxy::FakeConnectProxy(quint16 targetPort, QObject *parent)
    : QObject(parent), m_targetPort(targetPort)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeConnectProxy::accept);
}

FakeConnectProxy::~FakeConnectProxy()
{
    for (const auto &t : m_tunnels) {
        for (QTcpSocket *socket : {t->client, t->target}) {
            if (!socket)
                continue;
            socket->disconnect();
            socket->abort();
            delete socket;
        }
    }
}

bool FakeConnectProxy::listen()
{
    return m_server.listen(QHostAddress(QHostAddress::LocalHost), 0);
}

quint16 FakeConnectProxy::port() const
{
    return m_server.serverPort();
}

int FakeConnectProxy::connectionCount() const
{
    return int(m_tunnels.size());
}

QByteArray FakeConnectProxy::request(int connection) const
{
    if (connection < 0 || connection >= connectionCount())
        return {};
    return m_tunnels.at(connection)->request;
}

void FakeConnectProxy::accept()
{
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        auto owned = std::make_unique<Tunnel>();
        Tunnel *t = owned.get();
        t->client = client;
        m_tunnels.push_back(std::move(owned));
        connect(client, &QTcpSocket::readyRead, this, [this, t] { readClient(t); });
        connect(client, &QTcpSocket::disconnected, this, [t] {
            if (t->target)
                t->target->disconnectFromHost();
        });
    }
}

void FakeConnectProxy::readClient(Tunnel *t)
{
    QByteArray bytes = t->client->readAll();
    if (t->requestDone) {
        if (t->target && t->target->state() == QAbstractSocket::ConnectedState)
            t->target->write(bytes);
        else
            t->pending += bytes;
        return;
    }
    t->request += bytes;
    const qsizetype end = t->request.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    t->pending = t->request.mid(end + 4);
    t->request.truncate(end + 4);
    t->requestDone = true;
    t->client->write(m_answer);
    if (!m_answer.startsWith("HTTP/1.1 2") && !m_answer.startsWith("HTTP/1.0 2")) {
        t->client->disconnectFromHost();
        return;
    }
    t->target = new QTcpSocket;
    connect(t->target, &QTcpSocket::connected, this, [t] {
        t->target->write(t->pending);
        t->pending.clear();
    });
    connect(t->target, &QTcpSocket::readyRead, this,
            [t] { t->client->write(t->target->readAll()); });
    connect(t->target, &QTcpSocket::disconnected, this, [t] { t->client->disconnectFromHost(); });
    t->target->connectToHost(QHostAddress(QHostAddress::LocalHost), m_targetPort);
}
