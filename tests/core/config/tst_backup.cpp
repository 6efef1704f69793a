#include "config/Backup.h"
#include "config/BackupError.h"
#include "config/BackupRestart.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"

#include "support/StoreFixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QtTest>

#include <memory>

static const QString NormalRoot = QStringLiteral("Software\\Kestrin Software\\Quellmark");
static const QString TestRoot = QStringLiteral("Software\\Kestrin Software\\QuellmarkTest");

static QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

static void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

static QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}

// Every key below root with its values, one line each, for whole-tree
// comparisons.
static QStringList dumpTree(const RegistryStore &store, const QString &root)
{
    QStringList lines;
    if (!store.keyExists(root))
        return lines;
    QStringList keys{root};
    for (qsizetype i = 0; i < keys.size(); ++i) {
        lines << QLatin1Char('[') + keys.at(i) + QLatin1Char(']');
        for (const QString &name : store.valueNames(keys.at(i))) {
            const RegValue v = store.value(keys.at(i), name).value();
            lines << name + QLatin1Char('=') + QString::number(int(v.type)) + QLatin1Char(':') +
                         QString::fromLatin1(v.data.toHex());
        }
        for (const QString &sub : store.subkeyNames(keys.at(i)))
            keys << keys.at(i) + QLatin1Char('\\') + sub;
    }
    return lines;
}

class TestBackup : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> m_fixture;
    QString m_program;
    QStringList m_questions;
    QStringList m_errors;
    QStringList m_infos;
    int m_beeps = 0;
    int m_restarts = 0;
    bool m_answer = true;

    BackupCallbacks callbacks()
    {
        BackupCallbacks c;
        c.confirmEmptying = [this](const QString &q) {
            m_questions << q;
            return m_answer;
        };
        c.confirmRestore = c.confirmEmptying;
        c.reportError = [this](const QString &m) { m_errors << m; };
        c.inform = [this](const QString &m) { m_infos << m; };
        c.beep = [this] { ++m_beeps; };
        c.restart = [this] { ++m_restarts; };
        return c;
    }
    QString path(const QString &relative) const
    {
        return m_fixture->sandbox().root() + '/' + relative;
    }
    QStringList emailPaths() const { return {m_program + QStringLiteral("email")}; }

    // A configuration with a global value of each kind, one service and two
    // templates, one of them in a subfolder.
    void seed(const QString &root)
    {
        RegWriteInteger(root, QStringLiteral("NormalConnectionFreq"), 60);
        RegWriteString(root, QStringLiteral("SmtpServer"), QStringLiteral("mailhost"));
        RegWriteString(root + QStringLiteral("\\Services\\HTTP webhost 80"),
                       QStringLiteral("Pattern"), QStringLiteral("Welcome"));
        RegWriteInteger(root + QStringLiteral("\\Services\\HTTP webhost 80"),
                        QStringLiteral("ActualFailures"), 0);
        writeFile(m_program + QStringLiteral("email/OnError.txt"), "saved on");
        writeFile(m_program + QStringLiteral("email/old/Off.txt"), "saved off");
    }

