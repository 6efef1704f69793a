// The alert controls of the Sites page through the real widgets: loading a
// service, enabling, what is written and when, "Play" and the e-mail "Test".

#include "FakeServer.h"
#include "StoreFixture.h"

#include "BoundedSpinBox.h"
#include "Dialogs.h"
#include "TfrmMain.h"

#include "config/ProgramContext.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QToolButton>

#include <memory>

class TestAlertControls : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> m_fixture;
    QList<QPair<Dialogs::Kind, QString>> m_messages;

    QString key(const QString &name) const
    {
        return m_fixture->context().servicesKey + QLatin1Char('\\') + name;
    }
    template <typename T> static T *child(QWidget *w, const QString &name)
    {
        T *found = w->findChild<T *>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }
    static void leave(QWidget *w)
    {
        QFocusEvent event(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(w, &event);
    }

private slots:
    void init()
    {
        m_fixture = std::make_unique<StoreFixture>();
        m_messages.clear();
        Dialogs::setResponder([this](Dialogs::Kind kind, const QString &text) {
            m_messages.append({kind, text});
            return true;
        });
    }
    void cleanup()
    {
        Dialogs::setResponder({});
        m_fixture.reset();
    }

    void masterBoxesEnableTheirControls_data()
    {
        QTest::addColumn<QString>("master");
        QTest::addColumn<bool>("initially");
        QTest::addColumn<QStringList>("dependants");
        QTest::newRow("sound") << "chkSoundAlert" << true
                               << QStringList{"OnErrorSoundName", "OffErrorSoundName", "lblOnErrorSound", "lblOffErrorSound",
                                              "butBrowse1", "butBrowse2", "butPlay1", "butPlay2"};
        QTest::newRow("launch") << "chkLaunchApp" << false
                                << QStringList{"edtProgName", "edtProgNameOff", "lblProgName", "lblProgNameOff",
                                               "butTestApp", "butTestAppOff", "butBrowse", "butBrowse4", "chkRepeatLaunch"};
        QTest::newRow("email") << "chkSendEmail" << false
                               << QStringList{"edtOnErrorEmail", "edtOffErrorEmail", "lblOnErrorEmail", "lblOffErrorEmail",
                                              "edtOnErrorEmailTo", "edtOffErrorEmailTo", "lblOnErrorEmailTo",
                                              "lblOffErrorEmailTo", "butTestOnErrorEmail", "butTestOffErrorEmail",
                                              "butBrowse5", "butBrowse6", "chkRepeatEmail"};
    }
    void masterBoxesEnableTheirControls()
    {
        QFETCH(QString, master);
        QFETCH(bool, initially);
        QFETCH(QStringList, dependants);
        m_fixture->store().createKey(key(QStringLiteral("HTTP webhost 80")));
        TfrmMain window(m_fixture->context());
        auto *box = child<QCheckBox>(&window, master);
        QCOMPARE(box->isChecked(), initially);
        for (const QString &name : dependants)
            QVERIFY2(child<QWidget>(&window, name)->isEnabled() == initially, qPrintable(name));
        box->click();
        for (const QString &name : dependants)
            QVERIFY2(child<QWidget>(&window, name)->isEnabled() == !initially, qPrintable(name));
        QVERIFY(child<QCheckBox>(&window, QStringLiteral("chkBeepAlert"))->isEnabled());
        QVERIFY(child<BoundedSpinBox>(&window, QStringLiteral("spinFailuresBeforeLaunch"))->isEnabled());
    }

    void selectingAServiceLoadsItsValues()
    {
        const QString a = QStringLiteral("FTP a 21");
        const QString b = QStringLiteral("HTTP b 80");
        RegWriteBool(key(a), QStringLiteral("SoundAlert"), false);
        RegWriteBool(key(a), QStringLiteral("LaunchApplication"), true);
        RegWriteString(key(a), QStringLiteral("ProgName"), QStringLiteral("alarm --loud"));
        RegWriteInteger(key(a), QStringLiteral("FailuresBeforeEmail"), 3);
        RegWriteInteger(key(a), QStringLiteral("FailuresBeforeLaunch"), 50000); // beyond the bounds
        m_fixture->store().createKey(key(b));
        TfrmMain window(m_fixture->context());
        auto *list = child<QListWidget>(&window, QStringLiteral("ServiceList"));
        QCOMPARE(list->currentRow(), 0);
        QVERIFY(!child<QCheckBox>(&window, QStringLiteral("chkSoundAlert"))->isChecked());
        QVERIFY(!child<QLineEdit>(&window, QStringLiteral("OnErrorSoundName"))->isEnabled());
        QVERIFY(child<QLineEdit>(&window, QStringLiteral("edtProgName"))->isEnabled());
        QCOMPARE(child<QLineEdit>(&window, QStringLiteral("edtProgName"))->text(), QStringLiteral("alarm --loud"));
        QCOMPARE(child<BoundedSpinBox>(&window, QStringLiteral("spinFailuresBeforeEmail"))->value(), 3);
        // Loading clamps and writes the number back.
        QCOMPARE(RegReadInteger(key(a), QStringLiteral("FailuresBeforeLaunch"), 0), 9999);
        QCOMPARE(child<QLineEdit>(&window, QStringLiteral("OnErrorSoundName"))->text(),
                 m_fixture->context().programFolder + QStringLiteral("OnError.wav"));

        // The second service has only defaults; changed boxes are written to it.
        list->setCurrentRow(1);
        QVERIFY(child<QCheckBox>(&window, QStringLiteral("chkSoundAlert"))->isChecked());
        QVERIFY(!child<QCheckBox>(&window, QStringLiteral("chkLaunchApp"))->isChecked());
        QCOMPARE(child<QLineEdit>(&window, QStringLiteral("edtProgName"))->text(), QString());
        QVERIFY(RegReadBool(key(b), QStringLiteral("SoundAlert"), false));
        QCOMPARE(RegReadInteger(key(b), QStringLiteral("FailuresBeforeEmail"), 0), 1);
        // And the first keeps its own.
        QCOMPARE(RegReadString(key(a), QStringLiteral("ProgName"), {}), QStringLiteral("alarm --loud"));
    }

    void controlsWriteToTheSelectedService()
    {
        const QString name = QStringLiteral("HTTP webhost 80");
        m_fixture->store().createKey(key(name));
        TfrmMain window(m_fixture->context());
        child<QCheckBox>(&window, QStringLiteral("chkBeepAlert"))->click();
        QVERIFY(RegReadBool(key(name), QStringLiteral("BeepAlert"), false));
        child<QCheckBox>(&window, QStringLiteral("chkSendEmail"))->click();
        auto *to = child<QLineEdit>(&window, QStringLiteral("edtOnErrorEmailTo"));
        to->setText(QStringLiteral("ops@example.org,dev@example.org"));
        QVERIFY(!m_fixture->store().value(key(name), QStringLiteral("OnErrorEmailTo")));
        leave(to);
        QCOMPARE(RegReadString(key(name), QStringLiteral("OnErrorEmailTo"), {}), QStringLiteral("ops@example.org,dev@example.org"));
        auto *spin = child<BoundedSpinBox>(&window, QStringLiteral("spinFailuresBeforeEmail"));
        spin->stepBy(1);
        QCOMPARE(RegReadInteger(key(name), QStringLiteral("FailuresBeforeEmail"), 0), 2);
    }

    void nothingIsStoredWithoutASelection()
    {
        TfrmMain window(m_fixture->context());
        for (const char *name : {"chkBeepAlert", "chkSoundAlert", "chkLaunchApp", "chkSendEmail"})
            child<QCheckBox>(&window, QLatin1String(name))->click();
        for (const char *name : {"OnErrorSoundName", "edtProgName", "edtOnErrorEmailTo"})
            leave(child<QLineEdit>(&window, QLatin1String(name)));
        child<BoundedSpinBox>(&window, QStringLiteral("spinFailuresBeforeLaunch"))->stepBy(2);
        QVERIFY(m_fixture->store().subkeyNames(m_fixture->context().servicesKey).isEmpty());
        QVERIFY(m_fixture->store().valueNames(m_fixture->context().servicesKey).isEmpty());
    }

    void playReportsAMissingFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << "/no/such/sound.wav";
        QTest::newRow("empty") << "";
    }
    void playReportsAMissingFile()
    {
        QFETCH(QString, path);
        m_fixture->store().createKey(key(QStringLiteral("HTTP webhost 80")));
        TfrmMain window(m_fixture->context());
        child<QLineEdit>(&window, QStringLiteral("OnErrorSoundName"))->setText(path);
        child<QToolButton>(&window, QStringLiteral("butPlay1"))->click();
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().second, QStringLiteral("File \"%1\" not found.").arg(path));
    }

    void testEmailShowsTheServersReply()
    {
        FakeServer smtp;
        QVERIFY(smtp.listen());
        smtp.setScenario(FakeServer::Scenario()
                             .send("220 fake ESMTP\r\n")
                             .waitForText("HELO ")
                             .waitForText("\r\n")
                             .send("250 hello\r\n")
                             .waitForText("MAIL FROM:<monitor@example.org>\r\n")
                             .send("250 sender ok\r\n")
                             .waitForText("RCPT TO:<ops@example.org>\r\n")
                             .send("250 rcpt ok\r\n")
                             .waitForText("DATA\r\n")
                             .send("354 go on\r\n")
                             .waitForText("\r\n.\r\n")
                             .send("250 queued as 42\r\n")
                             .waitForText("QUIT\r\n")
                             .close());
        const QString name = QStringLiteral("HTTP webhost 80");
        RegWriteInteger(key(name), QStringLiteral("ActualFailures"), 3);
        const QString templ = m_fixture->sandbox().root() + QStringLiteral("/down.txt");
        {
            QFile f(templ);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("Subject: down\r\n\r\nFailures so far: {NumberOfFailures}\r\n");
        }
        RegWriteString(m_fixture->context().settingsRoot, QStringLiteral("SmtpServer"),
                       QStringLiteral("127.0.0.1"));
        RegWriteInteger(m_fixture->context().settingsRoot, QStringLiteral("SmtpPort"), smtp.port());
        RegWriteString(m_fixture->context().settingsRoot, QStringLiteral("SmtpFrom"),
                       QStringLiteral("monitor@example.org"));
        TfrmMain window(m_fixture->context());
        child<QCheckBox>(&window, QStringLiteral("chkSendEmail"))->click();
        // The values on screen are used, stored or not.
        child<QLineEdit>(&window, QStringLiteral("edtOnErrorEmail"))->setText(templ);
        child<QLineEdit>(&window, QStringLiteral("edtOnErrorEmailTo"))->setText(QStringLiteral("ops@example.org"));
        child<QToolButton>(&window, QStringLiteral("butTestOnErrorEmail"))->click();
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().first, Dialogs::Kind::Information);
        QCOMPARE(m_messages.first().second, QStringLiteral("250 queued as 42"));
        QVERIFY(smtp.received().contains("Failures so far: 3\r\n"));
    }

    void testEmailWithAMissingTemplateShowsTheFileError()
    {
        m_fixture->store().createKey(key(QStringLiteral("HTTP webhost 80")));
        TfrmMain window(m_fixture->context());
        child<QCheckBox>(&window, QStringLiteral("chkSendEmail"))->click();
        child<QLineEdit>(&window, QStringLiteral("edtOnErrorEmail"))
            ->setText(m_fixture->sandbox().root() + QStringLiteral("/none.txt"));
        child<QLineEdit>(&window, QStringLiteral("edtOnErrorEmailTo"))->setText(QStringLiteral("ops@example.org"));
        child<QToolButton>(&window, QStringLiteral("butTestOnErrorEmail"))->click();
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().first, Dialogs::Kind::Error);
        QVERIFY(m_messages.first().second.contains(QStringLiteral("none.txt")));
    }
};

QTEST_MAIN(TestAlertControls)
#include "tst_alertcontrols.moc"
