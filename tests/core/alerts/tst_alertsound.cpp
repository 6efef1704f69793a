// The sound alert: which beeps and files a service's settings give.

#include "TestSandbox.h"

#include "alerts/AlertSound.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {
class RecordingOutput : public SoundOutput {
public:
    QStringList events;
    void beep() override { events << QStringLiteral("beep"); }
    void playFile(const QString &path) override { events << QStringLiteral("play ") + path; }
};
const QString Services = QStringLiteral("Software\\Kestrin Software\\Quellmark\\Services");
const QString Name = QStringLiteral("HTTP webhost 80");
} // namespace

class TestAlertSound : public QObject {
    Q_OBJECT
private slots:
    void sounds_data()
    {
        QTest::addColumn<QVariant>("beep");        // invalid: not stored
        QTest::addColumn<QVariant>("sound");
        QTest::addColumn<QString>("onErrorFile");  // "" not stored, "missing" a path that does not exist
        QTest::addColumn<bool>("onError");
        QTest::addColumn<QStringList>("expected"); // "DEFAULT_ON"/"DEFAULT_OFF"/"CUSTOM" placeholders
        QTest::newRow("defaults on error") << QVariant() << QVariant() << "" << true << QStringList{"play DEFAULT_ON"};
        QTest::newRow("defaults off error") << QVariant() << QVariant() << "" << false << QStringList{"play DEFAULT_OFF"};
        QTest::newRow("beep and sound") << QVariant(true) << QVariant(true) << "" << true << QStringList{"beep", "play DEFAULT_ON"};
        QTest::newRow("beep without sound") << QVariant(true) << QVariant(false) << "" << true << QStringList{"beep"};
        QTest::newRow("nothing") << QVariant(false) << QVariant(false) << "" << true << QStringList{};
        QTest::newRow("own file") << QVariant() << QVariant() << "custom" << true << QStringList{"play CUSTOM"};
        QTest::newRow("missing file is skipped") << QVariant(true) << QVariant() << "missing" << true << QStringList{"beep"};
    }
    void sounds()
    {
        QFETCH(QVariant, beep);
        QFETCH(QVariant, sound);
        QFETCH(QString, onErrorFile);
        QFETCH(bool, onError);
        QFETCH(QStringList, expected);
        TestSandbox sandbox;
        RegistryStore store(sandbox.storePath());
        RegistryStore::setCurrent(&store);
        const QString folder = sandbox.programFolder();
        QDir().mkpath(folder);
        const QString custom = folder + QStringLiteral("custom.wav");
        for (const QString &path : {folder + QStringLiteral("OnError.wav"), folder + QStringLiteral("OffError.wav"), custom}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        const QString key = Services + QLatin1Char('\\') + Name;
        if (beep.isValid())
            RegWriteBool(key, QStringLiteral("BeepAlert"), beep.toBool());
        if (sound.isValid())
            RegWriteBool(key, QStringLiteral("SoundAlert"), sound.toBool());
        if (onErrorFile == QLatin1String("custom"))
            RegWriteString(key, QStringLiteral("OnErrorSoundName"), custom);
        if (onErrorFile == QLatin1String("missing"))
            RegWriteString(key, QStringLiteral("OnErrorSoundName"), folder + QStringLiteral("gone.wav"));

        RecordingOutput output;
        PlayAlertSound(Services, Name, onError, folder, output);
        QStringList want;
        for (QString e : expected) {
            e.replace(QStringLiteral("DEFAULT_ON"), folder + QStringLiteral("OnError.wav"));
            e.replace(QStringLiteral("DEFAULT_OFF"), folder + QStringLiteral("OffError.wav"));
            e.replace(QStringLiteral("CUSTOM"), custom);
            want << e;
        }
        QCOMPARE(output.events, want);
        RegistryStore::setCurrent(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestAlertSound)
#include "tst_alertsound.moc"
