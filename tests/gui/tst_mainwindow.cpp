// The main window's start-up loading, its General and Misc page controls,
// the timer switch, the tray's services-on-error toggle and the values saved
// when the window goes away.

#include "StoreFixture.h"

#include "BoundedSpinBox.h"
#include "TfrmError.h"
#include "TfrmMain.h"
#include "TfrmStats.h"

#include "config/ProgramContext.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"
#include "engine/IntervalTimer.h"
#include "engine/PollCycle.h"
#include "metrics/MetricsExport.h"
#include "metrics/MetricsListener.h"

#include "Dialogs.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>

#include <memory>

class TestMainWindow : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> m_fixture;

    QString root() const { return m_fixture->context().settingsRoot; }
    std::unique_ptr<TfrmMain> makeWindow()
    {
        return std::make_unique<TfrmMain>(m_fixture->context());
    }
    template <typename T> static T *child(QWidget *w, const char *name)
    {
        T *found = w->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    static void leave(QWidget *w)
    {
        QFocusEvent event(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(w, &event);
    }

private slots:
    void init() { m_fixture = std::make_unique<StoreFixture>(); }
    void cleanup() { m_fixture.reset(); }

    // "Stats" brings a minimised statistics window back, selection and all.
    void statsButtonRestoresAMinimisedWindow()
    {
        TfrmMain window(m_fixture->context());
        TfrmStats stats;
        window.attachWindows({nullptr, &stats, nullptr, nullptr});
        window.butStatsClick();
        QVERIFY(stats.isVisible());
        stats.showMinimized();
        QTRY_VERIFY(stats.isMinimized());
        window.butStatsClick();
        QVERIFY(stats.isVisible());
        QVERIFY(!stats.isMinimized());
    }

    void defaultsOnFirstStart()
    {
        auto w = makeWindow();
        QCOMPARE(child<BoundedSpinBox>(w.get(), "spinNormalConnectionFreq")->value(), 60);
        QCOMPARE(child<BoundedSpinBox>(w.get(), "spinErrorConnectionFreq")->value(), 15);
        QCOMPARE(child<BoundedSpinBox>(w.get(), "spinConnectionTimeout")->value(), 60);
        QCOMPARE(child<BoundedSpinBox>(w.get(), "spinPollTimeout")->value(), 15);
        QCOMPARE(child<BoundedSpinBox>(w.get(), "HTTPProxyPort")->value(), 0);
        QCOMPARE(child<BoundedSpinBox>(w.get(), "spinSmtpPort")->value(), 25);
        QVERIFY(child<QCheckBox>(w.get(), "chkVisualAlert")->isChecked());
        for (const char *name : {"chkTimerON", "chkMinimized", "chkLaunch", "chkNoConnAppLaunch",
                                 "UseHttpProxy", "chkReqSmtpAuth"})
            QVERIFY2(!child<QCheckBox>(w.get(), name)->isChecked(), name);
        QCOMPARE(w->windowTitle(), QStringLiteral("Quellmark v") +
                                       ProgramContext::buildVersion().section(QLatin1Char('.'), 0, 2));
        QCOMPARE(m_fixture->store().valueNames(root()),
                 QStringList{QStringLiteral("HttpProxyPort")});

        // The empty pane points the way until the first poll, without a line of its own.
        auto *pane = child<QPlainTextEdit>(w.get(), "memoStatus");
        QCOMPARE(pane->placeholderText(), TfrmMain::firstStartHint());
        QVERIFY(pane->toPlainText().isEmpty());
        w->butStartClick();
        QTRY_VERIFY(pane->placeholderText().isEmpty());
        // With a service listed there is no hint at all.
        m_fixture->store().createKey(root() + QStringLiteral("\\Services\\HTTP webhost"));
        w = makeWindow();
        QVERIFY(child<QPlainTextEdit>(w.get(), "memoStatus")->placeholderText().isEmpty());
    }

    void storedChecksRunTheirClickHandlers_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("enabled");
        QTest::newRow("auth") << QStringLiteral("ReqSmtpAuth")
                              << QStringList{QStringLiteral("edtSmtpUser"), QStringLiteral("edtSmtpPass")};
        QTest::newRow("proxy") << QStringLiteral("UseHttpProxy")
                               << QStringList{QStringLiteral("HTTPProxyURL"), QStringLiteral("HTTPProxyPort")};
        QTest::newRow("no connection")
            << QStringLiteral("NoConnAppLaunch")
            << QStringList{QStringLiteral("edtNoConnProgName"), QStringLiteral("butBrowse7"),
                           QStringLiteral("butNoConnTestApp"), QStringLiteral("chkNoConnRepeatLaunch")};
    }

    void storedChecksRunTheirClickHandlers()
    {
        QFETCH(QString, value);
        QFETCH(QStringList, enabled);
        RegWriteInteger(root(), value, 5); // any non-zero number is true
        auto w = makeWindow();
        for (const QString &name : enabled)
            QVERIFY2(w->findChild<QWidget *>(name)->isEnabled(), qPrintable(name));
        QCOMPARE(RegReadInteger(root(), value, 0), 1); // the handler wrote it back
    }

    void uncheckingKeepsDependantValues()
    {
        RegWriteBool(root(), QStringLiteral("UseHttpProxy"), true);
        RegWriteString(root(), QStringLiteral("HttpProxyURL"), QStringLiteral("proxyhost"));
        RegWriteInteger(root(), QStringLiteral("HttpProxyPort"), 3128);
        auto w = makeWindow();
        auto *use = child<QCheckBox>(w.get(), "UseHttpProxy");
        auto *url = child<QLineEdit>(w.get(), "HTTPProxyURL");
        use->click();
        QVERIFY(!url->isEnabled());
        QVERIFY(!RegReadBool(root(), QStringLiteral("UseHttpProxy"), true));
        QCOMPARE(RegReadString(root(), QStringLiteral("HttpProxyURL"), {}), QStringLiteral("proxyhost"));
        use->click();
        QVERIFY(url->isEnabled());
        QCOMPARE(url->text(), QStringLiteral("proxyhost"));
        QCOMPARE(child<BoundedSpinBox>(w.get(), "HTTPProxyPort")->value(), 3128);
    }

    void spinWritesWhileTypingAndClampsOnLeaving_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("whileTyping");
        QTest::addColumn<int>("afterLeaving");
        QTest::newRow("poll 0 -> 1") << "spinNormalConnectionFreq" << "NormalConnectionFreq" << "0" << 0 << 1;
        QTest::newRow("timeout 5 -> 15") << "spinConnectionTimeout" << "ConnectionTimeout" << "5" << 5 << 15;
        QTest::newRow("timeout 900 -> 600") << "spinConnectionTimeout" << "ConnectionTimeout" << "900" << 900 << 600;
        QTest::newRow("not a number is minimum") << "spinPollTimeout" << "PollTimeout" << "x" << 0 << 0;
        QTest::newRow("smtp port unbounded") << "spinSmtpPort" << "SmtpPort" << "100000" << 100000 << 100000;
        QTest::newRow("at once 0 -> 1") << "spinParallelChecks" << "ParallelChecks" << "0" << 0 << 1;
        QTest::newRow("at once 99 -> 64") << "spinParallelChecks" << "ParallelChecks" << "99" << 99 << 64;
    }

    // A number out of range in the store (edited by hand) is shown and
    // used as the nearest bound.
    void storedParallelChecksIsBounded_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("used");
        QTest::newRow("none") << -1 << 1;
        QTest::newRow("8") << 8 << 8;
        QTest::newRow("0") << 0 << 1;
        QTest::newRow("-3") << -3 << 1;
        QTest::newRow("500") << 500 << 64;
    }
    void storedParallelChecksIsBounded()
    {
        QFETCH(int, stored);
        QFETCH(int, used);
        if (stored != -1)
            RegWriteInteger(root(), QStringLiteral("ParallelChecks"), stored);
        auto w = makeWindow();
        QCOMPARE(child<BoundedSpinBox>(w.get(), "spinParallelChecks")->value(), used);
        QCOMPARE(w->liveSettings().parallelChecks, used);
    }

    void spinWritesWhileTypingAndClampsOnLeaving()
    {
        QFETCH(QString, control);
        QFETCH(QString, value);
        QFETCH(QString, typed);
        QFETCH(int, whileTyping);
        QFETCH(int, afterLeaving);
        auto w = makeWindow();
        auto *spin = w->findChild<BoundedSpinBox *>(control);
        QVERIFY(spin);
        QLineEdit *edit = spin->findChild<QLineEdit *>();
        edit->selectAll();
        QTest::keyClicks(edit, typed);
        QCOMPARE(RegReadInteger(root(), value, -12345), whileTyping);
        leave(spin);
        QCOMPARE(spin->value(), afterLeaving);
        QCOMPARE(RegReadInteger(root(), value, -12345), afterLeaving);
    }

    void textFieldsWriteOnLeavingChangedOrNot()
    {
        auto w = makeWindow();
        auto *server = child<QLineEdit>(w.get(), "edtSmtpServer");
        leave(server);
        QVERIFY(m_fixture->store().value(root(), QStringLiteral("SmtpServer")).has_value());
        server->setText(QStringLiteral("mailhost"));
        QCOMPARE(RegReadString(root(), QStringLiteral("SmtpServer"), {}), QString());
        leave(server);
        QCOMPARE(RegReadString(root(), QStringLiteral("SmtpServer"), {}), QStringLiteral("mailhost"));
    }

    // The metrics address: a bad one is told in a box and leaves the
    // endpoint off; a good one is stored and listened on at once; a stored
    // bad one is told at start without a box.
    void metricsAddressOnTheMiscPage()
    {
        QStringList boxes;
        Dialogs::setResponder([&](Dialogs::Kind, const QString &text) {
            boxes << text;
            return true;
        });
        {
            auto w = makeWindow();
            auto *listen = child<QLineEdit>(w.get(), "edtMetricsListen");
            listen->setText(QStringLiteral("metrics.example:9101"));
            emit listen->editingFinished();
            QCOMPARE(boxes.size(), 1);
            QVERIFY2(boxes.at(0).contains(QStringLiteral("IP address or localhost")),
                     qPrintable(boxes.at(0)));
            QVERIFY(!w->metrics()->listener()->isListening());
            listen->setText(QStringLiteral("127.0.0.1:0"));
            emit listen->editingFinished();
            QCOMPARE(boxes.size(), 2);
            quint16 port = 0;
            {
                QTcpServer probe;
                QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
                port = probe.serverPort();
            }
            const QString good = QStringLiteral("localhost:%1").arg(port);
            listen->setText(good);
            emit listen->editingFinished();
            leave(listen);
            QCOMPARE(boxes.size(), 2);
            QVERIFY(w->metrics()->listener()->isListening());
            QCOMPARE(w->metrics()->listener()->port(), port);
            QCOMPARE(RegReadString(root(), QStringLiteral("MetricsListen"), {}), good);
            // Changed to something unusable, it serves nothing, as it would
            // after a restart.
            listen->setText(QStringLiteral("nonsense"));
            emit listen->editingFinished();
            leave(listen);
            QCOMPARE(boxes.size(), 3);
            QVERIFY(!w->metrics()->listener()->isListening());
        }
        auto w = makeWindow();
        QCOMPARE(boxes.size(), 3);
        QVERIFY(!w->metrics()->listener()->isListening());
        QTRY_VERIFY(child<QPlainTextEdit>(w.get(), "memoStatus")
                        ->toPlainText()
                        .contains(QStringLiteral("\"nonsense\"")));
        Dialogs::setResponder({});
    }

    void timerSwitch()
    {
        auto w = makeWindow();
        auto *button = child<QPushButton>(w.get(), "butTimer");
        QVERIFY(!w->isTimerOn());
        QCOMPARE(button->toolTip(), QStringLiteral("Timer is OFF"));
        button->click();
        QVERIFY(w->isTimerOn());
        QCOMPARE(button->toolTip(), QStringLiteral("Timer is ON"));
        QVERIFY(w->timerAction()->isChecked());
        QCOMPARE(w->sessionTimer()->interval(), 60 * 60000);
        QVERIFY(w->sessionTimer()->isCounting());
        w->timerAction()->trigger();
        QVERIFY(!w->isTimerOn());
        QVERIFY(!w->timerAction()->isChecked());
        QCOMPARE(w->sessionTimer()->interval(), 0);
        QVERIFY(!w->sessionTimer()->isEnabled());
    }

    void timerOnAtStartupPollsOneIntervalLater()
    {
        RegWriteBool(root(), QStringLiteral("TimerON"), true);
        auto w = makeWindow();
        QVERIFY(w->isTimerOn());
        QCOMPARE(w->sessionTimer()->interval(), 60 * 60000);
        QVERIFY(w->sessionTimer()->remainingTime() > 59 * 60000);
    }

    void showServicesOnErrorToggles()
    {
        auto w = makeWindow();
        TfrmError error;
        w->attachWindows({&error, nullptr, nullptr, nullptr});
        w->urlsOnErrorAction()->trigger();
        QVERIFY(error.isVisible());
        QVERIFY(w->urlsOnErrorAction()->isChecked());
        QCOMPARE(error.text(), QStringLiteral(" No services on error "));
        QVERIFY(!error.wordWrap());
        w->urlsOnErrorAction()->trigger();
        QVERIFY(!error.isVisible());
        QVERIFY(!w->urlsOnErrorAction()->isChecked());
    }

    void serviceListSelectionFromLastService_data()
    {
        QTest::addColumn<int>("lastService");
        QTest::addColumn<int>("selected");
        QTest::newRow("first") << 0 << 0;
        QTest::newRow("last") << 2 << 2;
        QTest::newRow("none") << -1 << -1;
        QTest::newRow("beyond") << 3 << -1;
    }

    void serviceListSelectionFromLastService()
    {
        QFETCH(int, lastService);
        QFETCH(int, selected);
        const QString services = m_fixture->context().servicesKey;
        m_fixture->store().createKey(services + QStringLiteral("\\POP3 mailhost 110"));
        m_fixture->store().createKey(services + QStringLiteral("\\http webhost 80"));
        m_fixture->store().createKey(services + QStringLiteral("\\FTP ftphost 21"));
        RegWriteInteger(root(), QStringLiteral("LastService"), lastService);
        auto w = makeWindow();
        auto *list = child<QListWidget>(w.get(), "ServiceList");
        QCOMPARE(list->count(), 3);
        // Enumerated without regard to case.
        QCOMPARE(list->item(0)->text(), QStringLiteral("FTP ftphost 21"));
        QCOMPARE(list->item(1)->text(), QStringLiteral("http webhost 80"));
        QCOMPARE(list->currentRow(), selected);
        w.reset();
        QCOMPARE(RegReadInteger(root(), QStringLiteral("LastService"), 99), selected);
    }

    void destructionSavesPosition()
    {
        auto w = makeWindow();
        QCOMPARE(w->pos(), QPoint(100, 100));
        w->move(345, 123);
        w.reset();
        QCOMPARE(RegReadInteger(root(), QStringLiteral("Left"), 0), 345);
        QCOMPARE(RegReadInteger(root(), QStringLiteral("Top"), 0), 123);
        auto again = makeWindow();
        QCOMPARE(again->pos(), QPoint(345, 123));
    }

    void errorWindowBlinks()
    {
        TfrmError error;
        QCOMPARE(error.textColor(), QColor(255, 0, 0));
        QCOMPARE(error.backgroundColor(), QColor(255, 255, 255));
        error.blink();
        QCOMPARE(error.textColor(), QColor(255, 255, 255));
        QCOMPARE(error.backgroundColor(), QColor(255, 0, 0));
        error.blink();
        QCOMPARE(error.textColor(), QColor(255, 0, 0));

        // Three tags, one per line, at the fixed width.
        error.setWordWrap(true);
        error.setText(QStringLiteral("http:a\r\nftp:b\r\npop3:c"));
        error.show();
        const int threeLines = error.height();
        error.setText(QStringLiteral("http:a"));
        QVERIFY(error.height() < threeLines);
        QVERIFY(error.height() * 2 < threeLines);
        QCOMPARE(error.width(), TfrmError::LabelWidth + 4);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
