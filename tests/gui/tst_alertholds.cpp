// Snoozed and acknowledged services in the window: the Sites list's marks,
// the time a snooze has left, Resume, the tray's entries, the
// services-on-error window's marks and "Open" from a notification, on a
// clock the test moves.

#include "StoreFixture.h"

#include "SitesPage.h"
#include "TfrmError.h"
#include "TfrmMain.h"

#include "config/Registry.h"
#include "config/RegistryStore.h"
#include "engine/Monitor.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <memory>

namespace {
const QString A = QStringLiteral("HTTP alpha 80");
const QString B = QStringLiteral("HTTP beta 80");
} // namespace

class TestAlertHolds : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> m_fixture;
    std::unique_ptr<Monitor> m_monitor;
    std::unique_ptr<TfrmMain> m_main;
    std::unique_ptr<TfrmError> m_error;
    QDateTime m_now;
    bool m_betaUp = false;

    QString key(const QString &name) const { return m_fixture->context().servicesKey + QLatin1Char('\\') + name; }
    QListWidget *list() const { return m_main->findChild<QListWidget *>(QStringLiteral("ServiceList")); }
    QListWidgetItem *item(const QString &name) const { return list()->findItems(name, Qt::MatchExactly).value(0); }
    QLabel *holdLabel() const { return m_main->findChild<QLabel *>(QStringLiteral("lblHold")); }
    QPushButton *resume() const { return m_main->findChild<QPushButton *>(QStringLiteral("butResume")); }
    QAction *trayEntry(const char *name) const { return m_main->findChild<QAction *>(QLatin1String(name)); }
    QString mark(const QString &name) const { return item(name)->data(Qt::UserRole).toString(); }
    void refresh() { m_main->sitesPage()->ServiceListClick(); }
    void select(const QString &name) { list()->setCurrentItem(item(name)); }

