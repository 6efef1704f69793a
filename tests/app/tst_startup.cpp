// Start-up and exit of the real program: single instance per mode, the test
// root, the error log size rule, the values start-up writes, and the window
// position surviving Exit through SIGTERM.

#include "AppProcess.h"
#include "TestSandbox.h"

#include "config/LastGoodCopy.h"
#include "config/RegistryStore.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <memory>

#include <sys/stat.h>

namespace {
const QString Root = QStringLiteral("Software\\Kestrin Software\\Quellmark");
const QString TestRoot = QStringLiteral("Software\\Kestrin Software\\QuellmarkTest");
} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    std::unique_ptr<RegistryStore> store()
    {
        return std::make_unique<RegistryStore>(m_sandbox->storePath());
    }

private slots:
    void init() { m_sandbox = std::make_unique<TestSandbox>(); }
    void cleanup() { m_sandbox.reset(); }

    void firstStartWritesOnlyWhatLoadingChanges()
    {
        AppProcess app;
        QVERIFY(app.start());
        {
            auto s = store();
            QVERIFY(s->keyExists(Root + QStringLiteral("\\Services")));
            // With an empty store only the proxy port differs from its
            // control's initial state (8088 shown, 0 stored).
            QCOMPARE(s->valueNames(Root), QStringList{QStringLiteral("HttpProxyPort")});
            QCOMPARE(s->value(Root, QStringLiteral("HttpProxyPort"))->toDWord(), 0);
            QVERIFY(!s->keyExists(TestRoot));
        }
        QVERIFY(app.terminate());
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        auto s = store();
        // Exit went through the orderly path: the position and selection were saved.
        QVERIFY(s->value(Root, QStringLiteral("Top")).has_value());
        QVERIFY(s->value(Root, QStringLiteral("Left")).has_value());
        QCOMPARE(s->value(Root, QStringLiteral("LastService"))->toDWord(), -1);
        QVERIFY(QFile::exists(m_sandbox->programFolder() + QStringLiteral("debug")));
        QVERIFY(QFile::exists(m_sandbox->programFolder() + QStringLiteral("OnError.wav")));
        QVERIFY(QFile::exists(m_sandbox->programFolder() + QStringLiteral("OffError.wav")));
    }

    void storedValuesAreClampedAndWrittenBack()
    {
        {
            auto s = store();
            s->setValue(Root, QStringLiteral("NormalConnectionFreq"), RegValue::fromDWord(0));
            s->setValue(Root, QStringLiteral("ConnectionTimeout"), RegValue::fromDWord(5000));
            s->setValue(Root, QStringLiteral("ErrorConnectionFreq"), RegValue::fromDWord(15));
        }
        AppProcess app;
        QVERIFY(app.start());
        {
            auto s = store();
            QCOMPARE(s->value(Root, QStringLiteral("NormalConnectionFreq"))->toDWord(), 1);
            QCOMPARE(s->value(Root, QStringLiteral("ConnectionTimeout"))->toDWord(), 600);
            QCOMPARE(s->value(Root, QStringLiteral("ErrorConnectionFreq"))->toDWord(), 15);
        }
        QVERIFY(app.terminate());
    }

    void secondStartInSameModeEndsAtOnce_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("normal") << QStringList{};
        QTest::newRow("test") << QStringList{QStringLiteral("test")};
    }

    void secondStartInSameModeEndsAtOnce()
    {
        QFETCH(QStringList, arguments);
        AppProcess first(arguments);
        QVERIFY(first.start());
        const QString root = arguments.isEmpty() ? Root : TestRoot;
        const qint32 before = store()->value(root, QStringLiteral("HttpProxyPort"))->toDWord();
        store()->setValue(root, QStringLiteral("HttpProxyPort"), RegValue::fromDWord(before + 7));

        QElapsedTimer clock;
        clock.start();
        AppProcess second(arguments);
        QVERIFY(!second.start(5000)); // never reports being up
        second.waitForFinished(5000);
        QCOMPARE(second.process().state(), QProcess::NotRunning);
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(clock.elapsed() < 5000);
        // The second instance loaded nothing and wrote nothing back.
        QCOMPARE(store()->value(root, QStringLiteral("HttpProxyPort"))->toDWord(), before + 7);
        QVERIFY(first.terminate());
    }

    // Help, version and a wrong option are answered without a display and
    // without touching the settings.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("--help") << QStringList{"--help"} << 0 << "Usage: quellmark [options] [test]" << "";
        QTest::newRow("-h test") << QStringList{"test", "-h"} << 0 << "-v, --version" << "";
        QTest::newRow("--version") << QStringList{"--version"} << 0 << "Quellmark 1.0.0.1\n" << "";
        QTest::newRow("unknown") << QStringList{"--frobnicate"} << 2 << ""
                                 << "quellmark: Unknown option 'frobnicate'.\nTry 'quellmark --help'";
    }
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        process.setProcessEnvironment(environment);
        process.start(AppProcess::programPath(), arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), exitCode);
        const QString stdOut = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString stdErr = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(out.isEmpty() ? stdOut.isEmpty() : stdOut.contains(out), qPrintable(stdOut));
        QVERIFY2(err.isEmpty() ? stdErr.isEmpty() : stdErr.startsWith(err), qPrintable(stdErr));
        QVERIFY(!QFile::exists(m_sandbox->storePath()));
    }

    void testAndNormalModeRunSideBySide()
    {
        AppProcess normal;
        AppProcess test(QStringList{QStringLiteral("TEST")});
        QVERIFY(normal.start());
        QVERIFY(test.start());
        auto s = store();
        QVERIFY(s->keyExists(Root + QStringLiteral("\\Services")));
        QVERIFY(s->keyExists(TestRoot + QStringLiteral("\\Services")));
        s.reset();
        QVERIFY(normal.terminate());
        QVERIFY(test.terminate());
        QCOMPARE(normal.exitCode(), 0);
        QCOMPARE(test.exitCode(), 0);
    }

    void errorLogSizeRule_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("kept");
        QTest::newRow("100000 stays") << 100000 << true;
        QTest::newRow("100001 deleted") << 100001 << false;
        QTest::newRow("empty stays") << 0 << true;
    }

    void errorLogSizeRule()
    {
        QFETCH(int, size);
        QFETCH(bool, kept);
        QDir().mkpath(m_sandbox->programFolder());
        const QString log = m_sandbox->programFolder() + QStringLiteral("error.log");
        {
            QFile file(log);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(size, 'x'));
        }
        AppProcess app;
        QVERIFY(app.start());
        QCOMPARE(QFile::exists(log), kept);
        QVERIFY(app.terminate());
    }

    // At start the settings folder and store become private, leftovers of
    // saves a crash cut short go, and a last good copy of the store is kept.
    void startTightensSweepsAndKeepsACopy()
    {
        store()->setValue(Root, QStringLiteral("SmtpPass"),
                          RegValue::fromString(QStringLiteral("secret")));
        const QByteArray config = QFile::encodeName(QFileInfo(m_sandbox->storePath()).path());
        QVERIFY(::chmod(config.constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(m_sandbox->storePath()).constData(), 0644) == 0);
        QDir().mkpath(m_sandbox->programFolder());
        const QStringList left = {QStringLiteral(".quellmark-log-k1f2.tmp"),
                                  QStringLiteral(".quellmark-notes")};
        for (const QString &name : left) {
            QFile file(m_sandbox->programFolder() + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const LastGoodCopy copy(m_sandbox->storePath());
        QVERIFY(!copy.exists());

        AppProcess app;
        QVERIFY(app.start());
        QVERIFY(!QFile::exists(m_sandbox->programFolder() + left.at(0)));
        QVERIFY(QFile::exists(m_sandbox->programFolder() + left.at(1)));
        const auto mode = [](const QString &path) {
            struct stat status {};
            ::stat(QFile::encodeName(path).constData(), &status);
            return status.st_mode & 0777;
        };
        QCOMPARE(mode(QFile::decodeName(config)), mode_t(0700));
        QCOMPARE(mode(m_sandbox->storePath()), mode_t(0600));
        QTRY_VERIFY_WITH_TIMEOUT(copy.exists(), 15000);
        QCOMPARE(mode(copy.path()), mode_t(0600));
        QCOMPARE(RegistryStore(copy.path()).value(Root, QStringLiteral("SmtpPass")),
                 RegValue::fromString(QStringLiteral("secret")));
        QVERIFY(app.terminate());
    }

    void positionSurvivesExitBySignal()
    {
        store()->setValue(Root, QStringLiteral("Top"), RegValue::fromDWord(234));
        store()->setValue(Root, QStringLiteral("Left"), RegValue::fromDWord(321));
        store()->setValue(Root, QStringLiteral("LastService"), RegValue::fromDWord(7));
        for (int run = 0; run < 2; ++run) {
            AppProcess app;
            QVERIFY(app.start());
            QVERIFY(app.terminate());
            QCOMPARE(app.exitCode(), 0);
            auto s = store();
            QCOMPARE(s->value(Root, QStringLiteral("Top"))->toDWord(), 234);
            QCOMPARE(s->value(Root, QStringLiteral("Left"))->toDWord(), 321);
            // Index 7 selected nothing in an empty list, and exit saved that.
            QCOMPARE(s->value(Root, QStringLiteral("LastService"))->toDWord(), -1);
        }
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
