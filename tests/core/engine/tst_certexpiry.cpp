// Certificate expiry over real TLS: certificates made to end a number of
// days after the test's clock, served by a local TLS server, probed and
// judged by the poll cycle on that clock. What is warned, where, how often,
// and what the bus list says.

#include "FakeResolver.h"
#include "FakeTlsServer.h"
#include "StatusView.h"
#include "StoreFixture.h"
#include "TestPki.h"

#include "alerts/AlertHold.h"
#include "base/TimeStamp.h"
#include "config/Registry.h"
#include "engine/CertificateWatch.h"
#include "engine/PollCycle.h"
#include "engine/Prober.h"

#include <QDir>
#include <QFile>
#include <QSslCertificate>
#include <QSslSocket>
#include <QTest>

#include <memory>

namespace {

constexpr qint64 Day = 24 * 60 * 60;

// Keeps the certificate mails and notices; the outage's own alerts only as
// a count.
class RecordingAlerts : public AlertActions {
public:
    QStringList certificateMails; // "<service>|<template>|<to>|<expiry>"
    QList<CertificateNotice> notices;
    int otherAlerts = 0;
    QString playAlertSound(const QString &, bool) override
    {
        ++otherAlerts;
        return {};
    }
    void launchProgram(const QString &) override { ++otherAlerts; }
    MailOutcome sendAlertMail(const QString &, const QString &, const QString &) override
    {
        ++otherAlerts;
        return {true, {}};
    }
    void reportError(const QString &) override {}
    void notifyDesktop(const DesktopNotice &) override { ++otherAlerts; }
    MailOutcome sendCertificateMail(const QString &name, const QString &templatePath, const QString &to,
                                    const QString &certExpiry) override
    {
        certificateMails << QStringList{name, templatePath, to, certExpiry}.join(QLatin1Char('|'));
        return {true, {}};
    }
    void notifyCertificate(const CertificateNotice &notice) override { notices << notice; }
};

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QSslCertificate certificateOf(const TestPki::Identity &id)
{
    return QSslCertificate::fromPath(id.certificateFile, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString)
        .value(0);
}

QString hexDigest(const TestPki::Identity &id)
{
    return QString::fromLatin1(certificateOf(id).digest(QCryptographicHash::Sha256).toHex());
}

QString utc(const QDateTime &moment)
{
    return moment.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" UTC");
}

} // namespace

class TestCertExpiry : public QObject {
    Q_OBJECT

    TestPki m_pki;
    // The test's clock starts here; the certificates are made from it.
    QDateTime m_start;
    QHash<QString, TestPki::Identity> m_ids;
    QHash<QString, QDateTime> m_ends;

    std::unique_ptr<StoreFixture> m_fixture;
    std::unique_ptr<FakeResolver> m_resolver;
    std::unique_ptr<Prober> m_prober;
    std::unique_ptr<AlertHold> m_hold;
    std::unique_ptr<PollCycle> m_cycle;
    StatusView m_view;
    RecordingAlerts m_alerts;
    LiveSettings m_live;
    QDateTime m_now;
    QStringList m_services;

    TestPki::Identity identity(const QString &which) const
    {
        if (which == QLatin1String("expired"))
            return m_pki.expired();
        return m_ids.value(which);
    }

    QString key(const QString &service) const
    {
        return m_fixture->context().servicesKey + QLatin1Char('\\') + service;
    }

    QString errorLog() const { return QString::fromUtf8(fileBytes(m_fixture->context().errorLogPath)); }

    // A cycle as the program runs it after a start.
    void startCycle()
    {
        PollCycle::Environment env;
        env.settings = [this] { return m_live; };
        env.internetConnected = [] { return true; };
        env.now = [this] { return m_now; };
        env.locale = QLocale::c();
        env.probe = [this](const ServiceTarget &target, const QString &pattern, const ProbeSettings &settings,
                           std::function<bool()> abort) {
            return m_prober->run(target, pattern, settings, std::move(abort));
        };
        env.abortProbe = [this] { m_prober->abort(); };
        env.hold = m_hold.get();
        m_cycle = std::make_unique<PollCycle>(m_fixture->context(), m_view, m_alerts, env);
        m_cycle->setServiceListProvider([this] { return m_services; });
    }

