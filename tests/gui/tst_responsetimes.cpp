// Response times in the windows: the Sites list's state icons and times
// (updated as each result comes in, the item text left the service name,
// the snooze mark kept), the selected service's figures under the list,
// the states after a restart, and the statistics window's chart, on a
// clock and probe the test drives.

#include "StoreFixture.h"

#include "ResponseChart.h"
#include "ServiceListDelegate.h"
#include "SitesPage.h"
#include "TfrmMain.h"
#include "TfrmStats.h"

#include "config/Registry.h"
#include "engine/Monitor.h"
#include "stats/ResponseHistory.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(ServiceListDelegate::State)

namespace {
const QString A = QStringLiteral("HTTP alpha 80");
const QString B = QStringLiteral("HTTP beta 80");
const QString C = QStringLiteral("FTP gamma 21");
using State = ServiceListDelegate::State;

struct Outcome {
    bool connected = true;
    bool up = true;
    qint64 answerUs = -1;
};
} // namespace

class TestResponseTimes : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> m_fixture;
    std::unique_ptr<Monitor> m_monitor;
    std::unique_ptr<TfrmMain> m_main;
    std::unique_ptr<TfrmStats> m_stats;
    QDateTime m_now;
    QHash<QString, Outcome> m_outcomes;
    std::function<void(const QString &host)> m_duringProbe;

    QString key(const QString &name) const
    {
        return m_fixture->context().servicesKey + QLatin1Char('\\') + name;
    }
    QListWidget *list() const
    {
        return m_main->findChild<QListWidget *>(QStringLiteral("ServiceList"));
    }
    QListWidgetItem *item(const QString &name) const
    {
        return list()->findItems(name, Qt::MatchExactly).value(0);
    }
    State state(const QString &name) const { return ServiceListDelegate::stateOf(item(name)); }
    QString stateText(const QString &name) const
    {
        return ServiceListDelegate::stateTextOf(item(name));
    }
    void select(const QString &name) { list()->setCurrentItem(item(name)); }

    void openWindows()
    {
        Monitor::Overrides fakes;
        fakes.internetConnected = [] { return true; };
        fakes.watchConnection = false;
        fakes.now = [this] { return m_now; };
        fakes.probe = [this](const ServiceTarget &target, const QString &, const ProbeSettings &,
                             std::function<bool()>) {
            if (m_duringProbe)
                m_duringProbe(target.host);
            const Outcome o = m_outcomes.value(target.host);
            ProbeResult r;
            r.connected = o.connected;
            r.success = o.connected && o.up;
            r.resultCode =
                o.connected ? (o.up ? QStringLiteral("200") : QStringLiteral("503")) : QString();
            r.timing.answerUs = o.answerUs;
            return r;
        };
        m_monitor = std::make_unique<Monitor>(m_fixture->context(), fakes);
        m_main = std::make_unique<TfrmMain>(m_fixture->context(), m_monitor.get());
        m_stats = std::make_unique<TfrmStats>();
        m_stats->setProgramFolder(m_fixture->context().programFolder);
        m_stats->setClock([this] { return m_now; }, QLocale::c());
        m_main->attachWindows({nullptr, m_stats.get(), nullptr, nullptr});
    }
    void closeWindows()
    {
        m_main.reset();
        m_stats.reset();
        m_monitor.reset();
    }

