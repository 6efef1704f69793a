// When an answer is complete, what is kept of it, and its size bound.

#include "engine/AnswerReader.h"

#include <QTest>

using Chunks = QList<QByteArray>;

namespace {

QByteArray bytes(const char *text, qsizetype size)
{
    return QByteArray(text, size);
}

} // namespace

class TestAnswerReader : public QObject {
    Q_OBJECT
private slots:
    // doneAt: the chunk after which the answer is first complete; the chunk
    // count means "only at the peer's close", -1 "not even then" (no close).
    void framing_data()
    {
        QTest::addColumn<bool>("http");
        QTest::addColumn<bool>("head");
        QTest::addColumn<Chunks>("chunks");
        QTest::addColumn<bool>("close");
        QTest::addColumn<int>("doneAt");
        QTest::addColumn<QByteArray>("answer");

        QTest::newRow("greeting line") << false << false << Chunks{"220 ready\r\n"} << false << 0
                                       << QByteArray("220 ready\r\n");
        QTest::newRow("greeting in pieces, CR and LF apart")
            << false << false << Chunks{"220 re", "ady\r", "\n"} << false << 2
            << QByteArray("220 ready\r\n");
        QTest::newRow("greeting with LF only waits")
            << false << false << Chunks{"220 ready\n"} << false << -1 << QByteArray("220 ready\n");
        QTest::newRow("greeting cut by close")
            << false << false << Chunks{"220 bye"} << true << 1 << QByteArray("220 bye");
        QTest::newRow("greeting: CR LF inside does not end it")
            << false << false << Chunks{"220-a\r\n220 b"} << false << -1
            << QByteArray("220-a\r\n220 b");

        const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";
        QTest::newRow("head ends at the header block")
            << true << true << Chunks{"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", "\r\n"} << false
            << 1 << head;
        QTest::newRow("get waits for content length")
            << true << false << Chunks{head, "hel", "lo"} << false << 2 << head + "hello";
        QTest::newRow("content length zero")
            << true << false << Chunks{"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"} << false << 0
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        QTest::newRow("header name in any case")
            << true << false << Chunks{"HTTP/1.1 200 OK\r\ncontent-LENGTH:2\r\n\r\n", "ok"} << false
            << 1 << QByteArray("HTTP/1.1 200 OK\r\ncontent-LENGTH:2\r\n\r\nok");
        QTest::newRow("LF-only header lines")
            << true << false << Chunks{"HTTP/1.1 200 OK\nContent-Length: 2\n\n", "ok"} << false << 1
            << QByteArray("HTTP/1.1 200 OK\nContent-Length: 2\n\nok");

        const QByteArray chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        QTest::newRow("chunked up to the last chunk")
            << true << false << Chunks{chunkedHead, "5\r\nhel", "lo\r\n", "0\r\n", "\r\n"} << false
            << 4 << chunkedHead + "5\r\nhello\r\n0\r\n\r\n";
        QTest::newRow("chunked with extension and trailer")
            << true << false << Chunks{chunkedHead + "A;x=y\r\n0123456789\r\n0\r\nX: 1\r\n", "\r\n"}
            << false << 1 << chunkedHead + "A;x=y\r\n0123456789\r\n0\r\nX: 1\r\n\r\n";
        QTest::newRow("chunked beats content length")
            << true << false
            << Chunks{"HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n",
                      "3\r\nabc\r\n", "0\r\n\r\n"}
            << false << 2
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: "
                          "chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n");
        QTest::newRow("bad chunk size ends the read")
            << true << false << Chunks{chunkedHead, "zz\r\n"} << false << 1
            << chunkedHead + "zz\r\n";
        QTest::newRow("no length: until close")
            << true << false << Chunks{"HTTP/1.0 200 OK\r\n\r\n", "body"} << true << 2
            << QByteArray("HTTP/1.0 200 OK\r\n\r\nbody");
        QTest::newRow("204 has no body")
            << true << false << Chunks{"HTTP/1.1 204 No Content\r\n\r\n"} << false << 0
            << QByteArray("HTTP/1.1 204 No Content\r\n\r\n");
        QTest::newRow("304 has no body")
            << true << false << Chunks{"HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n"}
            << false << 0 << QByteArray("HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n");
        QTest::newRow("headers alone do not end a get")
            << true << false << Chunks{"HTTP/1.1 200 OK\r\n\r\n"} << false << -1
            << QByteArray("HTTP/1.1 200 OK\r\n\r\n");
        QTest::newRow("not http ends at once")
            << true << false << Chunks{"<html>"} << false << 0 << QByteArray("<html>");
        QTest::newRow("partial status prefix waits") << true << true << Chunks{"HTT", "P/1.1 200"}
                                                     << false << -1 << QByteArray("HTTP/1.1 200");

