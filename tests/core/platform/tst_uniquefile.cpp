#include "platform/UniqueFile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

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
        const int fd = CreateUniqueFile(QFile::encodeName(dir.path()) + "/.x-", 0666, path);
        ::umask(old);
        QVERIFY(fd >= 0);
        ::close(fd);
        QVERIFY(path.startsWith(QFile::encodeName(dir.path()) + "/.x-"));
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
        const QByteArray prefix = QFile::encodeName(dir.path()) + "/.left-";
        for (int child = 0; child < 60; ++child) {
            const pid_t pid = ::fork();
            QVERIFY(pid >= 0);
            if (pid == 0) {
                QByteArray path;
                ::_exit(CreateUniqueFile(prefix, 0600, path) >= 0 ? 0 : 1);
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
        QCOMPARE(CreateUniqueFile("/nonexistent-quellmark-folder/.x-", 0600, path), -1);
        QCOMPARE(errno, ENOENT);
        QCOMPARE(path, QByteArray("untouched"));
    }
};

QTEST_GUILESS_MAIN(TestUniqueFile)

#include "tst_uniquefile.moc"
