// Which sound "System beep" takes from the freedesktop sound theme.

#include "platform/BellSound.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestBellSound : public QObject {
    Q_OBJECT
private slots:
    // Files are "<folder index>:<name>"; the answer is one of them or empty.
    void lookup_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("no theme") << QStringList{} << "";
        QTest::newRow("bell") << QStringList{"0:bell.oga", "0:dialog-warning.oga"} << "0:bell.oga";
        QTest::newRow("warning only") << QStringList{"1:dialog-warning.oga"} << "1:dialog-warning.oga";
        QTest::newRow("bell in a later folder beats an earlier warning")
            << QStringList{"0:dialog-warning.oga", "1:bell.oga"} << "1:bell.oga";
        QTest::newRow("earlier folder first") << QStringList{"0:bell.oga", "1:bell.oga"} << "0:bell.oga";
        QTest::newRow("wav variant") << QStringList{"1:bell.wav"} << "1:bell.wav";
        QTest::newRow("other sounds are no bell") << QStringList{"0:message.oga", "0:bell.mp3"} << "";
    }
    void lookup()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, chosen);
        QTemporaryDir root;
        const QStringList folders = {root.path() + "/user", root.path() + "/system"};
        const auto pathOf = [&](const QString &entry) {
            return folders.at(entry.section(':', 0, 0).toInt()) + "/sounds/freedesktop/stereo/" +
                   entry.section(':', 1);
        };
        for (const QString &entry : files) {
            QVERIFY(QDir().mkpath(QFileInfo(pathOf(entry)).path()));
            QFile file(pathOf(entry));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QCOMPARE(themeBellSound(folders), chosen.isEmpty() ? QString() : pathOf(chosen));
    }
};

QTEST_GUILESS_MAIN(TestBellSound)
#include "tst_bellsound.moc"
