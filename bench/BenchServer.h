#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <thread>

// A small loopback server on its own thread, fast enough that a poll cycle
// over hundreds of services measures the client, not the server. One epoll
// loop serves every listening address (all on one port) and every
// connection.
//
// Http: reads a request up to its empty line and answers "200 OK" with a
// Content-Length; a GET gets a body holding "Welcome", a HEAD the headers
// alone. The connection is closed after the answer.
// Greeting: sends "220 bench ready" at once and closes when the client
// sends QUIT or closes.
class BenchServer {
public:
    enum class Mode { Http, Greeting };

    explicit BenchServer(Mode mode);
    ~BenchServer();
    BenchServer(const BenchServer &) = delete;
    BenchServer &operator=(const BenchServer &) = delete;

    // Listens on each dotted loopback address, all on the same port (chosen
    // by the system for the first). False with a message on failure.
    bool start(const QList<QByteArray> &addresses, QString *error);
    void stop();
    quint16 port() const { return m_port; }
    // Connections answered so far.
    qint64 served() const { return m_served.load(); }

    static QByteArray bodyText();

private:
    void loop();

    Mode m_mode;
    quint16 m_port = 0;
    QList<int> m_listeners;
    int m_epoll = -1;
    int m_wake = -1;
    std::thread m_thread;
    std::atomic<qint64> m_served{0};
};
