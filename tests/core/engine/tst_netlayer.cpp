// The pieces every network client stands on: the wait, the name look-up
// and the connect to each address in turn.

#include "FakeResolver.h"

#include "engine/net/EventWait.h"
#include "engine/net/HostLookup.h"
#include "engine/net/ProxyTunnel.h"
#include "engine/ProbeConnection.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>
#include <utility>

namespace {

// What a peer sent, already there to be read.
class BufferedConnection final : public ProbeConnection {
public:
    explicit BufferedConnection(QByteArray in) : m_in(std::move(in)) {}
    void connectToHost(const QHostAddress &, quint16) override {}
    bool isConnected() const override { return true; }
    void write(const QByteArray &) override {}
    qint64 bytesAvailable() const override { return m_in.size(); }
    QByteArray readAll() override { return std::exchange(m_in, {}); }
    QByteArray readLine(qint64 maxSize) override
    {
        const qsizetype end = m_in.indexOf('\n');
        const qsizetype n = std::min<qsizetype>(end < 0 ? m_in.size() : end + 1, maxSize);
        const QByteArray line = m_in.left(n);
        m_in.remove(0, n);
        return line;
    }
    void flush() override {}
    void abort() override {}

private:
    QByteArray m_in;
};

} // namespace

Q_DECLARE_METATYPE(EventWait::End)
Q_DECLARE_METATYPE(DottedIPv4)

class TestNetLayer : public QObject {
    Q_OBJECT

private slots:
    // A timer ticks every 10 ms while the wait runs; `wakes` says whether a
    // tick calls wake(). Without a wake the wait must still see the change
    // by its check interval, or else only at its deadline.
    void waitEnds_data()
    {
        QTest::addColumn<int>("readyAtTick"); // 0: never
        QTest::addColumn<int>("abortAtTick"); // 0: never
        QTest::addColumn<bool>("wakes");
        QTest::addColumn<int>("checkEveryMs");
        QTest::addColumn<int>("deadlineMs");
        QTest::addColumn<EventWait::End>("end");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");

        QTest::newRow("woken when ready")
            << 3 << 0 << true << -1 << 10000 << EventWait::End::Ready << 25 << 1000;
        QTest::newRow("ready seen by the check")
            << 3 << 0 << false << 50 << 10000 << EventWait::End::Ready << 25 << 1000;
        QTest::newRow("unwoken ready waits for the deadline")
            << 3 << 0 << false << -1 << 600 << EventWait::End::Ready << 550 << 2000;
        QTest::newRow("deadline") << 0 << 0 << true << 50 << 300 << EventWait::End::TimedOut << 290
                                  << 2000;
        QTest::newRow("abort seen by the check")
            << 0 << 3 << false << 50 << 10000 << EventWait::End::Aborted << 25 << 1000;
        QTest::newRow("abort before ready")
            << 3 << 3 << true << 50 << 10000 << EventWait::End::Aborted << 25 << 1000;
    }
    void waitEnds()
    {
        QFETCH(int, readyAtTick);
        QFETCH(int, abortAtTick);
        QFETCH(bool, wakes);
        QFETCH(int, checkEveryMs);
        QFETCH(int, deadlineMs);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);

