// The Sites page and the "Site Input" dialog through the real widgets, and
// the log-on start entry of the General page.

#include "StoreFixture.h"
#include "StoreWriteLock.h"

#include "Dialogs.h"
#include "TfrmInput.h"
#include "TfrmMain.h"

#include "config/ProgramContext.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"
#include "platform/Autostart.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <memory>

class TestSitesPage : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> m_fixture;
    std::unique_ptr<TfrmMain> m_main;
    std::unique_ptr<TfrmInput> m_input;
    QList<QPair<Dialogs::Kind, QString>> m_messages;
    bool m_answer = true;

    QString serviceKey(const QString &name) const
    {
        return m_fixture->context().servicesKey + QLatin1Char('\\') + name;
    }
    QListWidget *list() const { return m_main->findChild<QListWidget *>(QStringLiteral("ServiceList")); }
    template <typename T> T *inputChild(const char *name) const
    {
        return m_input->findChild<T *>(QLatin1String(name));
    }
    template <typename T> T *mainChild(const char *name) const
    {
        return m_main->findChild<T *>(QLatin1String(name));
    }
    void openWindows()
    {
        m_main = std::make_unique<TfrmMain>(m_fixture->context());
        m_input = std::make_unique<TfrmInput>();
        m_main->attachWindows({nullptr, nullptr, m_input.get(), nullptr});
    }
    void leave(QWidget *w)
    {
        QFocusEvent event(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(w, &event);
    }
    void chooseType(const QString &type)
    {
        auto *combo = inputChild<QComboBox>("cmbService");
        combo->setCurrentIndex(combo->findText(type));
        emit combo->activated(combo->currentIndex());
    }
    void typeHost(const QString &text)
    {
        auto *host = inputChild<QLineEdit>("edtHost");
        host->clear();
        QTest::keyClicks(host, text);
        leave(host);
    }
    void addService(const QString &type, const QString &host, int port = -1, const QString &pattern = {})
    {
        mainChild<QToolButton>("butAddService")->click();
        QVERIFY(m_input->isVisible());
        chooseType(type);
        typeHost(host);
        if (port >= 0)
            inputChild<QSpinBox>("ServerPort")->setValue(port);
        inputChild<QLineEdit>("edtPattern")->setText(pattern);
        inputChild<QPushButton>("butSaveSite")->click();
    }

private slots:
    void init()
    {
        m_fixture = std::make_unique<StoreFixture>();
        m_messages.clear();
        m_answer = true;
        Dialogs::setResponder([this](Dialogs::Kind kind, const QString &text) {
            m_messages.append({kind, text});
            return m_answer;
        });
    }
    void cleanup()
    {
        m_main.reset();
        m_input.reset();
        Dialogs::setResponder({});
        m_fixture.reset();
    }

    void typeChangeSetsPortLabelAndPattern_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("pattern");
        QTest::addColumn<QString>("host");
        QTest::newRow("http") << "HTTP" << 80 << "URL  http://" << true << "webhost/status";
        QTest::newRow("https") << "HTTPS" << 443 << "URL  https://" << true << "webhost/status";
        QTest::newRow("ftp") << "FTP" << 21 << "Host" << false << "webhost";
        QTest::newRow("pop3") << "POP3" << 110 << "Host" << false << "webhost";
        QTest::newRow("smtp") << "SMTP" << 25 << "Host" << false << "webhost";
        // No default port: the one typed before is cleared, not kept.
        QTest::newRow("tcp") << "TCP" << 0 << "Host" << false << "webhost";
    }
    void typeChangeSetsPortLabelAndPattern()
    {
        QFETCH(QString, type);
        QFETCH(int, port);
        QFETCH(QString, label);
        QFETCH(bool, pattern);
        QFETCH(QString, host);
        openWindows();
        mainChild<QToolButton>("butAddService")->click();
        QCOMPARE(m_input->windowTitle(), QStringLiteral("Add New Service/Site"));
        typeHost(QStringLiteral("http://webhost/status"));
        inputChild<QSpinBox>("ServerPort")->setValue(4242);
        chooseType(type);
        QCOMPARE(inputChild<QSpinBox>("ServerPort")->value(), port);
        QCOMPARE(inputChild<QLabel>("lblHost")->text(), label);
        QCOMPARE(m_input->isPatternShown(), pattern);
        QCOMPARE(inputChild<QLineEdit>("edtHost")->text(), host);
    }

    void addingWritesPatternForHttpOnly()
    {
        openWindows();
        addService(QStringLiteral("HTTP"), QStringLiteral("http://webhost/status"));
        addService(QStringLiteral("FTP"), QStringLiteral("ftp://ftphost/pub"));
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(list()->count(), 2);
        QCOMPARE(list()->item(0)->text(), QStringLiteral("HTTP webhost/status 80"));
        QCOMPARE(list()->item(1)->text(), QStringLiteral("FTP ftphost 21"));
        QCOMPARE(list()->currentRow(), 1);
        const auto pattern = m_fixture->store().value(
            serviceKey(QStringLiteral("HTTP webhost/status 80")), QStringLiteral("Pattern"));
        QVERIFY(pattern.has_value());
        QCOMPARE(pattern->toString(), QString());
        QVERIFY(m_fixture->store().keyExists(serviceKey(QStringLiteral("FTP ftphost 21"))));
        QVERIFY(
            m_fixture->store().valueNames(serviceKey(QStringLiteral("FTP ftphost 21"))).isEmpty());
        QVERIFY(!m_input->isVisible());
        // The list can scroll to its widest entry.
        const int widest = list()->fontMetrics().horizontalAdvance(QStringLiteral("HTTP webhost/status 80"));
        QCOMPARE(list()->property("horizontalExtent").toInt(), widest + 5);
    }

    void addingHttpsKeepsPathAndPattern()
    {
        openWindows();
        addService(QStringLiteral("HTTPS"), QStringLiteral("https://securehost/status"), -1, QStringLiteral("Welcome"));
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(list()->item(0)->text(), QStringLiteral("HTTPS securehost/status 443"));
        const auto pattern = m_fixture->store().value(
            serviceKey(QStringLiteral("HTTPS securehost/status 443")), QStringLiteral("Pattern"));
        QVERIFY(pattern.has_value());
        QCOMPARE(pattern->toString(), QStringLiteral("Welcome"));
    }

    // A TCP service is saved only with a port the user gave.
    void tcpNeedsItsPort_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("saved");
        QTest::newRow("none") << 0 << false;
        QTest::newRow("too big") << 65536 << false;
        QTest::newRow("given") << 5432 << true;
        QTest::newRow("highest") << 65535 << true;
    }
    void tcpNeedsItsPort()
    {
        QFETCH(int, port);
        QFETCH(bool, saved);
        openWindows();
        addService(QStringLiteral("TCP"), QStringLiteral("dbhost:5432/x"), port);
        const QString name = QStringLiteral("TCP dbhost5432 %1").arg(port);
        QCOMPARE(list()->count(), saved ? 1 : 0);
        QCOMPARE(m_fixture->store().keyExists(serviceKey(name)), saved);
        QCOMPARE(m_input->isVisible(), !saved);
        if (saved) {
            QVERIFY(m_messages.isEmpty());
            QCOMPARE(list()->item(0)->text(), name);
            QVERIFY(m_fixture->store().valueNames(serviceKey(name)).isEmpty());
        } else {
            QCOMPARE(m_messages.size(), 1);
            QCOMPARE(m_messages.first().second,
                     QStringLiteral("Please enter the port of the TCP service (1 to 65535)."));
        }
    }

    // "Slow after (ms)" belongs to the selected service, like the alert
    // values, and is stored as SlowAfterMs.
    void slowAfterIsPerService()
    {
        m_fixture->store().createKey(serviceKey(QStringLiteral("HTTP a 80")));
        m_fixture->store().createKey(serviceKey(QStringLiteral("HTTP b 80")));
        RegWriteInteger(serviceKey(QStringLiteral("HTTP b 80")), QStringLiteral("SlowAfterMs"), 800);
        openWindows();
        auto *spin = mainChild<QSpinBox>("spinSlowAfterMs");
        QVERIFY(spin);
        list()->setCurrentRow(0);
        QCOMPARE(spin->value(), 0);
        spin->setValue(1500);
        QCOMPARE(RegReadInteger(serviceKey(QStringLiteral("HTTP a 80")), QStringLiteral("SlowAfterMs"), -1), 1500);
        list()->setCurrentRow(1);
        QCOMPARE(spin->value(), 800);
        QCOMPARE(RegReadInteger(serviceKey(QStringLiteral("HTTP a 80")), QStringLiteral("SlowAfterMs"), -1), 1500);
    }

    void duplicateRefusedInAnyCase()
    {
        m_fixture->store().createKey(serviceKey(QStringLiteral("HTTP WEBHOST 80")));
        openWindows();
        addService(QStringLiteral("HTTP"), QStringLiteral("webhost"), 80, QStringLiteral("x"));
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().second, QStringLiteral("The service already exists. Please enter a new one."));
        QVERIFY(m_input->isVisible());
        QCOMPARE(list()->count(), 1);
        QCOMPARE(m_fixture->store().subkeyNames(m_fixture->context().servicesKey),
                 QStringList{QStringLiteral("HTTP WEBHOST 80")});
        QVERIFY(!m_fixture->store().value(serviceKey(QStringLiteral("HTTP WEBHOST 80")),
                                          QStringLiteral("Pattern")));
    }

    void editingThePortMovesEveryValue()
    {
        const QString old = serviceKey(QStringLiteral("HTTP webhost 80"));
        RegWriteString(old, QStringLiteral("Pattern"), QStringLiteral("Welcome"));
        RegWriteInteger(old, QStringLiteral("ActualFailures"), 3);
        RegWriteString(old, QStringLiteral("FailureTime"), QStringLiteral("08/12/2026 15:38:25"));
        RegWriteBool(old, QStringLiteral("BeepAlert"), true);
        m_fixture->store().createKey(old + QStringLiteral("\\Extra"));
        m_fixture->store().createKey(serviceKey(QStringLiteral("FTP ftphost 21")));
        RegWriteInteger(m_fixture->context().settingsRoot, QStringLiteral("LastService"), 1);
        openWindows();
        QCOMPARE(list()->currentItem()->text(), QStringLiteral("HTTP webhost 80"));

        mainChild<QToolButton>("butEditService")->click();
        QCOMPARE(m_input->windowTitle(), QStringLiteral("Edit Service/Site"));
        QVERIFY(!inputChild<QComboBox>("cmbService")->isEnabled());
        QCOMPARE(inputChild<QLineEdit>("edtHost")->text(), QStringLiteral("webhost"));
        QCOMPARE(inputChild<QLineEdit>("edtPattern")->text(), QStringLiteral("Welcome"));
        QCOMPARE(inputChild<QSpinBox>("ServerPort")->value(), 80);
        inputChild<QSpinBox>("ServerPort")->setValue(8080);
        inputChild<QPushButton>("butSaveSite")->click();

        const QString moved = serviceKey(QStringLiteral("HTTP webhost 8080"));
        QVERIFY(!m_fixture->store().keyExists(old));
        QCOMPARE(RegReadInteger(moved, QStringLiteral("ActualFailures"), 0), 3);
        QCOMPARE(RegReadString(moved, QStringLiteral("FailureTime"), {}), QStringLiteral("08/12/2026 15:38:25"));
        QVERIFY(RegReadBool(moved, QStringLiteral("BeepAlert"), false));
        QCOMPARE(RegReadString(moved, QStringLiteral("Pattern"), {}), QStringLiteral("Welcome"));
        QVERIFY(m_fixture->store().keyExists(moved + QStringLiteral("\\Extra")));
        QCOMPARE(list()->currentRow(), 1);
        QCOMPARE(list()->currentItem()->text(), QStringLiteral("HTTP webhost 8080"));
    }

    void editIntoAnotherServiceIsRefused()
    {
        m_fixture->store().createKey(serviceKey(QStringLiteral("FTP a 21")));
        m_fixture->store().createKey(serviceKey(QStringLiteral("FTP b 21")));
        RegWriteInteger(m_fixture->context().settingsRoot, QStringLiteral("LastService"), 1);
        openWindows();
        mainChild<QToolButton>("butEditService")->click();
        typeHost(QStringLiteral("A"));
        inputChild<QPushButton>("butSaveSite")->click();
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_fixture->store().keyExists(serviceKey(QStringLiteral("FTP b 21"))));
        QCOMPARE(list()->item(1)->text(), QStringLiteral("FTP b 21"));
    }

    void removingTheLastService()
    {
        m_fixture->store().createKey(serviceKey(QStringLiteral("POP3 mailhost 110")));
        openWindows();
        m_answer = false;
        mainChild<QToolButton>("butDelService")->click();
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().first, Dialogs::Kind::Warning);
        QCOMPARE(m_messages.first().second,
                 QStringLiteral("You are about to delete service \"POP3 mailhost 110\".\nAre you sure you want to do this?"));
        QCOMPARE(list()->count(), 1);

        m_answer = true;
        mainChild<QToolButton>("butDelService")->click();
        QCOMPARE(list()->count(), 0);
        QCOMPARE(list()->currentRow(), -1);
        QVERIFY(m_fixture->store().subkeyNames(m_fixture->context().servicesKey).isEmpty());
        QVERIFY(m_fixture->store().keyExists(m_fixture->context().servicesKey));
        QVERIFY(!mainChild<QToolButton>("butEditService")->isEnabled());
        QVERIFY(!mainChild<QToolButton>("butDelService")->isEnabled());
    }

    // The list shows what the store holds, also when the store refuses a
    // change; and its scroll extent follows every change of entries.
    void storeFailuresLeaveTheListTrue()
    {
        const QString longName = QStringLiteral("HTTP ") + QString(120, QLatin1Char('w')) + QStringLiteral(" 80");
        m_fixture->store().createKey(serviceKey(QStringLiteral("FTP filehost 21")));
        m_fixture->store().createKey(serviceKey(longName));
        openWindows();
        m_fixture->store().setBusyTimeout(20);
        list()->setCurrentRow(1);
        QCOMPARE(list()->currentItem()->text(), longName);
        {
            StoreWriteLock lock(m_fixture->sandbox().storePath());
            QVERIFY(lock.isHeld());
            mainChild<QToolButton>("butDelService")->click();
            QCOMPARE(m_messages.size(), 2);
            QCOMPARE(m_messages.last().first, Dialogs::Kind::Error);
            QCOMPARE(list()->count(), 2);
            QCOMPARE(list()->currentRow(), 1);

            addService(QStringLiteral("POP3"), QStringLiteral("mailhost"));
            QCOMPARE(m_messages.last().first, Dialogs::Kind::Error);
            QVERIFY(m_input->isVisible());
            QCOMPARE(list()->count(), 2);
        }
        QVERIFY(!m_fixture->store().keyExists(serviceKey(QStringLiteral("POP3 mailhost 110"))));
        QVERIFY(m_fixture->store().keyExists(serviceKey(longName)));
        m_input->hide();

        const int wide = list()->property("horizontalExtent").toInt();
        list()->setCurrentRow(1);
        mainChild<QToolButton>("butDelService")->click();
        QCOMPARE(list()->count(), 1);
        QVERIFY(!m_fixture->store().keyExists(serviceKey(longName)));
        QVERIFY2(list()->property("horizontalExtent").toInt() < wide, "the extent still fits the removed name");
    }

    void servicesSurviveARestart()
    {
        openWindows();
        addService(QStringLiteral("SMTP"), QStringLiteral("mailhost"));
        addService(QStringLiteral("HTTP"), QStringLiteral("b-site"), 81, QStringLiteral("ok"));
        m_main.reset();
        openWindows();
        QCOMPARE(list()->count(), 2);
        QCOMPARE(list()->item(0)->text(), QStringLiteral("HTTP b-site 81"));
        QCOMPARE(list()->item(1)->text(), QStringLiteral("SMTP mailhost 25"));
        // The index saved at exit was that of the last added entry.
        QCOMPARE(list()->currentRow(), 1);
    }

    void autostartEntryWrittenRemovedRenewed()
    {
        const QString entry = autostartEntryPath(QStringLiteral("Quellmark"));
        const QString systemDir = m_fixture->sandbox().root() + QStringLiteral("/xdg");
        QDir().mkpath(systemDir + QStringLiteral("/autostart"));
        const QString systemEntry = systemDir + QStringLiteral("/autostart/Quellmark.desktop");
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(systemDir));

        openWindows();
        auto *launch = mainChild<QCheckBox>("chkLaunch");
        launch->click();
        QVERIFY(RegReadBool(m_fixture->context().settingsRoot, QStringLiteral("Launch"), false));
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        file.close();
        QVERIFY(text.contains("Exec=" + desktopExecValue(QCoreApplication::applicationFilePath()).toUtf8() + "\n"));
        QVERIFY(text.contains("TryExec=" + QCoreApplication::applicationFilePath().toUtf8() + "\n"));
        QVERIFY(text.contains("Icon=org.kestrin.Quellmark\n"));
        QVERIFY(text.startsWith("[Desktop Entry]\n"));

        {
            QFile stale(systemEntry);
            QVERIFY(stale.open(QIODevice::WriteOnly));
        }
        launch->click();
        QVERIFY(!QFile::exists(entry));
        QVERIFY(!QFile::exists(systemEntry));
        QVERIFY(!RegReadBool(m_fixture->context().settingsRoot, QStringLiteral("Launch"), true));

        // A stored true renews the entry with the current path at start.
        RegWriteBool(m_fixture->context().settingsRoot, QStringLiteral("Launch"), true);
        {
            QVERIFY(QDir().mkpath(QFileInfo(entry).absolutePath()));
            QFile old(entry);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("[Desktop Entry]\nExec=/old/place/quellmark\n");
        }
        m_main.reset();
        openWindows();
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("/old/place"));
        qunsetenv("XDG_CONFIG_DIRS");
    }

    // Exec= quotes the path; TryExec= is a plain string value.
    void execValueQuoting_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("exec");
        QTest::addColumn<QString>("tryExec");
        QTest::newRow("plain") << "/usr/bin/quellmark" << "\"/usr/bin/quellmark\"" << "/usr/bin/quellmark";
        QTest::newRow("blank") << "/opt/my apps/quellmark" << "\"/opt/my apps/quellmark\""
                               << "/opt/my apps/quellmark";
        QTest::newRow("dollar and quote") << "/o/$x\"y" << "\"/o/\\\\$x\\\\\"y\"" << "/o/$x\"y";
        QTest::newRow("backslash") << "/o/a\\b" << "\"/o/a\\\\\\\\b\"" << "/o/a\\\\b";
        QTest::newRow("percent") << "/o/100%" << "\"/o/100%%\"" << "/o/100%";
        QTest::newRow("line break") << "/o/a\nb" << "\"/o/a\\nb\"" << "/o/a\\nb";
    }
    void execValueQuoting()
    {
        QFETCH(QString, path);
        QFETCH(QString, exec);
        QFETCH(QString, tryExec);
        QCOMPARE(desktopExecValue(path), exec);
        QCOMPARE(desktopStringValue(path), tryExec);
    }
};

QTEST_MAIN(TestSitesPage)
#include "tst_sitespage.moc"
