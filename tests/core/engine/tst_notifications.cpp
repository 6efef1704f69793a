// Desktop notifications and held-back alerts, with the monitor polling
// scripted services and a scripted notification server on a private bus:
// what is sent when, what replaces what, and what snooze, acknowledge and
// resume hold back, on a clock the test moves.

#include "FakeNotificationServer.h"
#include "PrivateBus.h"
#include "StoreFixture.h"

#include "alerts/ProgramLauncher.h"
#include "config/Registry.h"
#include "engine/Monitor.h"
#include "platform/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
const QString Down = QStringLiteral("HTTP down 80");
const QString Other = QStringLiteral("HTTP other 80");
const QString BusName = QStringLiteral("notifier-under-test");

class RecordingAlerts : public AlertActions {
public:
    QStringList calls;
    QString playAlertSound(const QString &name, bool onError) override
    {
        calls << QStringLiteral("sound %1 %2").arg(name, onError ? "on" : "off");
        return {};
    }
    void launchProgram(const QString &commandLine) override { calls << QStringLiteral("launch ") + commandLine; }
    MailOutcome sendAlertMail(const QString &name, const QString &, const QString &) override
    {
        calls << QStringLiteral("mail ") + name;
        return {true, {}};
    }
    void reportError(const QString &message) override { calls << QStringLiteral("error ") + message; }
};
} // namespace

class TestNotifications : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> m_fixture;
    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<FakeNotificationServer> m_server;
    std::unique_ptr<DesktopNotifier> m_notifier;
    std::unique_ptr<Monitor> m_monitor;
    RecordingAlerts m_alerts;
    LiveSettings m_live;
    QDateTime m_now;
    QHash<QString, bool> m_up; // host -> answers
    QDateTime m_certificateEnds; // of the host "secure"; none when invalid
    QStringList m_services;

    QString key(const QString &service) const
    {
        return m_fixture->context().servicesKey + QLatin1Char('\\') + service;
    }

    // A monitor over the scripted services, its notifications going to the
    // private bus; the server is started when asked.
    void makeMonitor(const QStringList &capabilities, bool withServer = true)
    {
        if (withServer) {
            m_server = std::make_unique<FakeNotificationServer>(capabilities);
            QVERIFY(m_server->start(m_bus->address()));
        }
        QDBusConnection client = QDBusConnection::connectToBus(m_bus->address(), BusName);
        QVERIFY(client.isConnected());
        m_notifier = std::make_unique<DesktopNotifier>(QStringLiteral("Quellmark"), QStringLiteral("quellmark"), client);
        Monitor::Overrides fakes;
        fakes.internetConnected = [] { return true; };
        fakes.watchConnection = false;
        fakes.now = [this] { return m_now; };
        fakes.notifier = m_notifier.get();
        fakes.probe = [this](const ServiceTarget &target, const QString &, const ProbeSettings &,
                             std::function<bool()>) {
            ProbeResult r;
            r.connected = true;
            r.success = m_up.value(target.host, true);
            r.resultCode = r.success ? QStringLiteral("200") : QStringLiteral("503");
            if (target.host == QLatin1String("secure") && m_certificateEnds.isValid())
                r.certificate = PeerCertificate{QStringLiteral("CN=secure"), QStringLiteral("CN=Test CA"),
                                                m_now.addDays(-30), m_certificateEnds, QByteArray(32, 'd')};
            return r;
        };
        m_monitor = std::make_unique<Monitor>(m_fixture->context(), fakes);
        m_monitor->setServiceListProvider([this] { return m_services; });
        m_monitor->setSettingsSource([this] { return m_live; });
        m_monitor->setAlertActions(&m_alerts);
    }

    void poll(bool downUp)
    {
        m_up.insert(QStringLiteral("down"), downUp);
        m_monitor->pollNow();
    }

    // Every alert action the last steps took, then forgotten.
    QStringList takeAlerts()
    {
        QStringList out = m_alerts.calls;
        m_alerts.calls.clear();
        return out;
    }

