#include "platform/UniqueFile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

class TestUniqueFile : public QObject {
    Q_OBJECT

private slots:
    void createsWithModeLessUmask()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const mode_t old = ::umask(022);
        QByteArray path;
        const int fd = CreateUniqueFile(QFile::encodeName(dir.path()), "x", 0666, path);
        ::umask(old);
        QVERIFY(fd >= 0);
        ::close(fd);
        QVERIFY(path.startsWith(QFile::encodeName(dir.path()) + "/.quellmark-x-"));
        QVERIFY(IsTemporaryFileName(QFileInfo(QFile::decodeName(path)).fileName().toUtf8()));
        struct stat status {};
        QCOMPARE(::stat(path.constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, mode_t(0644));
    }

    // Writers that crash leave their files behind. Processes forked from one
    // parent must still each find a free name, however many went before.
    void forkedChildrenNeverRunOutOfNames()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // The parent's own generator is in use, as in any real program.
        (void)QRandomGenerator::global()->generate();
        const QByteArray folder = QFile::encodeName(dir.path());
        for (int child = 0; child < 60; ++child) {
            const pid_t pid = ::fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                QByteArray path;
                ::_exit(CreateUniqueFile(folder, "left", 0600, path) >= 0 ? 0 : 1);
            }
            int status = 0;
            QCOMPARE(::waitpid(pid, &status, 0), pid);
            QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0,
                     qPrintable(QStringLiteral("child %1 found no free name").arg(child)));
        }
        QCOMPARE(QDir(dir.path(), QString(), QDir::NoSort, QDir::Files | QDir::Hidden).count(),
                 60u);
    }

    void missingFolderFailsWithErrno()
    {
        QByteArray path = "untouched";
        errno = 0;
        QCOMPARE(CreateUniqueFile("/nonexistent-quellmark-folder", "x", 0600, path), -1);
        QCOMPARE(errno, ENOENT);
        QCOMPARE(path, QByteArray("untouched"));
    }

    // A writer's file survives the sweep while the writer lives, and goes
    // with SQLite's files beside it once the writer is gone; nothing that
    // is not ours is touched.
    void sweepRemovesOnlyAbandonedTemporaries()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray folder = QFile::encodeName(dir.path());
        const auto touch = [&](const QByteArray &name) {
            QFile file(QFile::decodeName(folder + '/' + name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        };

        // A writer that was killed: its file is no longer held.
        QByteArray abandoned;
        const pid_t dead = ::fork();
        QVERIFY(dead >= 0);
        if (dead == 0) {
            QByteArray path;
            if (CreateUniqueFile(folder, "store", 0600, path) < 0)
                ::_exit(1);
            QFile name(QFile::decodeName(folder + "/name"));
            (void)name.open(QIODevice::WriteOnly);
            name.write(path);
            name.close();
            ::raise(SIGKILL);
        }
        int status = 0;
        QCOMPARE(::waitpid(dead, &status, 0), dead);
        {
            QFile name(QFile::decodeName(folder + "/name"));
            QVERIFY(name.open(QIODevice::ReadOnly));
            abandoned = QFileInfo(QFile::decodeName(name.readAll())).fileName().toUtf8();
            name.remove();
        }
        QVERIFY(IsTemporaryFileName(abandoned));
        touch(abandoned + "-wal");
        touch(abandoned + "-journal");

        // A writer at work in another process, holding its file.
        int toParent[2], toChild[2];
        QVERIFY(::pipe(toParent) == 0 && ::pipe(toChild) == 0);
        const pid_t writer = ::fork();
        QVERIFY(writer >= 0);
        if (writer == 0) {
            QByteArray path;
            const int fd = CreateUniqueFile(folder, "template", 0600, path);
            const QByteArray name = QFileInfo(QFile::decodeName(path)).fileName().toUtf8();
            (void)!::write(toParent[1], name.constData(), size_t(name.size()));
            ::close(toParent[1]);
            char c;
            (void)!::read(toChild[0], &c, 1);
            ::_exit(fd >= 0 ? 0 : 1);
        }
        ::close(toParent[1]);
        ::close(toChild[0]);
        char buffer[256];
        const ssize_t got = ::read(toParent[0], buffer, sizeof buffer);
        ::close(toParent[0]);
        QVERIFY(got > 0);
        const QByteArray held(buffer, got);
        touch(held + "-shm");

        // Not ours, or not a plain file of ours.
        const QList<QByteArray> foreign = {"registry.sqlite",
                                           ".quellmark-x",
                                           "notes.tmp",
                                           ".quellmark-log-abc.tmp.bak",
                                           ".quellmark-Log-abc.tmp",
                                           ".quellmark--abc.tmp",
                                           ".quellmark-log-.tmp",
                                           "x.quellmark-log-abc.tmp"};
        for (const QByteArray &name : foreign)
            touch(name);
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral(".quellmark-log-dir1.tmp")));
        QVERIFY(::symlink("registry.sqlite", folder + "/.quellmark-log-link1.tmp") == 0);

        const auto names = [&] {
            return QDir(dir.path(), QString(), QDir::Name,
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                .entryList();
        };
        QStringList expected = names();
        for (const QByteArray &gone : {abandoned, abandoned + "-wal", abandoned + "-journal"})
            expected.removeOne(QString::fromUtf8(gone));
        QCOMPARE(RemoveAbandonedTemporaries(dir.path()), 3);
        QCOMPARE(names(), expected);

        // The writer ends: now its files are leftovers too.
        (void)!::write(toChild[1], "x", 1);
        ::close(toChild[1]);
        QCOMPARE(::waitpid(writer, &status, 0), writer);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QCOMPARE(RemoveAbandonedTemporaries(dir.path()), 2);
        expected.removeOne(QString::fromUtf8(held));
        expected.removeOne(QString::fromUtf8(held + "-shm"));
        QCOMPARE(names(), expected);
    }
};

QTEST_GUILESS_MAIN(TestUniqueFile)

#include "tst_uniquefile.moc"