        // Pieces are counted from the first byte of the answer, not per chunk.
        QTest::newRow("http: zero byte drops the rest of its piece")
            << true << true << Chunks{bytes("HTTP/1.1 200 OK\0xyz\r\n\r\n", 24)} << false << 0
            << QByteArray("HTTP/1.1 200 OK\n\r\n");
        QTest::newRow("http: pieces span chunks")
            << true << false
            << Chunks{"HTTP/1.0 200 OK\r\n\r\n", bytes("a\0bc", 4), "defghij", "klm"} << true << 4
            << QByteArray("HTTP/1.0 200 OK\r\n\r\naklm");
        QTest::newRow("greeting: zero byte hides up to byte 200")
            << false << false << Chunks{bytes("220 ok\0", 7) + QByteArray(193, 'x') + "\r\n"}
            << false << 0 << QByteArray("220 ok\r\n");
    }

    void framing()
    {
        QFETCH(bool, http);
        QFETCH(bool, head);
        QFETCH(Chunks, chunks);
        QFETCH(bool, close);
        QFETCH(int, doneAt);

        AnswerReader reader(http ? AnswerReader::Mode::Http : AnswerReader::Mode::Greeting, head);
        int firstDone = -1;
        for (int i = 0; i < chunks.size(); ++i) {
            reader.feed(chunks.at(i));
            if (firstDone < 0 && reader.done())
                firstDone = i;
        }
        if (close) {
            reader.peerClosed();
            if (firstDone < 0 && reader.done())
                firstDone = int(chunks.size());
        }
        QCOMPARE(firstDone, doneAt);
        QTEST(reader.answer(), "answer");
    }

    void bytesAfterTheEndAreIgnored()
    {
        AnswerReader reader(AnswerReader::Mode::Greeting);
        reader.feed("220 ok\r\n");
        reader.feed("more\r\n");
        QCOMPARE(reader.answer(), QByteArray("220 ok\r\n"));
    }

    void bound_data()
    {
        QTest::addColumn<bool>("http");
        QTest::addColumn<QByteArray>("start");
        QTest::addColumn<QByteArray>("filler");
        QTest::addColumn<qsizetype>("limit");

        QTest::newRow("endless body") << true << QByteArray("HTTP/1.0 200 OK\r\n\r\n")
                                      << QByteArray(4096, 'a') << AnswerReader::HttpLimit;
        // Ten-byte chunks of a header block that never ends: the scan for
        // the end must stay linear or this crawls.
        QTest::newRow("endless header line") << true << QByteArray("HTTP/1.1 200 OK\r\nX: ")
                                             << QByteArray(10, 'h') << AnswerReader::HttpLimit;
        QTest::newRow("endless greeting")
            << false << QByteArray("220 ") << QByteArray(1000, 'g') << AnswerReader::GreetingLimit;
    }

    void bound()
    {
        QFETCH(bool, http);
        QFETCH(QByteArray, start);
        QFETCH(QByteArray, filler);
        QFETCH(qsizetype, limit);

        AnswerReader reader(http ? AnswerReader::Mode::Http : AnswerReader::Mode::Greeting);
        reader.feed(start);
        qsizetype fed = start.size();
        while (!reader.done() && fed < 4 * limit) {
            reader.feed(filler);
            fed += filler.size();
        }
        QVERIFY(reader.done());
        QVERIFY(reader.reachedLimit());
        QCOMPARE(reader.answer().size(), limit);
        QVERIFY(fed < limit + filler.size() + 1);
    }
};

QTEST_GUILESS_MAIN(TestAnswerReader)
#include "tst_answerreader.moc"
