#include "platform/ConnectionWatcher.h"
#include "platform/NetworkState.h"

#include <QtTest>

#include <cstdio>

using Flags = QNetworkInterface::InterfaceFlags;
using States = QList<NetworkInterfaceState>;
Q_DECLARE_METATYPE(NetworkInterfaceState)

namespace {
const QByteArray V4Header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU"
                            "\tWindow\tIRTT      \n";
const QByteArray V4Route = "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0    \n";
const QByteArray V4Subnet = "docker0\t000011AC\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0\n";
const QByteArray V6Zero(32, '0');
const QByteArray V6Route = V6Zero + " 00 " + V6Zero +
                           " 00 fd000000000000000000000000000001 00000400 00000002 00000000 "
                           "00000003     eth0\n";
// The kernel's own "unreachable" entry, in every IPv6 table.
const QByteArray V6Reject =
    V6Zero + " 00 " + V6Zero + " 00 " + V6Zero + " ffffffff 00000001 00000000 00200200 lo\n";
const QByteArray Unread = "<not read>";

// Runs this program again with `mode` in a private network namespace set up
// by `script` (ip as "$IP"); its output, or why that cannot be done here.
QByteArray runInNamespace(const QString &script, const QString &mode, QString *skip)
{
    const QString unshare = QStandardPaths::findExecutable("unshare");
    const QString ip = QStandardPaths::findExecutable("ip", {"/usr/sbin", "/sbin", "/usr/bin"});
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("IP", ip);
    process.setProcessEnvironment(environment);
    process.start(unshare, {"-rn", "sh", "-c", "\"$IP\" link add v0 type veth peer name v1"});
    if (unshare.isEmpty() || ip.isEmpty() || !process.waitForFinished(10000) ||
        process.exitCode() != 0) {
        *skip = "this machine cannot make a private network namespace with a veth pair "
                "(unshare -rn from util-linux, ip from iproute2): " +
                process.readAllStandardError().trimmed();
        return {};
    }
    process.start(unshare, {"-rn", "sh", "-c", script + " && exec \"$0\" " + mode,
                            QCoreApplication::applicationFilePath()});
    process.waitForFinished(30000);
    return process.readAllStandardOutput().trimmed() + process.readAllStandardError();
}

const QString Veth = "\"$IP\" link set lo up && \"$IP\" link add v0 type veth peer name v1 && "
                     "\"$IP\" addr add 10.9.0.1/24 dev v0 && \"$IP\" link set v0 up && "
                     "\"$IP\" link set v1 up";
const QString WithRoute = Veth + " && \"$IP\" route add default via 10.9.0.2";

// Inside the namespace: no word on a change that gives no way out, then a
// word soon after a default route appears.
int watchInNamespace()
{
    const QString ip = qEnvironmentVariable("IP");
    ConnectionWatcher watcher([] { return InternetConnected(); });
    int seen = 0;
    QObject::connect(&watcher, &ConnectionWatcher::connected, [&seen] { ++seen; });
    QProcess::execute(ip, {"addr", "add", "10.9.1.1/24", "dev", "v0"});
    QTest::qWait(ConnectionWatcher::SettleMs + 500);
    if (seen > 0 || watcher.source() != ConnectionWatcher::Source::KernelNotices) {
        std::puts("spoke without a route or has no kernel notices");
        return 1;
    }
    QProcess::execute(ip, {"route", "add", "default", "via", "10.9.0.2"});
    std::puts(QTest::qWaitFor([&seen] { return seen > 0; }, 10000) ? "restored" : "missed");
    return 0;
}
} // namespace

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

    // Route table texts: the interfaces of the default routes, or nothing
    // when the text is not a route table.
    void routeTables_data()
    {
        QTest::addColumn<bool>("ipv6");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<bool>("readable");
        const QByteArray v4 = V4Header + V4Subnet + V4Route;
        QTest::newRow("v4 default") << false << v4 << QStringList{"eth0"} << true;
        QTest::newRow("v4 two defaults")
            << false << v4 + QByteArray(V4Route).replace("eth0", "wlan0")
            << QStringList{"eth0", "wlan0"} << true;
        QTest::newRow("v4 unreachable")
            << false << V4Header + QByteArray(V4Route).replace("0003", "0201") << QStringList{}
            << true;
        QTest::newRow("v4 not up")
            << false << V4Header + QByteArray(V4Route).replace("0003", "0002") << QStringList{}
            << true;
        QTest::newRow("v4 without header") << false << V4Route << QStringList{} << false;
        QTest::newRow("v4 field missing")
            << false << V4Header + V4Route.mid(5) << QStringList{} << false;
        QTest::newRow("v4 bad hex")
            << false << V4Header + QByteArray(V4Route).replace("0003", "00x3") << QStringList{}
            << false;
        QTest::newRow("v6 default") << true << V6Reject + V6Route << QStringList{"eth0"} << true;
        QTest::newRow("v6 reject only") << true << V6Reject << QStringList{} << true;
        QTest::newRow("v6 ::/1") << true << QByteArray(V6Route).replace(" 00 ", " 01 ")
                                 << QStringList{} << true;
        QTest::newRow("v6 short address") << true << V6Route.mid(1) << QStringList{} << false;
        QTest::newRow("v6 too many lines")
            << true << V6Reject.repeated(16385) << QStringList{} << false;
    }
    void routeTables()
    {
        QFETCH(bool, ipv6);
        QFETCH(QByteArray, text);
        QFETCH(QStringList, interfaces);
        QFETCH(bool, readable);
        const auto found = defaultRouteInterfaces(ipv6 ? RouteTable::IPv6 : RouteTable::IPv4, text);
        QCOMPARE(found.has_value(), readable);
        QCOMPARE(found.value_or(QStringList()), interfaces);
    }

    // Routes with interfaces; the interface rule only when no table reads.
    void connectedByRoutes_data()
    {
        const Flags upRunning = Flags(QNetworkInterface::IsUp) | QNetworkInterface::IsRunning;
        const QHostAddress lan(QStringLiteral("192.168.1.20"));
        const NetworkInterfaceState eth0{upRunning, {lan}, "eth0"};
        const NetworkInterfaceState bridge{upRunning, {QHostAddress("172.17.0.1")}, "docker0"};
        QTest::addColumn<QByteArray>("ipv4");
        QTest::addColumn<QByteArray>("ipv6");
        QTest::addColumn<States>("interfaces");
        QTest::addColumn<bool>("expected");
        const QByteArray v4 = V4Header + V4Route;
        QTest::newRow("default route out") << v4 << V6Reject << States{bridge, eth0} << true;
        QTest::newRow("bridge, no default")
            << V4Header + V4Subnet << V6Reject << States{bridge, eth0} << false;
        QTest::newRow("no carrier under the default")
            << v4 << V6Reject << States{bridge, {Flags(QNetworkInterface::IsUp), {lan}, "eth0"}}
            << false;
        QTest::newRow("ipv6 default only")
            << V4Header << V6Reject + V6Route << States{eth0} << true;
        QTest::newRow("ipv4 unread, ipv6 no default")
            << Unread << V6Reject << States{bridge} << false;
        QTest::newRow("none read") << Unread << Unread << States{bridge} << true;
        QTest::newRow("both garbled")
            << QByteArray("x") << QByteArray("x") << States{bridge} << true;
    }
    void connectedByRoutes()
    {
        QFETCH(QByteArray, ipv4);
        QFETCH(QByteArray, ipv6);
        QFETCH(States, interfaces);
        QFETCH(bool, expected);
        const auto read = [](const QByteArray &text) {
            return text == Unread ? std::nullopt : std::optional<QByteArray>(text);
        };
        QCOMPARE(internetConnectedFrom(read(ipv4), read(ipv6), interfaces), expected);
    }

    // The system's answer, and the watcher, in private network namespaces.
    void inNamespace_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("only loopback") << "\"$IP\" link set lo up"
                                       << "--connection" << QByteArray("not connected");
        QTest::newRow("address, no default route")
            << Veth << "--connection" << QByteArray("not connected");
        QTest::newRow("default route") << WithRoute << "--connection" << QByteArray("connected");
        QTest::newRow("ipv6 default route")
            << Veth + " && \"$IP\" -6 addr add fd99::1/64 dev v0 nodad && \"$IP\" -6 route add "
                      "default via fd99::2 dev v0"
            << "--connection" << QByteArray("connected");
        QTest::newRow("carrier lost") << WithRoute + " && \"$IP\" link set v1 down"
                                      << "--connection" << QByteArray("not connected");
        QTest::newRow("watcher sees the route come") << Veth << "--watch" << QByteArray("restored");
    }
    void inNamespace()
    {
        QFETCH(QString, script);
        QFETCH(QString, mode);
        QFETCH(QByteArray, output);
        QString skip;
        const QByteArray got = runInNamespace(script, mode, &skip);
        if (!skip.isEmpty())
            QSKIP(qPrintable(skip));
        QCOMPARE(got, output);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The modes the namespace cases run.
    if (argc == 2 && qstrcmp(argv[1], "--connection") == 0) {
        std::puts(InternetConnected() ? "connected" : "not connected");
        return 0;
    }
    if (argc == 2 && qstrcmp(argv[1], "--watch") == 0)
        return watchInNamespace();
    TestNetworkState test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_networkstate.moc"
