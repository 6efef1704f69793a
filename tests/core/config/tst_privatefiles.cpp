// The settings store holds the mail password in clear text: the store, its
// folder, its side files and every backup set must be the owner's alone,
// whatever the umask.

#include "config/Backup.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"

#include "support/TestSandbox.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

static const QString Root = QStringLiteral("Software\\Kestrin Software\\Quellmark");

// Every path below (and including) top whose mode lets group or others in.
static QStringList openToOthers(const QStringList &paths)
{
    QStringList open;
    for (const QString &path : paths) {
        struct stat status {};
        if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
            open << path + QStringLiteral(" (missing)");
        else if ((status.st_mode & 077) != 0)
            open << path + QStringLiteral(" (%1)").arg(status.st_mode & 07777, 0, 8);
    }
    return open;
}

static QStringList treeOf(const QString &top)
{
    QStringList paths{top};
    QDirIterator it(top, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next();
    return paths;
}

class TestPrivateFiles : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    mode_t m_umask = 0;

private slots:
    void init()
    {
        m_sandbox = std::make_unique<TestSandbox>();
        m_umask = ::umask(022);
    }
    void cleanup()
    {
        ::umask(m_umask);
        RegistryStore::setCurrent(nullptr);
        m_sandbox.reset();
    }

    void storeAndBackupAreOwnersOnly()
    {
        const QString store = m_sandbox->storePath();
        auto registry = std::make_unique<RegistryStore>(store);
        RegistryStore::setCurrent(registry.get());
        RegWriteString(Root, QStringLiteral("SmtpPass"), QStringLiteral("secret"));
        // Open and written to: the side files exist now.
        QCOMPARE(
            openToOthers({QFileInfo(store).absolutePath(), store, store + "-wal", store + "-shm"}),
            QStringList());

        const QString templates = m_sandbox->programFolder() + QStringLiteral("email");
        QVERIFY(QDir().mkpath(templates + QStringLiteral("/sub")));
        for (const QString &name : {QStringLiteral("/OnError.txt"), QStringLiteral("/sub/x.txt")}) {
            QFile file(templates + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QString backup = m_sandbox->root() + QStringLiteral("/Backup");
        QVERIFY(DoBackup(backup, Root, {templates}, BackupCallbacks()));
        QCOMPARE(treeOf(backup).size(), 6);
        QCOMPARE(openToOthers(treeOf(backup)), QStringList());
    }

    // A store made readable by an older version is tightened when opened.
    void existingStoreIsTightened()
    {
        const QString store = m_sandbox->storePath();
        RegistryStore(store).setValue(Root, QStringLiteral("SmtpPass"),
                                      RegValue::fromString(QStringLiteral("secret")));
        QVERIFY(::chmod(QFile::encodeName(store).constData(), 0644) == 0);
        RegistryStore reopened(store);
        QVERIFY(reopened.value(Root, QStringLiteral("SmtpPass")).has_value());
        reopened.setValue(Root, QStringLiteral("SmtpUser"), RegValue::fromString("me"));
        QCOMPARE(openToOthers({store, store + "-wal", store + "-shm"}), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPrivateFiles)
#include "tst_privatefiles.moc"
