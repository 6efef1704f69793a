// A service goes down and comes back, driven by the real engine from the
// main window: its programs start, its sounds play, and its on-error and
// off-error e-mails reach a real SMTP server in the user's templates.

#include "FakeServer.h"
#include "SmtpSink.h"
#include "TestSandbox.h"

#include "GuiAlertActions.h"
#include "SoundPlayer.h"
#include "TfrmMain.h"

#include "config/ProgramContext.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include <memory>

class TestAlertFlow : public QObject {
    Q_OBJECT
private slots:
    void downAndBackAgain()
    {
        if (SmtpSink::executable().isEmpty())
            QSKIP("postfix's smtp-sink is not installed (Debian package postfix); the alert e-mail "
                  "delivery was not tested");
        TestSandbox sandbox;
        RegistryStore store(sandbox.storePath());
        RegistryStore::setCurrent(&store);
        const ProgramContext context = ProgramContext::create(false, sandbox.programFolder());

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
        RegWriteString(context.settingsRoot, QStringLiteral("SmtpServer"), QStringLiteral("127.0.0.1"));
        RegWriteInteger(context.settingsRoot, QStringLiteral("SmtpPort"), sink.port());
        RegWriteString(context.settingsRoot, QStringLiteral("SmtpFrom"), QStringLiteral("monitor@example.org"));

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
        RegistryStore::setCurrent(nullptr);
    }
};

QTEST_MAIN(TestAlertFlow)
#include "tst_alertflow.moc"