private slots:
    void init()
    {
        m_fixture = std::make_unique<StoreFixture>();
        m_now = QDateTime(QDate(2026, 12, 8), QTime(15, 0, 0), Qt::UTC);
        m_betaUp = false;
        m_fixture->store().createKey(key(A));
        m_fixture->store().createKey(key(B));
        // Notifications would go to whatever session bus there is.
        RegWriteBool(m_fixture->context().settingsRoot, QStringLiteral("DesktopNotifications"), false);
        Monitor::Overrides fakes;
        fakes.internetConnected = [] { return true; };
        fakes.watchConnection = false;
        fakes.now = [this] { return m_now; };
        fakes.probe = [this](const ServiceTarget &target, const QString &, const ProbeSettings &,
                             std::function<bool()>) {
            ProbeResult r;
            r.connected = true;
            r.success = target.host != QLatin1String("beta") || m_betaUp;
            r.resultCode = r.success ? QStringLiteral("200") : QStringLiteral("503");
            return r;
        };
        m_monitor = std::make_unique<Monitor>(m_fixture->context(), fakes);
        m_main = std::make_unique<TfrmMain>(m_fixture->context(), m_monitor.get());
        m_error = std::make_unique<TfrmError>();
        m_main->attachWindows({m_error.get(), nullptr, nullptr, nullptr});
    }
    void cleanup()
    {
        m_main.reset();
        m_error.reset();
        m_monitor.reset();
        m_fixture.reset();
    }

    // The list reads every service's hold at once; each must be what the
    // service's own values say, whatever is stored beside it.
    void allHoldsAtOnceAgreeWithEachOnItsOwn()
    {
        const QString future = m_now.addSecs(600).toString(Qt::ISODate);
        const QString past = m_now.addSecs(-600).toString(Qt::ISODate);
        const struct {
            QString name;
            const char *value;
            RegValue stored;
        } rows[] = {
            {QStringLiteral("HTTP acked 80"), "Acknowledged", RegValue::fromDWord(1)},
            {QStringLiteral("HTTP unacked 80"), "Acknowledged", RegValue::fromDWord(0)},
            {QStringLiteral("HTTP snoozed 80"), "SnoozedUntil", RegValue::fromString(future)},
            {QStringLiteral("HTTP SNOOZED-CASE 80"), "SnoozedUntil", RegValue::fromString(future)},
            {QStringLiteral("HTTP ranout 80"), "SnoozedUntil", RegValue::fromString(past)},
            {QStringLiteral("HTTP garbled 80"), "SnoozedUntil", RegValue::fromString(QStringLiteral("soon"))},
            {QStringLiteral("HTTP wrongtype 80"), "SnoozedUntil", RegValue::fromDWord(5)},
            {QStringLiteral("HTTP host/a\\b 80"), "SnoozedUntil", RegValue::fromString(future)},
        };
        QStringList names{A};
        for (const auto &row : rows) {
            m_fixture->store().setValue(key(row.name), QLatin1String(row.value), row.stored);
            names << row.name;
        }
        const QList<AlertHoldState> all = m_monitor->holdStates(names);
        QCOMPARE(all.size(), names.size());
        int held = 0;
        for (qsizetype i = 0; i < names.size(); ++i) {
            const AlertHoldState one = m_monitor->holdState(names.at(i));
            QVERIFY2(all.at(i).kind == one.kind && all.at(i).until == one.until, qPrintable(names.at(i)));
            held += one.held() ? 1 : 0;
        }
        QCOMPARE(held, 4); // acked, snoozed, SNOOZED-CASE, the one below a backslash
    }

    void snoozeShowsTimeLeftAndResumeEndsIt()
    {
        select(A);
        QVERIFY(resume()->isHidden());
        QCOMPARE(m_monitor->snooze(A.toLower(), 60), Monitor::HoldOutcome::Done);
        QCOMPARE(mark(A), QStringLiteral("(snoozed)"));
        QVERIFY(!item(A)->icon().isNull());
        QVERIFY(item(B)->icon().isNull());
        QCOMPARE(m_main->sitesPage()->holdText(), QStringLiteral("Alerts snoozed, 1 h 00 min left"));
        QVERIFY(!resume()->isHidden());

        // A minute begun counts as a whole one.
        const struct {
            int secondsOn;
            const char *shown;
        } steps[] = {{1, "Alerts snoozed, 1 h 00 min left"},
                     {15 * 60 - 1, "Alerts snoozed, 45 min left"},
                     {44 * 60 + 30, "Alerts snoozed, 1 min left"},
                     {30, ""}};
        for (const auto &step : steps) {
            m_now = m_now.addSecs(step.secondsOn);
            refresh();
            QCOMPARE(m_main->sitesPage()->holdText(), QString::fromLatin1(step.shown));
        }
        QCOMPARE(mark(A), QString());
        QVERIFY(resume()->isHidden());

        m_monitor->snooze(A, 30);
        QCOMPARE(m_main->sitesPage()->holdText(), QStringLiteral("Alerts snoozed, 30 min left"));
        resume()->click();
        QCOMPARE(m_main->sitesPage()->holdText(), QString());
        QCOMPARE(mark(A), QString());
        QCOMPARE(RegReadString(key(A), QStringLiteral("SnoozedUntil"), QStringLiteral("x")), QString());
    }

    // Acknowledged while on error, marked in the list and the window; the
    // tray snoozes and resumes all.
    void acknowledgeAndTheTray()
    {
        QCOMPARE(m_monitor->acknowledge(B), Monitor::HoldOutcome::NotOnError);
        m_monitor->pollNow();
        QCOMPARE(m_error->text(), QStringLiteral("http:beta/"));
        QVERIFY(m_error->isVisible());
        QCOMPARE(m_monitor->acknowledge(B), Monitor::HoldOutcome::Done);
        QCOMPARE(m_monitor->acknowledge(QStringLiteral("HTTP gamma 80")), Monitor::HoldOutcome::UnknownService);
        select(B);
        QCOMPARE(mark(B), QStringLiteral("(acknowledged)"));
        QCOMPARE(m_main->sitesPage()->holdText(), SitesPage::acknowledgedText());
        // Nothing left to alert about: the window goes, its text marks it.
        QCOMPARE(m_error->text(), QStringLiteral("http:beta/ (acknowledged)"));
        QVERIFY(!m_error->isVisible());
        m_monitor->pollNow();
        QVERIFY(!m_error->isVisible());

        trayEntry("mnuSnoozeAll")->trigger();
        QCOMPARE(mark(A), QStringLiteral("(snoozed)"));
        QCOMPARE(mark(B), QStringLiteral("(acknowledged)"));
        QCOMPARE(m_monitor->heldBack(), (QStringList{A, B}));
        trayEntry("mnuResumeAll")->trigger();
        QCOMPARE(m_monitor->heldBack(), QStringList());
        QCOMPARE(mark(B), QString());
        QCOMPARE(m_error->text(), QStringLiteral("http:beta/"));
        QVERIFY(m_error->isVisible());
    }

    void openFromANotification()
    {
        select(A);
        m_main->hide();
        emit m_monitor->openServiceRequested(B);
        QVERIFY(m_main->isVisible());
        QCOMPARE(m_main->findChild<QTabWidget *>(QStringLiteral("PageControl"))->currentWidget(),
                 static_cast<QWidget *>(m_main->sitesPage()));
        QCOMPARE(m_main->sitesPage()->selectedService(), B);
    }
};

QTEST_MAIN(TestAlertHolds)
#include "tst_alertholds.moc"
