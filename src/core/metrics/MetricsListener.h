#pragma once

#include "metrics/ListenAddress.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;
class QTimer;

// The program's own /metrics endpoint: a small HTTP listener on the main
// thread, driven by socket events alone, so it answers while a poll waits on
// its probes (they run the event loop) and never holds the window up. It
// reads one request of at most MaxRequestBytes within IdleTimeoutMs, answers
// GET /metrics (HTTP/1.0 or 1.1) with the text it was given, 405 for any
// other method, 404 for any other path, 400 for anything it cannot read,
// and closes the connection after each answer. At most MaxClients
// connections are served at once; more are closed at once.
class MetricsListener : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype MaxRequestBytes = 8192;
    static constexpr int IdleTimeoutMs = 10000;
    static constexpr int MaxClients = 16;

    explicit MetricsListener(QObject *parent = nullptr);
    ~MetricsListener() override;

    // Listens there (port 0: one the system picks), after closing what it
    // listened on before; empty on success, else why not, for the user.
    QString listen(const ListenAddress &address);
    void close();
    bool isListening() const { return m_server.isListening(); }
    ListenAddress address() const { return m_address; }
    quint16 port() const { return m_server.serverPort(); }

    // For tests: a shorter deadline for the connections accepted from now on.
    void setIdleTimeoutMs(int ms) { m_idleTimeoutMs = ms; }

    // What GET /metrics answers from now on.
    void setBody(const QByteArray &body) { m_body = body; }
    QByteArray body() const { return m_body; }

private:
    struct Client {
        QByteArray request;
        QTimer *deadline = nullptr;
        bool answered = false;
    };

    void accept();
    void read(QTcpSocket *socket);
    void answer(QTcpSocket *socket, Client &client, const QByteArray &request);
    void reply(QTcpSocket *socket, Client &client, const QByteArray &version, int status,
               const QByteArray &reason, const QByteArray &body,
               const QByteArray &extraHeaders = {});
    void drop(QTcpSocket *socket);

    QTcpServer m_server;
    ListenAddress m_address;
    QByteArray m_body;
    QHash<QTcpSocket *, Client> m_clients;
    int m_idleTimeoutMs = IdleTimeoutMs;
};
