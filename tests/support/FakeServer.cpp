#include "FakeServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace {

// With an unpaced stream, keep about this much queued for the peer.
constexpr qint64 StreamQueue = 256 * 1024;

} // namespace

struct FakeServer::Connection {
    QTcpSocket *socket = nullptr;
    QList<Step> steps;
    int next = 0;
    QByteArray received;
    qint64 sent = 0;
    bool sleeping = false;  // inside a delay step
    bool streaming = false; // a stream step runs; nothing follows it
    QByteArray streamChunk;
    bool paced = false; // the stream writes from its own timer
    bool peerClosed = false;
};

FakeServer::Scenario &FakeServer::Scenario::send(const QByteArray &bytes)
{
    m_steps.append({Step::Send, bytes, 0});
    return *this;
}

FakeServer::Scenario &FakeServer::Scenario::delay(int ms)
{
    m_steps.append({Step::Delay, {}, ms});
    return *this;
}

FakeServer::Scenario &FakeServer::Scenario::waitForBytes(int count)
{
    m_steps.append({Step::WaitForBytes, {}, count});
    return *this;
}

FakeServer::Scenario &FakeServer::Scenario::waitForText(const QByteArray &text)
{
    m_steps.append({Step::WaitForText, text, 0});
    return *this;
}

FakeServer::Scenario &FakeServer::Scenario::stall()
{
    m_steps.append({Step::Stall, {}, 0});
    return *this;
}

FakeServer::Scenario &FakeServer::Scenario::halfClose()
{
    m_steps.append({Step::HalfClose, {}, 0});
    return *this;
}

FakeServer::Scenario &FakeServer::Scenario::close()
{
    m_steps.append({Step::Close, {}, 0});
    return *this;
}

FakeServer::Scenario &FakeServer::Scenario::streamForever(const QByteArray &chunk, int intervalMs)
{
    m_steps.append({Step::Stream, chunk, intervalMs});
    return *this;
}

FakeServer::FakeServer(QObject *parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &FakeServer::accept);
}

FakeServer::~FakeServer()
{
    // The sockets' handlers point at the connection records: silence them
    // before either goes.
    for (const auto &c : m_connections) {
        c->socket->disconnect();
        c->socket->abort();
        delete c->socket;
    }
}

bool FakeServer::listen()
{
    return m_server.listen(QHostAddress(QHostAddress::LocalHost), 0);
}

quint16 FakeServer::port() const
{
    return m_server.serverPort();
}

void FakeServer::setScenario(const Scenario &scenario)
{
    m_scenarios = {scenario};
}

void FakeServer::setScenarios(const QList<Scenario> &scenarios)
{
    m_scenarios = scenarios;
}

int FakeServer::connectionCount() const
{
    return int(m_connections.size());
}

QByteArray FakeServer::received(int connection) const
{
    if (connection < 0 || connection >= connectionCount())
        return {};
    return m_connections.at(connection)->received;
}

bool FakeServer::peerClosed(int connection) const
{
    if (connection < 0 || connection >= connectionCount())
        return false;
    return m_connections.at(connection)->peerClosed;
}

qint64 FakeServer::bytesSent(int connection) const
{
    if (connection < 0 || connection >= connectionCount())
        return 0;
    return m_connections.at(connection)->sent;
}

void FakeServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        auto owned = std::make_unique<Connection>();
        Connection *c = owned.get();
        c->socket = socket;
        if (!m_scenarios.isEmpty())
            c->steps = m_scenarios
                           .at(std::min<qsizetype>(qsizetype(m_connections.size()),
                                                   m_scenarios.size() - 1))
                           .steps();
        m_connections.push_back(std::move(owned));

        connect(socket, &QTcpSocket::readyRead, this, [this, c] {
            c->received += c->socket->readAll();
            advance(c);
        });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, c](qint64 written) {
            c->sent += written;
            if (c->streaming)
                topUpStream(c);
            else
                advance(c);
        });
        const auto gone = [c] {
            c->received += c->socket->readAll();
            c->peerClosed = true;
            c->streaming = false;
        };
        connect(socket, &QTcpSocket::disconnected, this, gone);
        connect(socket, &QTcpSocket::errorOccurred, this, gone);
        advance(c);
    }
}

void FakeServer::advance(Connection *c)
{
    if (c->sleeping || c->streaming)
        return;
    while (c->next < c->steps.size()) {
        const Step step = c->steps.at(c->next);
        switch (step.kind) {
        case Step::Send:
            c->socket->write(step.data);
            ++c->next;
            break;
        case Step::Delay:
            ++c->next;
            c->sleeping = true;
            QTimer::singleShot(step.number, c->socket, [this, c] {
                c->sleeping = false;
                advance(c);
            });
            return;
        case Step::WaitForBytes:
            if (c->received.size() < step.number)
                return;
            ++c->next;
            break;
        case Step::WaitForText:
            if (!c->received.contains(step.data))
                return;
            ++c->next;
            break;
        case Step::Stall:
            return;
        case Step::HalfClose:
            // Whatever is still queued must go out before the FIN.
            if (c->socket->bytesToWrite() > 0)
                return;
            ::shutdown(int(c->socket->socketDescriptor()), SHUT_WR);
            ++c->next;
            break;
        case Step::Close:
            ++c->next;
            c->socket->disconnectFromHost();
            return;
        case Step::Stream:
            ++c->next;
            c->streaming = true;
            c->streamChunk = step.data;
            c->paced = step.number > 0;
            if (c->paced) {
                auto *timer = new QTimer(c->socket);
                connect(timer, &QTimer::timeout, this, [c, timer] {
                    if (!c->streaming) {
                        timer->stop();
                        return;
                    }
                    c->socket->write(c->streamChunk);
                });
                timer->start(step.number);
            } else {
                topUpStream(c);
            }
            return;
        }
    }
}

void FakeServer::topUpStream(Connection *c)
{
    // Paced streams write from their timer; bytesWritten only tops up the unpaced one.
    if (!c->streaming || c->paced || c->streamChunk.isEmpty())
        return;
    while (c->socket->bytesToWrite() < StreamQueue)
        c->socket->write(c->streamChunk);
}
