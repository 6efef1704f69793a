// How the service editor cleans a host and builds a service name.

#include "config/ServiceNames.h"

#include <QTest>

class TestServiceNames : public QObject {
    Q_OBJECT
private slots:
    void normalizeHost_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("host");
        QTest::newRow("http scheme dropped") << "HTTP"
                                             << "http://webhost/status"
                                             << "webhost/status";
        QTest::newRow("https scheme dropped, path kept") << "HTTPS"
                                                         << "https://securehost/a/b"
                                                         << "securehost/a/b";
        QTest::newRow("https in lower case keeps path") << "https"
                                                        << "securehost/a"
                                                        << "securehost/a";
        QTest::newRow("ftp scheme and path dropped") << "FTP"
                                                     << "ftp://ftphost/pub"
                                                     << "ftphost";
        QTest::newRow("colon removed, port stays in the text") << "HTTP"
                                                               << "webhost:8080"
                                                               << "webhost8080";
        QTest::newRow("only the first scheme") << "HTTP"
                                               << "a://b://c"
                                               << "b//c";
        QTest::newRow("backslashes removed") << "HTTP"
                                             << "web\\host/a"
                                             << "webhost/a";
        QTest::newRow("smtp path cut") << "SMTP"
                                       << "mailhost/x/y"
                                       << "mailhost";
        QTest::newRow("http keeps path") << "http"
                                         << "webhost/a/b.html"
                                         << "webhost/a/b.html";
        QTest::newRow("blanks trimmed") << "POP3"
                                        << "  mailhost \t"
                                        << "mailhost";
        QTest::newRow("inner blank kept") << "HTTP"
                                          << "web host"
                                          << "web host";
        QTest::newRow("control characters removed") << "HTTP"
                                                    << "web\rhost\n/a\x01"
                                                    << "webhost/a";
        QTest::newRow("empty") << "FTP"
                               << ""
                               << "";
        QTest::newRow("unknown type cuts path") << ""
                                                << "host/path"
                                                << "host";
    }
    void normalizeHost()
    {
        QFETCH(QString, type);
        QFETCH(QString, typed);
        QFETCH(QString, host);
        QCOMPARE(ServiceNames::normalizeHost(type, typed), host);
    }

    void defaultPorts()
    {
        QCOMPARE(ServiceNames::defaultPort(QStringLiteral("HTTP")), 80);
        QCOMPARE(ServiceNames::defaultPort(QStringLiteral("HTTPS")), 443);
        QCOMPARE(ServiceNames::defaultPort(QStringLiteral("ftp")), 21);
        QCOMPARE(ServiceNames::defaultPort(QStringLiteral("POP3")), 110);
        QCOMPARE(ServiceNames::defaultPort(QStringLiteral("SMTP")), 25);
        QCOMPARE(ServiceNames::defaultPort(QStringLiteral("GOPHER")), 0);
    }

    // HTTPS comes right after HTTP and takes a path and a pattern like it.
    void typeList()
    {
        QCOMPARE(
            ServiceNames::types(),
            QStringList({QStringLiteral("HTTP"), QStringLiteral("HTTPS"), QStringLiteral("FTP"),
                         QStringLiteral("POP3"), QStringLiteral("SMTP"), QStringLiteral("TCP")}));
        QCOMPARE(ServiceNames::defaultPort(QStringLiteral("TCP")), 0);
        QVERIFY(ServiceNames::isTcp(QStringLiteral("tcp")));
        QVERIFY(!ServiceNames::isHttp(QStringLiteral("TCP")));
        QVERIFY(ServiceNames::isHttp(QStringLiteral("https")));
        QVERIFY(ServiceNames::isHttps(QStringLiteral("HTTPS")));
        QVERIFY(!ServiceNames::isHttps(QStringLiteral("HTTP")));
    }

    void duplicatesIgnoreCase()
    {
        const QStringList names{QStringLiteral("HTTP WEBHOST 80"), QStringLiteral("FTP a 21")};
        QCOMPARE(ServiceNames::indexOfIgnoringCase(names, QStringLiteral("HTTP webhost 80")), 0);
        QCOMPARE(ServiceNames::indexOfIgnoringCase(names, QStringLiteral("HTTP webhost 80"), 0),
                 -1);
        QCOMPARE(ServiceNames::indexOfIgnoringCase(names, QStringLiteral("HTTP webhost 81")), -1);
    }
};

QTEST_GUILESS_MAIN(TestServiceNames)
#include "tst_servicenames.moc"
