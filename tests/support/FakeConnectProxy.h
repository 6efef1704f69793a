#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

#include <memory>
#include <vector>

// An HTTP proxy on 127.0.0.1 that understands CONNECT only: it reads the
// request up to its empty line, keeps it, sends the configured answer and,
// when that answer is a 2xx one, pipes bytes both ways between the client
// and 127.0.0.1:targetPort, whatever host the request named.
class FakeConnectProxy : public QObject {
    Q_OBJECT
public:
    explicit FakeConnectProxy(quint16 targetPort, QObject *parent = nullptr);
    ~FakeConnectProxy() override;

    bool listen();
    quint16 port() const;

    // Default "HTTP/1.1 200 Connection established\r\n\r\n".
    void setAnswer(const QByteArray &answer) { m_answer = answer; }

    int connectionCount() const;
    // The request up to and including its empty line.
    QByteArray request(int connection = 0) const;

private:
    struct Tunnel;

    void accept();
    void readClient(Tunnel *t);

    QTcpServer m_server;
    quint16 m_targetPort;
    QByteArray m_answer = "HTTP/1.1 200 Connection established\r\n\r\n";
    std::vector<std::unique_ptr<Tunnel>> m_tunnels;
};
