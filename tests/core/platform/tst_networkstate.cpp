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
};

QTEST_GUILESS_MAIN(TestNetworkState)
#include "tst_networkstate.moc"
