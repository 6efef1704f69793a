// The connection a dialogue client (the mail client) stands on: where it
// connects, what ends its waits, how it turns to TLS, and how much of a
// server's input it holds. Against scripted servers on 127.0.0.1 and a fake
// resolver; the test authority is trusted for this process through
// SSL_CERT_FILE.

#include "FakeResolver.h"
#include "FakeServer.h"
#include "FakeTlsServer.h"
#include "TestPki.h"

#include "alerts/SmtpReplyBuffer.h"
#include "engine/net/ClientConnection.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>

#include <unistd.h>

Q_DECLARE_METATYPE(FakeServer::Scenario)
Q_DECLARE_METATYPE(FakeTlsServer::Scenario)
Q_DECLARE_METATYPE(ClientConnection::Tls)

namespace {

const QString Host = QStringLiteral("mail.quellmark.test");
const QString Peer = QStringLiteral("SMTP server");

// Takes connections and never reads from them: what is sent piles up in the
// system's buffers until they are full.
class DeafServer : public QTcpServer {
public:
    ~DeafServer() override
    {
        for (const qintptr descriptor : std::as_const(m_descriptors))
            ::close(int(descriptor));
    }

protected:
    void incomingConnection(qintptr descriptor) override { m_descriptors.append(descriptor); }

private:
    QList<qintptr> m_descriptors;
};

// Aborts once `ms` passed on `clock`; never when `ms` is negative.
std::function<bool()> abortAfter(const QElapsedTimer &clock, int ms)
{
    return [&clock, ms] { return ms >= 0 && clock.elapsed() >= ms; };
}

} // namespace

class TestClientConnection : public QObject {
    Q_OBJECT