        EventWait wait;
        wait.setCheckEveryMs(checkEveryMs);
        int ticks = 0;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout, [&] {
            ++ticks;
            if (wakes)
                wait.wake();
        });
        ticker.start();
        QElapsedTimer clock;
        clock.start();
        const EventWait::End end = wait.until(
            [&] { return readyAtTick > 0 && ticks >= readyAtTick; }, QDeadlineTimer(deadlineMs),
            [&] { return abortAtTick > 0 && ticks >= abortAtTick; });
        const qint64 elapsed = clock.elapsed();
        QTEST(end, "end");
        QVERIFY2(elapsed >= minMs && elapsed <= maxMs, qPrintable(QString::number(elapsed)));
        // The event loop ran throughout: the ticker kept pace.
        QVERIFY2(ticks >= elapsed / 10 / 2, qPrintable(QString::number(ticks)));
    }

    // A program that quits ends its event loops; a download's wait gives up
    // then, a wait that did not ask to keeps to its deadline.
    void loopEndsUnderTheWait_data()
    {
        QTest::addColumn<bool>("endWhenLoopEnds");
        QTest::addColumn<EventWait::End>("end");
        QTest::newRow("gives up") << true << EventWait::End::LoopEnded;
        QTest::newRow("keeps to its deadline") << false << EventWait::End::TimedOut;
    }
    void loopEndsUnderTheWait()
    {
        QFETCH(bool, endWhenLoopEnds);
        // In a thread of its own: ending its loops leaves this one's alone.
        EventWait::End end = EventWait::End::Ready;
        std::unique_ptr<QThread> thread(QThread::create([&] {
            EventWait wait;
            wait.setEndWhenLoopEnds(endWhenLoopEnds);
            end = wait.until([] { return false; }, QDeadlineTimer(1500));
        }));
        thread->start();
        QTest::qWait(200);
        thread->exit();
        QVERIFY(thread->wait(5000));
        QTEST(end, "end");
    }

    // The proxy's answer is read up to its empty line, within its bound,
    // and judged.
    void proxyTunnel_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("over");
        QTest::addColumn<qint64>("leftOver");
        QTest::addColumn<QString>("failure");

        const QString noAnswer =
            QStringLiteral("The proxy gave no complete answer to the tunnel request to h:443");
        QTest::newRow("agreed") << QByteArray("HTTP/1.1 200 OK\r\nVia: p\r\n\r\n") << false << true
                                << qint64(0) << QString();
        QTest::newRow("agreed, bare line feeds")
            << QByteArray("HTTP/1.0 200 OK\n\n") << false << true << qint64(0) << QString();
        QTest::newRow("bytes after the answer")
            << QByteArray("HTTP/1.1 200 OK\r\n\r\nXYZ") << false << true << qint64(3)
            << "The proxy's tunnel to h:443 did not stay open for TLS";
        QTest::newRow("closed after agreeing")
            << QByteArray("HTTP/1.1 200 OK\r\n\r\n") << true << true << qint64(0)
            << "The proxy's tunnel to h:443 did not stay open for TLS";
        QTest::newRow("refused") << QByteArray("HTTP/1.1 403 No\r\n\r\n") << false << true
                                 << qint64(0)
                                 << "The proxy refused the tunnel to h:443: HTTP/1.1 403 No";
        QTest::newRow("not HTTP") << QByteArray("SSH-2.0\r\n\r\n") << false << true << qint64(0)
                                  << "The proxy refused the tunnel to h:443: SSH-2.0";
        QTest::newRow("cut short") << QByteArray("HTTP/1.1 200 OK\r\n") << true << true << qint64(0)
                                   << noAnswer + QStringLiteral(": HTTP/1.1 200 OK");
        QTest::newRow("closed at once") << QByteArray() << true << true << qint64(0) << noAnswer;
        QTest::newRow("still coming") << QByteArray("HTTP/1.1 200 OK\r\n") << false << false
                                      << qint64(0) << QString("timeout");
        QTest::newRow("beyond the bound")
            << QByteArray(ProxyTunnel::AnswerLimit + 10, 'a') << false << true << qint64(10)
            << noAnswer + QStringLiteral(": ") +
                   QString(ProxyTunnel::AnswerLimit, QLatin1Char('a'));
    }
    void proxyTunnel()
    {
        QFETCH(QByteArray, sent);
        QFETCH(bool, closed);
        QFETCH(QString, failure);

        ProxyTunnel tunnel(QStringLiteral("h:443"));
        QCOMPARE(tunnel.request(), QByteArray("CONNECT h:443 HTTP/1.1\r\nHost: h:443\r\n\r\n"));
        BufferedConnection connection(sent);
        tunnel.take(connection);
        if (closed)
            tunnel.peerClosed();
        QTEST(tunnel.over(), "over");
        QTEST(connection.bytesAvailable(), "leftOver");
        if (failure == QLatin1String("timeout"))
            failure =
                QStringLiteral("The proxy did not answer the tunnel request to h:443 within 2 s");
        QCOMPARE(
            tunnel.failure(!tunnel.over(), QStringLiteral("2 s"), connection.bytesAvailable() > 0),
            failure);
    }

    void lookUp_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<DottedIPv4>("reading");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QStringList>("asked");

        const auto socketLib = DottedIPv4::SocketLibrary;
        const auto decimal = DottedIPv4::Decimal;
        QTest::newRow("name, in the resolver's order")
            << "twohost" << socketLib << true << QStringList{"127.0.0.2", "127.0.0.1"}
            << QStringList{"twohost"};
        QTest::newRow("name not found")
            << "nowhere" << decimal << true << QStringList() << QStringList{"nowhere"};
        QTest::newRow("empty host") << "" << decimal << true << QStringList() << QStringList();
        QTest::newRow("dotted, decimal")
            << "010.0.0.1" << decimal << true << QStringList{"10.0.0.1"} << QStringList();
        QTest::newRow("dotted, as sockets read it")
            << "010.0.0.1" << socketLib << true << QStringList{"8.0.0.1"} << QStringList();
        QTest::newRow("never answered")
            << "silent" << decimal << false << QStringList() << QStringList{"silent"};
    }
    void lookUp()
    {
        QFETCH(QString, host);
        QFETCH(DottedIPv4, reading);
        QFETCH(bool, answered);
        QFETCH(QStringList, addresses);

        FakeResolver resolver;
        resolver.answers.insert(
            QStringLiteral("twohost"),
            {QHostAddress(QStringLiteral("127.0.0.2")), QHostAddress::LocalHost});
        resolver.silent.insert(QStringLiteral("silent"));
        EventWait wait;
        const auto found = lookUpHost(resolver, host, reading, wait, QDeadlineTimer(300));
        QCOMPARE(found.has_value(), answered);
        if (found) {
            QStringList texts;
            for (const QHostAddress &address : *found)
                texts.append(address.toString());
            QCOMPARE(texts, addresses);
        }
        QTEST(resolver.asked, "asked");
    }

    // An abort ends a look-up that is never answered, long before its
    // deadline; the answer that comes later is dropped.
    void lookUpAborted()
    {
        FakeResolver resolver;
        resolver.never = true;
        EventWait wait;
        wait.setCheckEveryMs(20);
        bool abort = false;
        QTimer::singleShot(50, [&] { abort = true; });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!lookUpHost(resolver, QStringLiteral("host"), DottedIPv4::Decimal, wait,
                            QDeadlineTimer(QDeadlineTimer::Forever), [&] { return abort; }));
        QVERIFY(clock.elapsed() < 2000);
    }

    // Each address in order until one connects; a give-up ends the tries.
    void connectEach_data()
    {
        QTest::addColumn<QString>("outcomes"); // C connected, F failed, G give up
        QTest::addColumn<bool>("connected");
        QTest::addColumn<int>("tried");

        QTest::newRow("first") << "CFF" << true << 1;
        QTest::newRow("third") << "FFC" << true << 3;
        QTest::newRow("none") << "FFF" << false << 3;
        QTest::newRow("give up") << "FGC" << false << 2;
        QTest::newRow("no address") << "" << false << 0;
    }
    void connectEach()
    {
        QFETCH(QString, outcomes);
        QList<QHostAddress> addresses;
        for (int i = 0; i < outcomes.size(); ++i)
            addresses.append(QHostAddress(quint32(0x7f000001 + i)));
        QList<QHostAddress> seen;
        const bool connected = connectToEach(addresses, [&](const QHostAddress &address) {
            seen.append(address);
            const QChar c = outcomes.at(seen.size() - 1);
            return c == QLatin1Char('C')   ? ConnectAttempt::Connected
                   : c == QLatin1Char('F') ? ConnectAttempt::Failed
                                           : ConnectAttempt::GiveUp;
        });
        QTEST(connected, "connected");
        QFETCH(int, tried);
        QCOMPARE(seen, addresses.mid(0, tried));
    }
};

QTEST_GUILESS_MAIN(TestNetLayer)
#include "tst_netlayer.moc"
