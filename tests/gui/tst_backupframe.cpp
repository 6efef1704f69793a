// The " Backup " group: its controls, the folder field and browser, and the
// Backup and Restore buttons with their dialogues and signals.

#include "StoreFixture.h"

#include "Dialogs.h"
#include "TKBackup.h"

#include "config/ProgramContext.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <memory>

static void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

class TestBackupFrame : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StoreFixture> m_fixture;
    std::unique_ptr<TKBackup> m_frame;
    QStringList m_shown; // "<kind>|<title>|<text>" of every box, in order
    bool m_answer = true;

    QLineEdit *field() const { return m_frame->findChild<QLineEdit *>("edtBackupDir"); }
    QAbstractButton *button(const char *name) const
    {
        return m_frame->findChild<QAbstractButton *>(name);
    }
    QString backupDir() const
    {
        return RegReadString(m_fixture->context().settingsRoot, QStringLiteral("BackupDir"),
                             "<none>");
    }
    void leaveField()
    {
        QFocusEvent event(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(field(), &event);
    }

private slots:
    void init()
    {
        m_fixture = std::make_unique<StoreFixture>();
        QDir().mkpath(m_fixture->context().programFolder);
        m_shown.clear();
        m_answer = true;
        const auto kindName = [](Dialogs::Kind kind) {
            switch (kind) {
            case Dialogs::Kind::Error:
                return QStringLiteral("error");
            case Dialogs::Kind::Warning:
                return QStringLiteral("warning");
            case Dialogs::Kind::Information:
                return QStringLiteral("information");
            case Dialogs::Kind::Question:
                break;
            }
            return QStringLiteral("question");
        };
        Dialogs::setResponder([this, kindName](Dialogs::Kind kind, const QString &text) {
            m_shown << kindName(kind) + "||" + text;
            return m_answer;
        });
        Dialogs::setTitledResponder(
            [this, kindName](Dialogs::Kind kind, const QString &title, const QString &text) {
                m_shown << kindName(kind) + '|' + title + '|' + text;
                return m_answer;
            });
        m_frame = std::make_unique<TKBackup>();
        m_frame->setContext(m_fixture->context());
    }

    void cleanup()
    {
        m_frame.reset();
        Dialogs::setResponder({});
        Dialogs::setTitledResponder({});
        m_fixture.reset();
    }

    void showsItsControls()
    {
        QCOMPARE(m_frame->findChild<QGroupBox *>()->title(), QStringLiteral(" Backup "));
        QCOMPARE(m_frame->findChild<QLabel *>()->text(), QStringLiteral("Directory"));
        QCOMPARE(button("butBackup")->text(), QStringLiteral("Backup"));
        QCOMPARE(button("butRestore")->text(), QStringLiteral("Restore"));
        QCOMPARE(button("butBackDirBrowse")->toolTip(), QStringLiteral("Select folder"));
        QCOMPARE(m_frame->findChildren<QAbstractButton *>().size(), 3);
        QCOMPARE(m_frame->findChildren<QLineEdit *>().size(), 1);
    }

    void fieldHoldsTheStoredFolder()
    {
        QCOMPARE(field()->text(), m_fixture->context().programFolder + "Backup");
        QCOMPARE(m_frame->SetBackupDir(), m_fixture->context().programFolder + "Backup/");
        QCOMPARE(backupDir(), QStringLiteral("<none>"));

        RegWriteString(m_fixture->context().settingsRoot, "BackupDir", "/somewhere/else");
        TKBackup other;
        other.setContext(m_fixture->context());
        QCOMPARE(other.findChild<QLineEdit *>("edtBackupDir")->text(), "/somewhere/else");
        QCOMPARE(other.SetBackupDir(), "/somewhere/else/");

        field()->clear();
        QCOMPARE(m_frame->SetBackupDir(), QString());
    }

    void leavingTheFieldWritesBackupDir()
    {
        field()->setText("/tmp/x");
        leaveField();
        QCOMPARE(backupDir(), QStringLiteral("/tmp/x"));
        // Written on every exit, changed or not.
        RegWriteString(m_fixture->context().settingsRoot, "BackupDir", "stale");
        leaveField();
        QCOMPARE(backupDir(), QStringLiteral("/tmp/x"));
    }

    void browsingSetsTheFolder()
    {
        const QString chosen = m_fixture->sandbox().root() + "/picked";
        QDir().mkpath(chosen);
        QDir().mkpath(m_fixture->context().programFolder + "Backup");
        QString start;
        QString answer;
        m_frame->setFolderPicker([&](QWidget *, const QString &shown) {
            start = shown;
            return answer;
        });

        button("butBackDirBrowse")->click(); // cancelled
        QCOMPARE(start, m_fixture->context().programFolder + "Backup/");
        QCOMPARE(field()->text(), m_fixture->context().programFolder + "Backup");
        QCOMPARE(backupDir(), QStringLiteral("<none>"));

        answer = chosen;
        button("butBackDirBrowse")->click();
        QCOMPARE(field()->text(), chosen);
        QCOMPARE(backupDir(), chosen);
    }

    void backupButton_data()
    {
        QTest::addColumn<bool>("userFile");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("finished");
        QTest::newRow("new folder") << false << true << 1;
        QTest::newRow("folder with a user file, confirmed") << true << true << 1;
        QTest::newRow("folder with a user file, declined") << true << false << 0;
    }

    void backupButton()
    {
        QFETCH(bool, userFile);
        QFETCH(bool, answer);
        QFETCH(int, finished);
        RegWriteInteger(m_fixture->context().settingsRoot, "NormalConnectionFreq", 42);
        writeFile(m_fixture->context().programFolder + "email/OnError.txt", "template");
        const QString folder = m_fixture->sandbox().root() + "/sets/one";
        if (userFile)
            writeFile(folder + "/mine.txt", "mine");
        field()->setText(folder);
        m_answer = answer;
        QSignalSpy spy(m_frame.get(), &TKBackup::backupFinished);

        button("butBackup")->click();
        QCOMPARE(spy.count(), finished);
        QCOMPARE(QFileInfo::exists(folder + "/registry.cfg"), answer);
        QCOMPARE(QFileInfo::exists(folder + "/email/OnError.txt"), answer);
        QCOMPARE(QFileInfo::exists(folder + "/mine.txt"), !answer);
        QCOMPARE(m_shown.size(), userFile ? 1 : 0);
        if (userFile)
            QVERIFY(m_shown.first().startsWith("warning||The backup folder \"" + folder + "/\""));
    }

    void backupWithEmptyFieldShowsTheError()
    {
        field()->clear();
        QSignalSpy spy(m_frame.get(), &TKBackup::backupFinished);
        button("butBackup")->click();
        QCOMPARE(spy.count(), 0);
        QCOMPARE(m_shown, QStringList("error||Unable to create directory"));
    }

    void restoreButton_data()
    {
        QTest::addColumn<bool>("answer");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }

    void restoreButton()
    {
        QFETCH(bool, answer);
        const QString root = m_fixture->context().settingsRoot;
        RegWriteInteger(root, "NormalConnectionFreq", 42);
        field()->setText(m_fixture->sandbox().root() + "/set");
        button("butBackup")->click();
        RegWriteInteger(root, "NormalConnectionFreq", 7);
        m_shown.clear();

        QString program;
        QStringList arguments;
        m_frame->setRestartLauncher([&](const QString &p, const QStringList &a) {
            program = p;
            arguments = a;
            return true;
        });
        // As the main window does: restart when asked to (after letting go
        // of its instance lock).
        connect(m_frame.get(), &TKBackup::restartRequested, this,
                [this] { QVERIFY(m_frame->restartProgram()); });
        QSignalSpy spy(m_frame.get(), &TKBackup::restartRequested);
        m_answer = answer;

        button("butRestore")->click();
        QStringList expected{"question|Restore Configuration|You are about to do a restore. Are "
                             "you sure you want to continue?"};
        if (answer)
            expected << "information||Configuration restored.The application will now restart.";
        QCOMPARE(m_shown, expected);
        QCOMPARE(spy.count(), answer ? 1 : 0);
        QCOMPARE(RegReadInteger(root, "NormalConnectionFreq", 0), answer ? 42 : 7);
        if (answer) {
            QCOMPARE(program, QCoreApplication::applicationFilePath());
            QCOMPARE(arguments, QCoreApplication::arguments().mid(1));
        } else {
            QCOMPARE(program, QString());
        }
    }

    void restoreWithoutBackupIsRefused_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty field")
            << QString() << "No backup folder is given. Nothing was restored.";
        QTest::newRow("no backup there")
            << "/nothing/here"
            << "The folder \"/nothing/here/\" holds no backup (the file "
               "\"registry.cfg\" is missing). Nothing was restored.";
    }

    void restoreWithoutBackupIsRefused()
    {
        QFETCH(QString, folder);
        QFETCH(QString, message);
        RegWriteInteger(m_fixture->context().settingsRoot, "NormalConnectionFreq", 42);
        field()->setText(folder);
        QSignalSpy spy(m_frame.get(), &TKBackup::restartRequested);
        button("butRestore")->click();
        QCOMPARE(m_shown, QStringList("error||" + message));
        QCOMPARE(spy.count(), 0);
        QCOMPARE(RegReadInteger(m_fixture->context().settingsRoot, "NormalConnectionFreq", 0), 42);
    }
};

QTEST_MAIN(TestBackupFrame)
#include "tst_backupframe.moc"
