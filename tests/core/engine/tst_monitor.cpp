// The monitor as its windows and the D-Bus adaptor see it: a poll's lines
// and its on-error list come out as signals, and an exit asked for while an
// e-mail is on its way waits for it.

#include "TestSandbox.h"

#include "config/ProgramContext.h"
#include "config/RegistryStore.h"
#include "engine/Monitor.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

class TestMonitor : public QObject {
    Q_OBJECT
private slots:
    void pollExitAndAMailInFlight()
    {
        TestSandbox sandbox;
        RegistryStore store(sandbox.storePath());
        RegistryStore::setCurrent(&store);
        const ProgramContext context = ProgramContext::create(false, sandbox.programFolder());
        QDir().mkpath(context.programFolder);
        Monitor::Overrides fakes;
        fakes.internetConnected = [] { return true; };
        fakes.probe = [](const ServiceTarget &target, const QString &, const ProbeSettings &, std::function<bool()>) {
            ProbeResult r;
            r.connected = true;
            r.success = target.host == QLatin1String("up");
            r.resultCode = r.success ? QStringLiteral("200") : QStringLiteral("503");
            return r;
        };
        Monitor monitor(context, fakes);
        monitor.setServiceListProvider([] { return QStringList{"HTTP up 80", "HTTP down 80"}; });
        QSignalSpy lines(&monitor, &Monitor::statusLine);
        QSignalSpy onError(&monitor, &Monitor::onErrorListChanged);
        QSignalSpy finished(&monitor, &Monitor::cycleFinished);
        QSignalSpy ready(&monitor, &Monitor::exitReady);

        monitor.pollNow();
        QCOMPARE(finished.size(), 1);
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(1).at(0).toString(), QStringLiteral("Success: http: up/ (200)"));
        QCOMPARE(lines.at(2).at(0).toString(), "Failed: http: down/ (503) went on error" + PollCycle::marker());
        QCOMPARE(onError.size(), 1);
        QCOMPARE(onError.at(0).at(0).toStringList(), QStringList{"http:down/"});
        QCOMPARE(monitor.pollsHandled(), 1);

        // While an e-mail is on its way a poll waits, and so does the end.
        monitor.setMailInFlight(true);
        monitor.pollNow();
        QCOMPARE(monitor.pollsHandled(), 1);
        monitor.requestExit();
        QCOMPARE(ready.size(), 0);
        monitor.setMailInFlight(false);
        QTRY_COMPARE(ready.size(), 1);
        // Nothing starts on a program on its way out.
        QTest::qWait(10);
        monitor.pollNow();
        QCOMPARE(monitor.pollsHandled(), 1);
        RegistryStore::setCurrent(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestMonitor)
#include "tst_monitor.moc"
