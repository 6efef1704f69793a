// The bytes of an HTTP probe request and the rules that judge answers.

#include "config/ProgramContext.h"
#include "engine/ProbeRules.h"

#include <QTest>

namespace {

const QByteArray Tail = "Cache-Control: no-cache\r\n"
                        "Pragma: no-cache\r\n"
                        "User-Agent: Agent/1 (maker.example)\r\n"
                        "Referer: http://maker.example/quellmark\r\n"
                        "\r\n";

} // namespace

class TestProbeRules : public QObject {
    Q_OBJECT
private slots:
    void request_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("withPattern");
        QTest::addColumn<bool>("viaProxy");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("head, default port")
            << "HTTP webhost 80" << false << false << "HEAD / HTTP/1.1\r\nHost: webhost\r\n" + Tail;
        QTest::newRow("get with a pattern")
            << "HTTP webhost/Status.html 80" << true << false
            << "GET /status.html HTTP/1.1\r\nHost: webhost\r\n" + Tail;
        QTest::newRow("other port in host header")
            << "HTTP webhost/a/b/ 8080" << false << false
            << "HEAD /a/b HTTP/1.1\r\nHost: webhost:8080\r\n" + Tail;
        QTest::newRow("proxy gets the absolute uri")
            << "HTTP webhost/a/b/ 8080" << false << true
            << "HEAD http://webhost:8080/a/b HTTP/1.1\r\nHost: webhost:8080\r\n" + Tail;
        QTest::newRow("proxy, default port, get")
            << "HTTP webhost 80" << true << true
            << "GET http://webhost/ HTTP/1.1\r\nHost: webhost\r\n" + Tail;
    }

    void request()
    {
        QFETCH(QString, name);
        QFETCH(bool, withPattern);
        QFETCH(bool, viaProxy);
        const auto target = ServiceTarget::parse(name);
        QVERIFY(target);
        QTEST(buildHttpRequest(*target, withPattern, viaProxy,
                               QStringLiteral("Agent/1 (maker.example)"),
                               QStringLiteral("maker.example")),
              "expected");
    }

    void userAgentNamesProgramVersionAndMaker()
    {
        QCOMPARE(userAgentText(), QStringLiteral("Quellmark/") + ProgramContext::buildVersion() +
                                      QStringLiteral(" (www.kestrin.example)"));
        QCOMPARE(makerHost(), QStringLiteral("www.kestrin.example"));
    }

    void http_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("code");

        QTest::newRow("200") << QByteArray("HTTP/1.1 200 OK\r\n\r\n") << "" << true << "200";
        QTest::newRow("404 is up")
            << QByteArray("HTTP/1.1 404 Not Found\r\n\r\n") << "" << true << "404";
        QTest::newRow("100 is up")
            << QByteArray("HTTP/1.1 100 Continue\r\n\r\n") << "" << true << "100";
        QTest::newRow("302 without line end")
            << QByteArray("HTTP/1.0 302 Found") << "" << true << "302";
        QTest::newRow("503 is down")
            << QByteArray("HTTP/1.1 503 Service Unavailable\r\n\r\n") << "" << false << "503";
        QTest::newRow("600 is down")
            << QByteArray("HTTP/1.1 600 Odd\r\n\r\n") << "" << false << "600";
        QTest::newRow("html instead of a status line")
            << QByteArray("<html><body>hello there</body></html>") << "" << false << "the";
        QTest::newRow("no blank: first three characters")
            << QByteArray("<html>") << "" << false << "<ht";
        QTest::newRow("blank at the end") << QByteArray("HTTP/1.1 ") << "" << false << "";
        QTest::newRow("lower-case http")
            << QByteArray("http/1.1 200 OK\r\n\r\n") << "" << false << "200";
        QTest::newRow("empty answer") << QByteArray() << "" << false << "";

        const QByteArray page = "HTTP/1.1 200 OK\r\nServer: welcome\r\n\r\n<p>WELCOME</p>\r\n";
        QTest::newRow("pattern in body, any case") << page << "Welcome" << true << "200";
        QTest::newRow("pattern only in a header")
            << QByteArray("HTTP/1.1 200 OK\r\nServer: welcome\r\n\r\n<p>hi</p>") << "welcome"
            << false << "pattern fail";
        QTest::newRow("pattern in status line only")
            << QByteArray("HTTP/1.1 200 Welcome\r\n\r\nbody") << "welcome" << false
            << "pattern fail";
        QTest::newRow("no empty line")
            << QByteArray("HTTP/1.1 200 OK\r\nX: welcome") << "welcome" << false << "pattern fail";
        QTest::newRow("nothing after the empty line")
            << QByteArray("HTTP/1.1 200 OK\r\n\r\n") << "x" << false << "pattern fail";
        QTest::newRow("LF line ends")
            << QByteArray("HTTP/1.1 200 OK\nA: b\n\nwelcome home") << "welcome" << true << "200";
        QTest::newRow("CR line ends")
            << QByteArray("HTTP/1.1 200 OK\rA: b\r\rwelcome home") << "welcome" << true << "200";
        QTest::newRow("body lines rejoined with CR LF")
            << QByteArray("HTTP/1.1 200 OK\n\nfoo\nbar\n") << "foo\r\nbar" << true << "200";
        QTest::newRow("down status beats a found pattern")
            << QByteArray("HTTP/1.1 503 Busy\r\n\r\nwelcome") << "welcome" << false << "503";
        QTest::newRow("pattern is plain text")
            << QByteArray("HTTP/1.1 200 OK\r\n\r\na+b") << "a+b" << true << "200";
    }

    void http()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, pattern);
        const Judgement j = judgeHttp(answer, pattern);
        QTEST(j.success, "success");
        QTEST(j.resultCode, "code");
    }

    void greeting_data()
    {
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("code");

        QTest::newRow("ftp 220") << "ftp" << QByteArray("220 ready\r\n") << true << "220";
        QTest::newRow("ftp 421") << "ftp" << QByteArray("421 busy\r\n") << false << "421";
        QTest::newRow("smtp 220") << "smtp" << QByteArray("220 mail ESMTP\r\n") << true << "220";
        QTest::newRow("smtp 554") << "smtp" << QByteArray("554 go away\r\n") << false << "554";
        QTest::newRow("pop3 +OK") << "pop3" << QByteArray("+OK POP3 ready\r\n") << true << "+OK";
        QTest::newRow("pop3 -ERR") << "pop3" << QByteArray("-ERR no\r\n") << false << "-ER";
        QTest::newRow("pop3 +ok lower case")
            << "pop3" << QByteArray("+ok ready\r\n") << false << "+ok";
        QTest::newRow("pop3 wants +OK, not 220")
            << "pop3" << QByteArray("220 x\r\n") << false << "220";
        QTest::newRow("nothing came") << "ftp" << QByteArray() << false << "";
        QTest::newRow("http is no greeting") << "http" << QByteArray("220 x\r\n") << false << "220";
        QTest::newRow("unknown protocol") << "gopher" << QByteArray("220 x\r\n") << false << "220";
    }

    void greeting()
    {
        QFETCH(QString, protocol);
        QFETCH(QByteArray, answer);
        const Judgement j = judgeGreeting(protocol, answer);
        QTEST(j.success, "success");
        QTEST(j.resultCode, "code");
    }
};

QTEST_GUILESS_MAIN(TestProbeRules)
#include "tst_proberules.moc"
