// The program and both tools name the same version, the one the build was
// made from, on standard output with exit status 0.

#include "config/ProgramContext.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTest>

class TestVersions : public QObject {
    Q_OBJECT
private slots:
    void versionLine_data()
    {
        QTest::addColumn<QString>("programVariable");
        QTest::addColumn<QString>("flag");
        QTest::addColumn<QString>("expected");
        const QString version = ProgramContext::buildVersion();
        const QString tool = QStringLiteral("%1 (Quellmark) ") + version + QLatin1Char('\n');
        QTest::newRow("quellmark --version") << "QUELLMARK_APP" << "--version"
                                             << QStringLiteral("Quellmark ") + version + QLatin1Char('\n');
        QTest::newRow("quellmark -v") << "QUELLMARK_APP" << "-v"
                                      << QStringLiteral("Quellmark ") + version + QLatin1Char('\n');
        QTest::newRow("reg --version") << "QUELLMARK_REG" << "--version" << tool.arg("quellmark-reg");
        QTest::newRow("reg -v") << "QUELLMARK_REG" << "-v" << tool.arg("quellmark-reg");
        QTest::newRow("report --version") << "QUELLMARK_REPORT" << "--version" << tool.arg("quellmark-report");
        QTest::newRow("report -v") << "QUELLMARK_REPORT" << "-v" << tool.arg("quellmark-report");
    }
    void versionLine()
    {
        QFETCH(QString, programVariable);
        QFETCH(QString, flag);
        QFETCH(QString, expected);
        const QString program = qEnvironmentVariable(programVariable.toLatin1().constData());
        QVERIFY2(!program.isEmpty(), qPrintable(programVariable + " is not set"));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+")).match(ProgramContext::buildVersion()).hasMatch());
        QProcess process;
        // No display is needed for the version.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        process.setProcessEnvironment(environment);
        process.start(program, {flag});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()), expected);
        QCOMPARE(process.readAllStandardError(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestVersions)
#include "tst_versions.moc"
