#include "platform/NetworkState.h"

#include <QtTest>

using Flags = QNetworkInterface::InterfaceFlags;
using States = QList<NetworkInterfaceState>;
Q_DECLARE_METATYPE(NetworkInterfaceState)

class TestNetworkState : public QObject {
    Q_OBJECT

private slots:
    void decision_data()
    {
        const Flags upRunning = Flags(QNetworkInterface::IsUp) | QNetworkInterface::IsRunning;
        const Flags loopback = upRunning | QNetworkInterface::IsLoopBack;
        const QHostAddress lan(QStringLiteral("192.168.1.20"));
        const QHostAddress lan6(QStringLiteral("2001:db8::5"));
        const QHostAddress linkLocal6(QStringLiteral("fe80::1"));
        const QHostAddress linkLocal4(QStringLiteral("169.254.10.1"));
        const QHostAddress local(QStringLiteral("127.0.0.1"));

        QTest::addColumn<States>("interfaces");
        QTest::addColumn<bool>("expected");
        QTest::newRow("none") << States{} << false;
        QTest::newRow("only loopback")
            << States{{loopback, {local, QHostAddress::LocalHostIPv6}}} << false;
        QTest::newRow("loopback flag with lan address") << States{{loopback, {lan}}} << false;
        QTest::newRow("ethernet") << States{{upRunning, {lan}}} << true;
        QTest::newRow("ipv6 only") << States{{upRunning, {lan6}}} << true;
        QTest::newRow("up, not running")
            << States{{Flags(QNetworkInterface::IsUp), {lan}}} << false;
        QTest::newRow("running, not up")
            << States{{Flags(QNetworkInterface::IsRunning), {lan}}} << false;
        QTest::newRow("no address") << States{{upRunning, {}}} << false;
        QTest::newRow("link-local only") << States{{upRunning, {linkLocal6, linkLocal4}}} << false;
        QTest::newRow("link-local and global") << States{{upRunning, {linkLocal6, lan}}} << true;
        QTest::newRow("null address") << States{{upRunning, {QHostAddress()}}} << false;
        QTest::newRow("second interface connects")
            << States{{loopback, {local}},
                      {Flags(QNetworkInterface::IsUp), {lan}},
                      {upRunning | QNetworkInterface::CanBroadcast, {lan}}}
            << true;
    }
    void decision()
    {
        QFETCH(States, interfaces);
        QFETCH(bool, expected);
        QCOMPARE(anyInterfaceConnected(interfaces), expected);
    }

    void systemLoopbackIsSeenButNotCounted()
    {
        // Only the loopback interfaces of this machine: the answer must not
        // depend on them.
        States loopbacks;
        for (const NetworkInterfaceState &state : currentInterfaceStates()) {
            if (state.flags.testFlag(QNetworkInterface::IsLoopBack))
                loopbacks.append(state);
        }
        QVERIFY(!anyInterfaceConnected(loopbacks));
    }

    // Each step: the clock, the real state; the answer given and whether
    // the interfaces were read for it. Reuse is 500 ms.
    void recentCheckReusesForAMoment_data()
    {
        QTest::addColumn<QList<qint64>>("times");
        QTest::addColumn<QList<bool>>("states");
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<int>("reads");
        QTest::newRow("first call reads") << QList<qint64>{1000} << QList<bool>{false}
                                          << QList<bool>{false} << 1;
        QTest::newRow("within the moment: old answer")
            << QList<qint64>{1000, 1200, 1499} << QList<bool>{true, false, false}
            << QList<bool>{true, true, true} << 1;
        QTest::newRow("moment over: read again")
            << QList<qint64>{1000, 1500, 1700, 2100} << QList<bool>{true, false, true, true}
            << QList<bool>{true, false, false, true} << 3;
        QTest::newRow("clock going back reads again")
            << QList<qint64>{5000, 4000} << QList<bool>{true, false} << QList<bool>{true, false}
            << 2;
    }

    void recentCheckReusesForAMoment()
    {
        QFETCH(QList<qint64>, times);
        QFETCH(QList<bool>, states);
        QFETCH(QList<bool>, answers);
        QFETCH(int, reads);
        int step = 0;
        int readCount = 0;
        RecentInternetCheck check(
            500, [&] { ++readCount; return states.at(step); }, [&] { return times.at(step); });
        for (step = 0; step < times.size(); ++step)
            QCOMPARE(check(), answers.at(step));
        QCOMPARE(readCount, reads);
    }
};

QTEST_GUILESS_MAIN(TestNetworkState)
#include "tst_networkstate.moc"
