// The running program on its session bus: names per mode, the actions and the
// read-only facts, and Exit.

#include "AppProcess.h"
#include "BusSignalRecorder.h"
#include "FakeServer.h"
#include "FakeTlsServer.h"
#include "PrivateBus.h"
#include "TestPki.h"
#include "TestSandbox.h"

#include "config/RegistryStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QFile>
#include <QTest>
#include <QXmlStreamReader>

#include <memory>

namespace {
const QString Interface = QStringLiteral("org.kestrin.Quellmark");

// The members of one interface of an introspection document, one line each
// ("method Name in:s:arg out:b:arg", "property Name b read", ...) and
// sorted, so layout, comments and order do not count. Empty when the
// interface is not there; a line "error ..." when the XML cannot be read.
QStringList interfaceMembers(const QString &xml, const QString &interface)
{
    QStringList members;
    QXmlStreamReader reader(xml);
    bool inside = false;
    QString member;
    QStringList parts;
    while (!reader.atEnd()) {
        reader.readNext();
        const QXmlStreamAttributes attributes = reader.attributes();
        const auto value = [&attributes](const char *key) {
            return attributes.value(QLatin1String(key)).toString();
        };
        if (reader.isStartElement()) {
            const QStringView name = reader.name();
            if (name == QLatin1String("interface")) {
                inside = attributes.value(QLatin1String("name")) == interface;
            } else if (!inside) {
                continue;
            } else if (name == QLatin1String("method") || name == QLatin1String("signal")) {
                member = name.toString() + QLatin1Char(' ') + value("name");
                parts.clear();
            } else if (name == QLatin1String("property")) {
                members << QStringLiteral("property %1 %2 %3")
                               .arg(value("name"),
                                    value("type"),
                                    value("access"));
            } else if (name == QLatin1String("arg")) {
                QString direction = value("direction");
                if (direction.isEmpty())
                    direction = member.startsWith(QLatin1String("signal")) ? QStringLiteral("out")
                                                                           : QStringLiteral("in");
                parts << direction + QLatin1Char(':') + value("type") +
                             QLatin1Char(':') + value("name");
            } else if (name == QLatin1String("annotation")) {
                parts << QStringLiteral("annotation:%1=%2")
                             .arg(value("name"),
                                  value("value"));
            }
        } else if (reader.isEndElement() && inside) {
            const QStringView name = reader.name();
            if (name == QLatin1String("interface"))
                inside = false;
            else if (name == QLatin1String("method") || name == QLatin1String("signal"))
                members << (QStringList{member} + parts).join(QLatin1Char(' '));
        }
    }
    if (reader.hasError())
        return {QStringLiteral("error ") + reader.errorString()};
    members.sort();
    return members;
}
} // namespace

