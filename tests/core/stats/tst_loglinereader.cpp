// The line-at-a-time reader cuts lines out of large reads itself; it must
// give exactly what reading the whole log gives (readLogLines), also where a
// line straddles two reads, at the length limit and at the file's end.

#include "stats/LogLineReader.h"
#include "stats/LogRecord.h"
#include "TestSandbox.h"

#include <QFile>
#include <QTest>

class TstLogLineReader : public QObject {
    Q_OBJECT
private slots:
    void sameAsWholeRead_data();
    void sameAsWholeRead();
    void reopenStartsAgain();
    void overlongLinesArePassedOver_data();
    void overlongLinesArePassedOver();
};

namespace {

QByteArray linesOf(int count, int width, const QByteArray &end)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += QByteArray::number(i).rightJustified(width, 'x') + end;
    return bytes;
}

} // namespace

void TstLogLineReader::sameAsWholeRead_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("limit");

    const int big = 4096;
    // One read is 64 KiB plus the limit and three bytes.
    const int firstRead = 64 * 1024 + big + 3;
    QTest::newRow("empty file") << QByteArray() << big;
    QTest::newRow("CR LF lines") << QByteArray("a\r\nbb\r\n") << big;
    QTest::newRow("LF lines, last without end") << QByteArray("a\nbb\nccc") << big;
    QTest::newRow("lone CR at the end stays") << QByteArray("a\r\nb\r") << big;
    QTest::newRow("CR inside a line stays") << QByteArray("a\rb\r\n") << big;
    QTest::newRow("empty lines") << QByteArray("\r\n\n\r\n") << big;
    QTest::newRow("byte order mark dropped on line 1 only") << QByteArray("\xEF\xBB\xBF"
                                                                          "a\r\n\xEF\xBB\xBF"
                                                                          "b\r\n")
                                                            << big;
    QTest::newRow("zero bytes and bad UTF-8") << QByteArray("a\0b\r\n\xFF\xFE\r\n", 10) << big;
    QTest::newRow("line at the limit") << (QByteArray(16, 'a') + "\r\nb\r\n") << 16;
    QTest::newRow("line one over the limit") << (QByteArray(17, 'a') + "\r\nb\r\n") << 16;
    QTest::newRow("CR LF after a line at the limit") << (QByteArray(16, 'a') + "\r\n") << 16;
    QTest::newRow("line at the limit plus a CR, no end") << (QByteArray(16, 'a') + "\r") << 16;
    QTest::newRow("overlong last line without end") << ("a\n" + QByteArray(40, 'b')) << 16;
    QTest::newRow("overlong line in the middle")
        << ("a\n" + QByteArray(100000, 'b') + "\nc\n") << big;
    QTest::newRow("many reads") << linesOf(20000, 60, "\r\n") << big;
    QTest::newRow("many reads, LF only, no last end") << linesOf(20000, 37, "\n").chopped(1) << big;
    // The same line cut by the end of the first read at every place near it.
    for (int shift = -3; shift <= 3; ++shift) {
        const QByteArray head(firstRead + shift - 5, 'h');
        QTest::addRow("line across the first read's end %+d", shift)
            << (head.left(head.size() - 2) + "\r\nabcdefghij\r\nlast\r\n") << big;
    }
    QTest::addRow("CR and LF on both sides of the first read's end")
        << (QByteArray(firstRead - 1, 'h').left(100) + "\n" + QByteArray(firstRead - 104, 'i') +
            "\r\n" + "z")
        << big;
    QTest::newRow("limit lines across reads") << linesOf(200, big, "\r\n") << big;
}

void TstLogLineReader::sameAsWholeRead()
{
    QFETCH(QByteArray, content);
    QFETCH(int, limit);

    TestSandbox sandbox;
    const QString path = sandbox.root() + QStringLiteral("/test(http).log");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    QStringList whole;
    QString wholeError;
    const bool wholeOk = readLogLines(path, whole, &wholeError, limit);

    LogLineReader reader(limit);
    QVERIFY(reader.open(path));
    QStringList lines;
    QString line;
    QString error;
    LogLineReader::Result result;
    while ((result = reader.next(line, &error)) == LogLineReader::GotLine)
        lines.append(line);

    QCOMPARE(result == LogLineReader::AtEnd, wholeOk);
    if (wholeOk) {
        QCOMPARE(lines.size(), whole.size());
        QCOMPARE(lines, whole);
        QCOMPARE(reader.lineNumber(), qint64(whole.size()));
        // Past the end it stays there.
        QCOMPARE(reader.next(line), LogLineReader::AtEnd);
    } else {
        QCOMPARE(error, wholeError);
    }
}

void TstLogLineReader::reopenStartsAgain()
{
    TestSandbox sandbox;
    const QString first = sandbox.root() + QStringLiteral("/a.log");
    const QString second = sandbox.root() + QStringLiteral("/b.log");
    for (const auto &[path, text] :
         {std::pair{first, QByteArray("1\r\n2\r\n")}, std::pair{second, QByteArray("x\r\n")}}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    LogLineReader reader;
    QString line;
    QVERIFY(reader.open(first));
    QCOMPARE(reader.next(line), LogLineReader::GotLine);
    QCOMPARE(line, QStringLiteral("1"));
    // Nothing of the first file's unread bytes carries over.
    QVERIFY(reader.open(second));
    QCOMPARE(reader.next(line), LogLineReader::GotLine);
    QCOMPARE(line, QStringLiteral("x"));
    QCOMPARE(reader.lineNumber(), qint64(1));
    QCOMPARE(reader.next(line), LogLineReader::AtEnd);
    QVERIFY(!reader.open(sandbox.root() + QStringLiteral("/missing.log")));
    QCOMPARE(reader.next(line), LogLineReader::AtEnd);
}

// Where the whole read refuses a log, this reader tells of each overlong
// line and goes on with the line after it.
void TstLogLineReader::overlongLinesArePassedOver_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("limit");
    QTest::addColumn<QStringList>("lines"); // "#" for an overlong line

    // The first read fills the buffer: 64 KiB plus the limit and three bytes.
    QTest::newRow("line feed first in the next read")
        << (QByteArray(64 * 1024 + 16 + 3, 'b') + "\nc") << 16 << QStringList{"#", "c"};
    QTest::newRow("two in a row") << (QByteArray(20, 'b') + "\n" + QByteArray(20, 'b') + "\nc")
                                  << 16 << QStringList{"#", "#", "c"};
    QTest::newRow("last, without end")
        << ("a\n" + QByteArray(100000, 'b')) << 16 << QStringList{"a", "#"};
}

void TstLogLineReader::overlongLinesArePassedOver()
{
    QFETCH(QByteArray, content);
    QFETCH(int, limit);
    QFETCH(QStringList, lines);

    TestSandbox sandbox;
    const QString path = sandbox.root() + QStringLiteral("/test(http).log");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    LogLineReader reader(limit);
    QVERIFY(reader.open(path));
    QStringList read;
    QString line;
    for (LogLineReader::Result result; (result = reader.next(line)) != LogLineReader::AtEnd;) {
        QVERIFY(result != LogLineReader::Failed);
        read << (result == LogLineReader::TooLong ? QStringLiteral("#") : line);
    }
    QCOMPARE(read, lines);
    QCOMPARE(reader.lineNumber(), qint64(lines.size()));
}

QTEST_GUILESS_MAIN(TstLogLineReader)
#include "tst_loglinereader.moc"
