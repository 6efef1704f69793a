// Every page of the main window renders with its controls' captions. With
// QM_SHOT_DIR set, each page is also saved as a PNG for a look by eye.

#include "StoreFixture.h"

#include "TfrmMain.h"

#include "config/ProgramContext.h"
#include "config/RegistryStore.h"

#include <QAbstractButton>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>
#include <QTest>

#include <memory>

class TestPages : public QObject {
    Q_OBJECT
private slots:
    void pagesShowTheirCaptions_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("captions");
        QTest::newRow("General") << "General"
                                 << QStringList{"Visual Alert", "Timer ON at startup", "Start minimized",
                                                "Launch at Windows startup", "Poll frequency (mins)",
                                                "Poll frequency when on error (mins)", "Connection timeout (secs)",
                                                "Poll timeout (mins)",
                                                "Launch application on \"no internet connection\" after",
                                                "failures", "Keep repeating", "Connectivity status:"};
        QTest::newRow("Sites") << "Sites" << QStringList{};
        QTest::newRow("Misc") << "Misc"
                              << QStringList{" HTTP Proxy ", "Use Proxy", "Server domain or IP", "Port",
                                             " SMTP (for sending email) ", "Server", "From",
                                             "Require authentication", "User", "Password", "Security",
                                             " Backup ", "Directory", "Backup", "Restore",
                                             " Metrics for Prometheus ", "Folder", "Serve /metrics on"};
        QTest::newRow("About") << "About" << QStringList{"Quellmark", "Check for updates"};
    }

    void pagesShowTheirCaptions()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, captions);
        StoreFixture fixture;
        {
            TfrmMain window(fixture.context());
            auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("PageControl"));
            int index = -1;
            for (int i = 0; i < tabs->count(); ++i) {
                if (tabs->tabText(i) == page)
                    index = i;
            }
            QVERIFY(index >= 0);
            tabs->setCurrentIndex(index);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));

            QStringList shown;
            for (const QLabel *label : tabs->widget(index)->findChildren<QLabel *>())
                shown << label->text();
            for (const QAbstractButton *button : tabs->widget(index)->findChildren<QAbstractButton *>())
                shown << button->text();
            for (const QGroupBox *group : tabs->widget(index)->findChildren<QGroupBox *>())
                shown << group->title();
            for (const QString &caption : captions)
                QVERIFY2(shown.contains(caption), qPrintable(caption));

            const QPixmap picture = window.grab();
            QVERIFY(!picture.isNull());
            const QString dir = qEnvironmentVariable("QM_SHOT_DIR");
            if (!dir.isEmpty()) {
                QDir().mkpath(dir);
                QVERIFY(picture.save(dir + QStringLiteral("/page-") + page + QStringLiteral(".png")));
            }
        }
    }
};

QTEST_MAIN(TestPages)
#include "tst_pages.moc"
