// Base64 for AUTH LOGIN: the padding cases, raw 8-bit bytes and no line
// breaks in long output.

#include "alerts/TBase64.h"

#include <QRandomGenerator>
#include <QTest>

class TestBase64 : public QObject {
    Q_OBJECT
private slots:
    void encode_data()
    {
        QTest::addColumn<QByteArray>("in");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("abc") << QByteArray("abc") << QByteArray("YWJj");
        QTest::newRow("ab") << QByteArray("ab") << QByteArray("YWI=");
        QTest::newRow("a") << QByteArray("a") << QByteArray("YQ==");
        QTest::newRow("empty") << QByteArray() << QByteArray();
        QTest::newRow("two groups and one") << QByteArray("abcdefg") << QByteArray("YWJjZGVmZw==");
        QTest::newRow("high bytes") << QByteArray("\xff\xfe\x80") << QByteArray("//6A");
        QTest::newRow("latin-1 e acute") << QByteArray("caf\xe9") << QByteArray("Y2Fm6Q==");
        QTest::newRow("utf-8 e acute") << QByteArray("caf\xc3\xa9") << QByteArray("Y2Fmw6k=");
        QTest::newRow("zero bytes") << QByteArray("\0\0\0\0", 4) << QByteArray("AAAAAA==");
        QTest::newRow("62 and 63") << QByteArray("\xfb\xef\xbe") << QByteArray("++++");
    }
    void encode()
    {
        QFETCH(QByteArray, in);
        QFETCH(QByteArray, out);
        QByteArray result("left over");
        QCOMPARE(TBase64().Encode(in, result), 0);
        QCOMPARE(result, out);
    }

    // Every length and byte value, against an independent encoder; long
    // output stays on one line.
    void matchesReferenceWithoutLineBreaks()
    {
        QRandomGenerator random(4711);
        for (int length = 0; length < 300; ++length) {
            QByteArray in(length, Qt::Uninitialized);
            for (char &c : in)
                c = char(random.bounded(256));
            QCOMPARE(TBase64::encoded(in), in.toBase64());
        }
        const QByteArray longInput(10000, '\xa7');
        const QByteArray encoded = TBase64::encoded(longInput);
        QCOMPARE(encoded.size(), 13336);
        QVERIFY(!encoded.contains('\n') && !encoded.contains('\r'));
    }
};

QTEST_GUILESS_MAIN(TestBase64)
#include "tst_base64.moc"
