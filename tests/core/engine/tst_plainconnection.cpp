// The probe's own connection, against a QTcpServer of the test: what it
// delivers, in which order, and that it never holds unbounded input or
// delivers anything after an abort.

#include "engine/PlainConnection.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

// What the connection told, in order.
struct Recorder {
    QStringList events;
    QByteArray data;
    PlainConnection *connection = nullptr;
    bool readOnData = true;

    ProbeConnection::Events hooks()
    {
        ProbeConnection::Events e;
        e.connected = [this] { events << QStringLiteral("connected"); };
        e.dataArrived = [this] {
            if (events.isEmpty() || events.last() != QLatin1String("data"))
                events << QStringLiteral("data");
            if (readOnData)
                data += connection->readAll();
        };
        e.peerClosed = [this] { events << QStringLiteral("closed"); };
        e.failed = [this] { events << QStringLiteral("failed"); };
        return e;
    }
};

// A connection whose events go to its recorder.
struct Client {
    explicit Client(bool readOnData = true)
    {
        r.connection = &c;
        r.readOnData = readOnData;
        c.setEvents(r.hooks());
    }
    PlainConnection c;
    Recorder r;
};

// Runs the connection the way a probe does until done() or the time is up.
bool drive(PlainConnection &c, const std::function<bool()> &done, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        if (!c.pollNow() && !c.waitBriefly(1000)) {
            c.prepareWait();
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        }
    }
    return true;
}

} // namespace

class TestPlainConnection : public QObject {
    Q_OBJECT

private slots:
    void exchange_data()
    {
        QTest::addColumn<QHostAddress>("address");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("writeBeforeConnected");
        QTest::newRow("ipv4") << QHostAddress(QHostAddress::LocalHost) << QByteArray("220 ready\r\n")
                              << false;
        QTest::newRow("ipv6") << QHostAddress(QHostAddress::LocalHostIPv6)
                              << QByteArray("220 ready\r\n") << false;
        QTest::newRow("request queued before the connect ends")
            << QHostAddress(QHostAddress::LocalHost) << QByteArray("HTTP/1.1 200 OK\r\n\r\n")
            << true;
        QTest::newRow("answer larger than one read")
            << QHostAddress(QHostAddress::LocalHost) << QByteArray(300000, 'x') << false;
    }

    // Connect, the request goes out whole, the answer comes in whole, then
    // the end of the stream: in that order.
    void exchange()
    {
        QFETCH(QHostAddress, address);
        QFETCH(QByteArray, answer);
        QFETCH(bool, writeBeforeConnected);
        QTcpServer server;
        if (!server.listen(address))
            QSKIP("this machine has no such loopback address");
        QByteArray received;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *peer = server.nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, peer, [&, peer] {
                received += peer->readAll();
                if (received.endsWith("\r\n\r\n")) {
                    peer->write(answer);
                    peer->disconnectFromHost();
                }
            });
        });

        Client client;
        PlainConnection &c = client.c;
        Recorder &r = client.r;
        c.connectToHost(address, server.serverPort());
        const QByteArray request = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
        if (writeBeforeConnected)
            c.write(request);
        QVERIFY(drive(c, [&] { return c.isConnected() || !r.events.isEmpty(); }));
        QCOMPARE(r.events.value(0), QStringLiteral("connected"));
        if (!writeBeforeConnected)
            c.write(request);
        QVERIFY(drive(c, [&] { return r.events.contains(QStringLiteral("closed")); }));
        QCOMPARE(r.events, (QStringList{QStringLiteral("connected"), QStringLiteral("data"),
                                        QStringLiteral("closed")}));
        QCOMPARE(r.data, answer);
        QCOMPARE(received, request);
        QVERIFY(!c.isConnected());
    }

    void refusedConnectFails()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        Client client;
        PlainConnection &c = client.c;
        Recorder &r = client.r;
        c.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(drive(c, [&] { return !r.events.isEmpty(); }));
        QCOMPARE(r.events, QStringList{QStringLiteral("failed")});
        QVERIFY(!c.isConnected());
        c.write("ignored"); // a closed connection takes nothing and does not crash
    }

    // A reader that does not take the data makes reading pause at the limit;
    // taking it lets the rest in.
    void inputIsBounded()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const qsizetype total = PlainConnection::InputLimit * 2 + 12345;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *peer = server.nextPendingConnection();
            peer->write(QByteArray(total, 'y'));
            peer->disconnectFromHost();
        });
        Client client(false);
        PlainConnection &c = client.c;
        Recorder &r = client.r;
        c.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(drive(c, [&] { return c.bytesAvailable() >= PlainConnection::InputLimit; }));
        // Held, not growing, while nobody reads.
        for (int i = 0; i < 20; ++i) {
            c.pollNow();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        QVERIFY(c.bytesAvailable() < PlainConnection::InputLimit + 16384 * 8);
        QByteArray all;
        QVERIFY(drive(c, [&] {
            all += c.readAll();
            return r.events.contains(QStringLiteral("closed"));
        }));
        all += c.readAll();
        QCOMPARE(all.size(), total);
    }

    void readLineStopsAtLineFeedOrLimit()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *peer = server.nextPendingConnection();
            peer->write("HTTP/1.1 200 OK\r\nVia: x\r\n\r\ntail");
            peer->disconnectFromHost();
        });
        Client client(false);
        PlainConnection &c = client.c;
        Recorder &r = client.r;
        c.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(drive(c, [&] { return r.events.contains(QStringLiteral("closed")); }));
        QCOMPARE(c.readLine(100), QByteArray("HTTP/1.1 200 OK\r\n"));
        QCOMPARE(c.readLine(3), QByteArray("Via"));
        QCOMPARE(c.readLine(100), QByteArray(": x\r\n"));
        QCOMPARE(c.readLine(100), QByteArray("\r\n"));
        QCOMPARE(c.readLine(0), QByteArray());
        QCOMPARE(c.readAll(), QByteArray("tail"));
    }

    // After abort nothing more is told, whatever the peer does.
    void abortEndsEvents()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QTcpSocket *peer = nullptr;
        connect(&server, &QTcpServer::newConnection, this,
                [&] { peer = server.nextPendingConnection(); });
        Client client;
        PlainConnection &c = client.c;
        Recorder &r = client.r;
        c.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(drive(c, [&] { return c.isConnected() && peer; }));
        c.prepareWait();
        c.abort();
        peer->write("late\r\n");
        peer->disconnectFromHost();
        QTest::qWait(50);
        QVERIFY(!c.pollNow());
        QCOMPARE(r.events, QStringList{QStringLiteral("connected")});
        QCOMPARE(c.bytesAvailable(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPlainConnection)

#include "tst_plainconnection.moc"