class TestDBus : public QObject {
    Q_OBJECT
private slots:
    void actionsAndProperties_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("service");
        QTest::addColumn<QString>("root");
        QTest::newRow("normal") << QStringList{} << "org.kestrin.Quellmark" << "Software\\Kestrin Software\\Quellmark";
        QTest::newRow("test") << QStringList{"test"} << "org.kestrin.QuellmarkTest"
                              << "Software\\Kestrin Software\\QuellmarkTest";
    }
    void actionsAndProperties()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, service);
        QFETCH(QString, root);
        if (!PrivateBus::available())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon); the bus interface was not tested");
        TestSandbox sandbox;
        PrivateBus bus;
        QVERIFY(bus.start());
        FakeServer web;
        QVERIFY(web.listen());
        web.setScenario(FakeServer::Scenario()
                            .waitForText("\r\n\r\n")
                            .send("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n")
                            .close());
        {
            RegistryStore store(sandbox.storePath());
            store.createKey(root + QStringLiteral("\\Services\\HTTP 127.0.0.1 %1").arg(web.port()));
        }

        AppProcess app(arguments);
        QVERIFY(app.start());
        QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), QStringLiteral("tst"));
        QVERIFY(connection.isConnected());
        QTRY_VERIFY(connection.interface()->isServiceRegistered(service).value());
        QDBusInterface remote(service, QStringLiteral("/"), Interface, connection);
        QVERIFY(remote.isValid());

        QCOMPARE(remote.property("TimerOn").toBool(), false);
        QCOMPARE(remote.property("LastPollFinished").toString(), QString());
        QVERIFY(remote.call(QStringLiteral("PollNow")).type() == QDBusMessage::ReplyMessage);
        QTRY_VERIFY_WITH_TIMEOUT(!remote.property("LastPollFinished").toString().isEmpty(), 10000);
        QCOMPARE(remote.property("Polling").toBool(), false);
        QCOMPARE(remote.property("PollsHandled").toInt(), 1);
        QCOMPARE(remote.property("OnErrorList").toStringList(), QStringList{QStringLiteral("http:127.0.0.1/")});
        QCOMPARE(web.connectionCount(), 1);

        remote.call(QStringLiteral("ToggleTimer"));
        QTRY_VERIFY(remote.property("TimerOn").toBool());
        remote.call(QStringLiteral("ShowServicesOnError"));
        remote.call(QStringLiteral("ShowStats"));
        remote.call(QStringLiteral("Restore"));

        QVERIFY(remote.call(QStringLiteral("Exit")).type() == QDBusMessage::ReplyMessage);
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitCode(), 0);
        QDBusConnection::disconnectFromBus(QStringLiteral("tst"));
    }

    // A second start in the same mode brings the running program's window
    // back from the tray and ends at once, having touched nothing.
    void secondStartShowsTheRunningWindow()
    {
        if (!PrivateBus::available())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon); the hand-over was not tested");
        TestSandbox sandbox;
        PrivateBus bus;
        QVERIFY(bus.start());
        const QString root = QStringLiteral("Software\\Kestrin Software\\Quellmark");
        {
            RegistryStore store(sandbox.storePath());
            store.setValue(root, QStringLiteral("Minimized"), RegValue::fromDWord(1));
        }
        AppProcess first;
        QVERIFY(first.start());
        QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), QStringLiteral("tst2"));
        QTRY_VERIFY(connection.interface()->isServiceRegistered(Interface).value());
        QDBusInterface remote(Interface, QStringLiteral("/"), Interface, connection);
        QCOMPARE(remote.property("WindowShown").toBool(), false);

        AppProcess second;
        QVERIFY(!second.start(5000));
        second.waitForFinished(5000);
        QCOMPARE(second.process().state(), QProcess::NotRunning);
        QCOMPARE(second.exitCode(), 0);
        QTRY_VERIFY(remote.property("WindowShown").toBool());
        QCOMPARE(first.process().state(), QProcess::Running);

        QVERIFY(remote.call(QStringLiteral("Exit")).type() == QDBusMessage::ReplyMessage);
        QVERIFY(first.waitForFinished(10000));
        QDBusConnection::disconnectFromBus(QStringLiteral("tst2"));
    }

    // The interface description the package installs for desktop tools and
    // bindings says what the running program really offers.
    void installedInterfaceMatchesTheLiveOne()
    {
        if (!PrivateBus::available())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon); the interface file was not checked");
        QFile file(QStringLiteral(QUELLMARK_DBUS_INTERFACE_XML));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const QStringList described = interfaceMembers(QString::fromUtf8(file.readAll()), Interface);
        QVERIFY(described.size() > 1);

        TestSandbox sandbox;
        PrivateBus bus;
        QVERIFY(bus.start());
        AppProcess app;
        QVERIFY(app.start());
        QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), QStringLiteral("tst3"));
        QTRY_VERIFY(connection.interface()->isServiceRegistered(Interface).value());
        QDBusInterface introspectable(Interface, QStringLiteral("/"),
                                      QStringLiteral("org.freedesktop.DBus.Introspectable"), connection);
        const QDBusReply<QString> live = introspectable.call(QStringLiteral("Introspect"));
        QVERIFY2(live.isValid(), qPrintable(live.error().message()));
        QCOMPARE(interfaceMembers(live.value(), Interface), described);

        QDBusInterface(Interface, QStringLiteral("/"), Interface, connection).call(QStringLiteral("Exit"));
        QVERIFY(app.waitForFinished(10000));
        QDBusConnection::disconnectFromBus(QStringLiteral("tst3"));
    }

    // Snooze, Acknowledge and Resume with what each answers and what
    // HeldBack lists after it, step by step on one running program.
    void holdMethods()
    {
        if (!PrivateBus::available())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon); the hold methods were not tested");
        TestSandbox sandbox;
        PrivateBus bus;
        QVERIFY(bus.start());
        FakeServer web;
        QVERIFY(web.listen());
        web.setScenario(FakeServer::Scenario()
                            .waitForText("\r\n\r\n")
                            .send("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n")
                            .close());
        const QString down = QStringLiteral("HTTP 127.0.0.1 %1").arg(web.port());
        const QString root = QStringLiteral("Software\\Kestrin Software\\Quellmark");
        {
            RegistryStore store(sandbox.storePath());
            store.createKey(root + QStringLiteral("\\Services\\") + down);
        }
        AppProcess app;
        QVERIFY(app.start());
        QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), QStringLiteral("tst3"));
        QTRY_VERIFY(connection.interface()->isServiceRegistered(Interface).value());
        QDBusInterface remote(Interface, QStringLiteral("/"), Interface, connection);

        const QString unknown = QStringLiteral("org.kestrin.Quellmark.Error.UnknownService");
        const QString invalid = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
        const struct {
            const char *method;
            QString service;
            uint minutes;
            bool pollFirst;
            QString error;
            QStringList heldBack;
        } steps[] = {
            {"Acknowledge", down, 0, false, QStringLiteral("org.kestrin.Quellmark.Error.NotOnError"), {}},
            {"Snooze", QStringLiteral("HTTP nowhere 80"), 10, true, unknown, {}},
            {"Snooze", down, 0, false, invalid, {}},
            {"Snooze", down, 4294967295u, false, invalid, {}},
            {"Snooze", down.toLower(), 10, false, {}, {down}},
            {"Resume", down, 0, false, {}, {}},
            {"Acknowledge", down, 0, false, {}, {down}},
            {"Acknowledge", QString(), 0, false, unknown, {down}},
            {"Resume", QStringLiteral("nope"), 0, false, unknown, {down}},
            {"Resume", down, 0, false, {}, {}},
        };
        for (const auto &step : steps) {
            if (step.pollFirst) {
                QVERIFY(remote.call(QStringLiteral("PollNow")).type() == QDBusMessage::ReplyMessage);
                QTRY_VERIFY_WITH_TIMEOUT(!remote.property("LastPollFinished").toString().isEmpty(), 10000);
            }
            const QDBusMessage reply = QLatin1String(step.method) == QLatin1String("Snooze")
                                           ? remote.call(QLatin1String(step.method), step.service, step.minutes)
                                           : remote.call(QLatin1String(step.method), step.service);
            const QString context = QStringLiteral("%1(%2, %3)").arg(QLatin1String(step.method), step.service).arg(step.minutes);
            if (step.error.isEmpty()) {
                QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(context + reply.errorMessage()));
            } else {
                QVERIFY2(reply.type() == QDBusMessage::ErrorMessage, qPrintable(context));
                QCOMPARE(reply.errorName(), step.error);
                QVERIFY(!reply.errorMessage().isEmpty());
            }
            QCOMPARE(remote.property("HeldBack").toStringList(), step.heldBack);
        }

        QVERIFY(remote.call(QStringLiteral("Exit")).type() == QDBusMessage::ReplyMessage);
        QVERIFY(app.waitForFinished(10000));
        QDBusConnection::disconnectFromBus(QStringLiteral("tst3"));
        RegistryStore store(sandbox.storePath());
        const QString key = root + QStringLiteral("\\Services\\") + down;
        QCOMPARE(store.value(key, QStringLiteral("Acknowledged"))->toDWord(), 0);
        QCOMPARE(store.value(key, QStringLiteral("SnoozedUntil"))->toString(), QString());
    }

    // An https service whose certificate ends in 13 days is listed, with
    // its expiry date, after the poll that saw it; it is warned about in the
    // error log once and the warning is kept for the day.
    void certificatesExpiring()
    {
        if (!PrivateBus::available())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon); CertificatesExpiring was not tested");
        TestPki pki;
        QVERIFY2(pki.create(), qPrintable(pki.error()));
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QDateTime ends = now.addDays(13).addMSecs(-now.time().msec());
        const TestPki::Identity id = pki.issue(QStringLiteral("soon"), now.addDays(-1), ends);
        QVERIFY2(!id.certificateFile.isEmpty(), qPrintable(pki.error()));
        FakeTlsServer web;
        QVERIFY(web.setIdentity(id.certificateFile, id.keyFile));
        QVERIFY(web.listen());
        web.setScenario(
            FakeTlsServer::Scenario().startTls().waitForText("\r\n\r\n").send("HTTP/1.1 200 OK\r\n\r\n").close());

        TestSandbox sandbox;
        PrivateBus bus;
        QVERIFY(bus.start());
        const QString service = QStringLiteral("HTTPS localhost %1").arg(web.port());
        const QString key = QStringLiteral("Software\\Kestrin Software\\Quellmark\\Services\\") + service;
        {
            RegistryStore store(sandbox.storePath());
            store.createKey(key);
        }
        // The test authority is trusted by the program started here only.
        const QByteArray oldFile = qgetenv("SSL_CERT_FILE");
        const QByteArray oldDir = qgetenv("SSL_CERT_DIR");
        qputenv("SSL_CERT_FILE", QFile::encodeName(pki.caFile()));
        qunsetenv("SSL_CERT_DIR");
        AppProcess app;
        const bool started = app.start();
        qputenv("SSL_CERT_FILE", oldFile);
        qputenv("SSL_CERT_DIR", oldDir);
        QVERIFY(started);
        QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), QStringLiteral("tst4"));
        QTRY_VERIFY(connection.interface()->isServiceRegistered(Interface).value());
        QDBusInterface remote(Interface, QStringLiteral("/"), Interface, connection);

        QCOMPARE(remote.property("CertificatesExpiring").toStringList(), QStringList());
        for (int poll = 1; poll <= 2; ++poll) {
            QVERIFY(remote.call(QStringLiteral("PollNow")).type() == QDBusMessage::ReplyMessage);
            QTRY_VERIFY_WITH_TIMEOUT(remote.property("PollsHandled").toInt() == poll, 10000);
        }
        QCOMPARE(remote.property("OnErrorList").toStringList(), QStringList());
        QCOMPARE(remote.property("CertificatesExpiring").toStringList(),
                 QStringList{service + QLatin1Char('\t') + ends.date().toString(Qt::ISODate)});

        QVERIFY(remote.call(QStringLiteral("Exit")).type() == QDBusMessage::ReplyMessage);
        QVERIFY(app.waitForFinished(10000));
        QDBusConnection::disconnectFromBus(QStringLiteral("tst4"));
        QCOMPARE(web.connectionCount(), 2);
        QFile log(sandbox.programFolder() + QStringLiteral("error.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(log.readAll());
        QCOMPARE(text.count(QStringLiteral(": certificate expires in 13 days for ") + service + QStringLiteral("\r\n")), 1);
        QVERIFY2(text.contains(QStringLiteral("\r\nExpires: ") + ends.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                               QStringLiteral(" UTC\r\n\r\n")),
                 qPrintable(text));
        RegistryStore store(sandbox.storePath());
        QVERIFY(store.value(key, QStringLiteral("CertWarnedOn"))->toString().startsWith(
            QDate::currentDate().toString(Qt::ISODate) + QLatin1Char(' ')));
    }

    // A client that waits instead of asking: a poll's changes come as
    // PropertiesChanged (only what changed, with the new values) and the
    // poll's summary as PollFinished.
    void changesAreAnnounced()
    {
        if (!PrivateBus::available())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon); the change signals "
                  "were not tested");
        TestSandbox sandbox;
        PrivateBus bus;
        QVERIFY(bus.start());
        FakeServer up;
        FakeServer down;
        QVERIFY(up.listen());
        QVERIFY(down.listen());
        up.setScenario(
            FakeServer::Scenario().waitForText("\r\n\r\n").send("HTTP/1.1 200 OK\r\n\r\n").close());
        down.setScenario(FakeServer::Scenario()
                             .waitForText("\r\n\r\n")
                             .delay(300)
                             .send("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n")
                             .close());
        const QString root = QStringLiteral("Software\\Kestrin Software\\Quellmark\\Services\\");
        {
            RegistryStore store(sandbox.storePath());
            store.createKey(root + QStringLiteral("HTTP 127.0.0.1 %1").arg(up.port()));
            store.createKey(root + QStringLiteral("HTTP 127.0.0.1/down %1").arg(down.port()));
        }
        AppProcess app;
        QVERIFY(app.start());
        QDBusConnection connection =
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("tst5"));
        QTRY_VERIFY(connection.interface()->isServiceRegistered(Interface).value());
        BusSignalRecorder changes;
        BusSignalRecorder finished;
        QVERIFY(changes.listen(connection, Interface, QStringLiteral("/"),
                               QStringLiteral("org.freedesktop.DBus.Properties"),
                               QStringLiteral("PropertiesChanged")));
        QVERIFY(finished.listen(connection, Interface, QStringLiteral("/"), Interface,
                                QStringLiteral("PollFinished")));
        QDBusInterface remote(Interface, QStringLiteral("/"), Interface, connection);

        for (int poll = 1; poll <= 2; ++poll) {
            QVERIFY(remote.call(QStringLiteral("PollNow")).type() == QDBusMessage::ReplyMessage);
            QTRY_COMPARE_WITH_TIMEOUT(finished.messages().size(), poll, 10000);
            const QList<QVariant> summary = finished.messages().constLast().arguments();
            QCOMPARE(summary.size(), 3);
            QCOMPARE(summary.at(0).toInt(), 2);
            QCOMPARE(summary.at(1).toInt(), 1);
            QVERIFY2(summary.at(2).toInt() >= 250 && summary.at(2).toInt() < 10000,
                     qPrintable(summary.at(2).toString()));
        }
        QTRY_COMPARE(changes.announced(QStringLiteral("PollsHandled")), (QVariantList{1, 2}));
        QCOMPARE(changes.announced(QStringLiteral("Polling")),
                 (QVariantList{true, false, true, false}));
        // The on-error list changed once; the second poll left it as it was.
        QCOMPARE(changes.announced(QStringLiteral("OnErrorList")),
                 (QVariantList{QStringList{QStringLiteral("http:127.0.0.1/down")}}));
        // A time stamp to the second: two quick polls may leave it as it was.
        QVERIFY(!changes.announced(QStringLiteral("LastPollFinished")).isEmpty());
        QCOMPARE(changes.announced(QStringLiteral("LastPollFinished")).constLast().toString(),
                 remote.property("LastPollFinished").toString());
        for (const QVariantMap &map : changes.changedProperties())
            QVERIFY(!map.isEmpty());

        remote.call(QStringLiteral("ToggleTimer"));
        QTRY_COMPARE(changes.announced(QStringLiteral("TimerOn")), (QVariantList{true}));
        remote.call(QStringLiteral("Snooze"), QStringLiteral("HTTP 127.0.0.1 %1").arg(up.port()),
                    10u);
        QTRY_COMPARE(changes.announced(QStringLiteral("HeldBack")).size(), 1);

        QVERIFY(remote.call(QStringLiteral("Exit")).type() == QDBusMessage::ReplyMessage);
        QVERIFY(app.waitForFinished(10000));
        QDBusConnection::disconnectFromBus(QStringLiteral("tst5"));
    }

    void runsWithoutABus()
    {
        TestSandbox sandbox;
        const QByteArray old = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quellmark-test-bus");
        AppProcess app;
        const bool started = app.start();
        qputenv("DBUS_SESSION_BUS_ADDRESS", old);
        QVERIFY(started);
        QVERIFY(app.terminate());
        QCOMPARE(app.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDBus)
#include "tst_dbus.moc"