private slots:
    void init()
    {
        m_fixture = std::make_unique<StoreFixture>();
        m_now = QDateTime(QDate(2026, 12, 8), QTime(15, 0, 0), Qt::UTC);
        for (const QString &name : {A, B, C})
            m_fixture->store().createKey(key(name));
        RegWriteBool(m_fixture->context().settingsRoot, QStringLiteral("DesktopNotifications"),
                     false);
        RegWriteBool(m_fixture->context().settingsRoot, QStringLiteral("VisualAlert"), false);
        m_outcomes = {{QStringLiteral("alpha"), {true, true, 120000}},
                      {QStringLiteral("beta"), {true, true, 40000}},
                      {QStringLiteral("gamma"), {true, true, 5000}}};
        m_duringProbe = nullptr;
        openWindows();
    }
    void cleanup()
    {
        closeWindows();
        m_fixture.reset();
    }

    // What the list shows for alpha after one result; beta, polled after
    // it, sees alpha's entry already changed.
    void listShowsEachResult_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("up");
        QTest::addColumn<qint64>("answerUs");
        QTest::addColumn<State>("shown");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("lastLine");
        QTest::newRow("up") << true << true << qint64(123000) << State::Up << "123 ms"
                            << "Last response: 123 ms";
        QTest::newRow("up, rounded to the ms")
            << true << true << qint64(122500) << State::Up << "123 ms"
            << "Last response: 123 ms";
        QTest::newRow("up without a measured time")
            << true << true << qint64(-1) << State::Up << "up"
            << "Last response: none (no answer)";
        QTest::newRow("answered 503")
            << true << false << qint64(80000) << State::OnError << "on error, 80 ms"
            << "Last response: 80 ms (failed)";
        QTest::newRow("no connection")
            << false << false << qint64(-1) << State::OnError << "on error"
            << "Last response: none (no answer)";
        QTest::newRow("no connection, a time is ignored")
            << false << false << qint64(5000) << State::OnError << "on error"
            << "Last response: none (no answer)";
    }
    void listShowsEachResult()
    {
        QFETCH(bool, connected);
        QFETCH(bool, up);
        QFETCH(qint64, answerUs);
        QFETCH(State, shown);
        QFETCH(QString, text);
        QFETCH(QString, lastLine);
        for (const QString &name : {A, B, C}) {
            QCOMPARE(state(name), State::NotChecked);
            QCOMPARE(stateText(name), QStringLiteral("not yet checked"));
        }
        select(A);
        QCOMPARE(m_main->sitesPage()->responseTimesText(),
                 QStringLiteral("Response times: no data yet"));

        m_outcomes[QStringLiteral("alpha")] = {connected, up, answerUs};
        bool seenDuringCycle = false;
        m_duringProbe = [&](const QString &host) {
            if (host == QLatin1String("beta"))
                seenDuringCycle = state(A) == shown && stateText(A) == text;
        };
        m_monitor->pollNow();
        QVERIFY(seenDuringCycle);
        QCOMPARE(state(A), shown);
        QCOMPARE(stateText(A), text);
        // The text the rest of the program reads is still the name.
        QCOMPARE(item(A)->text(), A);
        QCOMPARE(m_main->sitesPage()->serviceNames(), (QStringList{C, A, B}));
        // Screen readers get the words once one listens, and keep them current.
        QVERIFY(!item(A)->data(Qt::AccessibleTextRole).isValid());
        QAccessible::setActive(true);
        QCOMPARE(item(A)->data(Qt::AccessibleTextRole).toString(), A + QStringLiteral(", ") + text);
        QAccessible::setActive(false);
        m_outcomes[QStringLiteral("alpha")] = {true, true, 7000};
        m_monitor->pollNow();
        QCOMPARE(item(A)->data(Qt::AccessibleTextRole).toString(), A + QStringLiteral(", 7 ms"));
        QCOMPARE(state(B), State::Up);
        QCOMPARE(stateText(B), QStringLiteral("40 ms"));
        QCOMPARE(m_main->sitesPage()->responseTimesText().split(QLatin1Char('\n')).value(0),
                 lastLine);
    }

    // The figures under the list follow the selection and the results.
    void selectedServiceFigures()
    {
        const int times[] = {100, 300, 200, 900};
        for (const int ms : times) {
            m_outcomes[QStringLiteral("beta")].answerUs = ms * 1000;
            m_monitor->pollNow();
            m_now = m_now.addSecs(3600);
        }
        select(B);
        QCOMPARE(m_main->sitesPage()->responseTimesText(),
                 QStringLiteral("Last response: 900 ms\n24 h: median 250 ms, 95% 900 ms\n"
                                "30 d: median 250 ms, 95% 900 ms"));
        // Two days on, the day's window is empty; the month's is not.
        m_now = m_now.addDays(2);
        select(A);
        select(B);
        QCOMPARE(m_main->sitesPage()->responseTimesText(),
                 QStringLiteral(
                     "Last response: 900 ms\n24 h: no answers\n30 d: median 250 ms, 95% 900 ms"));
        // A new result for the selected service shows at once.
        m_outcomes[QStringLiteral("beta")].answerUs = 50000;
        m_monitor->pollNow();
        QVERIFY(m_main->sitesPage()->responseTimesText().startsWith(
            QStringLiteral("Last response: 50 ms\n")));
        list()->setCurrentRow(-1);
        QCOMPARE(m_main->sitesPage()->responseTimesText(), QString());
    }

    // A snoozed service keeps its pause mark beside its state icon.
    void snoozeMarkStays()
    {
        m_outcomes[QStringLiteral("alpha")] = {true, false, 70000};
        QCOMPARE(m_monitor->snooze(A, 60), Monitor::HoldOutcome::Done);
        m_monitor->pollNow();
        QCOMPARE(item(A)->data(Qt::UserRole).toString(), QStringLiteral("(snoozed)"));
        QVERIFY(!item(A)->icon().isNull());
        QCOMPARE(state(A), State::OnError);
        QVERIFY(item(B)->icon().isNull());
        QCOMPARE(state(B), State::Up);
    }

    // After a restart the list shows the last known states; a service
    // added since has none.
    void statesOutlastARestart()
    {
        m_outcomes[QStringLiteral("gamma")] = {false, false, -1};
        m_monitor->pollNow();
        closeWindows();
        QVERIFY(QFile::exists(ResponseHistory::pathIn(m_fixture->context().programFolder)));
        m_fixture->store().createKey(key(QStringLiteral("POP3 delta 110")));
        openWindows();
        QCOMPARE(state(A), State::Up);
        QCOMPARE(stateText(A), QStringLiteral("120 ms"));
        QCOMPARE(state(C), State::OnError);
        QCOMPARE(state(QStringLiteral("POP3 delta 110")), State::NotChecked);
    }

    // The chart of the chosen log's service over the chosen period, with
    // its outages; Compare has no chart.
    void statsChart()
    {
        // Beta: up, down for two polls, up again, an hour apart.
        const bool beta[] = {true, false, false, true, true};
        for (const bool up : beta) {
            m_outcomes[QStringLiteral("beta")] = {true, up, up ? 40000 : 90000};
            m_monitor->pollNow();
            m_now = m_now.addSecs(3600);
        }
        m_stats->resize(640, 480);
        m_stats->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_stats.get()));
        auto *logs = m_stats->findChild<QListWidget *>(QStringLiteral("LogList"));
        logs->setCurrentItem(
            logs->findItems(QStringLiteral("beta(http)"), Qt::MatchExactly).value(0));
        ResponseChart *chart = m_stats->chart();
        QCOMPARE(chart->service(), B);
        QCOMPARE(chart->data().points, 5);
        QCOMPARE(chart->data().outages.size(), 1);
        const qint64 start =
            QDateTime(QDate(2026, 12, 8), QTime(15, 0, 0), Qt::UTC).toMSecsSinceEpoch();
        QCOMPARE(chart->data().outages.first().fromMs, start + 3600 * 1000);
        QCOMPARE(chart->data().outages.first().toMs, start + 3 * 3600 * 1000);
        QCOMPARE(chart->data().maxMs, 90);
        QVERIFY(int(chart->data().columns.size()) > 100);
        // "All log" starts at the service's first point, not 90 days back.
        QCOMPARE(chart->data().fromMs, start);
        // The period chosen: "1 week" ends now and starts a week before.
        auto *periods = m_stats->findChild<QComboBox *>(QStringLiteral("cmbReports"));
        periods->setCurrentIndex(1);
        emit periods->activated(1);
        QCOMPARE(chart->data().toMs - chart->data().fromMs, qint64(7) * 24 * 3600 * 1000);

        logs->setCurrentItem(
            logs->findItems(QStringLiteral("alpha(http)"), Qt::MatchExactly).value(0));
        QCOMPARE(chart->service(), A);
        QVERIFY(chart->data().outages.isEmpty());

        m_stats->findChild<QCheckBox *>(QStringLiteral("chkCompareStats"))->click();
        QVERIFY(chart->service().isEmpty());
        QVERIFY(chart->message().contains(QStringLiteral("Compare")));
    }

    // Services sharing a log (beta on two ports) are charted one at a time,
    // the one polled last first; the box above the chart picks the other.
    void sharedLogChart()
    {
        const QString beta8080 = QStringLiteral("HTTP beta 8080");
        closeWindows();
        m_fixture->store().createKey(key(beta8080));
        openWindows();
        m_monitor->pollNow();
        m_stats->show();
        auto *logs = m_stats->findChild<QListWidget *>(QStringLiteral("LogList"));
        logs->setCurrentItem(
            logs->findItems(QStringLiteral("beta(http)"), Qt::MatchExactly).value(0));
        auto *pick = m_stats->findChild<QComboBox *>(QStringLiteral("cmbChartService"));
        QVERIFY(pick->isVisible());
        QCOMPARE(pick->count(), 2);
        const QString first = m_stats->chart()->service();
        const QString other = first == B ? beta8080 : B;
        pick->setCurrentText(other);
        emit pick->activated(pick->currentIndex());
        QCOMPARE(m_stats->chart()->service(), other);
        // Another poll keeps the user's choice.
        m_monitor->pollNow();
        m_stats->LogListClick();
        QCOMPARE(m_stats->chart()->service(), other);
        logs->setCurrentItem(
            logs->findItems(QStringLiteral("alpha(http)"), Qt::MatchExactly).value(0));
        QVERIFY(!pick->isVisible());
    }

    // A week of a service's answers with two outages, as a picture: run with
    // QM_STATS_CHART_SHOT=<file.png> (on a real display, for the fonts).
    void chartScreenshot()
    {
        const QString shot = qEnvironmentVariable("QM_STATS_CHART_SHOT");
        if (shot.isEmpty())
            QSKIP("QM_STATS_CHART_SHOT names no file");
        m_monitor->pollNow(); // starts the logs
        ResponseHistory *history = m_monitor->history();
        constexpr qint64 Hour = 3600 * 1000;
        const qint64 now = m_now.toMSecsSinceEpoch();
        quint32 seed = 7;
        for (qint64 t = now - 7 * 24 * Hour; t < now; t += 20 * 60000) {
            seed = seed * 1103515245u + 12345u;
            const qint64 hourOfDay = (t / Hour) % 24;
            int ms = 80 + int((seed >> 16) % 50) + (hourOfDay >= 8 && hourOfDay <= 18 ? 70 : 0);
            if ((seed >> 8) % 61 == 0)
                ms += 450;
            const bool down =
                (t > now - 5 * 24 * Hour && t < now - 5 * 24 * Hour + 3 * Hour) ||
                (t > now - 2 * 24 * Hour + 4 * Hour && t < now - 2 * 24 * Hour + 5 * Hour);
            history->add(B, {t, down ? -1 : ms, !down});
        }
        QVERIFY(history->commit(now));
        m_stats->resize(780, 540);
        m_stats->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_stats.get()));
        auto *periods = m_stats->findChild<QComboBox *>(QStringLiteral("cmbReports"));
        periods->setCurrentIndex(1);
        auto *logs = m_stats->findChild<QListWidget *>(QStringLiteral("LogList"));
        logs->setCurrentItem(
            logs->findItems(QStringLiteral("beta(http)"), Qt::MatchExactly).value(0));
        QCOMPARE(m_stats->chart()->data().outages.size(), 2);
        QTest::qWait(200);
        QVERIFY(m_stats->grab().save(shot));
    }
};

QTEST_MAIN(TestResponseTimes)
#include "tst_responsetimes.moc"