    TestPki m_pki;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_pki.create(), qPrintable(m_pki.error()));
        qunsetenv("SSL_CERT_DIR");
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_pki.caFile()));
        QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend here");
    }

    // The name's addresses are tried in turn within one deadline; nothing
    // but a made connection counts, and a failure before one says nothing.
    void whereItConnects_data()
    {
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<bool>("answers");
        QTest::addColumn<int>("connectMs");
        QTest::addColumn<int>("abortAtMs"); // -1: never
        QTest::addColumn<bool>("opened");
        QTest::addColumn<bool>("aborted");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");

        // The server listens on 127.0.0.1 alone: 127.0.0.2 refuses.
        QTest::newRow("second address when the first refuses")
            << QStringList{"127.0.0.2", "127.0.0.1"} << true << 2000 << -1 << true << false << 0
            << 1500;
        QTest::newRow("every address refuses")
            << QStringList{"127.0.0.2", "127.0.0.3"} << true << 2000 << -1 << false << false << 0
            << 1500;
        QTest::newRow("silent resolver: the connect deadline")
            << QStringList{"127.0.0.1"} << false << 300 << -1 << false << false << 280 << 2000;
        QTest::newRow("abort during the look-up")
            << QStringList{"127.0.0.1"} << false << 5000 << 150 << false << true << 140 << 1500;
    }
    void whereItConnects()
    {
        QFETCH(QStringList, addresses);
        QFETCH(bool, answers);
        QFETCH(int, connectMs);
        QFETCH(int, abortAtMs);
        QFETCH(bool, opened);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);

        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(FakeServer::Scenario().stall());
        FakeResolver resolver;
        for (const QString &address : std::as_const(addresses))
            resolver.answers[Host].append(QHostAddress(address));
        resolver.never = !answers;

        ClientConnection connection(resolver, Peer);
        QElapsedTimer clock;
        clock.start();
        connection.setAbortCheck(abortAfter(clock, abortAtMs));
        const bool result = connection.open(Host, server.port(), DottedIPv4::Decimal,
                                            ClientConnection::Tls::Never, connectMs);
        const qint64 elapsed = clock.elapsed();

        QCOMPARE(result, opened);
        QCOMPARE(connection.made(), opened);
        QCOMPARE(connection.isConnected(), opened);
        QTEST(connection.wasAborted(), "aborted");
        QCOMPARE(connection.failure(), QString());
        QVERIFY2(elapsed >= minMs && elapsed <= maxMs, qPrintable(QString::number(elapsed)));
        QTRY_COMPARE(server.connectionCount(), opened ? 1 : 0);
    }

    // One reply read as a client reads it: bytes handed to the reader until
    // it is over or the connection ends, each wait within one deadline.
    void readingAReply_data()
    {
        QTest::addColumn<FakeServer::Scenario>("scenario");
        QTest::addColumn<int>("deadlineMs");
        QTest::addColumn<int>("abortAtMs");
        QTest::addColumn<QString>("lastLine");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<bool>("full");
        QTest::addColumn<bool>("waited"); // no deadline or abort ended it
        QTest::addColumn<bool>("aborted");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<qint64>("leftOver"); // bytes after the reply; -1: any
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");

        using S = FakeServer::Scenario;
        QTest::newRow("what follows the reply stays")
            << S().send("250-a\r\n250 b\r\n220 next\r\n").stall() << 3000 << -1 << "250 b" << true
            << false << true << false << true << qint64(10) << 0 << 1500;
        QTest::newRow("silent server: the deadline")
            << S().stall() << 300 << -1 << "" << false << false << false << false << true
            << qint64(0) << 280 << 2000;
        QTest::newRow("abort check ends the wait")
            << S().stall() << 5000 << 150 << "" << false << false << false << true << true
            << qint64(0) << 140 << 1500;
        QTest::newRow("endless line: cut at the reply bound")
            << S().streamForever(QByteArray(4096, 'x')) << 5000 << -1
            << QString(SmtpReplyBuffer::Limit, QLatin1Char('x')) << false << true << true << false
            << true << qint64(-1) << 0 << 5000;
        QTest::newRow("server closes in the middle of a reply")
            << S().send("250 part").close() << 3000 << -1 << "250 part" << false << false << true
            << false << false << qint64(0) << 0 << 1500;
    }
    void readingAReply()
    {
        QFETCH(FakeServer::Scenario, scenario);
        QFETCH(int, deadlineMs);
        QFETCH(int, abortAtMs);
        QFETCH(qint64, leftOver);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);

        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(scenario);
        FakeResolver resolver;
        ClientConnection connection(resolver, Peer);
        QVERIFY(connection.open(QStringLiteral("127.0.0.1"), server.port(), DottedIPv4::Decimal,
                                ClientConnection::Tls::Never, 2000));
        QElapsedTimer clock;
        clock.start();
        connection.setAbortCheck(abortAfter(clock, abortAtMs));

        SmtpReplyBuffer reply;
        bool waited = true;
        const QDeadlineTimer deadline(deadlineMs);
        while (!connection.readInto(reply) && connection.isConnected()) {
            if (!connection.waitForInput(deadline)) {
                waited = false;
                break;
            }
        }
        const qint64 elapsed = clock.elapsed();

        QTEST(reply.lastLine(), "lastLine");
        QTEST(reply.complete(), "complete");
        QTEST(reply.full(), "full");
        QTEST(waited, "waited");
        QTEST(connection.wasAborted(), "aborted");
        QTEST(connection.isConnected(), "connected");
        if (!connection.isConnected())
            QVERIFY(connection.endedInOrder());
        if (leftOver >= 0)
            QCOMPARE(connection.bytesAvailable(), leftOver);
        QVERIFY2(elapsed >= minMs && elapsed <= maxMs, qPrintable(QString::number(elapsed)));

        // A server that goes on sending fills no more than the input bound.
        QTest::qWait(300);
        QVERIFY2(connection.bytesAvailable() <= ClientConnection::InputLimit,
                 qPrintable(QString::number(connection.bytesAvailable())));
    }

    // Bytes that cannot leave within the send deadline: the reason in the
    // mail client's words.
    void sending_data()
    {
        QTest::addColumn<QString>("server"); // "deaf", "closed", "breaks"
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<QString>("failure"); // how it begins

        // More than the system buffers of both sides hold.
        const qsizetype tooMuch = 64 * 1024 * 1024;
        QTest::newRow("server takes nothing: the deadline")
            << "deaf" << tooMuch << "The SMTP server does not take what is sent to it.";
        QTest::newRow("connection closed before")
            << "closed" << qsizetype(10) << "The connection to the SMTP server is closed.";
        QTest::newRow("connection breaks while sending")
            << "breaks" << tooMuch << "The connection to the SMTP server broke: ";
    }
    void sending()
    {
        QFETCH(QString, server);
        QFETCH(qsizetype, size);
        QFETCH(QString, failure);

        FakeServer fake;
        DeafServer deaf;
        quint16 port = 0;
        if (server == QLatin1String("deaf")) {
            QVERIFY(deaf.listen(QHostAddress::LocalHost));
            port = deaf.serverPort();
        } else {
            QVERIFY(fake.listen());
            port = fake.port();
            fake.setScenario(server == QLatin1String("breaks")
                                 ? FakeServer::Scenario().waitForBytes(1).close()
                                 : FakeServer::Scenario().close());
        }
        FakeResolver resolver;
        ClientConnection connection(resolver, Peer);
        QVERIFY(connection.open(QStringLiteral("127.0.0.1"), port, DottedIPv4::Decimal,
                                ClientConnection::Tls::Never, 2000));
        if (server == QLatin1String("closed")) {
            QVERIFY(connection.waitForInput(QDeadlineTimer(3000)));
            QVERIFY(!connection.isConnected());
        }

        QElapsedTimer clock;
        clock.start();
        const QString got = connection.send(QByteArray(size, 'm'), 300);
        QVERIFY2(clock.elapsed() <= 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(!failure.isEmpty() && got.startsWith(failure), qPrintable(got));
    }

    // TLS from the connect or begun later, with the server's name checked;
    // each way it can fail says why in the mail client's words and drops
    // the connection.
    void tls_data()
    {
        QTest::addColumn<ClientConnection::Tls>("tls");
        QTest::addColumn<QString>("identity");
        QTest::addColumn<FakeTlsServer::Scenario>("scenario");
        QTest::addColumn<QString>("failure"); // empty: none; else a part of it

        using S = FakeTlsServer::Scenario;
        const auto at = ClientConnection::Tls::AtOnce;
        const auto later = ClientConnection::Tls::Later;
        const S afterStartTls = S().waitForText("STARTTLS\r\n");
        // The first bytes of the client's opening handshake message.
        const QByteArray ClientHelloStart("\x16\x03", 2);
        const QString notFinished = QStringLiteral(
            "TLS failure with the SMTP server: the TLS handshake did not finish within 1 s");

        QTest::newRow("from the connect")
            << at << "valid" << S().startTls().send("220 in\r\n") << "";
        QTest::newRow("begun later")
            << later << "valid" << S(afterStartTls).startTls().send("220 in\r\n") << "";
        QTest::newRow("wrong host, from the connect")
            << at << "wrong host" << S().startTls() << "The host name did not match";
        QTest::newRow("silent server, from the connect") << at << "valid" << S() << notFinished;
        QTest::newRow("silent server, begun later") << later << "valid" << afterStartTls
                                                    << notFinished;
        QTest::newRow("server closes during the handshake")
            << at << "valid" << S().waitForText(ClientHelloStart).close()
            << "TLS failure with the SMTP server: the server closed the connection during the "
               "TLS handshake";
    }
    void tls()
    {
        QFETCH(ClientConnection::Tls, tls);
        QFETCH(QString, identity);
        QFETCH(FakeTlsServer::Scenario, scenario);
        QFETCH(QString, failure);

        const TestPki::Identity id = identity == QLatin1String("wrong host") ? m_pki.wrongHost()
                                                                              : m_pki.valid();
        FakeTlsServer server;
        QVERIFY(server.setIdentity(id.certificateFile, id.keyFile));
        QVERIFY(server.listen());
        server.setScenario(scenario);
        FakeResolver resolver({TestPki::hostName()});
        ClientConnection connection(resolver, Peer);

        constexpr int Ms = 600;
        bool secured = connection.open(TestPki::hostName(), server.port(), DottedIPv4::Decimal,
                                       tls, Ms);
        if (tls == ClientConnection::Tls::Later) {
            QVERIFY(secured);
            QCOMPARE(connection.send("STARTTLS\r\n", 2000), QString());
            secured = connection.startTls(Ms);
        }

        QCOMPARE(secured, failure.isEmpty());
        if (!secured) {
            QVERIFY2(connection.failure().startsWith(
                         QStringLiteral("TLS failure with the SMTP server: ")),
                     qPrintable(connection.failure()));
            QVERIFY2(connection.failure().contains(failure), qPrintable(connection.failure()));
            QVERIFY(!connection.isConnected());
            QTRY_VERIFY(server.peerClosed());
            QVERIFY(!server.encrypted());
            return;
        }
        QCOMPARE(connection.failure(), QString());
        SmtpReplyBuffer reply;
        const QDeadlineTimer deadline(3000);
        while (!connection.readInto(reply) && connection.waitForInput(deadline)) {
        }
        QCOMPARE(reply.lastLine(), QStringLiteral("220 in"));
        QVERIFY(server.encrypted());
    }
};

QTEST_GUILESS_MAIN(TestClientConnection)
#include "tst_clientconnection.moc"
