// The statistics window through its widgets: the list of logs, the enabling
// of its options, the empty case and a log deleted after listing.

#include "TestSandbox.h"

#include "Dialogs.h"
#include "TfrmStats.h"

#include "stats/DowntimeStats.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

class TestStatsWindow : public QObject {
    Q_OBJECT

private:
    static void touch(const QString &path, const QByteArray &text = {})
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    // A log holding only its start record, for a window on a fixed clock.
    static void startLog(const QString &folder, const QString &entry)
    {
        touch(folder + entry + QStringLiteral(".log"), "8 Dec 2026 10:00:00:  Log start\r\n");
    }
    static void onFixedClock(TfrmStats &window, const QString &folder)
    {
        window.setProgramFolder(folder);
        window.setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(12, 0)); }, QLocale::c());
    }
    static QStringList listed(TfrmStats &w)
    {
        QStringList names;
        auto *list = w.findChild<QListWidget *>(QStringLiteral("LogList"));
        for (int i = 0; i < list->count(); ++i)
            names << list->item(i)->text();
        return names;
    }

private slots:
    void nothingToDo()
    {
        TestSandbox sandbox;
        QDir().mkpath(sandbox.programFolder());
        TfrmStats window;
        window.setProgramFolder(sandbox.programFolder());
        window.show();
        window.findChild<QCheckBox *>(QStringLiteral("chkCompareStats"))->click();
        QCOMPARE(window.reportText(), QStringLiteral("Nothing to do ... \n") + QString(35, QLatin1Char('-')));
    }

    void listSkipsErrorAndInstallLogs()
    {
        TestSandbox sandbox;
        const QString folder = sandbox.programFolder();
        QDir().mkpath(folder);
        for (const char *name : {"error.log", "install.log", "Error.LOG", "errors.log",
                                 "b(ftp).log", "A(http).log", "Zeta(http).log", "notes.txt"})
            touch(folder + QLatin1String(name));
        TfrmStats window;
        window.setProgramFolder(folder);
        window.show();
        // In the order prepared for it, without regard to case.
        QCOMPARE(listed(window), (QStringList{"A(http)", "b(ftp)", "errors", "Zeta(http)"}));
        QCOMPARE(window.findChild<QListWidget *>(QStringLiteral("LogList"))->currentRow(), 0);
    }

    // The arrow keys choose a log as a click does, and every way of choosing
    // builds the report exactly once.
    void choosingALogBuildsItsReport_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("gone");
        QTest::newRow("arrow down") << "down" << 1 << false;
        QTest::newRow("arrow down, log gone") << "down" << 1 << true;
        QTest::newRow("end key") << "end" << 2 << false;
        QTest::newRow("click on another") << "click" << 2 << false;
        QTest::newRow("click on another, log gone") << "click" << 2 << true;
        QTest::newRow("click on the selected") << "click" << 0 << false;
        QTest::newRow("click on the selected, log gone") << "click" << 0 << true;
        QTest::newRow("arrow down, then a click on it, log gone") << "down+click" << 1 << true;
    }
    void choosingALogBuildsItsReport()
    {
        QFETCH(QString, action);
        QFETCH(int, row);
        QFETCH(bool, gone);
        TestSandbox sandbox;
        const QString folder = sandbox.programFolder();
        QDir().mkpath(folder);
        const QStringList entries = {"a(http)", "b(http)", "c(http)"};
        for (const QString &entry : entries)
            startLog(folder, entry);
        QStringList messages;
        Dialogs::setResponder([&](Dialogs::Kind, const QString &text) {
            messages << text;
            return true;
        });
        TfrmStats window;
        onFixedClock(window, folder);
        window.show();
        auto *list = window.findChild<QListWidget *>(QStringLiteral("LogList"));
        QCOMPARE(list->currentRow(), 0);
        QVERIFY(window.reportText().isEmpty());
        list->setFocus();
        const QStringList steps = action.split(QLatin1Char('+'));
        for (const QString &step : steps) {
            // The log goes just before the last step, which must report it.
            if (gone && &step == &steps.last())
                QVERIFY(QFile::remove(folder + entries.at(row) + QStringLiteral(".log")));
            if (step == QLatin1String("down"))
                QTest::keyClick(list, Qt::Key_Down);
            else if (step == QLatin1String("end"))
                QTest::keyClick(list, Qt::Key_End);
            else
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                  list->visualItemRect(list->item(row)).center());
        }
        QCOMPARE(list->currentRow(), row);
        if (gone) {
            QCOMPARE(messages, QStringList{DowntimeStats::missingLogMessage()});
        } else {
            QVERIFY(messages.isEmpty());
            QVERIFY2(window.reportText().startsWith(entries.at(row).toUpper() +
                                                    QStringLiteral(" DOWN TIME STATS:\n")),
                     qPrintable(window.reportText()));
        }
        Dialogs::setResponder({});
    }

    // Restoring the window from minimised is no new showing: the list and
    // its selection stay. Shown again after being closed, it is refilled.
    void selectionAfterShowingAgain_data()
    {
        QTest::addColumn<bool>("minimise");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("count");
        QTest::newRow("restored from minimised") << true << 1 << 2;
        QTest::newRow("closed and shown again") << false << 0 << 3;
    }
    void selectionAfterShowingAgain()
    {
        QFETCH(bool, minimise);
        QFETCH(int, row);
        QFETCH(int, count);
        TestSandbox sandbox;
        const QString folder = sandbox.programFolder();
        QDir().mkpath(folder);
        startLog(folder, QStringLiteral("a(http)"));
        startLog(folder, QStringLiteral("b(http)"));
        TfrmStats window;
        onFixedClock(window, folder);
        window.show();
        auto *list = window.findChild<QListWidget *>(QStringLiteral("LogList"));
        list->setCurrentRow(1);
        startLog(folder, QStringLiteral("c(http)"));
        if (minimise) {
            window.showMinimized();
            window.showNormal();
        } else {
            window.close();
            window.show();
        }
        QVERIFY(window.isVisible());
        QCOMPARE(list->count(), count);
        QCOMPARE(list->currentRow(), row);
    }

    void compareEnablesAndDisables()
    {
        TestSandbox sandbox;
        QDir().mkpath(sandbox.programFolder());
        TfrmStats window;
        window.setProgramFolder(sandbox.programFolder());
        window.show();
        auto *compare = window.findChild<QCheckBox *>(QStringLiteral("chkCompareStats"));
        auto *showAll = window.findChild<QCheckBox *>(QStringLiteral("chkShowAll"));
        auto *allDowntimes = window.findChild<QCheckBox *>(QStringLiteral("chkShowAllDowntimes"));
        auto *list = window.findChild<QListWidget *>(QStringLiteral("LogList"));
        auto *period = window.findChild<QComboBox *>(QStringLiteral("cmbReports"));
        QCOMPARE(period->currentText(), QStringLiteral("All log"));
        QVERIFY(!showAll->isEnabled());
        compare->click();
        QVERIFY(!list->isEnabled());
        QVERIFY(!allDowntimes->isEnabled());
        QVERIFY(!showAll->isEnabled());
        period->setCurrentIndex(2);
        emit period->activated(2);
        QVERIFY(showAll->isEnabled());
        compare->click();
        QVERIFY(list->isEnabled());
        QVERIFY(!showAll->isEnabled());
    }

    void deletedLogIsReported()
    {
        TestSandbox sandbox;
        const QString folder = sandbox.programFolder();
        QDir().mkpath(folder);
        touch(folder + QStringLiteral("webhost(http).log"), "8 Dec 2026 10:00:00:  Log start\r\n");
        QStringList messages;
        Dialogs::setResponder([&](Dialogs::Kind, const QString &text) {
            messages << text;
            return true;
        });
        TfrmStats window;
        window.setProgramFolder(folder);
        window.setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(12, 0)); }, QLocale::c());
        window.show();
        auto *list = window.findChild<QListWidget *>(QStringLiteral("LogList"));
        window.LogListClick();
        QVERIFY(window.reportText().startsWith(QStringLiteral("WEBHOST(HTTP) DOWN TIME STATS:\n")));
        QVERIFY(window.reportText().contains(QStringLiteral("No down time logged since 8 Dec 2026 10:00:00")));
        QVERIFY(messages.isEmpty());
        QVERIFY(QFile::remove(folder + QStringLiteral("webhost(http).log")));
        emit list->itemClicked(list->item(0));
        QCOMPARE(messages, QStringList{QStringLiteral("The selected file does not exist. Please refresh the list.")});
        Dialogs::setResponder({});
    }

    // Export saves what the window shows: the file's ending or else the
    // chosen type decides the format; a file that cannot be written is told.
    void exportSavesTheReport_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("compare");
        QTest::addColumn<QString>("saved");
        QTest::addColumn<QByteArray>("begins");
        QTest::newRow("csv by ending") << "out.csv" << "JSON files (*.json)" << false << "out.csv"
                                       << QByteArray("record,service,month,");
        QTest::newRow("json by ending") << "out.JSON" << "CSV files (*.csv)" << true << "out.JSON"
                                        << QByteArray("{");
        QTest::newRow("json by type") << "out" << "JSON files (*.json)" << false << "out.json"
                                      << QByteArray("{");
        QTest::newRow("comparison as csv") << "cmp" << "CSV files (*.csv)" << true << "cmp.csv"
                                           << QByteArray("service,label,period_start,");
        QTest::newRow("folder missing") << "gone/out.csv" << "CSV files (*.csv)" << false
                                        << QString() << QByteArray();
    }
    void exportSavesTheReport()
    {
        QFETCH(QString, typed);
        QFETCH(QString, filter);
        QFETCH(bool, compare);
        QFETCH(QString, saved);
        QFETCH(QByteArray, begins);
        TestSandbox sandbox;
        const QString folder = sandbox.programFolder();
        QDir().mkpath(folder);
        touch(folder + QStringLiteral("webhost(http).log"),
              "8 Dec 2026 10:00:00:  Log start\r\n8 Dec 2026 10:05:00: went on error.\r\n"
              "8 Dec 2026 10:20:00: came off error.\r\n");
        const QString target = sandbox.root() + QStringLiteral("/export/");
        QVERIFY(QDir().mkpath(target));
        QStringList messages;
        Dialogs::setResponder([&](Dialogs::Kind, const QString &text) {
            messages << text;
            return true;
        });
        TfrmStats window;
        onFixedClock(window, folder);
        window.setSavePicker([&](QWidget *, const QString &start, const QString &filters, QString *chosen) {
            // Offered: both types, in a start file named after the report.
            if (!filters.contains(QLatin1String("*.csv")) || !filters.contains(QLatin1String("*.json")) ||
                !start.endsWith(compare ? QLatin1String("comparison.csv") : QLatin1String("webhost(http).csv")))
                return QString();
            *chosen = filter;
            return target + typed;
        });
        window.show();
        if (compare)
            window.findChild<QCheckBox *>(QStringLiteral("chkCompareStats"))->click();
        window.findChild<QPushButton *>(QStringLiteral("butExport"))->click();
        Dialogs::setResponder({});

        if (saved.isEmpty()) {
            QCOMPARE(messages.size(), 1);
            QVERIFY2(messages.first().startsWith(QStringLiteral("The report could not be saved to ")),
                     qPrintable(messages.first()));
            QCOMPARE(QDir(target).entryList(QDir::Files | QDir::Hidden), QStringList());
            return;
        }
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(QLatin1Char('\n'))));
        QCOMPARE(QDir(target).entryList(QDir::Files | QDir::Hidden), QStringList{saved});
        QFile file(target + saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY2(bytes.startsWith(begins), bytes.constData());
        QVERIFY(bytes.contains("webhost(http)"));
    }
};

QTEST_MAIN(TestStatsWindow)
#include "tst_statswindow.moc"
