// What the mail client reads out of an EHLO reply: whether STARTTLS is
// offered and which login mechanisms, within a bound. The login dialogue
// itself is tested against a server in tst_kesmtp and tst_smtptls.

#include "alerts/SmtpEhloReply.h"

#include <QTest>

class TestSmtpEhloReply : public QObject {
    Q_OBJECT

private slots:
    void reading_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("startTls");
        QTest::addColumn<QByteArrayList>("logins");

        QTest::newRow("STARTTLS on the last line, lower case")
            << QByteArray("250-fake.test\r\n250-AUTH LOGIN\r\n250 starttls\r\n") << true
            << QByteArrayList{"LOGIN"};
        QTest::newRow("a longer keyword is not STARTTLS")
            << QByteArray("250-fake.test\r\n250-STARTTLSX\r\n250 X-STARTTLS\r\n") << false
            << QByteArrayList{};
        QTest::newRow("STARTTLS in the greeting line's text only")
            << QByteArray("250 fake.test STARTTLS\r\n") << false << QByteArrayList{};
        QTest::newRow("lines without a code separator are passed over")
            << QByteArray("250STARTTLS\r\n25 AUTH LOGIN\r\n250 SIZE\r\n") << false
            << QByteArrayList{};
        QTest::newRow("each mechanism once, in the order given")
            << QByteArray("250-AUTH plain LOGIN\r\n250 AUTH=Login CRAM-MD5 PLAIN\r\n") << false
            << QByteArrayList{"PLAIN", "LOGIN", "CRAM-MD5"};
        QTest::newRow("lone line feeds end lines too")
            << QByteArray("250-fake.test\n250-STARTTLS\n250 AUTH PLAIN\n") << true
            << QByteArrayList{"PLAIN"};

        QByteArray many = "250 AUTH";
        QByteArrayList kept;
        for (int i = 0; i < 40; ++i) {
            const QByteArray name = "M" + QByteArray::number(i);
            many += ' ' + name;
            if (i < SmtpEhloReply::MechanismsKept)
                kept.append(name);
        }
        QTest::newRow("no more mechanisms than the bound") << many + "\r\n" << false << kept;
    }
    void reading()
    {
        QFETCH(QByteArray, reply);
        const SmtpEhloReply offer(reply);
        QTEST(offer.offers("STARTTLS"), "startTls");
        QTEST(offer.logins(), "logins");
    }
};

QTEST_GUILESS_MAIN(TestSmtpEhloReply)
#include "tst_smtpehloreply.moc"
