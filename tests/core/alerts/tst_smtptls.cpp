// The mail client with STARTTLS and with TLS from the connect, against a
// scripted server that speaks TLS with certificates made at test time. The
// test authority is trusted for this process only, through SSL_CERT_FILE;
// "secure.test" is answered by a fake resolver with 127.0.0.1.

#include "FakeResolver.h"
#include "FakeTlsServer.h"
#include "TestPki.h"
#include "TestSandbox.h"

#include "alerts/AlertMail.h"
#include "alerts/TKEsmtp.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"

#include <QFile>
#include <QSslSocket>
#include <QTest>
#include <QTimer>

#include <memory>

Q_DECLARE_METATYPE(FakeTlsServer::Scenario)

namespace {

using Scenario = FakeTlsServer::Scenario;

SmtpWaits quickWaits()
{
    SmtpWaits waits;
    waits.connectMs = 5000;
    waits.firstDataMs = 3000;
    waits.extraTryMs = 500;
    waits.readMs = 400;
    waits.replyTotalMs = 6000;
    waits.sendMs = 5000;
    return waits;
}

const QByteArray User = "alerts";
const QByteArray Password = "s3cret";
const QByteArray UserLine = User.toBase64() + "\r\n";
const QByteArray PasswordLine = Password.toBase64() + "\r\n";

const QByteArray Greeting = "220 secure.test ESMTP\r\n";
const QByteArray Queued = "250 2.0.0 Ok: queued as 4711\r\n";

// EHLO answered with the given capability lines (the last one ends it).
Scenario &ehlo(Scenario &s, const QList<QByteArray> &capabilities)
{
    QByteArray reply;
    for (qsizetype i = 0; i < capabilities.size(); ++i)
        reply += "250" + QByteArray(i + 1 < capabilities.size() ? "-" : " ") + capabilities.at(i) +
                 "\r\n";
    return s.waitForText("EHLO tester\r\n").send(reply);
}

Scenario &authLogin(Scenario &s)
{
    return s.waitForText("AUTH LOGIN\r\n")
        .send("334 VXNlcm5hbWU6\r\n")
        .waitForText(UserLine)
        .send("334 UGFzc3dvcmQ6\r\n")
        .waitForText(PasswordLine)
        .send("235 2.7.0 Authentication successful\r\n");
}

Scenario &delivery(Scenario &s)
{
    return s.waitForText("MAIL FROM:<alerts@quellmark.test>\r\n")
        .send("250 2.1.0 Ok\r\n")
        .waitForText("RCPT TO:<ops@x.test>\r\n")
        .send("250 2.1.5 Ok\r\n")
        .waitForText("DATA\r\n")
        .send("354 go ahead\r\n")
        .waitForText("\r\n.\r\n")
        .send(Queued)
        .waitForText("QUIT\r\n")
        .send("221 bye\r\n");
}

// Greeting, EHLO offering STARTTLS, its 220 and the handshake.
Scenario startTlsOpening()
{
    Scenario s;
    s.send(Greeting);
    ehlo(s, {"secure.test", "AUTH LOGIN", "STARTTLS"});
    return s.waitForText("STARTTLS\r\n").send("220 2.0.0 Ready to start TLS\r\n").startTls();
}

const QByteArray Delivered = "MAIL FROM:<alerts@quellmark.test>\r\nRCPT TO:<ops@x.test>\r\n"
                             "DATA\r\nSubject: Down\r\n\r\nsecure.test is down\r\n.\r\nQUIT\r\n";
const QByteArray AuthLines = "AUTH LOGIN\r\n" + UserLine + PasswordLine;
const QByteArray PlainLine = "AUTH PLAIN AGFsZXJ0cwBzM2NyZXQ=\r\n";

Scenario &authPlain(Scenario &s)
{
    return s.waitForText(PlainLine).send("235 2.7.0 Authentication successful\r\n");
}

const QString NoLogin = "The SMTP server offers no login this program can use (it offers: "
                        "CRAM-MD5); the message was not sent.";

} // namespace

class TestSmtpTls : public QObject {
    Q_OBJECT

