// A service goes down and comes back, driven by the real engine from the
// main window: its programs start, its sounds play, and its on-error and
// off-error e-mails reach a real SMTP server in the user's templates.

#include "FakeServer.h"
#include "SmtpSink.h"
#include "StoreFixture.h"

#include "Dialogs.h"
#include "GuiAlertActions.h"
#include "SoundPlayer.h"
#include "TfrmMain.h"

#include "config/ProgramContext.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"
#include "engine/IntervalTimer.h"
#include "engine/PollCycle.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

namespace {
// An SMTP server that takes the message, after a pause before its answer to
// HELO when one is given.
FakeServer::Scenario acceptingSmtp(int pauseMs = 0)
{
    FakeServer::Scenario s;
    s.send("220 fake ESMTP\r\n").waitForText("HELO ");
    if (pauseMs > 0)
        s.delay(pauseMs);
    return s.send("250 fake\r\n")
        .waitForText("MAIL FROM:")
        .send("250 2.1.0 Ok\r\n")
        .waitForText("RCPT TO:")
        .send("250 2.1.5 Ok\r\n")
        .waitForText("DATA\r\n")
        .send("354 End data with <CR><LF>.<CR><LF>\r\n")
        .waitForText("\r\n.\r\n")
        .send("250 2.0.0 Ok: queued\r\n")
        .waitForText("QUIT\r\n")
        .send("221 2.0.0 Bye\r\n")
        .close();
}

void useSmtpServer(const ProgramContext &context, quint16 port)
{
    RegWriteString(context.settingsRoot, QStringLiteral("SmtpServer"), QStringLiteral("127.0.0.1"));
    RegWriteInteger(context.settingsRoot, QStringLiteral("SmtpPort"), port);
    RegWriteString(context.settingsRoot, QStringLiteral("SmtpFrom"), QStringLiteral("monitor@example.org"));
}

QString writeTemplate(const QString &folder, const QString &file)
{
    QFile f(folder + file);
    if (f.open(QIODevice::WriteOnly))
        f.write("To: ops\r\nFrom: monitor\r\nSubject: {SiteURL}\r\n\r\nFailures: {NumberOfFailures}\r\n");
    return f.fileName();
}
} // namespace

class TestAlertFlow : public QObject {
    Q_OBJECT
private slots:
    // "System beep" always goes somewhere: the theme's bell, our own, or the
    // system's beep when there is no audio output at all.
    void beepIsNeverLost()
    {
        SoundPlayer player;
        player.beep();
        QVERIFY(player.lastBell() != SoundPlayer::Bell::None);
        if (QMediaDevices::audioOutputs().isEmpty())
            QCOMPARE(player.lastBell(), SoundPlayer::Bell::System);
    }

    // A message the SMTP server refuses is not lost in silence: it is in
    // error.log and on show until an e-mail goes through again.
    void refusedMailIsLoggedAndShown()
    {
        StoreFixture fixture;
        TestSandbox &sandbox = fixture.sandbox();
        const ProgramContext &context = fixture.context();
        FakeServer smtp;
        QVERIFY(smtp.listen());
        smtp.setScenarios({FakeServer::Scenario()
                               .send("220 fake ESMTP\r\n")
                               .waitForText("HELO ")
                               .send("250 fake\r\n")
                               .waitForText("MAIL FROM:")
                               .send("553 5.7.1 Sender address rejected\r\n")
                               .waitForText("QUIT\r\n")
                               .send("221 Bye\r\n")
                               .close(),
                           acceptingSmtp()});
        FakeServer web;
        QVERIFY(web.listen());
        web.setScenarios({FakeServer::Scenario().waitForText("\r\n\r\n").send("HTTP/1.1 503 Down\r\n\r\n").close(),
                          FakeServer::Scenario().waitForText("\r\n\r\n").send("HTTP/1.1 200 OK\r\n\r\n").close()});
        const QString name = QStringLiteral("HTTP 127.0.0.1 %1").arg(web.port());
        const QString key = context.servicesKey + QLatin1Char('\\') + name;
        const QString folder = sandbox.root() + QLatin1Char('/');
        RegWriteBool(key, QStringLiteral("SendEmail"), true);
        RegWriteString(key, QStringLiteral("OnErrorEmail"), writeTemplate(folder, QStringLiteral("down.txt")));
        RegWriteString(key, QStringLiteral("OnErrorEmailTo"), QStringLiteral("ops@example.org"));
        RegWriteString(key, QStringLiteral("OffErrorEmail"), writeTemplate(folder, QStringLiteral("up.txt")));
        RegWriteString(key, QStringLiteral("OffErrorEmailTo"), QStringLiteral("ops@example.org"));
        useSmtpServer(context, smtp.port());
        {
            TfrmMain window(context);
            auto *go = window.findChild<QPushButton *>(QStringLiteral("butStart"));
            auto *panel = window.findChild<QLabel *>(QStringLiteral("panelAlerts"));
            go->click();
            QTRY_VERIFY(smtp.received(0).contains("QUIT\r\n"));
            QFile log(context.errorLogPath);
            QVERIFY(log.open(QIODevice::ReadOnly));
            const QByteArray text = log.readAll();
            const QByteArray entry = ": alert e-mail not sent for " + name.toUtf8() +
                                     " (on-error message)\r\nLast reply: 553 5.7.1 Sender address rejected\r\n\r\n";
            QVERIFY2(text.contains(entry), text.constData());
            QVERIFY(!panel->isHidden());
            QVERIFY2(panel->toolTip().startsWith("Alert e-mail failed: " + name), qPrintable(panel->toolTip()));
            QVERIFY(window.trayToolTip().contains("Alert e-mail failed: " + name + " (Last reply: 553"));

            go->click();
            QTRY_VERIFY(smtp.received(1).contains("\r\n.\r\n"));
            QVERIFY(panel->isHidden());
            QVERIFY(!window.trayToolTip().contains("Alert"));
        }
    }

