#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

#include <memory>
#include <vector>

// A scripted TCP server on 127.0.0.1 (port chosen by the system) for tests.
// Every accepted connection plays a scenario of steps, driven by the event
// loop of the test's thread, so it keeps working while the code under test
// waits in an event loop of its own. Every byte received is recorded per
// connection so a test can compare the exact request, greeting reply or
// dialogue. It also stands in for an HTTP proxy: it simply answers what the
// scenario says and keeps the request it got.
class FakeServer : public QObject {
    Q_OBJECT
public:
    struct Step {
        enum Kind { Send, Delay, WaitForBytes, WaitForText, Stall, HalfClose, Close, Stream };
        Kind kind = Stall;
        QByteArray data;
        int number = 0;
    };

    class Scenario {
    public:
        Scenario &send(const QByteArray &bytes);
        Scenario &delay(int ms);
        // Waits until this many bytes in total came in on the connection.
        Scenario &waitForBytes(int count);
        // Waits until what came in on the connection contains text.
        Scenario &waitForText(const QByteArray &text);
        // Does nothing more and keeps the connection open.
        Scenario &stall();
        // Ends our sending side (after what is queued) and keeps reading.
        Scenario &halfClose();
        // Closes after what is queued has gone out.
        Scenario &close();
        // Sends chunk again and again: every intervalMs, or as fast as the
        // peer takes it when intervalMs is 0. Runs until the peer goes away or
        // the server is destroyed.
        Scenario &streamForever(const QByteArray &chunk, int intervalMs = 0);

        const QList<Step> &steps() const { return m_steps; }

    private:
        QList<Step> m_steps;
    };

    explicit FakeServer(QObject *parent = nullptr);
    ~FakeServer() override;

    // Listens on 127.0.0.1 on a free port; false when that fails.
    bool listen();
    quint16 port() const;

    // The scenario of every connection accepted from now on.
    void setScenario(const Scenario &scenario);
    // One scenario per connection in order of arrival; the last one repeats.
    void setScenarios(const QList<Scenario> &scenarios);

    int connectionCount() const;
    // Everything received on a connection so far; empty for an unknown one.
    QByteArray received(int connection = 0) const;
    // The peer closed its side (or reset) the connection.
    bool peerClosed(int connection = 0) const;
    // Bytes handed to the peer's connection (streams included).
    qint64 bytesSent(int connection = 0) const;

private:
    struct Connection;

    void accept();
    void advance(Connection *c);
    void topUpStream(Connection *c);

    QTcpServer m_server;
    QList<Scenario> m_scenarios;
    std::vector<std::unique_ptr<Connection>> m_connections;
};
