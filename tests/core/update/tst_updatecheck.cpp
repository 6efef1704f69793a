#include "update/UpdateCheck.h"
#include "update/UpdateError.h"

#include "support/FakeServer.h"
#include "support/TestSandbox.h"

#include <QFile>
#include <QTcpServer>
#include <QtTest>

#include <memory>

static FakeServer::Scenario httpAnswer(const QByteArray &status, const QByteArray &body)
{
    FakeServer::Scenario scenario;
    scenario.waitForText("\r\n\r\n")
        .send("HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
              QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body)
        .close();
    return scenario;
}

static QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// A loopback port on which nobody listens.
static quint16 closedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

class TestUpdateCheck : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    QString tempFile() const { return m_sandbox->root() + QStringLiteral("/temp.txt"); }
    static QString listAddress(quint16 port)
    {
        return VersionListAddress(QStringLiteral("http://127.0.0.1:%1").arg(port));
    }

private slots:
    void init() { m_sandbox = std::make_unique<TestSandbox>(); }
    void cleanup() { m_sandbox.reset(); }

    void addresses()
    {
        QCOMPARE(VersionListAddress("http://www.kestrin.example"),
                 QStringLiteral("http://www.kestrin.example/upgrades.txt"));
        QCOMPARE(WhatsNewAddress("http://www.kestrin.example/"),
                 QStringLiteral("http://www.kestrin.example/quellmark/whatsnew.shtml"));
        QCOMPARE(CurrentVersionFromCaption("Version 1.8.0.158"), QStringLiteral("1.8.0.158"));
        QCOMPARE(CurrentVersionFromCaption("Version  1.2 "), QStringLiteral("1.2"));
        QCOMPARE(CurrentVersionFromCaption("1.2"), QString());
    }

    void latestVersionIn_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("latest");
        QTest::newRow("plain") << "Quellmark 1.9.0\n"
                               << "1.9.0";
        QTest::newRow("blanks, case, CR LF") << "\r\n  \r\nOther 3.0\r\n   qUELLMARK   2.0  \r\n"
                                             << "2.0";
        QTest::newRow("first matching line wins") << "Quellmark 1.1\nQuellmark 1.2\n"
                                                  << "1.1";
        QTest::newRow("longer name listed first") << "QuellmarkPro 3.0\nQuellmark 2.0\n"
                                                  << "Pro 3.0";
        QTest::newRow("longer name listed after") << "Quellmark 2.0\nQuellmarkPro 3.0\n"
                                                  << "2.0";
        QTest::newRow("empty list") << ""
                                    << "unknown";
        QTest::newRow("other products only") << "Tideway 4.0\nHarbour 1.0"
                                             << "unknown";
        QTest::newRow("name without version") << "Quellmark\nQuellmark 2.0"
                                              << "unknown";
        QTest::newRow("name inside a line") << "Get Quellmark 5.0 now"
                                            << "unknown";
    }

    void latestVersionIn()
    {
        QFETCH(QString, list);
        QFETCH(QString, latest);
        QCOMPARE(LatestVersionIn(list, QStringLiteral("Quellmark")), latest);
    }

    void isVersionNewer_data()
    {
        QTest::addColumn<QString>("latest");
        QTest::addColumn<QString>("current");
        QTest::addColumn<bool>("newer");
        QTest::newRow("shorter but higher") << "1.9"
                                            << "1.8.0.158" << true;
        QTest::newRow("same") << "1.8.0.158"
                              << "1.8.0.158" << false;
        QTest::newRow("only the latest's parts count") << "1.8"
                                                       << "1.8.0.158" << false;
        QTest::newRow("last part higher") << "1.0.0.2"
                                          << "1.0.0.1" << true;
        QTest::newRow("last part lower") << "1.0.0.0"
                                         << "1.0.0.1" << false;
        QTest::newRow("numbers, not text") << "1.10"
                                           << "1.9" << true;
        QTest::newRow("earlier part decides") << "2.0.0.0"
                                              << "1.99.99.99" << true;
        QTest::newRow("lower major, higher minor") << "0.9"
                                                   << "1.0" << false;
        QTest::newRow("non-number part is 0") << "1.x.5"
                                              << "1.0.4" << true;
        QTest::newRow("more parts than current") << "1.0.0.1.1"
                                                 << "1.0.0.1" << true;
        QTest::newRow("unknown") << "unknown"
                                 << "1.0" << false;
        QTest::newRow("empty latest") << ""
                                      << "1.0" << false;
        QTest::newRow("empty current") << "2.0"
                                       << "" << false;
    }

    void isVersionNewer()
    {
        QFETCH(QString, latest);
        QFETCH(QString, current);
        QFETCH(bool, newer);
        QCOMPARE(IsVersionNewer(latest, current), newer);
    }

    void getUrlWritesTheBodyOnlyFor200_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("result");
        QTest::newRow("200") << QByteArray("200 OK") << true;
        QTest::newRow("404") << QByteArray("404 Not Found") << false;
        QTest::newRow("500") << QByteArray("500 Internal Server Error") << false;
        QTest::newRow("204") << QByteArray("204 No Content") << false;
    }

    void getUrlWritesTheBodyOnlyFor200()
    {
        QFETCH(QByteArray, status);
        QFETCH(bool, result);
        FakeServer server;
        QVERIFY(server.listen());
        const QByteArray body = status.startsWith("204") ? QByteArray() : "Quellmark 2.0\r\n";
        server.setScenario(httpAnswer(status, body));
        const bool got = GetUrl(listAddress(server.port()), tempFile());

        QCOMPARE(got, result);
        QVERIFY(server.received().startsWith("GET /upgrades.txt HTTP/1.1\r\n"));
        QCOMPARE(readAll(tempFile()), body);
    }

    void getUrlFailuresOutsideHttp_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("server down") << "down";
        QTest::newRow("answer too large") << "large";
        QTest::newRow("no answer in time") << "stall";
    }

    void getUrlFailuresOutsideHttp()
    {
        QFETCH(QString, kind);
        FakeServer server;
        QVERIFY(server.listen());
        quint16 port = server.port();
        QString expected;
        DownloadLimits limits;
        limits.maxBytes = 1000;
        limits.timeoutMs = 500;
        if (kind == "down") {
            port = closedPort();
            expected = QStringLiteral("Unable to check for updates: Connection refused");
        } else if (kind == "large") {
            FakeServer::Scenario scenario;
            scenario.waitForText("\r\n\r\n")
                .send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n")
                .streamForever(QByteArray(4096, 'x'));
            server.setScenario(scenario);
            expected = QStringLiteral("Unable to check for updates: the answer from %1 is larger "
                                      "than 1000 bytes.")
                           .arg(listAddress(port));
        } else {
            server.setScenario(FakeServer::Scenario().stall());
            expected =
                QStringLiteral("Unable to check for updates: no answer from %1 within 500 ms.")
                    .arg(listAddress(port));
        }
        QElapsedTimer clock;
        clock.start();
        try {
            GetUrl(listAddress(port), tempFile(), limits);
            QFAIL("no error");
        } catch (const UpdateError &error) {
            QCOMPARE(error.message(), expected);
        }
        QVERIFY(clock.elapsed() < 10000);
        QVERIFY(QFileInfo(tempFile()).size() <= limits.maxBytes);
    }

    void isNewCurrentVersionLeavesNoTemporaryFile_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("newer");
        QTest::addColumn<QString>("latest");
        QTest::newRow("newer") << QByteArray("200 OK") << QByteArray("  QUELLMARK 2.0\r\n") << true
                               << "2.0";
        QTest::newRow("same") << QByteArray("200 OK") << QByteArray("Quellmark 1.0.0.1\r\n")
                              << false << "1.0.0.1";
        // An error page is never read as a version list.
        QTest::newRow("404 page naming the product")
            << QByteArray("404 Not Found") << QByteArray("Quellmark 9.9 page not found") << false
            << "unknown";
    }

    void isNewCurrentVersionLeavesNoTemporaryFile()
    {
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, newer);
        QFETCH(QString, latest);
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(httpAnswer(status, body));
        const UpdateCheckResult result =
            IsNewCurrentVersion("Quellmark", "1.0.0.1", listAddress(server.port()), tempFile());
        QCOMPARE(result.newer, newer);
        QCOMPARE(result.latest, latest);
        QVERIFY(!QFileInfo::exists(tempFile()));
    }

    void failedCheckLeavesNoTemporaryFile()
    {
        QVERIFY_THROWS_EXCEPTION(
            UpdateError,
            IsNewCurrentVersion("Quellmark", "1.0.0.1", listAddress(closedPort()), tempFile()));
        QVERIFY(!QFileInfo::exists(tempFile()));
    }
};

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
