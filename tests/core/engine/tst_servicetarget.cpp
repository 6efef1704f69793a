// How a service name is read into protocol, host, path, port and the names
// derived from them.

#include "engine/ServiceTarget.h"

#include <QTest>

class TestServiceTarget : public QObject {
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("hasPort");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("portSuffix");
        QTest::addColumn<QString>("logName");
        QTest::addColumn<QString>("serviceTag");
        QTest::addColumn<QString>("displayName");

        QTest::newRow("http default port") << "HTTP webhost 80"
                                           << "http"
                                           << "webhost"
                                           << "/" << true << 80 << ""
                                           << "webhost"
                                           << "http:webhost/"
                                           << "http: webhost/";
        QTest::newRow("path with trailing slash, other port") << "HTTP webhost/a/b/ 8080"
                                                              << "http"
                                                              << "webhost"
                                                              << "/a/b" << true << 8080 << ":8080"
                                                              << "webhost_a_b"
                                                              << "http:webhost/a/b"
                                                              << "http: webhost:8080/a/b";
        QTest::newRow("one word is http on 80") << "webhost"
                                                << "http"
                                                << "webhost"
                                                << "/" << false << 80 << ""
                                                << "webhost"
                                                << "http:webhost/"
                                                << "http: webhost/";
        QTest::newRow("path is lower-cased") << "HTTP webhost/Status.html 80"
                                             << "http"
                                             << "webhost"
                                             << "/status.html" << true << 80 << ""
                                             << "webhost_status.html"
                                             << "http:webhost/status.html"
                                             << "http: webhost/status.html";
        QTest::newRow("deep path") << "HTTP webhost/a/b/c/d/e.html 80"
                                   << "http"
                                   << "webhost"
                                   << "/a/b/c/d/e.html" << true << 80 << ""
                                   << "webhost_a_b_c_d_e.html"
                                   << "http:webhost/a/b/c/d/e.html"
                                   << "http: webhost/a/b/c/d/e.html";
        QTest::newRow("tcp names its port") << "TCP 127.0.0.1 5432"
                                            << "tcp"
                                            << "127.0.0.1"
                                            << "" << true << 5432 << ":5432"
                                            << "127.0.0.1"
                                            << "tcp:127.0.0.1"
                                            << "tcp: 127.0.0.1:5432";
        QTest::newRow("tcp without a port has none") << "TCP dbhost"
                                                     << "tcp"
                                                     << "dbhost"
                                                     << "" << false << 0 << ""
                                                     << "dbhost"
                                                     << "tcp:dbhost"
                                                     << "tcp: dbhost";
        QTest::newRow("four words carry no port") << "HTTP web host 8080"
                                                  << "http"
                                                  << "web"
                                                  << "/" << false << 80 << ""
                                                  << "web"
                                                  << "http:web/"
                                                  << "http: web/";
        QTest::newRow("two words carry no port") << "FTP ftphost"
                                                 << "ftp"
                                                 << "ftphost"
                                                 << "" << false << 21 << ""
                                                 << "ftphost"
                                                 << "ftp:ftphost"
                                                 << "ftp: ftphost";
        QTest::newRow("tabs and runs of blanks") << "\tSMTP \t mailhost\t  2525  "
                                                 << "smtp"
                                                 << "mailhost"
                                                 << "" << true << 2525 << ":2525"
                                                 << "mailhost"
                                                 << "smtp:mailhost"
                                                 << "smtp: mailhost:2525";
        QTest::newRow("pop3 default port, no path") << "POP3 MailHost/x 110"
                                                    << "pop3"
                                                    << "mailhost/x"
                                                    << "" << true << 110 << ""
                                                    << "mailhost_x"
                                                    << "pop3:mailhost/x"
                                                    << "pop3: mailhost/x";
        QTest::newRow("port written back in decimal") << "HTTP webhost 0080"
                                                      << "http"
                                                      << "webhost"
                                                      << "/" << true << 80 << ""
                                                      << "webhost"
                                                      << "http:webhost/"
                                                      << "http: webhost/";
        QTest::newRow("port word not a number") << "HTTP webhost eighty"
                                                << "http"
                                                << "webhost"
                                                << "/" << false << 80 << ""
                                                << "webhost"
                                                << "http:webhost/"
                                                << "http: webhost/";
        QTest::newRow("signed port word is not a number") << "HTTP webhost +81"
                                                          << "http"
                                                          << "webhost"
                                                          << "/" << false << 80 << ""
                                                          << "webhost"
                                                          << "http:webhost/"
                                                          << "http: webhost/";
        QTest::newRow("unknown protocol has default 0") << "GOPHER gopherhost 70"
                                                        << "gopher"
                                                        << "gopherhost"
                                                        << "" << true << 70 << ":70"
                                                        << "gopherhost"
                                                        << "gopher:gopherhost"
                                                        << "gopher: gopherhost:70";
        QTest::newRow("only one trailing slash goes") << "HTTP webhost// 80"
                                                      << "http"
                                                      << "webhost"
                                                      << "/" << true << 80 << ""
                                                      << "webhost_"
                                                      << "http:webhost/"
                                                      << "http: webhost/";
        QTest::newRow("log name replaces unsafe characters")
            << "HTTP web:host/a\\b?c=1&d=%20 80"
            << "http"
            << "web:host"
            << "/a\\b?c=1&d=%20" << true << 80 << ""
            << "web_host_a_b_c=1_d=_20"
            << "http:web:host/a\\b?c=1&d=%20"
            << "http: web:host/a\\b?c=1&d=%20";
        QTest::newRow("dotted address kept as written") << "FTP 192.168.1.300 2121"
                                                        << "ftp"
                                                        << "192.168.1.300"
                                                        << "" << true << 2121 << ":2121"
                                                        << "192.168.1.300"
                                                        << "ftp:192.168.1.300"
                                                        << "ftp: 192.168.1.300:2121";
        QTest::newRow("https default port") << "HTTPS securehost 443"
                                            << "https"
                                            << "securehost"
                                            << "/" << true << 443 << ""
                                            << "securehost"
                                            << "https:securehost/"
                                            << "https: securehost/";
        QTest::newRow("https path and other port") << "HTTPS SecureHost/a/B/ 8443"
                                                   << "https"
                                                   << "securehost"
                                                   << "/a/b" << true << 8443 << ":8443"
                                                   << "securehost_a_b"
                                                   << "https:securehost/a/b"
                                                   << "https: securehost:8443/a/b";
        QTest::newRow("https on 80 shows the port") << "HTTPS securehost 80"
                                                    << "https"
                                                    << "securehost"
                                                    << "/" << true << 80 << ":80"
                                                    << "securehost"
                                                    << "https:securehost/"
                                                    << "https: securehost:80/";
        QTest::newRow("https without port") << "HTTPS securehost/x"
                                            << "https"
                                            << "securehost"
                                            << "/x" << false << 443 << ""
                                            << "securehost_x"
                                            << "https:securehost/x"
                                            << "https: securehost/x";
    }

    void parse()
    {
        QFETCH(QString, name);
        const std::optional<ServiceTarget> t = ServiceTarget::parse(name);
        QVERIFY(t.has_value());
        QTEST(t->protocol, "protocol");
        QTEST(t->host, "host");
        QTEST(t->path, "path");
        QTEST(t->hasPort, "hasPort");
        QTEST(t->port, "port");
        QTEST(t->portSuffix, "portSuffix");
        QTEST(t->logName, "logName");
        QTEST(t->serviceTag, "serviceTag");
        QTEST(t->displayName, "displayName");
    }

    void emptyNamesAreSkipped_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "";
        QTest::newRow("blanks") << "   ";
        QTest::newRow("tabs and blanks") << "\t \t\t ";
    }

    void emptyNamesAreSkipped()
    {
        QFETCH(QString, name);
        QVERIFY(!ServiceTarget::parse(name).has_value());
    }

    // Services differing only in port share one on-error entry and one log.
    void portDoesNotSeparateTagOrLog()
    {
        const auto a = ServiceTarget::parse(QStringLiteral("HTTP webhost 80"));
        const auto b = ServiceTarget::parse(QStringLiteral("HTTP webhost 8080"));
        QVERIFY(a && b);
        QCOMPARE(a->serviceTag, b->serviceTag);
        QCOMPARE(a->logName, b->logName);
        QVERIFY(a->displayName != b->displayName);
    }
};

QTEST_GUILESS_MAIN(TestServiceTarget)
#include "tst_servicetarget.moc"