private slots:
    void init()
    {
        if (!PrivateBus::available())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon); notifications were not tested");
        m_fixture = std::make_unique<StoreFixture>();
        QDir().mkpath(m_fixture->context().programFolder);
        m_bus = std::make_unique<PrivateBus>();
        QVERIFY(m_bus->start());
        m_alerts = RecordingAlerts();
        m_live = LiveSettings();
        m_now = QDateTime(QDate(2026, 12, 8), QTime(15, 0, 0), Qt::UTC);
        m_up.clear();
        m_certificateEnds = QDateTime();
        m_services = {Down, Other};
        // Every failure mails, so a held-back alert shows on every poll.
        RegWriteBool(key(Down), QStringLiteral("SendEmail"), true);
        RegWriteBool(key(Down), QStringLiteral("RepeatEmail"), true);
        RegWriteString(key(Down), QStringLiteral("OnErrorEmail"), QStringLiteral("/t/on.txt"));
        RegWriteString(key(Down), QStringLiteral("OnErrorEmailTo"), QStringLiteral("ops@localhost"));
    }
    void cleanup()
    {
        m_monitor.reset();
        m_notifier.reset();
        QDBusConnection::disconnectFromBus(BusName);
        m_server.reset();
        m_bus.reset();
        m_fixture.reset();
    }

    // Down is critical and tells service, status line and time; up is
    // normal, tells how long it was down and replaces the down one.
    // Actions only where the server offers them.
    void downAndUp_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QStringList>("downActions");
        QTest::addColumn<QStringList>("upActions");
        const QStringList all{"open", "Open", "snooze", "Snooze 1 hour", "ack", "Acknowledge"};
        QTest::newRow("actions") << QStringList{"actions", "body"} << all << QStringList{"open", "Open"};
        QTest::newRow("no actions") << QStringList{"body"} << QStringList{} << QStringList{};
        QTest::newRow("markup") << QStringList{"actions", "body", "body-markup"} << all
                                << QStringList{"open", "Open"};
    }
    void downAndUp()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QStringList, downActions);
        QFETCH(QStringList, upActions);
        makeMonitor(capabilities);
        poll(false);
        QTRY_COMPARE(m_server->notifications().size(), 1);
        const FakeNotificationServer::Call down = m_server->notifications().at(0);
        QCOMPARE(down.urgency, 2);
        QCOMPARE(down.replacesId, 0u);
        QCOMPARE(down.appName, QStringLiteral("Quellmark"));
        QCOMPARE(down.summary, Down + QStringLiteral(" went on error"));
        QCOMPARE(down.body, QStringLiteral("Failed: http: down/ (503) went on error\n8 Dec 2026 15:00:00"));
        QCOMPARE(down.actions, downActions);

        m_now = m_now.addSecs(2 * 3600 + 5 * 60);
        poll(true);
        QTRY_COMPARE(m_server->notifications().size(), 2);
        const FakeNotificationServer::Call up = m_server->notifications().at(1);
        QCOMPARE(up.urgency, 1);
        QCOMPARE(up.replacesId, down.id);
        QCOMPARE(up.id, down.id);
        QCOMPARE(up.summary, Down + QStringLiteral(" came off error"));
        QCOMPARE(up.body, QStringLiteral("Success: http: down/ (200) came off error.\n8 Dec 2026 17:05:00\n"
                                         "Down for 2 h 05 min"));
        QCOMPARE(up.actions, upActions);
        QCOMPARE(m_server->capabilityQueries(), 1);
        // Nothing else was held back or lost.
        QCOMPARE(takeAlerts(), (QStringList{"sound HTTP down 80 on", "mail HTTP down 80", "sound HTTP down 80 off"}));
    }

    // A flapping service keeps one notification: each replaces the last.
    // One that changes again before the server has answered is shown as it
    // is now, in place of the last.
    void flappingReplaces()
    {
        makeMonitor({"actions", "body"});
        // Each answer is back before the next poll.
        QSignalSpy answered(m_notifier.get(), &DesktopNotifier::shown);
        for (int i = 0; i < 6; ++i) {
            poll(i % 2 == 1);
            QTRY_COMPARE(answered.size(), i + 1);
        }
        QCOMPARE(m_server->notifications().size(), 6);
        const QList<FakeNotificationServer::Call> calls = m_server->notifications();
        for (int i = 1; i < calls.size(); ++i)
            QCOMPARE(calls.at(i).replacesId, calls.at(0).id);
        // Down goes out at once; up waits for its answer and is then
        // overtaken by down again.
        poll(false);
        poll(true);
        poll(false);
        QTRY_COMPARE(m_server->notifications().size(), 8);
        QTest::qWait(50);
        QCOMPARE(m_server->notifications().size(), 8);
        QCOMPARE(m_server->notifications().at(7).urgency, 2);
        QCOMPARE(m_server->notifications().at(7).replacesId, calls.at(0).id);
        // Closed by the user: the next one is a new notification.
        QTRY_VERIFY(m_notifier->isIdle());
        m_server->closeByUser(calls.at(0).id);
        QTest::qWait(50);
        poll(false);
        poll(true);
        QTRY_COMPARE(m_server->notifications().size(), 9);
        QVERIFY(m_server->notifications().at(8).id != calls.at(0).id);
    }

    // The notification's actions, and what they hold back on the clock.
    void snoozeFromTheNotification()
    {
        makeMonitor({"actions", "body"});
        poll(false);
        QTRY_COMPARE(m_server->notifications().size(), 1);
        QTRY_VERIFY(m_notifier->isIdle());
        QCOMPARE(takeAlerts(), (QStringList{"sound HTTP down 80 on", "mail HTTP down 80"}));
        QSignalSpy held(m_monitor.get(), &Monitor::holdChanged);
        m_server->invokeAction(m_server->notifications().at(0).id, QStringLiteral("snooze"));
        QTRY_COMPARE(held.size(), 1);
        QCOMPARE(RegReadString(key(Down), QStringLiteral("SnoozedUntil"), {}), QStringLiteral("2026-12-08T16:00:00Z"));
        QCOMPARE(m_monitor->heldBack(), QStringList{Down});
        QSignalSpy window(m_monitor.get(), &Monitor::errorWindowText);

        // An hour of failures: counted, alerting no one.
        for (int minutes : {15, 30, 59}) {
            m_now = QDateTime(QDate(2026, 12, 8), QTime(15, minutes, 0), Qt::UTC);
            poll(false);
        }
        QCOMPARE(RegReadInteger(key(Down), QStringLiteral("ActualFailures"), 0), 4);
        QCOMPARE(takeAlerts(), QStringList());
        QCOMPARE(window.last().at(0).toString(), QStringLiteral("http:down/ (snoozed)"));
        QTest::qWait(50);
        QCOMPARE(m_server->notifications().size(), 1);

        // The hour is over: the service is still down and says so again.
        m_now = QDateTime(QDate(2026, 12, 8), QTime(16, 0, 0), Qt::UTC);
        poll(false);
        QCOMPARE(takeAlerts(), (QStringList{"sound HTTP down 80 on", "mail HTTP down 80"}));
        QCOMPARE(window.last().at(0).toString(), QStringLiteral("http:down/"));
        QCOMPARE(RegReadString(key(Down), QStringLiteral("SnoozedUntil"), QStringLiteral("x")), QString());
        QTRY_COMPARE(m_server->notifications().size(), 2);
        QCOMPARE(m_server->notifications().at(1).urgency, 2);
        QCOMPARE(m_server->notifications().at(1).summary, Down + QStringLiteral(" is still on error"));
        QCOMPARE(m_server->notifications().at(1).body,
                 QStringLiteral("Failed: http: down/ (503) still on error\n8 Dec 2026 16:00:00"));
        QCOMPARE(m_monitor->heldBack(), QStringList());
    }

    void acknowledgeFromTheNotification()
    {
        makeMonitor({"actions", "body"});
        poll(false);
        QTRY_COMPARE(m_server->notifications().size(), 1);
        QTRY_VERIFY(m_notifier->isIdle());
        takeAlerts();
        m_server->invokeAction(m_server->notifications().at(0).id, QStringLiteral("ack"));
        QTRY_COMPARE(m_monitor->heldBack(), QStringList{Down});
        // However long it stays down.
        for (int hours = 1; hours <= 3; ++hours) {
            m_now = m_now.addSecs(3600);
            poll(false);
        }
        QCOMPARE(takeAlerts(), QStringList());
        QTest::qWait(50);
        QCOMPARE(m_server->notifications().size(), 1);
        // Its recovery ends the acknowledgement and is told.
        poll(true);
        QCOMPARE(takeAlerts(), QStringList{"sound HTTP down 80 off"});
        QTRY_COMPARE(m_server->notifications().size(), 2);
        QCOMPARE(m_server->notifications().at(1).urgency, 1);
        QCOMPARE(RegReadInteger(key(Down), QStringLiteral("Acknowledged"), -1), 0);
        poll(false);
        QCOMPARE(takeAlerts(), (QStringList{"sound HTTP down 80 on", "mail HTTP down 80"}));
    }

    void openFromTheNotification()
    {
        makeMonitor({"actions", "body"});
        poll(false);
        QTRY_COMPARE(m_server->notifications().size(), 1);
        QTRY_VERIFY(m_notifier->isIdle());
        QSignalSpy open(m_monitor.get(), &Monitor::openServiceRequested);
        // Unknown ids and keys are not ours.
        const uint id = m_server->notifications().at(0).id;
        m_server->invokeAction(id + 1, QStringLiteral("open"), false);
        m_server->invokeAction(id, QStringLiteral("rm -rf"), false);
        QTest::qWait(100);
        QCOMPARE(open.size(), 0);
        m_server->invokeAction(id, QStringLiteral("open"));
        QTRY_COMPARE(open.size(), 1);
        QCOMPARE(open.at(0).at(0).toString(), Down);
        QCOMPARE(m_monitor->heldBack(), QStringList());
    }

    // The global switch and the service's own box.
    void switchedOff_data()
    {
        QTest::addColumn<bool>("global");
        QTest::addColumn<bool>("service");
        QTest::addColumn<int>("expected");
        QTest::newRow("both on") << true << true << 1;
        QTest::newRow("global off") << false << true << 0;
        QTest::newRow("service off") << true << false << 0;
    }
    void switchedOff()
    {
        QFETCH(bool, global);
        QFETCH(bool, service);
        QFETCH(int, expected);
        m_live.desktopNotifications = global;
        RegWriteBool(key(Down), QStringLiteral("DesktopNotification"), service);
        makeMonitor({"actions", "body"});
        poll(false);
        QTRY_COMPARE(m_server->notifications().size(), expected);
        QTest::qWait(50);
        // Something that is sent anyway comes after it.
        m_up.insert(QStringLiteral("other"), false);
        RegWriteBool(key(Down), QStringLiteral("DesktopNotification"), true);
        m_live.desktopNotifications = true;
        m_monitor->pollNow();
        QTRY_VERIFY(!m_server->notifications().isEmpty());
        QTest::qWait(50);
        const QList<FakeNotificationServer::Call> calls = m_server->notifications();
        QCOMPARE(calls.size(), expected + 1);
        QCOMPARE(calls.last().summary, Other + QStringLiteral(" went on error"));
        QCOMPARE(takeAlerts().first(), QStringLiteral("sound HTTP down 80 on"));
    }

    // A certificate that ends soon has a notification of its own, beside
    // the service's outage one: normal urgency, "Open" only, naming the
    // service when opened; told once a day.
    void certificateNoticeStandsApart()
    {
        const QString secure = QStringLiteral("HTTPS secure 443");
        m_services = {secure};
        m_up.insert(QStringLiteral("secure"), false);
        m_certificateEnds = m_now.addDays(13);
        makeMonitor({"actions", "body"});
        m_monitor->pollNow();
        QTRY_COMPARE(m_server->notifications().size(), 2);
        const FakeNotificationServer::Call down = m_server->notifications().at(0);
        const FakeNotificationServer::Call cert = m_server->notifications().at(1);
        QCOMPARE(down.summary, secure + QStringLiteral(" went on error"));
        QCOMPARE(cert.replacesId, 0u);
        QVERIFY(cert.id != down.id);
        QCOMPARE(cert.urgency, 1);
        QCOMPARE(cert.summary, secure + QStringLiteral(": certificate expires in 13 days"));
        QCOMPARE(cert.body, QStringLiteral("Expires 2026-12-21 15:00:00 UTC\nSubject: CN=secure\n"
                                           "Issuer: CN=Test CA\n8 Dec 2026 15:00:00"));
        QCOMPARE(cert.actions, (QStringList{"open", "Open"}));
        QCOMPARE(m_monitor->certificatesExpiring(), QStringList{secure + QStringLiteral("\t2026-12-21")});

        QTRY_VERIFY(m_notifier->isIdle());
        QSignalSpy open(m_monitor.get(), &Monitor::openServiceRequested);
        m_server->invokeAction(cert.id, QStringLiteral("open"));
        QTRY_COMPARE(open.size(), 1);
        QCOMPARE(open.at(0).at(0).toString(), secure);

        // Later that day: back up, told in place of the outage's notice;
        // the certificate is not told again.
        m_now = m_now.addSecs(3600);
        m_up.insert(QStringLiteral("secure"), true);
        m_monitor->pollNow();
        QTRY_COMPARE(m_server->notifications().size(), 3);
        QTest::qWait(50);
        QCOMPARE(m_server->notifications().size(), 3);
        QCOMPARE(m_server->notifications().at(2).replacesId, down.id);
    }

    // No notification server on the bus: polls and other alerts as ever,
    // nothing printed; one that starts later is used.
    void noServer()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        makeMonitor({}, false);
        poll(false);
        poll(true);
        QCOMPARE(takeAlerts(), (QStringList{"sound HTTP down 80 on", "mail HTTP down 80", "sound HTTP down 80 off"}));
        QTRY_VERIFY(m_notifier->isIdle());
        QCOMPARE(m_monitor->pollsHandled(), 2);

        m_server = std::make_unique<FakeNotificationServer>();
        QVERIFY(m_server->start(m_bus->address()));
        poll(false);
        QTRY_COMPARE(m_server->notifications().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_notifications.moc"
