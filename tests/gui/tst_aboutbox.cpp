// The about frame and its "Check for updates" dialogue against a version list
// served on loopback.

#include "FakeServer.h"
#include "TestSandbox.h"

#include "Dialogs.h"
#include "TKAboutBox.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTcpServer>
#include <QTest>

#include <memory>

static const QString FirstQuestion =
    QStringLiteral("question|Check for latest version?|You are about to check for the latest "
                   "version.\n You must be connected to the internet for this.\n\nDo you wish to "
                   "continue?");

static FakeServer::Scenario httpAnswer(const QByteArray &status, const QByteArray &body)
{
    FakeServer::Scenario scenario;
    scenario.waitForText("\r\n\r\n")
        .send("HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
              QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body)
        .close();
    return scenario;
}

class TestAboutBox : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    QStringList m_shown; // "<kind>|<title>|<text>" of every box, in order
    QList<bool> m_answers;

    bool nextAnswer() { return m_answers.isEmpty() ? false : m_answers.takeFirst(); }

private slots:
    void init()
    {
        m_sandbox = std::make_unique<TestSandbox>();
        m_shown.clear();
        Dialogs::setResponder([this](Dialogs::Kind kind, const QString &text) {
            m_shown << (kind == Dialogs::Kind::Information ? QStringLiteral("information")
                        : kind == Dialogs::Kind::Error     ? QStringLiteral("error")
                                                           : QStringLiteral("other")) +
                           "||" + text;
            return nextAnswer();
        });
        Dialogs::setTitledResponder(
            [this](Dialogs::Kind, const QString &title, const QString &text) {
                m_shown << "question|" + title + '|' + text;
                return nextAnswer();
            });
    }

    void cleanup()
    {
        Dialogs::setResponder({});
        Dialogs::setTitledResponder({});
        m_sandbox.reset();
    }

    void showsTheApplication()
    {
        TKAboutBox box;
        box.setApplication("Quellmark", "1.8.0.158", "Watches sites.", "Legal.");
        QCOMPARE(box.applicationName(), QStringLiteral("Quellmark"));
        QCOMPARE(box.versionCaption(), QStringLiteral("Version 1.8.0.158"));
        QStringList texts;
        for (const QLabel *label : box.findChildren<QLabel *>())
            texts << label->text();
        QVERIFY(texts.contains("Watches sites."));
        QVERIFY(texts.contains("Legal."));
        QCOMPARE(box.findChild<QAbstractButton *>("butUpdates")->text(),
                 QStringLiteral("Check for updates"));
    }

    void checkForUpdates_data()
    {
        QTest::addColumn<QByteArray>("status"); // empty: the server is down
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QList<bool>>("answers");
        QTest::addColumn<QStringList>("expected"); // after the first question
        QTest::addColumn<bool>("opened");

        const QString newer = "question|New Version Found|A newer version has been found "
                              "(v2.0)\n\nWould you like to read about it?";
        QTest::newRow("newer, read about it")
            << QByteArray("200 OK") << QByteArray("Tideway 7.0\r\n\r\n   qUELLMARK 2.0\r\n")
            << QList<bool>{true, true} << QStringList{newer} << true;
        QTest::newRow("newer, declined")
            << QByteArray("200 OK") << QByteArray("   QUELLMARK 2.0\r\n")
            << QList<bool>{true, false} << QStringList{newer} << false;
        QTest::newRow("same version")
            << QByteArray("200 OK") << QByteArray("Quellmark 1.8.0.158\r\n") << QList<bool>{true}
            << QStringList{"information||The latest version is 1.8.0.158.\nYou already have the "
                           "latest version."}
            << false;
        QTest::newRow("older listed")
            << QByteArray("200 OK") << QByteArray("Quellmark 1.8\r\n") << QList<bool>{true}
            << QStringList{"information||The latest version is 1.8.\nYou already have the latest "
                           "version."}
            << false;
        QTest::newRow("longer product name listed first")
            << QByteArray("200 OK") << QByteArray("QuellmarkPro 3.0\r\nQuellmark 2.0\r\n")
            << QList<bool>{true}
            << QStringList{"information||The latest version is Pro 3.0.\nYou already have the "
                           "latest version."}
            << false;
        QTest::newRow("empty list")
            << QByteArray("200 OK") << QByteArray() << QList<bool>{true}
            << QStringList{"information||The latest version is unknown."} << false;
        QTest::newRow("404") << QByteArray("404 Not Found") << QByteArray("Quellmark 9.0 missing")
                             << QList<bool>{true}
                             << QStringList{"information||The latest version is unknown."} << false;
        QTest::newRow("server down")
            << QByteArray() << QByteArray() << QList<bool>{true}
            << QStringList{"error||Unable to check for updates: Connection refused"} << false;
        QTest::newRow("user does not want to check")
            << QByteArray("200 OK") << QByteArray("Quellmark 2.0\r\n") << QList<bool>{false}
            << QStringList{} << false;
    }

    void checkForUpdates()
    {
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, list);
        QFETCH(QList<bool>, answers);
        QFETCH(QStringList, expected);
        QFETCH(bool, opened);

        FakeServer server;
        QVERIFY(server.listen());
        quint16 port = server.port();
        if (status.isEmpty()) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            port = probe.serverPort(); // closed again when probe goes
        } else {
            server.setScenario(httpAnswer(status, list));
        }
        const QString site = QStringLiteral("http://127.0.0.1:%1").arg(port);

        TKAboutBox box;
        box.setApplication("Quellmark", "1.8.0.158", "Watches sites.", "Legal.");
        box.setProgramFolder(m_sandbox->programFolder());
        box.setMakerSite(site);
        QStringList openedTargets;
        box.setShellOpener([&](const QString &target) {
            openedTargets << target;
            return true;
        });
        m_answers = answers;

        box.findChild<QAbstractButton *>("butUpdates")->click();

        QCOMPARE(m_shown, QStringList{FirstQuestion} + expected);
        QCOMPARE(openedTargets,
                 opened ? QStringList{site + "/quellmark/whatsnew.shtml"} : QStringList());
        if (answers.first() && !status.isEmpty())
            QVERIFY(server.received().startsWith("GET /upgrades.txt HTTP/1.1\r\n"));
        else
            QCOMPARE(server.connectionCount(), 0);
        QVERIFY(!QFileInfo::exists(m_sandbox->programFolder() + "temp.txt"));
        QVERIFY(box.findChild<QAbstractButton *>("butUpdates")->isEnabled());
    }

    void defaultSiteIsTheMakers()
    {
        TKAboutBox box;
        QCOMPARE(box.makerSite(), QStringLiteral("http://www.kestrin.example"));
    }
};

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