    // A service on a server of its own, with its e-mail alert on.
    QString serve(FakeTlsServer &server, const QString &which)
    {
        const TestPki::Identity id = identity(which);
        if (!server.setIdentity(id.certificateFile, id.keyFile) || !server.listen())
            return {};
        server.setScenario(
            FakeTlsServer::Scenario().startTls().waitForText("\r\n\r\n").send("HTTP/1.1 200 OK\r\n\r\n").close());
        const QString name = QStringLiteral("HTTPS %1 %2").arg(TestPki::hostName()).arg(server.port());
        RegWriteBool(key(name), QStringLiteral("SendEmail"), true);
        RegWriteString(key(name), QStringLiteral("OnErrorEmail"), QStringLiteral("/t/OnError.txt"));
        RegWriteString(key(name), QStringLiteral("OnErrorEmailTo"), QStringLiteral("ops@x.test"));
        return name;
    }

    QString logEntry(const QString &name, const QString &which, const QString &when) const
    {
        return TimeStamp::format(m_now, QLocale::c()) + QStringLiteral(": certificate ") + when +
               QStringLiteral(" for ") + name +
               QStringLiteral("\r\nSubject: CN=secure.test\r\nIssuer: CN=Quellmark Test CA\r\nExpires: ") +
               utc(m_ends.value(which)) + QStringLiteral("\r\n\r\n");
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_pki.create(), qPrintable(m_pki.error()));
        qunsetenv("SSL_CERT_DIR");
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_pki.caFile()));
        QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend here");
        // Whole seconds, as certificates keep them.
        m_start = QDateTime::currentDateTime();
        m_start = m_start.addMSecs(-m_start.time().msec());
        const QDateTime from = m_start.addDays(-1);
        const struct {
            const char *name;
            QDateTime notBefore;
            QDateTime notAfter;
        } made[] = {
            {"in1", from, m_start.addSecs(1 * Day)},   {"in13", from, m_start.addSecs(13 * Day)},
            {"in13b", from, m_start.addSecs(13 * Day)}, {"in14", from, m_start.addSecs(14 * Day)},
            {"in15", from, m_start.addSecs(15 * Day)},  {"later", m_start.addSecs(2 * Day), m_start.addSecs(30 * Day)},
        };
        for (const auto &m : made) {
            const TestPki::Identity id = m_pki.issue(QLatin1String(m.name), m.notBefore, m.notAfter);
            QVERIFY2(!id.certificateFile.isEmpty(), qPrintable(m_pki.error()));
            m_ids.insert(QLatin1String(m.name), id);
            m_ends.insert(QLatin1String(m.name), m.notAfter);
            QCOMPARE(certificateOf(id).expiryDate(), m.notAfter);
        }
        QVERIFY(hexDigest(m_ids.value("in13")) != hexDigest(m_ids.value("in13b")));
    }

    void init()
    {
        m_fixture = std::make_unique<StoreFixture>();
        QVERIFY(QDir().mkpath(m_fixture->context().programFolder));
        m_resolver = std::make_unique<FakeResolver>(QStringList{TestPki::hostName()});
        m_prober = std::make_unique<Prober>(m_resolver.get());
        m_now = m_start;
        m_hold = std::make_unique<AlertHold>(m_fixture->context(), [this] { return m_now; });
        m_view = StatusView();
        m_alerts = RecordingAlerts();
        m_live = LiveSettings();
        m_live.connectionTimeoutSecs = 10;
        m_services.clear();
        startCycle();
    }

    void cleanup()
    {
        m_cycle.reset();
        m_hold.reset();
        m_prober.reset();
        m_fixture.reset();
    }

    void warnings_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<int>("warnDays");
        QTest::addColumn<QString>("when");   // empty: no warning
        QTest::addColumn<QString>("reason"); // a failure's reason; empty: the probe succeeds

        QTest::newRow("1 day") << "in1" << 14 << "expires tomorrow" << "";
        QTest::newRow("13 days") << "in13" << 14 << "expires in 13 days" << "";
        QTest::newRow("14 days, the last one warned") << "in14" << 14 << "expires in 14 days" << "";
        QTest::newRow("15 days") << "in15" << 14 << "" << "";
        QTest::newRow("15 days, 30 warning days") << "in15" << 30 << "expires in 15 days" << "";
        QTest::newRow("1 day, warnings off") << "in1" << 0 << "" << "";
        QTest::newRow("expired") << "expired" << 14 << ""
                                 << "The certificate has expired (valid from 2020-01-01 00:00:00 UTC "
                                    "until 2020-02-01 00:00:00 UTC)";
        QTest::newRow("not yet valid") << "later" << 14 << ""
                                       << QStringLiteral("The certificate is not yet valid (valid from %1 until %2)")
                                              .arg(utc(m_start.addSecs(2 * Day)), utc(m_start.addSecs(30 * Day)));
    }
    void warnings()
    {
        QFETCH(QString, which);
        QFETCH(int, warnDays);
        QFETCH(QString, when);
        QFETCH(QString, reason);
        m_live.certWarnDays = warnDays;
        FakeTlsServer server;
        const QString name = serve(server, which);
        QVERIFY(!name.isEmpty());
        m_services = {name};
        m_cycle->run(m_services);

        const QString shown = QStringLiteral("https: secure.test:%1/").arg(server.port());
        const bool up = reason.isEmpty();
        QCOMPARE(m_view.status.value(1), up ? QStringLiteral("Success: ") + shown + QStringLiteral(" (200)")
                                            : QStringLiteral("Failed: ") + shown +
                                                  QStringLiteral(" (tls) went on error") + PollCycle::marker());
        const QString log = errorLog();
        if (!up) {
            // The dates are in the reason, the failure is counted as ever.
            QVERIFY2(log.contains(QStringLiteral("TLS failure: ") + reason + QStringLiteral("\r\n\r\n")),
                     qPrintable(log));
            QCOMPARE(RegReadInteger(key(name), QStringLiteral("ActualFailures"), -1), 1);
        }
        const QString date = m_ends.value(which).toUTC().date().toString(Qt::ISODate);
        if (when.isEmpty()) {
            QVERIFY2(!log.contains(QStringLiteral(": certificate ")), qPrintable(log));
            QVERIFY(m_alerts.notices.isEmpty());
            QVERIFY(m_alerts.certificateMails.isEmpty());
            QCOMPARE(RegReadString(key(name), QStringLiteral("CertWarnedOn"), QString()), QString());
            QCOMPARE(m_cycle->certificatesExpiring(), QStringList());
            return;
        }
        QCOMPARE(log, logEntry(name, which, when));
        QCOMPARE(m_alerts.notices.size(), 1);
        const CertificateNotice &notice = m_alerts.notices.first();
        QCOMPARE(notice.serviceName, name);
        QCOMPARE(notice.when, when);
        QCOMPARE(notice.expires, utc(m_ends.value(which)));
        QCOMPARE(notice.subject, QStringLiteral("CN=secure.test"));
        QCOMPARE(notice.issuer, QStringLiteral("CN=Quellmark Test CA"));
        QCOMPARE(m_alerts.certificateMails, QStringList{name + QStringLiteral("|/t/OnError.txt|ops@x.test|") + date});
        QCOMPARE(m_alerts.otherAlerts, 0);
        QCOMPARE(RegReadString(key(name), QStringLiteral("CertWarnedOn"), QString()),
                 m_start.date().toString(Qt::ISODate) + QLatin1Char(' ') + hexDigest(identity(which)));
        QCOMPARE(m_cycle->certificatesExpiring(), QStringList{name + QLatin1Char('\t') + date});
    }

    // One certificate is warned about once a day, whatever the cycles and
    // restarts in between; another certificate at once.
    void onceADay()
    {
        FakeTlsServer server;
        const QString name = serve(server, QStringLiteral("in13"));
        QVERIFY(!name.isEmpty());
        m_services = {name};
        const QDateTime endOfDay(m_start.date(), QTime(23, 59, 59));
        const qint64 laterToday = qMin<qint64>(3600, m_start.secsTo(endOfDay));
        const struct {
            qint64 seconds; // on the clock, from the start
            const char *which;
            bool restart;
            bool warned;
        } steps[] = {
            {0, "in13", false, true},
            {0, "in13", false, false},
            {laterToday, "in13", false, false},
            {laterToday, "in13", true, false},
            {Day, "in13", false, true},
            {Day + 60, "in13", false, false},
            {Day + 60, "in13b", false, true},
            // Servers that take turns with their certificates: each is told once.
            {Day + 120, "in13", false, false},
            {Day + 180, "in13b", false, false},
            {2 * Day, "in13b", true, true},
        };
        int step = 0;
        for (const auto &s : steps) {
            ++step;
            m_now = m_start.addSecs(s.seconds);
            const TestPki::Identity id = identity(QLatin1String(s.which));
            QVERIFY(server.setIdentity(id.certificateFile, id.keyFile));
            if (s.restart)
                startCycle();
            const int before = int(m_alerts.notices.size());
            const qsizetype logBefore = errorLog().count(QStringLiteral(": certificate expires"));
            m_cycle->run(m_services);
            const QString context = QStringLiteral("step %1").arg(step);
            QVERIFY2(m_view.status.contains(QStringLiteral("Success: https: secure.test:%1/ (200)").arg(server.port())),
                     qPrintable(context));
            QVERIFY2(m_alerts.notices.size() == before + (s.warned ? 1 : 0), qPrintable(context));
            QVERIFY2(m_alerts.certificateMails.size() == m_alerts.notices.size(), qPrintable(context));
            QVERIFY2(errorLog().count(QStringLiteral(": certificate expires")) == logBefore + (s.warned ? 1 : 0),
                     qPrintable(context));
            if (s.warned)
                QVERIFY2(m_alerts.notices.last().when ==
                             QStringLiteral("expires in %1 days").arg(13 - s.seconds / Day),
                         qPrintable(context + m_alerts.notices.last().when));
            m_view.status.clear();
        }
    }

    // Holds keep the notice and the mail back, as other alerts; the error
    // log entry is written all the same. Each switch stops only its own.
    void holdsAndSwitches_data()
    {
        QTest::addColumn<QString>("value"); // a service value set, "Name=value"
        QTest::addColumn<bool>("notificationsOn");
        QTest::addColumn<bool>("notice");
        QTest::addColumn<bool>("mail");
        QTest::newRow("snoozed") << "SnoozedUntil=snooze" << true << false << false;
        QTest::newRow("acknowledged") << "Acknowledged=1" << true << false << false;
        QTest::newRow("snooze run out") << "SnoozedUntil=past" << true << true << true;
        QTest::newRow("service's notification off") << "DesktopNotification=0" << true << false << true;
        QTest::newRow("notifications off") << "" << false << false << true;
        QTest::newRow("e-mail alert off") << "SendEmail=0" << true << true << false;
        QTest::newRow("no template") << "OnErrorEmail= " << true << true << false;
        QTest::newRow("no recipients") << "OnErrorEmailTo=" << true << true << false;
    }
    void holdsAndSwitches()
    {
        QFETCH(QString, value);
        QFETCH(bool, notificationsOn);
        QFETCH(bool, notice);
        QFETCH(bool, mail);
        FakeTlsServer server;
        const QString name = serve(server, QStringLiteral("in13"));
        QVERIFY(!name.isEmpty());
        m_services = {name};
        m_live.desktopNotifications = notificationsOn;
        const QString valueName = value.section(QLatin1Char('='), 0, 0);
        QString data = value.section(QLatin1Char('='), 1);
        if (data == QLatin1String("snooze"))
            data = m_start.toUTC().addSecs(3600).toString(Qt::ISODate);
        else if (data == QLatin1String("past"))
            data = m_start.toUTC().addSecs(-60).toString(Qt::ISODate);
        if (valueName == QLatin1String("Acknowledged") || valueName == QLatin1String("DesktopNotification") ||
            valueName == QLatin1String("SendEmail"))
            RegWriteBool(key(name), valueName, data == QLatin1String("1"));
        else if (!valueName.isEmpty())
            RegWriteString(key(name), valueName, data);

        m_cycle->run(m_services);
        QCOMPARE(errorLog().count(QStringLiteral(": certificate expires in 13 days for ") + name), 1);
        QCOMPARE(m_alerts.notices.size(), notice ? 1 : 0);
        QCOMPARE(m_alerts.certificateMails.size(), mail ? 1 : 0);
        // Told once, held or not: the next cycle today says nothing more.
        m_cycle->run(m_services);
        QCOMPARE(errorLog().count(QStringLiteral(": certificate expires")), 1);
    }

    // The bus list: the services of the list whose certificate, as last
    // seen, ends within the warning days, in list order, at the moment asked.
    void expiringList()
    {
        FakeTlsServer soon, notSoon, soonest;
        const QString a = serve(soon, QStringLiteral("in13"));
        const QString b = serve(notSoon, QStringLiteral("in15"));
        const QString c = serve(soonest, QStringLiteral("in1"));
        const QString plain = QStringLiteral("HTTP 127.0.0.1 1");
        QVERIFY(!a.isEmpty() && !b.isEmpty() && !c.isEmpty());
        const auto entry = [this](const QString &name, const char *which) {
            return name + QLatin1Char('\t') + m_ends.value(QLatin1String(which)).toUTC().date().toString(Qt::ISODate);
        };
        QCOMPARE(m_cycle->certificatesExpiring(), QStringList());
        m_services = {c, plain, b, a};
        m_cycle->run(m_services);
        QCOMPARE(m_cycle->certificatesExpiring(), (QStringList{entry(c, "in1"), entry(a, "in13")}));

        // Days set higher take in the later one at once; 0 empties it.
        m_live.certWarnDays = 20;
        QCOMPARE(m_cycle->certificatesExpiring(), (QStringList{entry(c, "in1"), entry(b, "in15"), entry(a, "in13")}));
        m_live.certWarnDays = 0;
        QCOMPARE(m_cycle->certificatesExpiring(), QStringList());
        m_live.certWarnDays = 14;

        // A service taken out of the list leaves it; the clock moving on
        // brings one in; a certificate that ended stays, with its date.
        m_services = {b, a};
        QCOMPARE(m_cycle->certificatesExpiring(), QStringList{entry(a, "in13")});
        m_now = m_start.addSecs(2 * Day);
        QCOMPARE(m_cycle->certificatesExpiring(), (QStringList{entry(b, "in15"), entry(a, "in13")}));
        m_services = {c};
        m_now = m_start.addSecs(3 * Day);
        QCOMPARE(m_cycle->certificatesExpiring(), QStringList{entry(c, "in1")});
    }

    // The stored mark of the day's warnings: what counts as told today.
    void warnedMark_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("next"); // "-": no warning due
        const QString today = m_start.date().toString(Qt::ISODate);
        const QString yesterday = m_start.date().addDays(-1).toString(Qt::ISODate);
        const QString d = QStringLiteral("ab").repeated(32);
        const QString o = QStringLiteral("cd").repeated(32);
        QStringList eight;
        for (int i = 0; i < CertificateWatch::MaxWarnedPerDay; ++i)
            eight << QString::number(i).repeated(64);
        QTest::newRow("none") << "" << today + ' ' + d;
        QTest::newRow("told today") << today + ' ' + d << "-";
        QTest::newRow("told today among others") << today + ' ' + o + ' ' + d << "-";
        QTest::newRow("another one today") << today + ' ' + o << today + ' ' + o + ' ' + d;
        QTest::newRow("told yesterday") << yesterday + ' ' + d << today + ' ' + d;
        QTest::newRow("unreadable") << "garbage" << today + ' ' + d;
        QTest::newRow("a full day drops the oldest")
            << today + ' ' + eight.join(' ') << today + ' ' + (eight.mid(1) + QStringList{d}).join(' ');
        QTest::newRow("overlong") << today + ' ' + QString(100000, 'x') + ' ' + d << today + ' ' + d;
    }
    void warnedMark()
    {
        QFETCH(QString, stored);
        QFETCH(QString, next);
        const std::optional<QString> mark =
            CertificateWatch::nextWarnedMark(stored, m_start, QByteArray::fromHex(QByteArray("ab").repeated(32)));
        QCOMPARE(mark.value_or(QStringLiteral("-")), next);
    }
};

QTEST_GUILESS_MAIN(TestCertExpiry)
#include "tst_certexpiry.moc"
