// "Go" on the real main window over services served by scripted fake servers
// on loopback: the status pane, the status bar, the logs, the store and the
// services-on-error window after a cycle, and Abort in the middle of one.

#include "FakeServer.h"
#include "StoreFixture.h"

#include "ShellOpen.h"
#include "TfrmError.h"
#include "TfrmMain.h"

#include "config/ProgramContext.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"
#include "engine/IntervalTimer.h"
#include "engine/PollCycle.h"
#include "engine/ProbeRules.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>
#include <QElapsedTimer>
#include <QTimer>

#include <memory>

class TestPollWindow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> m_fixture;

    QString key(const QString &name) const
    {
        return m_fixture->context().servicesKey + QLatin1Char('\\') + name;
    }
    static quint16 closedPort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        const quint16 port = probe.serverPort();
        probe.close();
        return port;
    }
    static QStringList statusLines(TfrmMain &w)
    {
        return w.findChild<QPlainTextEdit *>(QStringLiteral("memoStatus"))->toPlainText().split(QLatin1Char('\n'));
    }
    static QString fileText(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private slots:
    void init() { m_fixture = std::make_unique<StoreFixture>(); }
    void cleanup() { m_fixture.reset(); }

    void goOverUpDownAndUnreachable()
    {
        FakeServer web, ftp;
        QVERIFY(web.listen());
        QVERIFY(ftp.listen());
        web.setScenario(FakeServer::Scenario()
                            .waitForText("\r\n\r\n")
                            .send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
                            .stall());
        ftp.setScenario(FakeServer::Scenario().send("421 busy\r\n").waitForText("QUIT\r\n").close());
        const quint16 dead = closedPort();
        const QString httpName = QStringLiteral("HTTP 127.0.0.1/Up %1").arg(web.port());
        const QString ftpName = QStringLiteral("FTP 127.0.0.1 %1").arg(ftp.port());
        const QString smtpName = QStringLiteral("SMTP 127.0.0.1 %1").arg(dead);
        for (const QString &name : {httpName, ftpName, smtpName})
            m_fixture->store().createKey(key(name));

        TfrmMain window(m_fixture->context());
        TfrmError error;
        window.attachWindows({&error, nullptr, nullptr, nullptr});
        window.findChild<QPushButton *>(QStringLiteral("butStart"))->click();

        const QStringList lines = statusLines(window);
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines.at(0).startsWith(QStringLiteral("Poll started at: ")));
        // The list is in the store's order: FTP, HTTP, SMTP.
        QCOMPARE(lines.at(1), QStringLiteral("Failed: ftp: 127.0.0.1:%1 (421) went on error <<<<<<<<<<<<").arg(ftp.port()));
        QCOMPARE(lines.at(2), QStringLiteral("Success: http: 127.0.0.1:%1/up (200)").arg(web.port()));
        QCOMPARE(lines.at(3), QStringLiteral("Failed: smtp: 127.0.0.1:%1 went on error <<<<<<<<<<<<").arg(dead));
        QVERIFY(lines.at(4).startsWith(QStringLiteral("Poll finished at: ")));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("panelProgress"))->text(), lines.at(4));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("panelErrors"))->text(), QStringLiteral("2 sites on error"));
        QCOMPARE(window.trayHint(), QStringLiteral("Quellmark"));
        QVERIFY(window.findChild<QPushButton *>(QStringLiteral("butStart"))->isEnabled());
        QVERIFY(!window.findChild<QPushButton *>(QStringLiteral("butAbort"))->isEnabled());

        // What went over the wire: the request in one piece, QUIT after the greeting.
        const QByteArray request = QStringLiteral("HEAD /up HTTP/1.1\r\nHost: 127.0.0.1:%1\r\n"
                                                  "Cache-Control: no-cache\r\nPragma: no-cache\r\n"
                                                  "User-Agent: %2\r\nReferer: http://%3/quellmark\r\n\r\n")
                                       .arg(web.port())
                                       .arg(userAgentText(), makerHost())
                                       .toUtf8();
        QCOMPARE(web.received(), request);
        QCOMPARE(ftp.received(), QByteArray("QUIT\r\n"));

        // Store, logs and the window.
        QCOMPARE(RegReadInteger(key(httpName), QStringLiteral("ActualFailures"), -1), 0);
        QCOMPARE(RegReadInteger(key(ftpName), QStringLiteral("ActualFailures"), -1), 1);
        QCOMPARE(RegReadInteger(key(smtpName), QStringLiteral("ActualFailures"), -1), 1);
        QVERIFY(!RegReadString(key(smtpName), QStringLiteral("FailureTime"), {}).isEmpty());
        const QString folder = m_fixture->context().programFolder;
        QVERIFY(fileText(folder + QStringLiteral("127.0.0.1_up(http).log")).endsWith(QStringLiteral(":  Log start\r\n")));
        QVERIFY(fileText(folder + QStringLiteral("127.0.0.1(ftp).log")).endsWith(QStringLiteral(": went on error.\r\n")));
        const QString errorLog = fileText(m_fixture->context().errorLogPath);
        QVERIFY(errorLog.contains(QStringLiteral(" 127.0.0.1(ftp) response:\r\n421 busy\r\n\r\n")));
        QVERIFY(errorLog.contains(QStringLiteral(" 127.0.0.1(smtp) response:\r\nCould not open connection to socket\r\n")));
        QCOMPARE(window.onErrorList(), (QStringList{QStringLiteral("ftp:127.0.0.1"), QStringLiteral("smtp:127.0.0.1")}));
        QVERIFY(error.isVisible());
        QCOMPARE(error.text(), QStringLiteral("ftp:127.0.0.1\nsmtp:127.0.0.1"));
        QVERIFY(window.urlsOnErrorAction()->isChecked());
    }

    void timerPollsUnattended()
    {
        FakeServer web;
        QVERIFY(web.listen());
        web.setScenario(FakeServer::Scenario()
                            .waitForText("\r\n\r\n")
                            .send("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n")
                            .close());
        m_fixture->store().createKey(key(QStringLiteral("HTTP 127.0.0.1 %1").arg(web.port())));
        TfrmMain window(m_fixture->context());
        window.findChild<QPushButton *>(QStringLiteral("butTimer"))->click();
        QVERIFY(window.isTimerOn());
        // Shorten the wait: the timer's own shot starts the cycle.
        window.sessionTimer()->setInterval(50);
        QTRY_COMPARE_WITH_TIMEOUT(web.connectionCount(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!window.pollCycle()->isRunning(), 5000);
        QVERIFY(statusLines(window).last().startsWith(QStringLiteral("Next poll at: ")));
        // A failure leaves the error interval counting for the next poll.
        QCOMPARE(window.sessionTimer()->interval(), 15 * 60000);
        QVERIFY(window.sessionTimer()->isCounting());
    }

    void openWithShellRefusesMissingFiles()
    {
        QVERIFY(!OpenWithShell(QString()));
        QVERIFY(!OpenWithShell(m_fixture->sandbox().root() + QStringLiteral("/no-such-file.html")));
        QVERIFY(!OpenWithShell(QStringLiteral("file://") + m_fixture->sandbox().root() +
                               QStringLiteral("/missing")));
    }

    void abortWhileTheSecondIsRead()
    {
        FakeServer first, second, third;
        QVERIFY(first.listen());
        QVERIFY(second.listen());
        QVERIFY(third.listen());
        const auto answering = FakeServer::Scenario()
                                   .waitForText("\r\n\r\n")
                                   .send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
                                   .stall();
        first.setScenario(answering);
        second.setScenario(FakeServer::Scenario().stall()); // never answers
        third.setScenario(answering);
        // Paths keep the list order fixed whatever ports the servers got.
        const QStringList names{QStringLiteral("HTTP 127.0.0.1/a %1").arg(first.port()),
                                QStringLiteral("HTTP 127.0.0.1/b %1").arg(second.port()),
                                QStringLiteral("HTTP 127.0.0.1/c %1").arg(third.port())};
        for (const QString &name : names)
            m_fixture->store().createKey(key(name));

        TfrmMain window(m_fixture->context());
        auto *abort = window.findChild<QPushButton *>(QStringLiteral("butAbort"));
        auto *pollNow = window.findChild<QAction *>(QStringLiteral("mnuPollNow"));
        QTimer::singleShot(300, &window, [&] {
            QVERIFY(abort->isEnabled());
            // What the cycle showed so far is in the window while it waits.
            QCOMPARE(statusLines(window).value(1),
                     QStringLiteral("Success: http: 127.0.0.1:%1/a (200)").arg(first.port()));
            QCOMPARE(window.findChild<QLabel *>(QStringLiteral("panelProgress"))->text(),
                     QStringLiteral("Polling: http: 127.0.0.1:%1/b").arg(second.port()));
            pollNow->trigger(); // ignored while a cycle runs
        });
        QTimer::singleShot(400, abort, &QPushButton::click);
        QElapsedTimer clock;
        clock.start();
        window.findChild<QPushButton *>(QStringLiteral("butStart"))->click();
        QVERIFY(clock.elapsed() < 5000);

        const QStringList lines = statusLines(window);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(1), QStringLiteral("Success: http: 127.0.0.1:%1/a (200)").arg(first.port()));
        QVERIFY(lines.at(2).startsWith(QStringLiteral("Poll finished at: ")));
        QCOMPARE(first.connectionCount(), 1);
        QCOMPARE(third.connectionCount(), 0);
        QVERIFY(!m_fixture->store().value(key(names.at(1)), QStringLiteral("ActualFailures")));
        QVERIFY(!abort->isEnabled());
        QVERIFY(window.findChild<QPushButton *>(QStringLiteral("butStart"))->isEnabled());
    }
};

QTEST_MAIN(TestPollWindow)
#include "tst_pollwindow.moc"