    TestPki m_pki;

    void configure(TKEsmtp &client, quint16 port, int security, bool auth)
    {
        client.setHostAddress(TestPki::hostName());
        client.setPort(port);
        client.setSecurity(security);
        client.setFrom(QStringLiteral("alerts@quellmark.test"));
        client.setSendTo({QStringLiteral("ops@x.test")});
        client.setOutMessage(
            {QStringLiteral("Subject: Down"), QString(), QStringLiteral("secure.test is down")});
        client.setRequireAuthentication(auth);
        client.setUser(QString::fromUtf8(User));
        client.setPassword(QString::fromUtf8(Password));
        client.setHeloName(QStringLiteral("tester"));
        client.setWaits(quickWaits());
    }

    TestPki::Identity identity(const QString &which) const
    {
        if (which == QLatin1String("expired"))
            return m_pki.expired();
        if (which == QLatin1String("wrong host"))
            return m_pki.wrongHost();
        if (which == QLatin1String("untrusted"))
            return m_pki.untrusted();
        return m_pki.valid();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_pki.create(), qPrintable(m_pki.error()));
        qunsetenv("SSL_CERT_DIR");
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_pki.caFile()));
        QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend here");
    }

    void dialogue_data()
    {
        QTest::addColumn<int>("security");
        QTest::addColumn<bool>("auth");
        QTest::addColumn<Scenario>("scenario");
        QTest::addColumn<QByteArray>("inClear");    // what crossed before the handshake
        QTest::addColumn<QByteArray>("transcript"); // all the client sent
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("reply");

        const QString queued = QString::fromUtf8(Queued.trimmed());
        const QByteArray opening = "EHLO tester\r\nSTARTTLS\r\n";

        {
            Scenario s = startTlsOpening();
            ehlo(s, {"secure.test", "AUTH LOGIN"});
            authLogin(s);
            delivery(s);
            QTest::newRow("STARTTLS, EHLO again, AUTH LOGIN inside")
                << 1 << true << s << opening << opening + "EHLO tester\r\n" + AuthLines + Delivered
                << true << queued;
        }
        {
            Scenario s = startTlsOpening();
            ehlo(s, {"secure.test"});
            delivery(s);
            QTest::newRow("STARTTLS without authentication")
                << 1 << false << s << opening << opening + "EHLO tester\r\n" + Delivered << true
                << queued;
        }
        {
            Scenario s;
            s.startTls().send(Greeting);
            ehlo(s, {"secure.test", "AUTH LOGIN"});
            authLogin(s);
            delivery(s);
            QTest::newRow("SSL/TLS from the connect, AUTH LOGIN")
                << 2 << true << s << QByteArray() << "EHLO tester\r\n" + AuthLines + Delivered
                << true << queued;
        }
        {
            Scenario s;
            s.startTls().send(Greeting).waitForText("HELO tester\r\n").send("250 secure.test\r\n");
            delivery(s);
            QTest::newRow("SSL/TLS without authentication says HELO")
                << 2 << false << s << QByteArray() << "HELO tester\r\n" + Delivered << true
                << queued;
        }
        // The login is chosen from the EHLO inside TLS; the one in clear
        // offered LOGIN.
        {
            Scenario s = startTlsOpening();
            ehlo(s, {"secure.test", "AUTH PLAIN"});
            authPlain(s);
            delivery(s);
            QTest::newRow("STARTTLS, only PLAIN inside")
                << 1 << true << s << opening << opening + "EHLO tester\r\n" + PlainLine + Delivered
                << true << queued;
        }
        {
            Scenario s = startTlsOpening();
            ehlo(s, {"secure.test", "AUTH CRAM-MD5"});
            s.waitForText("QUIT\r\n").send("221 bye\r\n");
            QTest::newRow("STARTTLS, neither inside: no credentials")
                << 1 << true << s << opening << opening + "EHLO tester\r\nQUIT\r\n" << false
                << NoLogin;
        }
        {
            Scenario s;
            s.startTls().send(Greeting);
            ehlo(s, {"secure.test", "Auth=Plain"});
            authPlain(s);
            delivery(s);
            QTest::newRow("SSL/TLS from the connect, only PLAIN")
                << 2 << true << s << QByteArray() << "EHLO tester\r\n" + PlainLine + Delivered
                << true << queued;
        }
        {
            Scenario s;
            s.send(Greeting);
            ehlo(s, {"secure.test", "AUTH LOGIN", "STARTTLSX"});
            s.waitForText("QUIT\r\n").send("221 bye\r\n");
            QTest::newRow("STARTTLS not offered: nothing more but QUIT")
                << 1 << true << s << QByteArray("EHLO tester\r\nQUIT\r\n")
                << QByteArray("EHLO tester\r\nQUIT\r\n") << false
                << "The SMTP server does not offer STARTTLS; the message was not sent.";
        }
        {
            Scenario s;
            s.send(Greeting);
            ehlo(s, {"secure.test", "STARTTLS"});
            s.waitForText("STARTTLS\r\n")
                .send("454 4.7.0 TLS not available\r\n")
                .waitForText("QUIT\r\n")
                .send("221 bye\r\n");
            QTest::newRow("STARTTLS refused")
                << 1 << true << s << opening + "QUIT\r\n"
                << opening + "QUIT\r\n"
                << false << "The SMTP server refused STARTTLS: 454 4.7.0 TLS not available";
        }
        {
            // Text slipped in after the 220 would otherwise be read as the
            // first reply inside TLS.
            Scenario s;
            s.send(Greeting);
            ehlo(s, {"secure.test", "STARTTLS"});
            s.waitForText("STARTTLS\r\n").send("220 go\r\n250-injected\r\n250 AUTH PLAIN\r\n");
            QTest::newRow("text after the STARTTLS answer")
                << 1 << true << s << opening << opening << false
                << "The SMTP server sent more after its STARTTLS answer; the message was not sent.";
        }
    }

    void dialogue()
    {
        QFETCH(int, security);
        QFETCH(bool, auth);
        QFETCH(Scenario, scenario);
        QFETCH(QByteArray, inClear);
        QFETCH(QByteArray, transcript);
        QFETCH(bool, result);
        QFETCH(QString, reply);

        FakeTlsServer server;
        QVERIFY(server.setIdentity(m_pki.valid().certificateFile, m_pki.valid().keyFile));
        QVERIFY(server.listen());
        server.setScenario(scenario);
        FakeResolver resolver({TestPki::hostName()});
        TKEsmtp client(&resolver);
        configure(client, server.port(), security, auth);
        QString got;
        QCOMPARE(client.SendMail(got), result);
        QCOMPARE(got, reply);
        QTRY_VERIFY_WITH_TIMEOUT(server.peerClosed(), 5000);
        QCOMPARE(server.receivedInClear(), inClear);
        QCOMPARE(server.received(), transcript);
    }

    // A certificate that cannot be trusted ends the dialogue before a
    // single credential or command crosses, naming the problem.
    void certificateRefused_data()
    {
        QTest::addColumn<int>("security");
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("reason");
        for (const int security : {1, 2}) {
            const char *mode = security == 1 ? "STARTTLS" : "SSL/TLS";
            QTest::addRow("%s, expired", mode) << security << "expired"
                                               << "The certificate has expired";
            QTest::addRow("%s, wrong host", mode) << security << "wrong host"
                                                  << "The host name did not match";
            QTest::addRow("%s, untrusted issuer", mode) << security << "untrusted"
                                                        << "issuer certificate";
        }
    }

    void certificateRefused()
    {
        QFETCH(int, security);
        QFETCH(QString, which);
        QFETCH(QString, reason);

        FakeTlsServer server;
        const TestPki::Identity id = identity(which);
        QVERIFY(server.setIdentity(id.certificateFile, id.keyFile));
        QVERIFY(server.listen());
        Scenario s = security == 1 ? startTlsOpening() : Scenario().startTls();
        s.send(Greeting);
        ehlo(s, {"secure.test", "AUTH LOGIN"});
        authLogin(s);
        server.setScenario(s);
        FakeResolver resolver({TestPki::hostName()});
        TKEsmtp client(&resolver);
        configure(client, server.port(), security, true);
        QString got;
        QVERIFY(!client.SendMail(got));
        QVERIFY2(got.startsWith(QStringLiteral("TLS failure with the SMTP server: ")),
                 qPrintable(got));
        QVERIFY2(got.contains(reason), qPrintable(got));
        QTRY_VERIFY_WITH_TIMEOUT(server.peerClosed(), 5000);
        QVERIFY(!server.encrypted());
        QCOMPARE(server.received(),
                 security == 1 ? QByteArray("EHLO tester\r\nSTARTTLS\r\n") : QByteArray());
    }

    // A plain server on the SSL/TLS port: the handshake fails in time.
    void plainServerForSslTls()
    {
        FakeTlsServer server;
        QVERIFY(server.setIdentity(m_pki.valid().certificateFile, m_pki.valid().keyFile));
        QVERIFY(server.listen());
        server.setScenario(Scenario().send(Greeting));
        FakeResolver resolver({TestPki::hostName()});
        TKEsmtp client(&resolver);
        configure(client, server.port(), 2, true);
        QString got;
        QVERIFY(!client.SendMail(got));
        QVERIFY2(got.startsWith(QStringLiteral("TLS failure with the SMTP server: ")),
                 qPrintable(got));
        QVERIFY(!server.received().contains("AUTH"));
    }

    // An unknown setting must not fall back to sending the password in clear.
    void unknownSecurityConnectsNowhere()
    {
        FakeTlsServer server;
        QVERIFY(server.listen());
        FakeResolver resolver({TestPki::hostName()});
        TKEsmtp client(&resolver);
        configure(client, server.port(), 3, true);
        QString got;
        QVERIFY(!client.SendMail(got));
        QCOMPARE(got, QStringLiteral("Unknown SMTP security setting 3; nothing was sent."));
        QTest::qWait(100);
        QCOMPARE(server.connectionCount(), 0);
    }

    // The security setting reaches the client through SendAlertMail.
    void alertMailUsesTheSecurity()
    {
        TestSandbox sandbox;
        RegistryStore store(sandbox.storePath());
        RegistryStore::setCurrent(&store);
        struct Reset {
            ~Reset() { RegistryStore::setCurrent(nullptr); }
        } reset;
        const QString templatePath = sandbox.root() + QStringLiteral("/t.txt");
        QFile file(templatePath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Subject: Down\r\nDate: fixed\r\n\r\nsecure.test is down\r\n");
        file.close();

        FakeTlsServer server;
        QVERIFY(server.setIdentity(m_pki.valid().certificateFile, m_pki.valid().keyFile));
        QVERIFY(server.listen());
        Scenario s = startTlsOpening();
        ehlo(s, {"secure.test", "AUTH LOGIN"});
        authLogin(s);
        server.setScenario(delivery(s));

        FakeResolver resolver({TestPki::hostName()});
        AlertMailEnvironment environment;
        environment.resolver = &resolver;
        environment.heloName = QStringLiteral("tester");
        environment.waits = quickWaits();
        SmtpSettings smtp;
        smtp.server = TestPki::hostName();
        smtp.port = server.port();
        smtp.security = 1;
        smtp.from = QStringLiteral("alerts@quellmark.test");
        smtp.requireAuthentication = true;
        smtp.user = QString::fromUtf8(User);
        smtp.password = QString::fromUtf8(Password);
        QCOMPARE(SendAlertMail(QStringLiteral("Software\\Kestrin Software\\Quellmark\\Services"),
                               QStringLiteral("HTTPS secure.test 443"), templatePath,
                               QStringLiteral("ops@x.test"), smtp, environment),
                 QString::fromUtf8(Queued.trimmed()));
        QVERIFY(server.encrypted());
        QCOMPARE(server.receivedInClear(), QByteArray("EHLO tester\r\nSTARTTLS\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestSmtpTls)
#include "tst_smtptls.moc"
