#include "engine/ServiceLog.h"
#include "stats/LogRecord.h"
#include "base/TimeStamp.h"
#include "TestSandbox.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestLogRecord : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    static void writeFile(const QString &filePath, const QByteArray &bytes)
    {
        QFile file(filePath);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

private slots:
    void initTestCase() { m_sandbox = std::make_unique<TestSandbox>(); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>(m_sandbox->root() + QStringLiteral("/t-XXXXXX"));
        QVERIFY(m_dir->isValid());
    }

    // What the writer puts into a service log reads back in every locale.
    void writtenRecordsReadBack_data()
    {
        QTest::addColumn<QString>("locale");
        for (const char *name : {"C", "en_US", "en_GB", "de_DE"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void writtenRecordsReadBack()
    {
        QFETCH(QString, locale);
        const QLocale loc(locale);
        const QList<std::pair<LogRecord::Kind, QDateTime>> written{
            {LogRecord::Start, QDateTime(QDate(2026, 2, 28), QTime(23, 59, 59))},
            {LogRecord::WentOnError, QDateTime(QDate(2026, 3, 1), QTime(0, 0))},
            {LogRecord::CameOffError, QDateTime(QDate(2026, 3, 1), QTime(12, 0, 1))},
            {LogRecord::WentOnError, QDateTime(QDate(2026, 12, 31), QTime(13, 5, 9))},
            {LogRecord::CameOffError, QDateTime(QDate(2027, 1, 1), QTime(1, 0))},
        };
        const QString log = ServiceLog::logPath(m_dir->path() + QLatin1Char('/'),
                                                QStringLiteral("HTTP webhost 80"));
        for (const auto &[kind, when] : written) {
            const QString stamp = TimeStamp::format(when, loc);
            if (kind == LogRecord::Start)
                QVERIFY(ServiceLog::ensureLogStarted(log, stamp));
            else if (kind == LogRecord::WentOnError)
                ServiceLog::appendWentOnError(log, stamp);
            else
                ServiceLog::appendCameOffError(log, stamp);
        }
        QStringList lines;
        QString error;
        QVERIFY2(readLogLines(log, lines, &error), qPrintable(error));
        QCOMPARE(lines.size(), written.size());
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const auto record = parseLogLine(lines.at(i), loc, &error);
            QVERIFY2(record.has_value(), qPrintable(error));
            QCOMPARE(record->kind, written.at(i).first);
            QCOMPARE(record->when, written.at(i).second);
        }
    }

    void kinds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("kind");
        QTest::newRow("log start") << ":  Log start" << int(LogRecord::Start);
        QTest::newRow("went on error") << ": went on error." << int(LogRecord::WentOnError);
        QTest::newRow("came off error") << ": came off error." << int(LogRecord::CameOffError);
        QTest::newRow("edited, on error") << ": still on error!" << int(LogRecord::WentOnError);
        QTest::newRow("case matters") << ": Went On Error." << int(LogRecord::Start);
        QTest::newRow("both, on wins")
            << ": off error then on error" << int(LogRecord::WentOnError);
        QTest::newRow("nothing after stamp") << ": " << int(LogRecord::Start);
    }
    void kinds()
    {
        QFETCH(QString, text);
        QFETCH(int, kind);
        const auto record = parseLogLine(QStringLiteral("08/12/2026 15:38:25") + text,
                                         QLocale(QStringLiteral("en_GB")));
        QVERIFY(record.has_value());
        QCOMPARE(int(record->kind), kind);
        QCOMPARE(record->when, QDateTime(QDate(2026, 12, 8), QTime(15, 38, 25)));
    }

    void badStamp_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("named");
        QTest::newRow("garbage") << "garbage: went on error."
                                 << "\"garbage\"";
        QTest::newRow("two-digit year") << "08/12/26 10:00:00: went on error."
                                        << "\"08/12/26 10:00:00\"";
        QTest::newRow("other locale") << "12/31/2026 10:00:00: came off error."
                                      << "\"12/31/2026 10:00:00\"";
        QTest::newRow("no colon blank") << "08/12/2026 10:00:00:went on error."
                                        << "\"08/12/2026 10:00:00:went on error.\"";
        QTest::newRow("empty line") << ""
                                    << "\"\"";
        QTest::newRow("empty stamp") << ": went on error."
                                     << "\"\"";
    }
    void badStamp()
    {
        QFETCH(QString, line);
        QFETCH(QString, named);
        QString error;
        QVERIFY(!parseLogLine(line, QLocale(QStringLiteral("en_GB")), &error).has_value());
        QVERIFY2(error.contains(named), qPrintable(error));
    }

    void readLines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty file") << QByteArray() << QStringList();
        QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("lf and last without end")
            << QByteArray("a\nb\r\nc") << QStringList{"a", "b", "c"};
        QTest::newRow("empty lines kept")
            << QByteArray("a\r\n\r\nb\r\n") << QStringList{"a", "", "b"};
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF"
                                                       "a\r\n")
                                         << QStringList{"a"};
        QTest::newRow("utf-8") << QByteArray("8 D\xC3\xA9\x63 2026\r\n")
                               << QStringList{QString::fromUtf8("8 D\u00e9c 2026")};
        QTest::newRow("line at the limit") << QByteArray(16, 'x') + "\r\n"
                                           << QStringList{QString(16, QLatin1Char('x'))};
    }
    void readLines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        writeFile(path(QStringLiteral("a.log")), bytes);
        QStringList read{QStringLiteral("stale")};
        QString error;
        QVERIFY2(readLogLines(path(QStringLiteral("a.log")), read, &error, 16), qPrintable(error));
        QCOMPARE(read, lines);
    }

    void readRefuses_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::newRow("long line") << QByteArray("ok\r\n") + QByteArray(17, 'x') + "\r\n"
                                   << "Line 2 of";
        QTest::newRow("long last line") << QByteArray(17, 'x') << "Line 1 of";
        QTest::newRow("no line ends at all") << QByteArray(1 << 20, 'x') << "Line 1 of";
    }
    void readRefuses()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        writeFile(path(QStringLiteral("a.log")), bytes);
        QStringList read;
        QString error;
        QVERIFY(!readLogLines(path(QStringLiteral("a.log")), read, &error, 16));
        QVERIFY2(error.startsWith(message), qPrintable(error));
        QVERIFY(read.isEmpty());
    }

    void missingFile()
    {
        QStringList read;
        QString error;
        QVERIFY(!readLogLines(path(QStringLiteral("none.log")), read, &error));
        QVERIFY2(error.contains(QLatin1String("none.log")), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestLogRecord)
#include "tst_logrecord.moc"