    // While an e-mail is being sent nothing may start a second dialogue
    // inside its wait or cut it off: a poll waits for it, a second Test is
    // refused, Exit comes when the message is through.
    void arrivalsDuringASend_data()
    {
        QTest::addColumn<QString>("arrival");
        QTest::newRow("timer poll") << "poll";
        QTest::newRow("second Test") << "test";
        QTest::newRow("Exit") << "exit";
    }
    void arrivalsDuringASend()
    {
        QFETCH(QString, arrival);
        StoreFixture fixture;
        TestSandbox &sandbox = fixture.sandbox();
        const ProgramContext &context = fixture.context();
        FakeServer smtp;
        QVERIFY(smtp.listen());
        smtp.setScenario(acceptingSmtp(300));
        const QString key = context.servicesKey + QStringLiteral("\\POP3 127.0.0.1 1");
        RegWriteBool(key, QStringLiteral("SendEmail"), true);
        RegWriteString(key, QStringLiteral("OnErrorEmail"), writeTemplate(sandbox.root() + '/', "t.txt"));
        RegWriteString(key, QStringLiteral("OnErrorEmailTo"), QStringLiteral("ops@example.org"));
        useSmtpServer(context, smtp.port());
        QStringList boxes;
        Dialogs::setResponder([&](Dialogs::Kind, const QString &text) {
            boxes << text;
            return true;
        });
        {
            TfrmMain window(context);
            QSignalSpy exits(&window, &TfrmMain::exitReady);
            auto *test = window.findChild<QToolButton *>(QStringLiteral("butTestOnErrorEmail"));
            QVERIFY(test && test->isEnabled());
            bool sawSending = false, cycleRanInside = false, exitedInside = false;
            QTimer::singleShot(100, &window, [&] {
                sawSending = window.alertActions()->isSending();
                if (arrival == "poll")
                    emit window.sessionTimer()->timeout();
                else if (arrival == "test")
                    test->click();
                else
                    window.mnuExitClick();
                cycleRanInside = window.pollCycle()->pollsHandled() > 0;
                exitedInside = !exits.isEmpty();
            });
            test->click();
            QVERIFY(sawSending);
            QVERIFY(!cycleRanInside);
            QVERIFY(!exitedInside);
            // The one dialogue ran to its end.
            QCOMPARE(smtp.connectionCount(), 1);
            QTRY_VERIFY2(smtp.received(0).contains("\r\n.\r\nQUIT\r\n"), smtp.received(0).constData());
            if (arrival == "poll") {
                QTRY_COMPARE(window.pollCycle()->pollsHandled(), 1);
                QCOMPARE(boxes, QStringList{"250 2.0.0 Ok: queued"});
            } else if (arrival == "test") {
                QCOMPARE(boxes, (QStringList{GuiAlertActions::busyText(), "250 2.0.0 Ok: queued"}));
            } else {
                QTRY_COMPARE(exits.size(), 1);
                QVERIFY(boxes.isEmpty());
                QCOMPARE(window.pollCycle()->pollsHandled(), 0);
            }
        }
        Dialogs::setResponder({});
    }

