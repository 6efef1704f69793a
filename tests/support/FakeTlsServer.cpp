#include "FakeTlsServer.h"

#include <QFile>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>

class FakeTlsServer::Listener : public QTcpServer {
public:
    explicit Listener(FakeTlsServer *owner) : m_owner(owner) {}

protected:
    // Each connection becomes a QSslSocket of ours, plain until the scenario
    // starts TLS.
    void incomingConnection(qintptr descriptor) override { m_owner->accept(descriptor); }

private:
    FakeTlsServer *m_owner;
};

struct FakeTlsServer::Connection {
    QSslSocket *socket = nullptr;
    QList<Step> steps;
    qsizetype next = 0;
    QByteArray received;
    QByteArray inClear;
    qsizetype searchFrom = 0;
    bool tlsStarted = false;
    bool encrypted = false;
    bool peerClosed = false;
    bool sleeping = false;
};

FakeTlsServer::Scenario &FakeTlsServer::Scenario::send(const QByteArray &bytes)
{
    m_steps.append({Step::Send, bytes});
    return *this;
}

FakeTlsServer::Scenario &FakeTlsServer::Scenario::waitForText(const QByteArray &text)
{
    m_steps.append({Step::WaitForText, text});
    return *this;
}

FakeTlsServer::Scenario &FakeTlsServer::Scenario::startTls()
{
    m_steps.append(Step{Step::StartTls, QByteArray()});
    return *this;
}

FakeTlsServer::Scenario &FakeTlsServer::Scenario::delay(int ms)
{
    m_steps.append(Step{Step::Delay, QByteArray(), ms});
    return *this;
}

FakeTlsServer::Scenario &FakeTlsServer::Scenario::close()
{
    m_steps.append(Step{Step::Close, QByteArray()});
    return *this;
}

FakeTlsServer::FakeTlsServer(QObject *parent)
    : QObject(parent), m_listener(std::make_unique<Listener>(this))
{
}

FakeTlsServer::~FakeTlsServer()
{
    // The sockets' handlers point at the connection records: silence them
    // before either goes.
    for (const auto &c : m_connections) {
        c->socket->disconnect();
        c->socket->abort();
        delete c->socket;
    }
}

bool FakeTlsServer::setIdentity(const QString &certificateFile, const QString &keyFile)
{
    m_chain = QSslCertificate::fromPath(certificateFile, QSsl::Pem,
                                        QSslCertificate::PatternSyntax::FixedString);
    QFile file(keyFile);
    if (m_chain.isEmpty() || !file.open(QIODevice::ReadOnly))
        return false;
    m_key = QSslKey(file.readAll(), QSsl::Ec, QSsl::Pem);
    if (m_key.isNull()) {
        file.seek(0);
        m_key = QSslKey(file.readAll(), QSsl::Rsa, QSsl::Pem);
    }
    return !m_key.isNull();
}

bool FakeTlsServer::listen()
{
    return m_listener->listen(QHostAddress(QHostAddress::LocalHost), 0);
}

quint16 FakeTlsServer::port() const
{
    return m_listener->serverPort();
}

void FakeTlsServer::setScenario(const Scenario &scenario)
{
    m_scenario = scenario;
}

int FakeTlsServer::connectionCount() const
{
    return int(m_connections.size());
}

QByteArray FakeTlsServer::received(int connection) const
{
    if (connection < 0 || connection >= connectionCount())
        return {};
    return m_connections.at(connection)->received;
}

QByteArray FakeTlsServer::receivedInClear(int connection) const
{
    if (connection < 0 || connection >= connectionCount())
        return {};
    return m_connections.at(connection)->inClear;
}

bool FakeTlsServer::encrypted(int connection) const
{
    if (connection < 0 || connection >= connectionCount())
        return false;
    return m_connections.at(connection)->encrypted;
}

bool FakeTlsServer::peerClosed(int connection) const
{
    if (connection < 0 || connection >= connectionCount())
        return false;
    return m_connections.at(connection)->peerClosed;
}

void FakeTlsServer::accept(qintptr descriptor)
{
    auto owned = std::make_unique<Connection>();
    Connection *c = owned.get();
    c->socket = new QSslSocket;
    if (!c->socket->setSocketDescriptor(descriptor)) {
        delete c->socket;
        return;
    }
    c->steps = m_scenario.steps();
    m_connections.push_back(std::move(owned));

    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(m_chain);
    configuration.setPrivateKey(m_key);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    c->socket->setSslConfiguration(configuration);

    connect(c->socket, &QSslSocket::readyRead, this, [this, c] {
        if (c->sleeping)
            return;
        const QByteArray bytes = c->socket->readAll();
        c->received += bytes;
        if (!c->tlsStarted)
            c->inClear += bytes;
        advance(c);
    });
    connect(c->socket, &QSslSocket::encrypted, this, [this, c] {
        c->encrypted = true;
        ++c->next;
        advance(c);
    });
    const auto gone = [c] { c->peerClosed = true; };
    connect(c->socket, &QSslSocket::disconnected, this, gone);
    connect(c->socket, &QSslSocket::errorOccurred, this, gone);
    advance(c);
}

void FakeTlsServer::advance(Connection *c)
{
    while (c->next < c->steps.size()) {
        const Step step = c->steps.at(c->next);
        switch (step.kind) {
        case Step::Send:
            c->socket->write(step.data);
            ++c->next;
            break;
        case Step::WaitForText: {
            const qsizetype at = c->received.indexOf(step.data, c->searchFrom);
            if (at < 0)
                return;
            c->searchFrom = at + step.data.size();
            ++c->next;
            break;
        }
        case Step::StartTls:
            // The encrypted signal moves on to the next step.
            if (!c->tlsStarted) {
                c->tlsStarted = true;
                c->socket->startServerEncryption();
            }
            return;
        case Step::Delay:
            ++c->next;
            c->sleeping = true;
            QTimer::singleShot(step.number, Qt::PreciseTimer, c->socket, [this, c] {
                c->sleeping = false;
                // Before a handshake what waited stays for it to read.
                if (c->next < c->steps.size() && c->steps.at(c->next).kind != Step::StartTls &&
                    c->socket->bytesAvailable() > 0) {
                    const QByteArray bytes = c->socket->readAll();
                    c->received += bytes;
                    if (!c->tlsStarted)
                        c->inClear += bytes;
                }
                advance(c);
            });
            return;
        case Step::Close:
            c->socket->disconnectFromHost();
            c->next = c->steps.size();
            return;
        }
    }
}
