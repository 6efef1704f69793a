// Starting programs from a command line: word splitting, arguments, the
// error text, and that none of our descriptors reach the child.

#include "TestSandbox.h"

#include "alerts/ProgramLauncher.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

class TestProgramLauncher : public QObject {
    Q_OBJECT
private slots:
    void split_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<bool>("ok");
        QTest::newRow("plain") << "prog a b" << QStringList{"prog", "a", "b"} << true;
        QTest::newRow("runs of blanks") << "  prog \t a  " << QStringList{"prog", "a"} << true;
        QTest::newRow("unquoted blank splits")
            << "/opt/my tool/run x" << QStringList{"/opt/my", "tool/run", "x"} << true;
        QTest::newRow("double quotes")
            << "\"/opt/my tool/run\" x" << QStringList{"/opt/my tool/run", "x"} << true;
        QTest::newRow("single quotes literal")
            << "echo '$HOME \\n'" << QStringList{"echo", "$HOME \\n"} << true;
        QTest::newRow("escape in double quotes")
            << "say \"a \\\"b\\\" \\x\"" << QStringList{"say", "a \"b\" \\x"} << true;
        QTest::newRow("backslash blank") << "a\\ b c" << QStringList{"a b", "c"} << true;
        QTest::newRow("empty quoted word") << "prog \"\"" << QStringList{"prog", ""} << true;
        QTest::newRow("no expansion")
            << "echo $PATH *" << QStringList{"echo", "$PATH", "*"} << true;
        QTest::newRow("unterminated") << "prog \"abc" << QStringList{"prog", "abc"} << false;
        QTest::newRow("empty") << "" << QStringList{} << true;
    }
    void split()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, words);
        QFETCH(bool, ok);
        bool parsed = !ok;
        QCOMPARE(splitCommandLine(line, &parsed), words);
        QCOMPARE(parsed, ok);
    }

    void startsProgramWithArguments()
    {
        TestSandbox sandbox;
        const QString out = sandbox.root() + QStringLiteral("/out file.txt");
        LaunchProgram(
            QStringLiteral("sh -c 'printf \"%s|%s\" \"$0\" \"$1\" > \"$2\"' one 'two words' '") +
                out + QLatin1Char('\''),
            QString(), true);
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("one|two words"));
    }

    void workingFolderAndNoWait()
    {
        TestSandbox sandbox;
        LaunchProgram(QStringLiteral("touch marker"), sandbox.root(), false);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(sandbox.root() + QStringLiteral("/marker")), 5000);
    }

    void missingProgramGivesOneError_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "/no/such/program --x"
                                 << "Create Process Error #2: No such file or directory";
        QTest::newRow("empty") << ""
                               << "Create Process Error #2: No such file or directory";
        QTest::newRow("blank") << "   "
                               << "Create Process Error #2: No such file or directory";
        QTest::newRow("not on PATH") << "quellmark-no-such-tool"
                                     << "Create Process Error #2: No such file or directory";
        QTest::newRow("unterminated quote") << "sh \"-c"
                                            << "Create Process Error #22: Invalid argument";
    }
    void missingProgramGivesOneError()
    {
        QFETCH(QString, line);
        QFETCH(QString, message);
        try {
            LaunchProgram(line);
            QFAIL("no error");
        } catch (const LaunchError &error) {
            QCOMPARE(error.message(), message);
        }
    }

    // A script without "#!" runs with /bin/sh, by path or found on PATH,
    // with its arguments; a file that is not executable keeps the error.
    void scriptWithoutInterpreterLine_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("onPath");
        QTest::addColumn<bool>("executable");
        QTest::addColumn<QString>("message");
        QTest::newRow("by path") << "'%1/my scripts/alert.sh' one 'two words'" << false << true
                                 << QString();
        QTest::newRow("on PATH") << "alert.sh one 'two words'" << true << true << QString();
        QTest::newRow("not executable") << "'%1/my scripts/alert.sh' one" << false << false
                                        << "Create Process Error #13: Permission denied";
    }
    void scriptWithoutInterpreterLine()
    {
        QFETCH(QString, line);
        QFETCH(bool, onPath);
        QFETCH(bool, executable);
        QFETCH(QString, message);
        TestSandbox sandbox;
        const QString folder = sandbox.root() + QStringLiteral("/my scripts");
        QVERIFY(QDir().mkpath(folder));
        const QString marker = sandbox.root() + QStringLiteral("/marker");
        QFile script(folder + QStringLiteral("/alert.sh"));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("printf '%s|%s|%s' \"$0\" \"$1\" \"$2\" > '" + QFile::encodeName(marker) +
                     "'\n");
        script.close();
        QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner;
        if (executable)
            mode |= QFile::ExeOwner;
        QVERIFY(script.setPermissions(mode));

        const QByteArray oldPath = qgetenv("PATH");
        if (onPath)
            qputenv("PATH", QFile::encodeName(folder) + ':' + oldPath);
        QString error;
        try {
            LaunchProgram(line.arg(sandbox.root()), QString(), true);
        } catch (const LaunchError &e) {
            error = e.message();
        }
        qputenv("PATH", oldPath);
        QCOMPARE(error, message);
        if (!message.isEmpty())
            return;
        QFile file(marker);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QFile::encodeName(script.fileName()) + "|one|two words");
    }

    void noDescriptorLeaksIntoTheChild()
    {
        TestSandbox sandbox;
        // A descriptor without close-on-exec, as a careless library might leave.
        const QByteArray path = QFile::encodeName(sandbox.root() + QStringLiteral("/held"));
        const int fd = ::open(path.constData(), O_CREAT | O_RDWR, 0600);
        QVERIFY(fd > 2);
        const QString result = sandbox.root() + QStringLiteral("/result");
        LaunchProgram(
            QStringLiteral(
                "sh -c 'if [ -e /proc/self/fd/%1 ]; then echo leaked; else echo clean; fi > %2'")
                .arg(fd)
                .arg(result),
            QString(), true);
        ::close(fd);
        QFile file(result);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().trimmed(), QByteArray("clean"));
    }
};

QTEST_GUILESS_MAIN(TestProgramLauncher)
#include "tst_programlauncher.moc"
