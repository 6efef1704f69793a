// The poll cycle's response times: one point per result, kept in memory
// during the cycle and written at its end; a history file that cannot be
// used (damaged, from a newer version, unwritable) never stops a poll, and
// is told in the error log and the status pane.

#include "TestSandbox.h"

#include "config/ProgramContext.h"
#include "config/RegistryStore.h"
#include "engine/Monitor.h"
#include "stats/ResponseHistory.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <sqlite3.h>

class TestMonitorHistory : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    std::unique_ptr<RegistryStore> m_store;
    ProgramContext m_context;
    QDateTime m_now;

    QString historyPath() const { return ResponseHistory::pathIn(m_context.programFolder); }
    QByteArray errorLog() const
    {
        QFile file(m_context.errorLogPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void init()
    {
        m_sandbox = std::make_unique<TestSandbox>();
        m_store = std::make_unique<RegistryStore>(m_sandbox->storePath());
        RegistryStore::setCurrent(m_store.get());
        m_context = ProgramContext::create(false, m_sandbox->programFolder());
        QDir().mkpath(m_context.programFolder);
        m_now = QDateTime(QDate(2026, 12, 8), QTime(15, 0, 0), Qt::UTC);
    }
    void cleanup()
    {
        RegistryStore::setCurrent(nullptr);
        m_store.reset();
        m_sandbox.reset();
    }

    void resultsInTheHistory_data()
    {
        QTest::addColumn<QString>("before"); // what lies at the history's place
        QTest::addColumn<QString>("told");   // in the error log and the status pane; empty: nothing
        QTest::newRow("no file yet") << ""
                                     << "";
        QTest::newRow("damaged") << "garbage"
                                 << "could not be used (file is not a database)";
        QTest::newRow("newer version") << "newer"
                                       << "written by a newer version of the program";
        QTest::newRow("cannot be written") << "folder"
                                           << "cannot be opened";
    }
    void resultsInTheHistory()
    {
        QFETCH(QString, before);
        QFETCH(QString, told);
        if (before == QLatin1String("garbage")) {
            QFile file(historyPath());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(4096, 'x'));
        } else if (before == QLatin1String("newer")) {
            sqlite3 *db = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(historyPath()).constData(), &db), SQLITE_OK);
            sqlite3_exec(
                db, "PRAGMA application_id=1364021844; PRAGMA user_version=9; CREATE TABLE t(x)",
                nullptr, nullptr, nullptr);
            sqlite3_close(db);
        } else if (before == QLatin1String("folder")) {
            // A folder where the file should be: nothing can be opened or
            // moved aside there.
            QVERIFY(QDir().mkpath(historyPath() + QStringLiteral("/x")));
        }

        Monitor::Overrides fakes;
        fakes.internetConnected = [] { return true; };
        fakes.watchConnection = false;
        fakes.now = [this] { return m_now; };
        Monitor *monitorSeen = nullptr;
        qsizetype waitingDuringCycle = -1;
        fakes.probe = [&](const ServiceTarget &target, const QString &, const ProbeSettings &,
                          std::function<bool()>) {
            if (target.host == QLatin1String("last"))
                waitingDuringCycle = monitorSeen->history()->pendingCount();
            ProbeResult r;
            r.connected = target.host != QLatin1String("gone");
            r.success = r.connected;
            r.resultCode = r.connected ? QStringLiteral("200") : QString();
            r.timing.answerUs = r.connected ? 25400 : -1;
            return r;
        };
        Monitor monitor(m_context, fakes);
        monitorSeen = &monitor;
        const QStringList services{"HTTP up 80", "FTP gone 21", "SMTP last 25"};
        monitor.setServiceListProvider([&] { return services; });
        QSignalSpy lines(&monitor, &Monitor::statusLine);
        QSignalSpy checked(&monitor, &Monitor::serviceChecked);
        QSignalSpy finished(&monitor, &Monitor::cycleFinished);

        monitor.pollNow();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(checked.size(), 3);
        // Nothing is written while the cycle runs; all of it at its end.
        QCOMPARE(waitingDuringCycle, qsizetype(2));
        const HistoryPoint up = checked.at(0).at(1).value<HistoryPoint>();
        QCOMPARE(checked.at(0).at(0).toString(), services.at(0));
        QCOMPARE(up, (HistoryPoint{m_now.toMSecsSinceEpoch(), 25, true}));
        QCOMPARE(checked.at(1).at(1).value<HistoryPoint>(),
                 (HistoryPoint{m_now.toMSecsSinceEpoch(), -1, false}));

        QStringList shown;
        for (const QList<QVariant> &line : lines)
            shown << line.at(0).toString();
        QCOMPARE(shown.filter(QStringLiteral("Success: ")).size(), 2);
        if (told.isEmpty()) {
            QCOMPARE(monitor.history()->pendingCount(), qsizetype(0));
            QVERIFY(!errorLog().contains("response time history"));
            QVERIFY(shown.filter(QStringLiteral("response time history")).isEmpty());
        } else {
            QVERIFY2(errorLog().contains(told.toUtf8()), errorLog().constData());
            QCOMPARE(shown.filter(told).size(), 1);
        }
        if (before == QLatin1String("folder")) {
            // Kept for the next cycle, bounded; told once.
            QCOMPARE(monitor.history()->pendingCount(), qsizetype(3));
            monitor.pollNow();
            QCOMPARE(finished.size(), 2);
            QCOMPARE(monitor.history()->pendingCount(), qsizetype(6));
            QCOMPARE(errorLog().count("response time history"), 1);
            QVERIFY(QDir(historyPath()).removeRecursively());
        } else {
            QCOMPARE(monitor.history()->figures(services.at(0), m_now.toMSecsSinceEpoch()).last,
                     up);
        }
        // What the program had not written yet goes in when it ends.
        m_now = m_now.addSecs(60);
        monitor.pollNow();
        QCOMPARE(finished.size(), before == QLatin1String("folder") ? 3 : 2);
    }
};

QTEST_GUILESS_MAIN(TestMonitorHistory)
#include "tst_monitorhistory.moc"
