#include "engine/ServiceLog.h"
#include "TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

using OptionalBytes = std::optional<QByteArray>;
Q_DECLARE_METATYPE(OptionalBytes)

class TestServiceLog : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    std::unique_ptr<QTemporaryDir> m_dir;
    const QString m_stamp = QStringLiteral("08/12/2026 15:38:25");

    QString folder() const { return m_dir->path() + QLatin1Char('/'); }
    static QByteArray readAll(const QString &filePath)
    {
        QFile file(filePath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

private slots:
    void initTestCase() { m_sandbox = std::make_unique<TestSandbox>(); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>(m_sandbox->root() + QStringLiteral("/t-XXXXXX"));
        QVERIFY(m_dir->isValid());
    }

    void names_data()
    {
        QTest::addColumn<QString>("service");
        QTest::addColumn<QString>("logName");
        QTest::addColumn<QString>("protocol");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("path with slash") << "http myhost/status/"
                                         << "myhost_status"
                                         << "http"
                                         << "myhost_status(http).log";
        QTest::newRow("ftp with port") << "ftp filehost 2121"
                                       << "filehost"
                                       << "ftp"
                                       << "filehost(ftp).log";
        QTest::newRow("editor form") << "HTTP webhost/a/b/ 8080"
                                     << "webhost_a_b"
                                     << "http"
                                     << "webhost_a_b(http).log";
        QTest::newRow("one word is http") << "MyHost"
                                          << "myhost"
                                          << "http"
                                          << "myhost(http).log";
        QTest::newRow("tabs and double blanks") << "\tPOP3 \t mail.example  110  "
                                                << "mail.example"
                                                << "pop3"
                                                << "mail.example(pop3).log";
        QTest::newRow("replaced characters") << "http h/x?a=1&b=%20:\\y"
                                             << "h_x_a=1_b=_20__y"
                                             << "http"
                                             << "h_x_a=1_b=_20__y(http).log";
        QTest::newRow("only one slash removed") << "http host//"
                                                << "host_"
                                                << "http"
                                                << "host_(http).log";
        QTest::newRow("host typed with blanks") << "smtp my host 25"
                                                << "my"
                                                << "smtp"
                                                << "my(smtp).log";
        QTest::newRow("odd protocol kept in folder") << "a/../b host"
                                                     << "host"
                                                     << "a/../b"
                                                     << "host(a_.._b).log";
    }
    void names()
    {
        QFETCH(QString, service);
        QFETCH(QString, logName);
        QFETCH(QString, protocol);
        QFETCH(QString, fileName);
        QCOMPARE(ServiceLog::logName(service), logName);
        QCOMPARE(ServiceLog::protocolOf(service), protocol);
        QCOMPARE(ServiceLog::logPath(QStringLiteral("/pf/"), service), "/pf/" + fileName);
    }

    void blankNameHasNoLog_data()
    {
        QTest::addColumn<QString>("service");
        QTest::newRow("empty") << "";
        QTest::newRow("blanks and tabs") << " \t  \t";
    }
    void blankNameHasNoLog()
    {
        QFETCH(QString, service);
        QVERIFY(ServiceLog::logPath(folder(), service).isEmpty());
        QVERIFY(!ServiceLog::ensureLogStarted(ServiceLog::logPath(folder(), service), m_stamp));
        QVERIFY(QDir(folder()).isEmpty());
    }

    void servicesSharingALog()
    {
        const QString a = ServiceLog::logPath(folder(), QStringLiteral("HTTP webhost/ 80"));
        QCOMPARE(ServiceLog::logPath(folder(), QStringLiteral("http webhost 8080")), a);
        QCOMPARE(ServiceLog::logPath(folder(), QStringLiteral("http webhost")), a);
        QCOMPARE(ServiceLog::logPath(folder(), QStringLiteral("HTTP web:host 80")),
                 ServiceLog::logPath(folder(), QStringLiteral("HTTP web?host 80")));
    }

    void serviceLogRecords()
    {
        const QString path = ServiceLog::logPath(folder(), QStringLiteral("HTTP webhost 80"));
        QVERIFY(ServiceLog::ensureLogStarted(path, m_stamp));
        QCOMPARE(readAll(path), "08/12/2026 15:38:25:  Log start\r\n");
        // An existing log is left alone.
        QVERIFY(ServiceLog::ensureLogStarted(path, QStringLiteral("later")));
        ServiceLog::appendWentOnError(path, QStringLiteral("08/12/2026 15:40:00"));
        ServiceLog::appendCameOffError(path, QStringLiteral("08/12/2026"));
        QCOMPARE(readAll(path), "08/12/2026 15:38:25:  Log start\r\n"
                                "08/12/2026 15:40:00: went on error.\r\n"
                                "08/12/2026: came off error.\r\n");
        // A log deleted while the program runs starts again.
        QVERIFY(QFile::remove(path));
        QVERIFY(ServiceLog::ensureLogStarted(path, QStringLiteral("09/12/2026 01:00:00")));
        QCOMPARE(readAll(path), "09/12/2026 01:00:00:  Log start\r\n");
    }

    void errorLogEntries_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<OptionalBytes>("response");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray head = "08/12/2026 15:38:25 webhost/a(http) response:\r\n";
        QTest::newRow("connection lost")
            << 0 << OptionalBytes()
            << QByteArray("08/12/2026 15:38:25: no internet connection\r\n\r\n");
        QTest::newRow("connection back")
            << 1 << OptionalBytes()
            << QByteArray("08/12/2026 15:38:25: internet connection restored\r\n\r\n");
        QTest::newRow("no connection")
            << 2 << OptionalBytes() << head + "Could not open connection to socket\r\n\r\n";
        QTest::newRow("answer with line end")
            << 2 << OptionalBytes("HTTP/1.1 503 Busy\r\nServer: x\r\n\r\n")
            << head + "HTTP/1.1 503 Busy\r\nServer: x\r\n\r\n\r\n";
        QTest::newRow("answer without line end")
            << 2 << OptionalBytes("500 half") << head + "500 half\r\n\r\n";
        QTest::newRow("answer ending in LF only")
            << 2 << OptionalBytes("500 x\n") << head + "500 x\n\r\n\r\n";
        QTest::newRow("nothing answered") << 2 << OptionalBytes(QByteArray()) << head + "\r\n";
        QTest::newRow("raw bytes kept") << 2 << OptionalBytes(QByteArray("\xff\xfe\0x\r\n", 6))
                                        << head + QByteArray("\xff\xfe\0x\r\n\r\n", 8);
    }
    void errorLogEntries()
    {
        QFETCH(int, kind);
        QFETCH(OptionalBytes, response);
        QFETCH(QByteArray, expected);
        const QString errorLog = folder() + QStringLiteral("error.log");
        const auto write = [&] {
            if (kind == 0)
                ServiceLog::appendConnectionLost(errorLog, m_stamp);
            else if (kind == 1)
                ServiceLog::appendConnectionBack(errorLog, m_stamp);
            else
                ServiceLog::appendServiceFailed(errorLog, m_stamp, QStringLiteral("webhost/a"),
                                                QStringLiteral("http"), response);
        };
        write();
        QCOMPARE(readAll(errorLog), expected);
        write(); // the next entry begins after the empty line
        QCOMPARE(readAll(errorLog), expected + expected);
    }

    void hugeAnswerIsCut()
    {
        const QString errorLog = folder() + QStringLiteral("error.log");
        const QByteArray answer = QByteArray(ServiceLog::MaxResponseBytes, 'a') + "TAIL" +
                                  QByteArray(3 * ServiceLog::MaxResponseBytes, 'b');
        ServiceLog::appendServiceFailed(errorLog, m_stamp, QStringLiteral("h/"),
                                        QStringLiteral("http"), answer);
        const QByteArray written = readAll(errorLog);
        QVERIFY(written.size() < ServiceLog::MaxResponseBytes + 200);
        QVERIFY(written.contains(QByteArray(ServiceLog::MaxResponseBytes, 'a') + "\r\n"));
        QVERIFY(!written.contains("TAIL"));
        QVERIFY(written.contains(QByteArray::number(answer.size())));
        QVERIFY(written.endsWith("]\r\n\r\n"));

        // Exactly at the bound nothing is cut.
        QVERIFY(QFile::remove(errorLog));
        ServiceLog::appendServiceFailed(errorLog, m_stamp, QStringLiteral("h/"),
                                        QStringLiteral("http"),
                                        QByteArray(ServiceLog::MaxResponseBytes, 'a'));
        QVERIFY(
            readAll(errorLog).endsWith(QByteArray(ServiceLog::MaxResponseBytes, 'a') + "\r\n\r\n"));
    }

    // Every entry is one write, so concurrent writers never interleave, also
    // when an answer lacks its line end and the writer has to add one.
    void entriesNeverInterleave()
    {
        const QString errorLog = folder() + QStringLiteral("error.log");
        constexpr int Writers = 4, Entries = 1500;
        const auto answerOf = [](int id) {
            return QByteArray(100 + id % 400, char('a' + id / 1000000)) + "#" +
                   QByteArray::number(id);
        };
        std::atomic<int> ready = 0;
        std::vector<std::thread> threads;
        for (int w = 0; w < Writers; ++w) {
            threads.emplace_back([&, w] {
                // Start together so the writers really overlap.
                ++ready;
                while (ready < Writers)
                    std::this_thread::yield();
                for (int i = 0; i < Entries; ++i)
                    ServiceLog::appendServiceFailed(errorLog, m_stamp, QStringLiteral("h/"),
                                                    QStringLiteral("http"),
                                                    answerOf(w * 1000000 + i));
            });
        }
        for (auto &t : threads)
            t.join();
        const QList<QByteArray> lines = readAll(errorLog).split('\n');
        QCOMPARE(lines.size(), 3 * Writers * Entries + 1);
        QSet<int> seen;
        for (qsizetype i = 0; i + 2 < lines.size(); i += 3) {
            QCOMPARE(lines.at(i), QByteArray("08/12/2026 15:38:25 h/(http) response:\r"));
            const QByteArray answer = lines.at(i + 1).chopped(1);
            const int id = answer.mid(answer.indexOf('#') + 1).toInt();
            QCOMPARE(answer, answerOf(id));
            QCOMPARE(lines.at(i + 2), QByteArray("\r"));
            seen.insert(id);
        }
        QCOMPARE(seen.size(), Writers * Entries);
    }

    // An entry cut short by a crash stays apart from the next one, and a
    // new log appears with its first line whole and nothing beside it.
    void crashLeftovers()
    {
        const QString errorLog = folder() + QStringLiteral("error.log");
        QFile cut(errorLog);
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write("08/12/2026 15:38:25 h/(http) response:\r\nHTTP/1.1 50");
        cut.close();
        ServiceLog::appendServiceFailed(errorLog, m_stamp, QStringLiteral("h/"),
                                        QStringLiteral("http"), QByteArray("x"));
        QCOMPARE(readAll(errorLog),
                 QByteArray("08/12/2026 15:38:25 h/(http) response:\r\n"
                            "HTTP/1.1 50\r\n"
                            "08/12/2026 15:38:25 h/(http) response:\r\nx\r\n\r\n"));

        const QString log = ServiceLog::logPath(folder(), QStringLiteral("http h"));
        QVERIFY(ServiceLog::ensureLogStarted(log, m_stamp));
        QCOMPARE(readAll(log), QByteArray("08/12/2026 15:38:25:  Log start\r\n"));
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({QStringLiteral("error.log"), QStringLiteral("h(http).log")}));
    }

    void failedWritesAreSwallowed_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("missing folder") << "missing/";
        QTest::newRow("folder is a file") << "plain/";
        QTest::newRow("read-only folder") << "readonly/";
    }
    void failedWritesAreSwallowed()
    {
        QFETCH(QString, where);
        QFile plain(folder() + QStringLiteral("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QVERIFY(QDir().mkdir(folder() + QStringLiteral("readonly")));
        QVERIFY(QFile::setPermissions(folder() + QStringLiteral("readonly"),
                                      QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const bool mayWrite = where == QLatin1String("readonly/") && geteuid() == 0;

        const QString log = ServiceLog::logPath(folder() + where, QStringLiteral("http h"));
        const QString errorLog = folder() + where + QStringLiteral("error.log");
        QCOMPARE(ServiceLog::ensureLogStarted(log, m_stamp), mayWrite);
        ServiceLog::appendWentOnError(log, m_stamp);
        ServiceLog::appendCameOffError(log, m_stamp);
        ServiceLog::appendConnectionLost(errorLog, m_stamp);
        ServiceLog::appendConnectionBack(errorLog, m_stamp);
        ServiceLog::appendServiceFailed(errorLog, m_stamp, QStringLiteral("h/"),
                                        QStringLiteral("http"), QByteArray("x"));
        QCOMPARE(QFile::exists(errorLog), mayWrite);
        QFile::setPermissions(folder() + QStringLiteral("readonly"), QFileDevice::ReadOwner |
                                                                         QFileDevice::WriteOwner |
                                                                         QFileDevice::ExeOwner);
        if (mayWrite)
            QSKIP("running as root: a read-only folder is still writable");
    }
};

QTEST_GUILESS_MAIN(TestServiceLog)
#include "tst_servicelog.moc"