private slots:
    void init()
    {
        m_fixture = std::make_unique<StoreFixture>();
        m_program = m_fixture->sandbox().programFolder();
        QDir().mkpath(m_program);
        m_questions.clear();
        m_errors.clear();
        m_infos.clear();
        m_beeps = 0;
        m_restarts = 0;
        m_answer = true;
    }

    void cleanup() { m_fixture.reset(); }

    void backupIntoMissingFolderCreatesItWithParents()
    {
        seed(NormalRoot);
        const QString folder = path(QStringLiteral("deep/er/Backup"));
        QVERIFY(DoBackup(folder, NormalRoot, emailPaths(), callbacks()));

        QCOMPARE(entriesOf(folder), QStringList({"email", "registry.cfg"}));
        QCOMPARE(readAll(folder + "/email/OnError.txt"), QByteArray("saved on"));
        QCOMPARE(readAll(folder + "/email/old/Off.txt"), QByteArray("saved off"));
        const QByteArray cfg = readAll(folder + "/registry.cfg");
        QVERIFY(cfg.startsWith("[\\Software\\Kestrin Software\\Quellmark]\r\n"));
        QVERIFY(cfg.contains("SmtpServerstr=mailhost\r\n"));
        QVERIFY(cfg.contains("[\\Software\\Kestrin Software\\Quellmark\\Services\\HTTP webhost "
                             "80]\r\nPatternstr=Welcome\r\n"));
        QCOMPARE(m_questions, QStringList());
        QCOMPARE(m_errors, QStringList());
        QCOMPARE(m_beeps, 1);
    }

    void withoutTemplatesOnlyTheSettingsAreSaved()
    {
        RegWriteInteger(NormalRoot, QStringLiteral("NormalConnectionFreq"), 60);
        const QString folder = path(QStringLiteral("Backup/"));
        QVERIFY(DoBackup(folder, NormalRoot, emailPaths() << QStringLiteral("  "), callbacks()));
        QCOMPARE(entriesOf(folder), QStringList({"registry.cfg"}));
    }

    void secondBackupLeavesOneSet_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("user confirms emptying") << true;
        QTest::newRow("user declines") << false;
    }

    void secondBackupLeavesOneSet()
    {
        QFETCH(bool, confirm);
        seed(NormalRoot);
        const QString folder = path(QStringLiteral("Backup")) + '/';
        QVERIFY(DoBackup(folder, NormalRoot, emailPaths(), callbacks()));
        // A folder holding only a set is replaced without a question, and the
        // export starts from an empty file, not appended to the old one.
        QVERIFY(DoBackup(folder, NormalRoot, emailPaths(), callbacks()));
        QCOMPARE(m_questions, QStringList());
        const QByteArray firstSet = readAll(folder + "registry.cfg");
        QCOMPARE(firstSet.count("[\\Software\\Kestrin Software\\Quellmark]"), 1);

        writeFile(folder + "notes.txt", "mine");
        writeFile(folder + "photos/a.jpg", "jpg");
        RegWriteString(NormalRoot, QStringLiteral("SmtpServer"), QStringLiteral("newhost"));
        m_answer = confirm;
        QCOMPARE(DoBackup(folder, NormalRoot, emailPaths(), callbacks()), confirm);
        QCOMPARE(m_questions,
                 QStringList(QStringLiteral("The backup folder \"%1\" holds entries that are not "
                                            "part of a backup, such as \"notes.txt\". A backup "
                                            "deletes everything in this folder.\n\nDo you want "
                                            "to continue?")
                                 .arg(folder)));
        if (confirm) {
            QCOMPARE(entriesOf(folder), QStringList({"email", "registry.cfg"}));
            QVERIFY(readAll(folder + "registry.cfg").contains("SmtpServerstr=newhost\r\n"));
            QCOMPARE(m_beeps, 3);
        } else {
            QCOMPARE(entriesOf(folder),
                     QStringList({"email", "notes.txt", "photos", "registry.cfg"}));
            QCOMPARE(readAll(folder + "registry.cfg"), firstSet);
            QCOMPARE(m_beeps, 2);
        }
    }

    void unusableBackupFolderIsRefused_data()
    {
        QTest::addColumn<bool>("emptyField");
        QTest::newRow("empty field") << true;
        QTest::newRow("a file stands in the way") << false;
    }

    void unusableBackupFolderIsRefused()
    {
        QFETCH(bool, emptyField);
        seed(NormalRoot);
        QString folder;
        if (!emptyField) {
            folder = path(QStringLiteral("plainfile"));
            writeFile(folder, "data");
        }
        try {
            DoBackup(folder, NormalRoot, emailPaths(), callbacks());
            QFAIL("no error");
        } catch (const BackupError &error) {
            QCOMPARE(error.message(), QStringLiteral("Unable to create directory"));
        }
        QCOMPARE(m_beeps, 0);
        if (!emptyField)
            QCOMPARE(readAll(folder), QByteArray("data"));
        QVERIFY(!QFileInfo::exists(QStringLiteral("registry.cfg")));
    }

    void restoreBringsBackTheSavedConfiguration()
    {
        seed(NormalRoot);
        const QString folder = path(QStringLiteral("Backup/"));
        QVERIFY(DoBackup(folder, NormalRoot, emailPaths(), callbacks()));
        const QStringList saved = dumpTree(m_fixture->store(), NormalRoot);
        writeFile(folder + "readme.txt", "copied back too");

        // Wreck it: changed values, a new value, a new service, edited and
        // new templates.
        RegWriteInteger(NormalRoot, QStringLiteral("NormalConnectionFreq"), 5);
        RegWriteString(NormalRoot, QStringLiteral("SmtpServer"), QStringLiteral("other"));
        RegWriteBool(NormalRoot, QStringLiteral("UseProxy"), true);
        RegWriteString(NormalRoot + QStringLiteral("\\Services\\FTP ftphost 21"),
                       QStringLiteral("Pattern"), QString());
        RegWriteInteger(NormalRoot + QStringLiteral("\\Services\\HTTP webhost 80"),
                        QStringLiteral("ActualFailures"), 7);
        writeFile(m_program + "email/OnError.txt", "changed");
        writeFile(m_program + "email/Mine.txt", "only in the program folder");

        m_beeps = 0;
        QVERIFY(DoRestore(folder, NormalRoot, m_program, callbacks()));

        QCOMPARE(m_questions,
                 QStringList(QStringLiteral(
                     "You are about to do a restore. Are you sure you want to continue?")));
        QCOMPARE(m_infos, QStringList(QStringLiteral(
                              "Configuration restored.The application will now restart.")));
        QCOMPARE(m_restarts, 1);
        QCOMPARE(m_beeps, 1);
        QCOMPARE(m_fixture->store().subkeyNames(NormalRoot + QStringLiteral("\\Services")),
                 QStringList({"HTTP webhost 80"}));
        QCOMPARE(RegReadInteger(NormalRoot, QStringLiteral("NormalConnectionFreq"), 0), 60);
        QCOMPARE(RegReadBool(NormalRoot, QStringLiteral("UseProxy"), false), false);
        QVERIFY(!m_fixture->store().value(NormalRoot, QStringLiteral("UseProxy")));
        QCOMPARE(dumpTree(m_fixture->store(), NormalRoot), saved);

        QCOMPARE(readAll(m_program + "email/OnError.txt"), QByteArray("saved on"));
        QCOMPARE(readAll(m_program + "email/old/Off.txt"), QByteArray("saved off"));
        QCOMPARE(readAll(m_program + "email/Mine.txt"), QByteArray("only in the program folder"));
        QCOMPARE(readAll(m_program + "readme.txt"), QByteArray("copied back too"));
        QVERIFY(!QFileInfo::exists(m_program + "registry.cfg"));
    }

    void cancelledRestoreChangesNothing()
    {
        seed(NormalRoot);
        const QString folder = path(QStringLiteral("Backup"));
        QVERIFY(DoBackup(folder, NormalRoot, emailPaths(), callbacks()));
        RegWriteInteger(NormalRoot, QStringLiteral("NormalConnectionFreq"), 5);
        writeFile(m_program + "email/OnError.txt", "changed");
        const QStringList before = dumpTree(m_fixture->store(), NormalRoot);

        m_answer = false;
        QVERIFY(!DoRestore(folder, NormalRoot, m_program, callbacks()));
        QCOMPARE(m_questions.size(), 1);
        QCOMPARE(dumpTree(m_fixture->store(), NormalRoot), before);
        QCOMPARE(readAll(m_program + "email/OnError.txt"), QByteArray("changed"));
        QCOMPARE(m_restarts, 0);
        QCOMPARE(m_infos, QStringList());
    }

    void restoreWithoutUsableBackupIsRefused_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("registryFile"); // "-" for none
        QTest::addColumn<QString>("message");
        QTest::newRow("empty field")
            << QString() << QByteArray("-")
            << QStringLiteral("No backup folder is given. Nothing was restored.");
        QTest::newRow("missing folder")
            << QStringLiteral("Nowhere") << QByteArray("-")
            << QStringLiteral("The folder \"%1/\" holds no backup (the file \"registry.cfg\" is "
                              "missing). Nothing was restored.");
        QTest::newRow("folder without registry.cfg")
            << QStringLiteral("Backup") << QByteArray("-")
            << QStringLiteral("The folder \"%1/\" holds no backup (the file \"registry.cfg\" is "
                              "missing). Nothing was restored.");
        QTest::newRow("registry.cfg the import stops on")
            << QStringLiteral("Backup")
            << QByteArray("[\\Software\\Kestrin Software\\Quellmark]\r\nAint=1\r\nBint=abc\r\n")
            << QStringLiteral("The backup in \"%1/\" cannot be restored: 'abc' is not a valid "
                              "integer value\nNothing was restored.");
    }

    void restoreWithoutUsableBackupIsRefused()
    {
        QFETCH(QString, folder);
        QFETCH(QByteArray, registryFile);
        QFETCH(QString, message);
        seed(NormalRoot);
        QString backupFolder;
        if (!folder.isEmpty()) {
            backupFolder = path(folder);
            message = message.arg(backupFolder);
        }
        if (folder == QLatin1String("Backup")) {
            writeFile(backupFolder + "/email/OnError.txt", "from the backup");
            if (registryFile != "-")
                writeFile(backupFolder + "/registry.cfg", registryFile);
        }
        const QStringList before = dumpTree(m_fixture->store(), NormalRoot);
        try {
            DoRestore(backupFolder, NormalRoot, m_program, callbacks());
            QFAIL("no error");
        } catch (const BackupError &error) {
            QCOMPARE(error.message(), message);
        }
        // Refused before the question and before anything was deleted.
        QCOMPARE(m_questions, QStringList());
        QCOMPARE(dumpTree(m_fixture->store(), NormalRoot), before);
        QCOMPARE(readAll(m_program + "email/OnError.txt"), QByteArray("saved on"));
        QCOMPARE(m_restarts, 0);
    }

    void restoreFromTheProgramFolderItselfKeepsItsFiles()
    {
        seed(NormalRoot);
        writeFile(m_program + "error.log", "log line\r\n");
        const QString folder = path(QStringLiteral("Backup"));
        QVERIFY(DoBackup(folder, NormalRoot, emailPaths(), callbacks()));
        QVERIFY(QFile::copy(folder + "/registry.cfg", m_program + "registry.cfg"));

        QVERIFY(DoRestore(m_program, NormalRoot, m_program, callbacks()));
        QCOMPARE(readAll(m_program + "error.log"), QByteArray("log line\r\n"));
        QCOMPARE(readAll(m_program + "email/OnError.txt"), QByteArray("saved on"));
    }

    // The file names every key by its full path, so where the values land
    // depends on the mode the set was made in, not on the one restoring it.
    void restoreInTestMode_data()
    {
        QTest::addColumn<QString>("backupRoot");
        QTest::newRow("test-mode set") << TestRoot;
        QTest::newRow("normal-mode set") << NormalRoot;
    }

    void restoreInTestMode()
    {
        QFETCH(QString, backupRoot);
        const QString otherRoot = backupRoot == TestRoot ? NormalRoot : TestRoot;
        seed(backupRoot);
        const QString folder = path(QStringLiteral("Backup"));
        QVERIFY(DoBackup(folder, backupRoot, emailPaths(), callbacks()));
        const QStringList saved = dumpTree(m_fixture->store(), backupRoot);

        RegWriteInteger(backupRoot, QStringLiteral("NormalConnectionFreq"), 5);
        RegWriteInteger(otherRoot, QStringLiteral("NormalConnectionFreq"), 9);
        RegWriteString(otherRoot + QStringLiteral("\\Services\\POP3 mailbox 110"),
                       QStringLiteral("Pattern"), QString());

        QVERIFY(DoRestore(folder, TestRoot, m_program, callbacks()));
        QCOMPARE(m_restarts, 1);
        QCOMPARE(dumpTree(m_fixture->store(), backupRoot), saved);
        if (backupRoot == TestRoot) {
            // The normal configuration is not touched.
            QCOMPARE(RegReadInteger(NormalRoot, QStringLiteral("NormalConnectionFreq"), 0), 9);
            QVERIFY(m_fixture->store().keyExists(NormalRoot +
                                                 QStringLiteral("\\Services\\POP3 mailbox 110")));
        } else {
            // The test configuration is gone: the test-mode program starts
            // with its defaults.
            QVERIFY(!m_fixture->store().keyExists(TestRoot));
        }
    }

    void restartUsesTheSameArguments_data()
    {
        QTest::addColumn<QStringList>("commandLine");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("normal mode") << QStringList{"quellmark"} << QStringList{};
        QTest::newRow("test mode") << QStringList{"./quellmark", "TEST"} << QStringList{"TEST"};
        QTest::newRow("blanks kept")
            << QStringList{"q", "test", "a b"} << QStringList{"test", "a b"};
    }

    void restartUsesTheSameArguments()
    {
        QFETCH(QStringList, commandLine);
        QFETCH(QStringList, expected);
        QString program;
        QStringList arguments;
        const ProgramStarter starter = [&](const QString &p, const QStringList &a) {
            program = p;
            arguments = a;
            return true;
        };
        QVERIFY(RestartProgram(starter, commandLine));
        QCOMPARE(program, QCoreApplication::applicationFilePath());
        QCOMPARE(arguments, expected);

        QVERIFY(RestartProgram(starter));
        QCOMPARE(arguments, QCoreApplication::arguments().mid(1));
        QVERIFY(!RestartProgram(ProgramStarter()));
    }

    void defaultLauncherStartsAProcessOfItsOwn()
    {
        const QString marker = path(QStringLiteral("started.txt"));
        QVERIFY(StartProgramDetached(
            QStringLiteral("/bin/sh"),
            {QStringLiteral("-c"), QStringLiteral("echo up > \"$0\""), marker}));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(marker).size() > 0, 10000);
        QVERIFY(!StartProgramDetached(path(QStringLiteral("no-such-program")), {}));
    }
};

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_backup.moc"