    void downAndBackAgain()
    {
        if (SmtpSink::executable().isEmpty())
            QSKIP("postfix's smtp-sink is not installed (Debian package postfix); the alert e-mail "
                  "delivery was not tested");
        StoreFixture fixture;
        TestSandbox &sandbox = fixture.sandbox();
        const ProgramContext &context = fixture.context();

        SmtpSink sink;
        QVERIFY(sink.start());
        FakeServer web;
        QVERIFY(web.listen());
        web.setScenarios({FakeServer::Scenario()
                              .waitForText("\r\n\r\n")
                              .send("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n")
                              .close(),
                          FakeServer::Scenario()
                              .waitForText("\r\n\r\n")
                              .send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
                              .close()});

        const QString name = QStringLiteral("HTTP 127.0.0.1/shop %1").arg(web.port());
        const QString key = context.servicesKey + QLatin1Char('\\') + name;
        const QString templates = sandbox.root() + QLatin1Char('/');
        for (const auto &[file, subject] : {std::pair{QStringLiteral("down.txt"), QByteArray("DOWN")},
                                            std::pair{QStringLiteral("up.txt"), QByteArray("BACK")}}) {
            QFile f(templates + file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("To: ops\r\nFrom: monitor\r\nSubject: " + subject +
                    " {SiteURL}\r\n\r\nFailures: {NumberOfFailures}\r\nSince: {FailureTime}\r\n");
        }
        RegWriteBool(key, QStringLiteral("SendEmail"), true);
        RegWriteString(key, QStringLiteral("OnErrorEmail"), templates + QStringLiteral("down.txt"));
        RegWriteString(key, QStringLiteral("OnErrorEmailTo"), QStringLiteral("ops@example.org"));
        RegWriteString(key, QStringLiteral("OffErrorEmail"), templates + QStringLiteral("up.txt"));
        RegWriteString(key, QStringLiteral("OffErrorEmailTo"), QStringLiteral("ops@example.org,boss@example.org"));
        RegWriteBool(key, QStringLiteral("LaunchApplication"), true);
        RegWriteString(key, QStringLiteral("ProgName"), QStringLiteral("touch ") + templates + QStringLiteral("went-down"));
        RegWriteString(key, QStringLiteral("ProgNameOff"), QStringLiteral("touch ") + templates + QStringLiteral("came-back"));
        useSmtpServer(context, sink.port());

        {
            TfrmMain window(context);
            auto *go = window.findChild<QPushButton *>(QStringLiteral("butStart"));
            go->click();
            QVERIFY(sink.waitForMessages(1));
            QTRY_VERIFY(QFile::exists(templates + QStringLiteral("went-down")));
            QCOMPARE(window.alertActions()->soundPlayer()->lastFile(), context.programFolder + QStringLiteral("OnError.wav"));

            go->click();
            QVERIFY(sink.waitForMessages(2));
            QTRY_VERIFY(QFile::exists(templates + QStringLiteral("came-back")));
            QCOMPARE(window.alertActions()->soundPlayer()->lastFile(), context.programFolder + QStringLiteral("OffError.wav"));
        }

        // The sink stores lines with LF ends.
        QList<QByteArray> mails = sink.messages();
        for (QByteArray &mail : mails)
            mail.replace("\r\n", "\n");
        QCOMPARE(mails.size(), 2);
        const QByteArray url = "http://127.0.0.1:" + QByteArray::number(web.port()) + "/shop";
        const QByteArray failureTime = RegReadString(key, QStringLiteral("FailureTime"), {}).toUtf8();
        QVERIFY(!failureTime.isEmpty());
        QVERIFY2(mails.at(0).contains("Subject: DOWN " + url + "\n"), mails.at(0).constData());
        QVERIFY(mails.at(0).contains("Failures: 1\n"));
        QVERIFY(mails.at(0).contains("Since: " + failureTime + "\n"));
        QVERIFY(mails.at(0).contains("\nDate: "));
        QVERIFY(mails.at(1).contains("Subject: BACK " + url + "\n"));
        // The count is reset only after the off-error e-mail.
        QVERIFY(mails.at(1).contains("Failures: 1\n"));
        QVERIFY(mails.at(1).contains("X-Rcpt-Args: <boss@example.org>"));
        QCOMPARE(RegReadInteger(key, QStringLiteral("ActualFailures"), -1), 0);
    }
};

QTEST_MAIN(TestAlertFlow)
#include "tst_alertflow.moc"
