// The statistics window through its widgets: the list of logs, the enabling
// of its options, the empty case and a log deleted after listing.

#include "TestSandbox.h"

#include "Dialogs.h"
#include "TfrmStats.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
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
        for (const char *name : {"error.log", "install.log", "Error.LOG", "errors.log", "b(ftp).log", "A(http).log",
                                 "notes.txt"})
            touch(folder + QLatin1String(name));
        TfrmStats window;
        window.setProgramFolder(folder);
        window.show();
        QCOMPARE(listed(window), (QStringList{"A(http)", "b(ftp)", "errors"}));
        QCOMPARE(window.findChild<QListWidget *>(QStringLiteral("LogList"))->currentRow(), 0);
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
};

QTEST_MAIN(TestStatsWindow)
#include "tst_statswindow.moc"
