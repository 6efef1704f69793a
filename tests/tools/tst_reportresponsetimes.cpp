// quellmark-report's response times: the report before them stays byte
// for byte what it was, the figures follow for the log's services only
// when the history holds any, and a history it cannot read changes
// nothing (and is not touched).

#include "stats/ResponseHistory.h"
#include "support/TestSandbox.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <memory>

namespace {
struct Point {
    const char *service;
    int minutesAgo;
    int ms;
    bool up;
};
} // namespace

Q_DECLARE_METATYPE(QList<Point>)

class TestReportResponseTimes : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    QString m_folder;

    QByteArray run(const QString &entry) const
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        process.setProcessEnvironment(env);
        process.start(qEnvironmentVariable("QUELLMARK_REPORT"), {entry});
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
            return "(hung)";
        }
        return process.exitCode() == 0 ? process.readAllStandardOutput() : QByteArray("(failed)");
    }

private slots:
    void init()
    {
        m_sandbox = std::make_unique<TestSandbox>();
        m_folder = m_sandbox->programFolder();
        QDir().mkpath(m_folder);
        QFile log(m_folder + QStringLiteral("webhost(http).log"));
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("1 Dec 2026 08:00:00:  Log start\r\n1 Dec 2026 09:00:00: went on error.\r\n"
                  "1 Dec 2026 09:30:00: came off error.\r\n");
    }
    void cleanup() { m_sandbox.reset(); }

    void figuresAfterTheReport_data()
    {
        QTest::addColumn<QList<Point>>("points");
        QTest::addColumn<QString>("added");
        QTest::newRow("no history at all") << QList<Point>() << "";
        QTest::newRow("only another log's service")
            << QList<Point>{{"HTTP otherhost 80", 5, 100, true}} << "";
        QTest::newRow("one service")
            << QList<Point>{{"HTTP webhost 80", 90, 100, true},
                            {"HTTP webhost 80", 60, 300, true},
                            {"HTTP webhost 80", 3 * 24 * 60, 1000, true},
                            {"HTTP webhost 80", 30, 200, true}}
            << "\nResponse times of HTTP webhost 80:\nLast response: 200 ms\n"
               "24 h: median 200 ms, 95% 300 ms\n30 d: median 250 ms, 95% 1000 ms\n";
        QTest::newRow("last failed without an answer")
            << QList<Point>{{"HTTP webhost 80", 60, 100, true}, {"HTTP webhost 80", 1, -1, false}}
            << "\nResponse times of HTTP webhost 80:\nLast response: none (no answer)\n"
               "24 h: median 100 ms, 95% 100 ms\n30 d: median 100 ms, 95% 100 ms\n";
        // Two services share the log when they differ in port: newest first.
        QTest::newRow("two ports, one log")
            << QList<Point>{{"HTTP webhost 80", 20, 10, true}, {"HTTP webhost 8080", 10, 20, true}}
            << "\nResponse times of HTTP webhost 8080:\nLast response: 20 ms\n"
               "24 h: median 20 ms, 95% 20 ms\n30 d: median 20 ms, 95% 20 ms\n"
               "\nResponse times of HTTP webhost 80:\nLast response: 10 ms\n"
               "24 h: median 10 ms, 95% 10 ms\n30 d: median 10 ms, 95% 10 ms\n";
    }
    void figuresAfterTheReport()
    {
        QFETCH(QList<Point>, points);
        QFETCH(QString, added);
        QByteArray before = run(QStringLiteral("webhost(http)"));
        QVERIFY(before.contains("Stats with Quellmark"));
        if (!points.isEmpty()) {
            ResponseHistory history(ResponseHistory::pathIn(m_folder));
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            for (const Point &p : points)
                history.add(QString::fromLatin1(p.service),
                            {now - p.minutesAgo * 60000LL, p.ms, p.up});
            QVERIFY(history.commit(now));
        }
        // The report names the moment it was made: the plain report is
        // taken again, the history moved out of its way for a moment, until
        // both runs fall in one second.
        const QString path = ResponseHistory::pathIn(m_folder);
        const QString hidden = path + QStringLiteral(".hidden");
        QByteArray after;
        for (int attempt = 0; attempt < 5; ++attempt) {
            const bool moved = QFile::rename(path, hidden);
            before = run(QStringLiteral("webhost(http)"));
            if (moved)
                QVERIFY(QFile::rename(hidden, path));
            after = run(QStringLiteral("webhost(http)"));
            if (after.startsWith(before))
                break;
        }
        QVERIFY2(after.startsWith(before), after.constData());
        QCOMPARE(QString::fromUtf8(after.mid(before.size())), added);
    }

    void unreadableHistoryIsLeftAlone()
    {
        const QString path = ResponseHistory::pathIn(m_folder);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a database at all");
        file.close();
        // With and without the file, within one second of each other.
        QByteArray before, after;
        for (int attempt = 0; attempt < 5 && (before.isEmpty() || before != after); ++attempt) {
            QVERIFY(QFile::rename(path, path + QStringLiteral(".hidden")));
            before = run(QStringLiteral("webhost(http)"));
            QVERIFY(QFile::rename(path + QStringLiteral(".hidden"), path));
            after = run(QStringLiteral("webhost(http)"));
        }
        QCOMPARE(after, before);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("not a database at all"));
        QCOMPARE(QDir(m_folder).entryList({QStringLiteral("history.sqlite*")}),
                 QStringList{"history.sqlite"});
    }
};

QTEST_GUILESS_MAIN(TestReportResponseTimes)
#include "tst_reportresponsetimes.moc"
