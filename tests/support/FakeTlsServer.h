#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

#include <memory>
#include <vector>

class QSslSocket;

// A scripted server on 127.0.0.1 (port chosen by the system) that can speak
// TLS: from the first byte (a scenario that begins with startTls()) or after
// a plain start, as SMTP's STARTTLS does. Each connection plays the scenario
// and records what it received, in clear and in all, so a test compares the
// exact request or dialogue on both sides of the handshake.
class FakeTlsServer : public QObject {
    Q_OBJECT
public:
    struct Step {
        enum Kind { Send, WaitForText, StartTls, Close, Delay };
        Kind kind = Close;
        QByteArray data;
        int number = 0;
    };

    class Scenario {
    public:
        Scenario &send(const QByteArray &bytes);
        // Waits until the text came in after the text the previous wait
        // found, so a command sent twice is waited for twice.
        Scenario &waitForText(const QByteArray &text);
        // Starts the server's side of the handshake and goes on once it is
        // done; a client that gives up leaves the scenario there.
        Scenario &startTls();
        Scenario &close();
        // Does nothing for a while; what the client sends meanwhile (a
        // handshake's first message) waits unread until then.
        Scenario &delay(int ms);

        const QList<Step> &steps() const { return m_steps; }

    private:
        QList<Step> m_steps;
    };

    explicit FakeTlsServer(QObject *parent = nullptr);
    ~FakeTlsServer() override;

    // The certificate (with any chain after it) and key files shown to
    // clients; false when they cannot be read.
    bool setIdentity(const QString &certificateFile, const QString &keyFile);
    // Listens on 127.0.0.1 on a free port; false when that fails.
    bool listen();
    quint16 port() const;

    // The scenario of every connection accepted from now on; the scenario
    // ends by keeping the connection open.
    void setScenario(const Scenario &scenario);

    int connectionCount() const;
    // Everything the client sent as the scenario saw it (decrypted after the
    // handshake).
    QByteArray received(int connection = 0) const;
    // What came in before the handshake started: what an eavesdropper saw.
    QByteArray receivedInClear(int connection = 0) const;
    bool encrypted(int connection = 0) const;
    bool peerClosed(int connection = 0) const;

private:
    struct Connection;
    class Listener;

    void accept(qintptr descriptor);
    void advance(Connection *c);

    std::unique_ptr<Listener> m_listener;
    QList<QSslCertificate> m_chain;
    QSslKey m_key;
    Scenario m_scenario;
    std::vector<std::unique_ptr<Connection>> m_connections;
};
