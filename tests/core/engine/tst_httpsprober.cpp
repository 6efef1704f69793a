// HTTPS probes against a local TLS server with certificates made at test
// time. The test authority is trusted for this process only, through
// SSL_CERT_FILE; "secure.test" is answered by a fake resolver with
// 127.0.0.1, so the certificate's name is checked and nothing outside this
// machine is ever looked up.

#include "FakeConnectProxy.h"
#include "FakeResolver.h"
#include "FakeServer.h"
#include "FakeTlsServer.h"
#include "StatusView.h"
#include "TestPki.h"
#include "TestSandbox.h"

#include "config/ProgramContext.h"
#include "config/RegistryStore.h"
#include "engine/PollCycle.h"
#include "engine/PollView.h"

#include "engine/Prober.h"
#include "engine/ProbeRules.h"
#include "platform/TlsTrust.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSslSocket>
#include <QTest>
#include <QTimer>

namespace {

QByteArray request(const QByteArray &firstLine, const QByteArray &host)
{
    return firstLine + "\r\nHost: " + host +
           "\r\nCache-Control: no-cache\r\nPragma: no-cache\r\nUser-Agent: " +
           userAgentText().toUtf8() + "\r\nReferer: http://" + makerHost().toUtf8() +
           "/quellmark\r\n\r\n";
}

FakeTlsServer::Scenario answeringOverTls(const QByteArray &answer)
{
    return FakeTlsServer::Scenario().startTls().waitForText("\r\n\r\n").send(answer).close();
}

ProbeSettings quickSettings()
{
    ProbeSettings s;
    s.connectionTimeoutSecs = 10; // a failing test must not hang for a minute
    return s;
}

QString secureName(quint16 port, const QString &path = QString())
{
    return QStringLiteral("HTTPS ") + TestPki::hostName() + path + QLatin1Char(' ') +
           QString::number(port);
}

class NoAlerts : public AlertActions {
public:
    QString playAlertSound(const QString &, bool) override { return {}; }
    void launchProgram(const QString &) override {}
    MailOutcome sendAlertMail(const QString &, const QString &, const QString &) override { return {true, {}}; }
    void reportError(const QString &) override {}
};

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestHttpsProber : public QObject {
    Q_OBJECT

    TestPki m_pki;

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

    ProbeResult probe(const QString &name, const QString &pattern = QString(),
                      const ProbeSettings &settings = quickSettings(),
                      FakeResolver *resolver = nullptr, std::function<bool()> abort = {})
    {
        FakeResolver own({TestPki::hostName()});
        Prober prober(resolver ? resolver : &own);
        const auto target = ServiceTarget::parse(name);
        if (!target)
            return {};
        return prober.run(*target, pattern, settings, std::move(abort));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_pki.create(), qPrintable(m_pki.error()));
        // Before the first TLS use, and for this process only.
        qunsetenv("SSL_CERT_DIR");
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_pki.caFile()));
        QVERIFY2(QSslSocket::supportsSsl(), "Qt has no TLS backend here");
    }

    void certificates_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("reason"); // in the response of a "tls" failure

        QTest::newRow("valid") << "valid"
                               << "" << true << "200"
                               << "";
        QTest::newRow("valid, pattern in the body") << "valid"
                                                    << "Welcome" << true << "200"
                                                    << "";
        QTest::newRow("valid, pattern missing") << "valid"
                                                << "absent" << false << "pattern fail"
                                                << "";
        QTest::newRow("expired") << "expired"
                                 << "" << false << "tls"
                                 << "The certificate has expired";
        QTest::newRow("wrong host name") << "wrong host"
                                         << "" << false << "tls"
                                         << "host name did not match";
        QTest::newRow("untrusted issuer") << "untrusted"
                                          << "" << false << "tls"
                                          << "issuer certificate";
    }

    void certificates()
    {
        QFETCH(QString, which);
        QFETCH(QString, pattern);
        QFETCH(bool, success);
        QFETCH(QString, code);
        QFETCH(QString, reason);

        FakeTlsServer server;
        const TestPki::Identity id = identity(which);
        QVERIFY(server.setIdentity(id.certificateFile, id.keyFile));
        QVERIFY(server.listen());
        server.setScenario(
            answeringOverTls("HTTP/1.1 200 OK\r\nContent-Length: 16\r\n\r\nWelcome, secure!"));

        const ProbeResult r =
            probe(secureName(server.port(), QStringLiteral("/Index.html")), pattern);
        QVERIFY(r.connected);
        QCOMPARE(r.success, success);
        QCOMPARE(r.resultCode, code);
        if (code == QLatin1String("tls")) {
            QVERIFY2(r.response.startsWith("TLS failure: "), r.response.constData());
            QVERIFY2(r.response.contains(reason.toUtf8()), r.response.constData());
            // Nothing of the request leaves before the peer is trusted.
            QVERIFY(server.received().isEmpty());
            QVERIFY(!r.certificate);
        } else {
            // The leaf the server showed, whatever the answer.
            const QSslCertificate shown =
                QSslCertificate::fromPath(id.certificateFile, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString)
                    .value(0);
            QVERIFY(r.certificate);
            QCOMPARE(r.certificate->subject, QStringLiteral("CN=secure.test"));
            QCOMPARE(r.certificate->issuer, QStringLiteral("CN=Quellmark Test CA"));
            QCOMPARE(r.certificate->notBefore, shown.effectiveDate());
            QCOMPARE(r.certificate->notAfter, shown.expiryDate());
            QCOMPARE(r.certificate->notAfter.timeSpec(), Qt::UTC);
            QCOMPARE(r.certificate->digest, shown.digest(QCryptographicHash::Sha256));
            const QByteArray method = pattern.isEmpty() ? "HEAD" : "GET";
            QCOMPARE(server.received(),
                     request(method + " /index.html HTTP/1.1",
                             "secure.test:" + QByteArray::number(server.port())));
            QVERIFY(server.encrypted());
        }
    }

    // Each ends in time, as a failure, whatever the peer makes of us.
    void wrongSpeakers_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("code"); // empty: any code but a success
        QTest::addColumn<QString>("reason");

        QTest::newRow("plain http answer on the https port") << "plain answer"
                                                             << "tls"
                                                             << "does not speak TLS";
        QTest::newRow("silent plain server on the https port") << "plain silent"
                                                               << "tls"
                                                               << "did not finish within";
        QTest::newRow("plain server closing on the https port")
            << "plain close"
            << "tls"
            << "closed the connection during the TLS handshake";
        QTest::newRow("tls server on the http port") << "tls for http"
                                                     << ""
                                                     << "";
    }

    void wrongSpeakers()
    {
        QFETCH(QString, kind);
        QFETCH(QString, code);
        QFETCH(QString, reason);

        FakeServer plain;
        FakeTlsServer secure;
        QVERIFY(plain.listen());
        QVERIFY(secure.setIdentity(m_pki.valid().certificateFile, m_pki.valid().keyFile));
        QVERIFY(secure.listen());
        if (kind == QLatin1String("plain answer"))
            plain.setScenario(FakeServer::Scenario().waitForBytes(1).send(
                "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"));
        else if (kind == QLatin1String("plain close"))
            plain.setScenario(FakeServer::Scenario().waitForBytes(1).close());
        else
            plain.setScenario(FakeServer::Scenario().stall());
        secure.setScenario(answeringOverTls("HTTP/1.1 200 OK\r\n\r\n"));

        ProbeSettings settings;
        settings.connectionTimeoutSecs = 1;
        const QString name =
            kind == QLatin1String("tls for http")
                ? QStringLiteral("HTTP secure.test ") + QString::number(secure.port())
                : secureName(plain.port());
        QElapsedTimer clock;
        clock.start();
        const ProbeResult r = probe(name, {}, settings);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(r.connected);
        QVERIFY(!r.success);
        if (!code.isEmpty())
            QCOMPARE(r.resultCode, code);
        QVERIFY2(r.response.contains(reason.toUtf8()), r.response.constData());
    }

    void throughTheProxy_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("which");
        QTest::addColumn<QByteArray>("proxyAnswer");
        QTest::addColumn<QByteArray>("connect"); // the tunnel request
        QTest::addColumn<QByteArray>("request"); // empty: none may reach the server
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("reason");

        const QByteArray agreed = "HTTP/1.1 200 Connection established\r\n\r\n";
        QTest::newRow("default port, path alone inside")
            << "HTTPS secure.test/a/B/ 443"
            << "valid" << agreed
            << QByteArray("CONNECT secure.test:443 HTTP/1.1\r\nHost: secure.test:443\r\n\r\n")
            << request("HEAD /a/b HTTP/1.1", "secure.test") << "200"
            << "";
        QTest::newRow("other port, proxy answers 1.0 with headers")
            << "HTTPS secure.test 8443"
            << "valid" << QByteArray("HTTP/1.0 200 OK\r\nProxy-Agent: fake\r\n\r\n")
            << QByteArray("CONNECT secure.test:8443 HTTP/1.1\r\nHost: secure.test:8443\r\n\r\n")
            << request("HEAD / HTTP/1.1", "secure.test:8443") << "200"
            << "";
        QTest::newRow("refused")
            << "HTTPS secure.test 443"
            << "valid" << QByteArray("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
            << QByteArray("CONNECT secure.test:443 HTTP/1.1\r\nHost: secure.test:443\r\n\r\n")
            << QByteArray() << "tls"
            << "The proxy refused the tunnel to secure.test:443: HTTP/1.1 403 Forbidden";
        QTest::newRow("name checked through the tunnel")
            << "HTTPS secure.test 443"
            << "wrong host" << agreed
            << QByteArray("CONNECT secure.test:443 HTTP/1.1\r\nHost: secure.test:443\r\n\r\n")
            << QByteArray() << "tls"
            << "host name did not match";
    }

    void throughTheProxy()
    {
        QFETCH(QString, name);
        QFETCH(QString, which);
        QFETCH(QByteArray, proxyAnswer);
        QFETCH(QByteArray, connect);
        QFETCH(QByteArray, request);
        QFETCH(QString, code);
        QFETCH(QString, reason);

        FakeTlsServer server;
        const TestPki::Identity id = identity(which);
        QVERIFY(server.setIdentity(id.certificateFile, id.keyFile));
        QVERIFY(server.listen());
        server.setScenario(answeringOverTls("HTTP/1.1 200 OK\r\n\r\n"));
        FakeConnectProxy proxy(server.port());
        QVERIFY(proxy.listen());
        proxy.setAnswer(proxyAnswer);

        ProbeSettings settings = quickSettings();
        settings.proxy = {true, QStringLiteral("127.0.0.1"), proxy.port()};
        FakeResolver resolver({TestPki::hostName()});
        const ProbeResult r = probe(name, {}, settings, &resolver);
        QVERIFY(r.connected);
        QCOMPARE(r.resultCode, code);
        QCOMPARE(proxy.request(), connect);
        QVERIFY2(r.response.contains(reason.toUtf8()), r.response.constData());
        // The host is the proxy's business.
        QVERIFY(resolver.asked.isEmpty());
        if (request.isEmpty()) {
            QVERIFY(!r.success);
            QVERIFY(server.received().isEmpty());
        } else {
            QVERIFY(r.success);
            QCOMPARE(server.received(), request);
        }
    }

    // A proxy that never answers the tunnel request is bounded too.
    void silentProxy()
    {
        FakeServer proxy;
        QVERIFY(proxy.listen());
        proxy.setScenario(FakeServer::Scenario().stall());
        ProbeSettings settings;
        settings.connectionTimeoutSecs = 1;
        settings.proxy = {true, QStringLiteral("127.0.0.1"), proxy.port()};
        QElapsedTimer clock;
        clock.start();
        const ProbeResult r = probe(QStringLiteral("HTTPS secure.test 443"), {}, settings);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(r.resultCode, QStringLiteral("tls"));
        QVERIFY2(r.response.contains("did not answer the tunnel request"), r.response.constData());
    }

    void abortDuringHandshake()
    {
        FakeServer plain;
        QVERIFY(plain.listen());
        plain.setScenario(FakeServer::Scenario().stall());
        bool abortNow = false;
        QTimer::singleShot(200, [&abortNow] { abortNow = true; });
        QElapsedTimer clock;
        clock.start();
        const ProbeResult r =
            probe(secureName(plain.port()), {}, quickSettings(), nullptr, [&] { return abortNow; });
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(r.aborted);
        QVERIFY(!r.success);
    }

    // Where the trusted authorities come from, as OpenSSL-based programs
    // read the two variables.
    void trustSources_data()
    {
        QTest::addColumn<QString>("certFile"); // relative to the test folder; "" unset
        QTest::addColumn<QString>("certDir");
        QTest::addColumn<QStringList>("subjects");
        QTest::addColumn<bool>("validIsUp");

        const QString ours = QStringLiteral("Quellmark Test CA");
        const QString rogue = QStringLiteral("Untrusted Test CA");
        QTest::newRow("file") << "ca.pem"
                              << "" << QStringList{ours} << true;
        QTest::newRow("file wins over folder") << "rogue.pem"
                                               << "both" << QStringList{rogue} << false;
        QTest::newRow("folder of files") << ""
                                         << "both" << QStringList{ours, rogue} << true;
        QTest::newRow("list of folders")
            << ""
            << "rogue-only:ours-only" << QStringList{ours, rogue} << true;
        QTest::newRow("folder without ours") << ""
                                             << "rogue-only" << QStringList{rogue} << false;
        QTest::newRow("empty file trusts nothing") << "empty.pem"
                                                   << "" << QStringList{} << false;
    }

    void trustSources()
    {
        QFETCH(QString, certFile);
        QFETCH(QString, certDir);
        QFETCH(QStringList, subjects);
        QFETCH(bool, validIsUp);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString root = dir.path() + QLatin1Char('/');
        for (const char *folder : {"both", "ours-only", "rogue-only"})
            QVERIFY(QDir(root).mkdir(folder));
        const QString ca = m_pki.caFile();
        const QString rogueCa = m_pki.folder() + QStringLiteral("/rogue.pem");
        QVERIFY(QFile::copy(ca, root + "ca.pem"));
        QVERIFY(QFile::copy(rogueCa, root + "rogue.pem"));
        QVERIFY(QFile::copy(ca, root + "both/ca.pem"));
        QVERIFY(QFile::copy(rogueCa, root + "both/rogue.pem"));
        // A hashed folder names a certificate twice; junk is skipped.
        QVERIFY(QFile::link(root + "both/ca.pem", root + "both/0a1b2c3d.0"));
        QFile junk(root + "both/README");
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a certificate\n");
        junk.close();
        QVERIFY(QFile::copy(ca, root + "ours-only/ca.pem"));
        QVERIFY(QFile::copy(rogueCa, root + "rogue-only/rogue.pem"));
        QFile empty(root + "empty.pem");
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();

        const QByteArray savedFile = qgetenv("SSL_CERT_FILE");
        struct Restore {
            QByteArray file;
            ~Restore()
            {
                qputenv("SSL_CERT_FILE", file);
                qunsetenv("SSL_CERT_DIR");
            }
        } restore{savedFile};
        if (certFile.isEmpty())
            qunsetenv("SSL_CERT_FILE");
        else
            qputenv("SSL_CERT_FILE", QFile::encodeName(root + certFile));
        if (certDir.isEmpty()) {
            qunsetenv("SSL_CERT_DIR");
        } else {
            QStringList folders = certDir.split(QLatin1Char(':'));
            for (QString &folder : folders)
                folder.prepend(root);
            qputenv("SSL_CERT_DIR", QFile::encodeName(folders.join(QLatin1Char(':'))));
        }

        QStringList found;
        for (const QSslCertificate &certificate : TlsTrust::caCertificates())
            found += certificate.subjectInfo(QSslCertificate::CommonName);
        found.sort();
        QCOMPARE(found, subjects);

        FakeTlsServer server;
        QVERIFY(server.setIdentity(m_pki.valid().certificateFile, m_pki.valid().keyFile));
        QVERIFY(server.listen());
        server.setScenario(answeringOverTls("HTTP/1.1 200 OK\r\n\r\n"));
        const ProbeResult r = probe(secureName(server.port()));
        QCOMPARE(r.success, validIsUp);
        QCOMPARE(r.resultCode, validIsUp ? QStringLiteral("200") : QStringLiteral("tls"));
    }

    // A poll over an https service whose certificate has expired: the
    // status line carries "tls", the error log the reason, and the service
    // has its own https log.
    void pollWritesTheReason()
    {
        TestSandbox sandbox;
        RegistryStore store(sandbox.storePath());
        RegistryStore::setCurrent(&store);
        struct Reset {
            ~Reset() { RegistryStore::setCurrent(nullptr); }
        } reset;
        const ProgramContext context = ProgramContext::create(false, sandbox.programFolder());
        QVERIFY(QDir().mkpath(context.programFolder));

        FakeTlsServer server;
        QVERIFY(server.setIdentity(m_pki.expired().certificateFile, m_pki.expired().keyFile));
        QVERIFY(server.listen());
        server.setScenario(answeringOverTls("HTTP/1.1 200 OK\r\n\r\n"));
        FakeResolver resolver({TestPki::hostName()});
        Prober prober(&resolver);
        StatusView view;
        NoAlerts alerts;
        PollCycle::Environment env;
        env.settings = [] {
            LiveSettings live;
            live.connectionTimeoutSecs = 10;
            return live;
        };
        env.internetConnected = [] { return true; };
        env.locale = QLocale::c();
        env.probe = [&prober](const ServiceTarget &target, const QString &pattern,
                              const ProbeSettings &settings, std::function<bool()> abort) {
            return prober.run(target, pattern, settings, std::move(abort));
        };
        env.abortProbe = [&prober] { prober.abort(); };
        PollCycle cycle(context, view, alerts, env);
        const QString name = secureName(server.port());
        cycle.run({name});

        const QString port = QString::number(server.port());
        QVERIFY2(view.status
                         .filter(QStringLiteral("Failed: https: secure.test:") + port +
                                 QStringLiteral("/ (tls) went on error"))
                         .size() == 1,
                 qPrintable(view.status.join(QLatin1Char('\n'))));
        const QByteArray errorLog = fileBytes(context.errorLogPath);
        QVERIFY2(errorLog.contains(" secure.test/(https) response:\r\n"
                                   "TLS failure: The certificate has expired (valid from 2020-01-01 "
                                   "00:00:00 UTC until 2020-02-01 00:00:00 UTC)\r\n\r\n"),
                 errorLog.constData());
        QVERIFY(fileBytes(context.programFolder + QStringLiteral("secure.test(https).log"))
                    .contains(": went on error."));
    }

    void configurationVerifiesTheChain()
    {
        const QSslConfiguration c = TlsTrust::clientConfiguration();
        QCOMPARE(c.protocol(), QSsl::TlsV1_2OrLater);
        QCOMPARE(c.peerVerifyMode(), QSslSocket::VerifyPeer);
    }
};

QTEST_GUILESS_MAIN(TestHttpsProber)
#include "tst_httpsprober.moc"
