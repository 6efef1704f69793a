// A damaged settings store: how it is told from a file that is not ours,
// the last good copy, and the two ways back, each keeping the damaged file.

#include "config/LastGoodCopy.h"
#include "config/LastGoodKeeper.h"
#include "config/RegistryStore.h"
#include "config/StoreRecovery.h"

#include "support/StoreDamage.h"
#include "support/TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace StoreDamage;

class TestStoreRecovery : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    QString m_store;

    // What opening the store throws: "damaged", "refused" or "" for none.
    QString openOutcome() const
    {
        try {
            RegistryStore store(m_store);
        } catch (const DamagedStoreError &) {
            return QStringLiteral("damaged");
        } catch (const RegistryError &) {
            return QStringLiteral("refused");
        }
        return QString();
    }

private slots:
    void init()
    {
        m_sandbox = std::make_unique<TestSandbox>();
        m_store = m_sandbox->storePath();
    }
    void cleanup() { m_sandbox.reset(); }

    // Ours but damaged, or not ours at all: the file's own mark, else a
    // last good copy beside it, decides. The file is never changed.
    void damageIsToldFromForeign_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("withCopy");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("half, copy") << "half" << true << "damaged";
        QTest::newRow("half, no copy") << "half" << false << "damaged";
        QTest::newRow("random, copy") << "random" << true << "damaged";
        QTest::newRow("random, no copy") << "random" << false << "refused";
        QTest::newRow("empty, copy") << "empty" << true << "damaged";
        QTest::newRow("empty, no copy") << "empty" << false << "";
    }
    void damageIsToldFromForeign()
    {
        QFETCH(QString, damage);
        QFETCH(bool, withCopy);
        QFETCH(QString, outcome);
        makeStore(m_store, QStringLiteral("mailhost"));
        if (withCopy)
            LastGoodCopy(m_store).save();
        apply(m_store, damage);
        const QByteArray before = readAll(m_store);
        QCOMPARE(openOutcome(), outcome);
        if (!outcome.isEmpty())
            QCOMPARE(readAll(m_store), before);
    }

    void restoreAndStartNewKeepTheDamagedFile_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("restore");
        QTest::newRow("half, restore") << "half" << true;
        QTest::newRow("random, restore") << "random" << true;
        QTest::newRow("half, start new") << "half" << false;
        QTest::newRow("random, start new") << "random" << false;
    }
    void restoreAndStartNewKeepTheDamagedFile()
    {
        QFETCH(QString, damage);
        QFETCH(bool, restore);
        makeStore(m_store, QStringLiteral("saved"));
        const LastGoodCopy copy(m_store);
        copy.save();
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(copy.path()).constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, mode_t(0600));
        makeStore(m_store, QStringLiteral("changed after the copy"));
        apply(m_store, damage);
        // The copy is never replaced by a damaged store.
        const QByteArray good = readAll(copy.path());
        QVERIFY_THROWS_EXCEPTION(RegistryError, copy.save());
        QCOMPARE(readAll(copy.path()), good);

        const QByteArray damaged = readAll(m_store);
        const QDateTime when(QDate(2026, 12, 9), QTime(5, 3, 51));
        const StoreRecovery recovery(m_store);
        const QString aside = restore ? recovery.restoreLastGood(when) : recovery.startNew(when);
        QCOMPARE(aside, m_store + QStringLiteral(".damaged-20261209-050351"));
        QCOMPARE(readAll(aside), damaged);
        QCOMPARE(valueIn(m_store), restore ? QStringLiteral("saved") : QString());
        // Starting anew keeps the old copy aside with the damaged store.
        QCOMPARE(copy.exists(), restore);
        QCOMPARE(readAll(restore ? copy.path() : aside + QStringLiteral(".last-good")), good);
        // A second damage in the same second keeps both files.
        apply(m_store, damage);
        QCOMPARE(recovery.startNew(when), aside + QStringLiteral("-2"));
        QCOMPARE(readAll(aside), damaged);
    }

    // Files another process has open are never moved under it.
    void refusedWhileAnotherProcessHasTheStore()
    {
        makeStore(m_store, QStringLiteral("saved"));
        LastGoodCopy(m_store).save();
        int ready[2], done[2];
        QVERIFY(::pipe(ready) == 0 && ::pipe(done) == 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // Ends when told, or when the test ends without telling it.
            ::close(ready[0]);
            ::close(done[1]);
            RegistryStore store(m_store);
            (void)!::write(ready[1], "r", 1);
            char c;
            (void)!::read(done[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(done[0]);
        struct Release {
            int fd;
            pid_t child;
            void now()
            {
                if (fd >= 0)
                    ::close(fd);
                if (fd >= 0)
                    ::waitpid(child, nullptr, 0);
                fd = -1;
            }
            ~Release() { now(); }
        } release{done[1], child};
        char c;
        QCOMPARE(::read(ready[0], &c, 1), ssize_t(1));
        ::close(ready[0]);
        const StoreRecovery recovery(m_store);
        const QStringList before = QDir(QFileInfo(m_store).path()).entryList(QDir::Files);
        QVERIFY_THROWS_EXCEPTION(RegistryError, recovery.restoreLastGood());
        QVERIFY_THROWS_EXCEPTION(RegistryError, recovery.startNew());
        QCOMPARE(QDir(QFileInfo(m_store).path()).entryList(QDir::Files), before);
        release.now();
        QVERIFY(!recovery.startNew().isEmpty());
    }

    // A first copy soon after start, another only once the store changed.
    void keeperCopiesAfterStartAndAfterChanges()
    {
        RegistryStore store(m_store);
        store.setValue(QStringLiteral("K"), QStringLiteral("v"), RegValue::fromDWord(1));
        LastGoodKeeper keeper(m_store);
        QSignalSpy copied(&keeper, &LastGoodKeeper::copied);
        keeper.start(std::chrono::milliseconds(0), std::chrono::milliseconds(20));
        QTRY_COMPARE(copied.size(), 1);
        QCOMPARE(copied.at(0).at(0).toString(), QString());
        QTest::qWait(200);
        QCOMPARE(copied.size(), 1);
        store.setValue(QStringLiteral("K"), QStringLiteral("v"), RegValue::fromDWord(2));
        QTRY_COMPARE(copied.size(), 2);
        QCOMPARE(RegistryStore(LastGoodCopy(m_store).path()).value("K", "v"),
                 RegValue::fromDWord(2));
        store.setValue(QStringLiteral("K"), QStringLiteral("v"), RegValue::fromDWord(3));
        keeper.finish();
        QCOMPARE(RegistryStore(LastGoodCopy(m_store).path()).value("K", "v"),
                 RegValue::fromDWord(3));
    }
};

QTEST_GUILESS_MAIN(TestStoreRecovery)
#include "tst_storerecovery.moc"
