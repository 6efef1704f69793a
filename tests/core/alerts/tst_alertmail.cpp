// Alert e-mails: template lines and variables, the Date header, recipients,
// the site address, the date text, and SendAlertMail end to end against the
// scripted server and, where installed, a real SMTP sink.

#include "FakeServer.h"
#include "SmtpSink.h"
#include "TestSandbox.h"

#include "alerts/AlertMail.h"
#include "alerts/MessageTemplate.h"
#include "base/FileError.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"
#include "base/TimeStamp.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <ctime>
#include <memory>
#include <unistd.h>

namespace {

const QString ServicesKey = QStringLiteral("Software\\Kestrin Software\\Quellmark\\Services");
const QString Service = QStringLiteral("HTTP webhost/status 8080");

QList<QByteArray> bytesOf(const QStringList &lines)
{
    QList<QByteArray> result;
    for (const QString &line : lines)
        result.append(line.toUtf8());
    return result;
}

void useTimeZone(const char *posixZone)
{
    qputenv("TZ", posixZone);
    tzset();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The template used end to end: variables in the Subject and the body, a
// line that needs dot-stuffing, no Date header of its own.
const QByteArray Template = "To: ops@x.test\r\n"
                            "From: Quellmark <alerts@quellmark.test>\r\n"
                            "Subject: {SiteURL} failed {NumberOfFailures} times\r\n"
                            "\r\n"
                            "Down since: {FailureTime}\r\n"
                            "Back since: {RecoveryTime}\r\n"
                            "Outage: {Downtime}\r\n"
                            "Certificate ends: {CertExpiry}\r\n"
                            "Sent: {TimeNow}\r\n"
                            ".signature caf\xc3\xa9\r\n";

} // namespace

class TestAlertMail : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_sandbox = std::make_unique<TestSandbox>();
        m_store = std::make_unique<RegistryStore>(m_sandbox->storePath());
        RegistryStore::setCurrent(m_store.get());
        useTimeZone("CET-1CEST,M3.5.0,M10.5.0/3");
    }
    void cleanup()
    {
        RegistryStore::setCurrent(nullptr);
        m_store.reset();
        m_sandbox.reset();
    }

    void splitTextLines_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("no final break") << QByteArray("a\r\nb") << QStringList{"a", "b"};
        QTest::newRow("lone LF and lone CR") << QByteArray("a\nb\rc") << QStringList{"a", "b", "c"};
        QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
        QTest::newRow("empty lines kept")
            << QByteArray("\r\n\r\nx\r\n\r\n") << QStringList{"", "", "x", ""};
        QTest::newRow("empty text") << QByteArray() << QStringList{};
    }
    void splitTextLines()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, lines);
        QCOMPARE(SplitTextLines(text), bytesOf(lines));
    }

    void replaceVariables_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QStringList>("expected");
        const QStringList plain = {"http://h:80", "3", "fail", "back", "now"};

        QTest::newRow("all five, subject included")
            << QStringList{"Subject: {SiteURL} x{NumberOfFailures}", "",
                           "{FailureTime}|{RecoveryTime}|{TimeNow}"}
            << plain << QStringList{"Subject: http://h:80 x3", "", "fail|back|now"};
        QTest::newRow("every occurrence") << QStringList{"{TimeNow}{TimeNow}", "{TimeNow}"} << plain
                                          << QStringList{"nownow", "now"};
        QTest::newRow("later name inside an earlier value is replaced")
            << QStringList{"{SiteURL}"}
            << QStringList{"a{NumberOfFailures}b{TimeNow}", "7", "", "", "T"}
            << QStringList{"a7bT"};
        QTest::newRow("earlier name inside a later value stays")
            << QStringList{"{TimeNow}"} << QStringList{"url", "1", "", "", "{SiteURL}"}
            << QStringList{"{SiteURL}"};
        QTest::newRow("own name in the value is not scanned again")
            << QStringList{"{FailureTime}{FailureTime}"}
            << QStringList{"", "", "{FailureTime}!", "", ""}
            << QStringList{"{FailureTime}!{FailureTime}!"};
        QTest::newRow("names are case-sensitive")
            << QStringList{"{siteurl} {SITEURL} {SiteUrl} {timenow}"} << plain
            << QStringList{"{siteurl} {SITEURL} {SiteUrl} {timenow}"};
        QTest::newRow("braces around a variable")
            << QStringList{"{{SiteURL}}"} << plain << QStringList{"{http://h:80}"};
        QTest::newRow("line breaks in a value make new lines")
            << QStringList{"a{FailureTime}b", "c"} << QStringList{"", "", "1\r\n2\r3", "", ""}
            << QStringList{"a1", "2", "3b", "c"};
        QTest::newRow("empty values") << QStringList{"[{RecoveryTime}]"}
                                      << QStringList{"", "0", "", "", ""} << QStringList{"[]"};
        QTest::newRow("downtime last, also from an earlier value")
            << QStringList{"{Downtime} {TimeNow}"} << QStringList{"", "", "", "", "t {Downtime}", "45 min"}
            << QStringList{"45 min t 45 min"};
        QTest::newRow("downtime empty on error") << QStringList{"down for [{Downtime}]"} << plain
                                                 << QStringList{"down for []"};
        QTest::newRow("certificate expiry after downtime, also from an earlier value")
            << QStringList{"Subject: ends {CertExpiry}", "", "{Downtime}"}
            << QStringList{"", "", "", "", "", "[{CertExpiry}]", "2026-12-22"}
            << QStringList{"Subject: ends 2026-12-22", "", "[2026-12-22]"};
        QTest::newRow("certificate expiry empty otherwise") << QStringList{"ends [{CertExpiry}]"} << plain
                                                            << QStringList{"ends []"};
        QTest::newRow("certificate expiry is case-sensitive")
            << QStringList{"{certexpiry} {CERTEXPIRY}"} << QStringList{"", "", "", "", "", "", "2026-12-22"}
            << QStringList{"{certexpiry} {CERTEXPIRY}"};
    }

    void downtimeText_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("negative") << qint64(-1) << "";
        QTest::newRow("0 s") << qint64(0) << "under 1 min";
        QTest::newRow("59 s") << qint64(59) << "under 1 min";
        QTest::newRow("1 min") << qint64(60) << "1 min";
        QTest::newRow("45 min 59 s") << qint64(45 * 60 + 59) << "45 min";
        QTest::newRow("1 h") << qint64(3600) << "1 h 00 min";
        QTest::newRow("2 h 5 min") << qint64(2 * 3600 + 5 * 60 + 30) << "2 h 05 min";
        QTest::newRow("23 h 59 min") << qint64(86399) << "23 h 59 min";
        QTest::newRow("1 d") << qint64(86400) << "1 d 0 h";
        QTest::newRow("3 d 4 h 59 min") << qint64(3 * 86400 + 4 * 3600 + 59 * 60) << "3 d 4 h";
        QTest::newRow("400 d") << qint64(400) * 86400 << "400 d 0 h";
    }
    void downtimeText()
    {
        QFETCH(qint64, seconds);
        QFETCH(QString, text);
        QCOMPARE(DowntimeText(seconds), text);
    }
    void replaceVariables()
    {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, values);
        QFETCH(QStringList, expected);
        const TemplateValues v{values.at(0), values.at(1), values.at(2), values.at(3),
                               values.at(4), values.value(5), values.value(6)};
        QCOMPARE(ReplaceTemplateVariables(bytesOf(lines), v), bytesOf(expected));
    }

    // Values that bring in later names could multiply the message without
    // bound; past the limit the message is refused instead.
    void substitutionIsBounded()
    {
        const TemplateValues v{QString::fromLatin1(QByteArray("{NumberOfFailures}").repeated(100)),
                               QStringLiteral("{FailureTime}").repeated(100),
                               QStringLiteral("{RecoveryTime}").repeated(100),
                               QStringLiteral("{TimeNow}").repeated(100), QString(1000, 'x'), QString(),
                               QString()};
        const QList<QByteArray> lines = {"Subject: {SiteURL}", "", "{SiteURL}"};
        QString message;
        try {
            ReplaceTemplateVariables(lines, v);
        } catch (const FileError &error) {
            message = error.message();
        }
        QCOMPARE(message,
                 QStringLiteral("The message would be larger than %1 bytes.").arg(MaxMessageSize));
        // A large message within the bound is made as usual.
        const QList<QByteArray> big = {QByteArray("{TimeNow}").repeated(1000)};
        const TemplateValues plain{{}, {}, {}, {}, QString(10000, 'y'), {}, {}};
        QCOMPARE(ReplaceTemplateVariables(big, plain).value(0).size(), 10000 * 1000);
    }

    void dateHeader_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("added");
        const QStringList body = {"", "body"};
        QTest::newRow("none yet") << QStringList{"To: a", "Subject: s", "", "b"} << true;
        QTest::newRow("Date header") << QStringList{"To: a", "Date: x", "", "b"} << false;
        QTest::newRow("DATE: in capitals") << QStringList{"DATE: x", "", "b"} << false;
        QTest::newRow("date: without blank") << QStringList{"date:x", "", "b"} << false;
        QTest::newRow("Date: in the body only") << QStringList{"To: a", "", "Date: x"} << true;
        QTest::newRow("Dated: is another header") << QStringList{"Dated: x", "", "b"} << true;
        QTest::newRow("no empty line") << QStringList{"To: a", "Subject: s"} << false;
        QTest::newRow("no header lines") << QStringList{"", "b"} << true;
        QTest::newRow("empty message") << QStringList{} << false;
    }
    void dateHeader()
    {
        QFETCH(QStringList, lines);
        QFETCH(bool, added);
        QList<QByteArray> message = bytesOf(lines);
        QCOMPARE(AddDateHeader(message, QStringLiteral("Tue, 8 Dec 2026 15:38:25 +0100")), added);
        QList<QByteArray> expected = bytesOf(lines);
        if (added)
            expected.prepend("Date: Tue, 8 Dec 2026 15:38:25 +0100");
        QCOMPARE(message, expected);
    }

    void splitRecipients_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("recipients");
        QTest::newRow("one") << "a@x" << QStringList{"a@x"};
        QTest::newRow("two") << "a@x,b@x" << QStringList{"a@x", "b@x"};
        QTest::newRow("blank after comma kept") << "a@x, b@x" << QStringList{"a@x", " b@x"};
        QTest::newRow("two commas") << "a@x,,b@x" << QStringList{"a@x", "", "b@x"};
        QTest::newRow("leading comma") << ",a@x" << QStringList{"", "a@x"};
        QTest::newRow("final comma") << "a@x,b@x," << QStringList{"a@x", "b@x"};
        QTest::newRow("final blank piece kept") << "a@x, " << QStringList{"a@x", " "};
        QTest::newRow("semicolon and blank no separators")
            << "a@x;b@x c@x" << QStringList{"a@x;b@x c@x"};
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("comma only") << "," << QStringList{""};
    }
    void splitRecipients()
    {
        QFETCH(QString, text);
        QTEST(SplitRecipients(text), "recipients");
    }

    void buildSiteUrl_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("url");
        QTest::newRow("http") << "HTTP webhost 80"
                              << "http://webhost:80";
        QTest::newRow("path") << "HTTP webhost/status 8080"
                              << "http://webhost:8080/status";
        QTest::newRow("deep path") << "HTTP h.x/a/b?c=1 81"
                                   << "http://h.x:81/a/b?c=1";
        QTest::newRow("ftp") << "FTP ftp.x.test 21"
                             << "ftp://ftp.x.test:21";
        QTest::newRow("pop3") << "POP3 mail 110"
                              << "pop3://mail:110";
        QTest::newRow("type in any case") << "Smtp mail 25"
                                          << "smtp://mail:25";
        QTest::newRow("no port") << "HTTP webhost/x"
                                 << "http://webhost/x";
        QTest::newRow("one word") << "webhost"
                                  << "http://webhost";
        QTest::newRow("empty") << ""
                               << "";
    }
    void buildSiteUrl()
    {
        QFETCH(QString, name);
        QTEST(BuildSiteUrl(name), "url");
    }

    void rfc822Date_data()
    {
        QTest::addColumn<QDateTime>("moment");
        QTest::addColumn<QString>("text");
        const auto at = [](int y, int mo, int d, int h, int mi, int s, int offsetMinutes) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone(offsetMinutes * 60));
        };
        QTest::newRow("+0200") << at(2026, 7, 4, 9, 5, 3, 120) << "Sat, 4 Jul 2026 09:05:03 +0200";
        QTest::newRow("+0530") << at(2026, 12, 8, 15, 38, 25, 330)
                               << "Tue, 8 Dec 2026 15:38:25 +0530";
        QTest::newRow("-0500") << at(2025, 1, 1, 0, 0, 0, -300) << "Wed, 1 Jan 2025 00:00:00 -0500";
        QTest::newRow("-0330") << at(2024, 2, 29, 23, 59, 59, -210)
                               << "Thu, 29 Feb 2024 23:59:59 -0330";
        QTest::newRow("GMT") << at(2027, 3, 7, 12, 0, 0, 0) << "Sun, 7 Mar 2027 12:00:00 GMT";
        QTest::newRow("UTC moment") << QDateTime(QDate(2026, 11, 1), QTime(1, 2, 3), Qt::UTC)
                                    << "Sun, 1 Nov 2026 01:02:03 GMT";
        QTest::newRow("invalid") << QDateTime() << "";
    }
    void rfc822Date()
    {
        QFETCH(QDateTime, moment);
        // The names stay English whatever the user's language.
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QString text = Rfc822Date(moment);
        QLocale::setDefault(before);
        QTEST(text, "text");
    }

    // The offset of the local time of the moment, daylight saving included.
    void zoneOffsetOfLocalTime_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("text");
        const QByteArray central = "CET-1CEST,M3.5.0,M10.5.0/3";
        const QByteArray eastern = "EST5EDT,M3.2.0,M11.1.0";
        QTest::newRow("summer +0200") << central << QDate(2026, 7, 1) << "+0200";
        QTest::newRow("winter +0100") << central << QDate(2026, 1, 15) << "+0100";
        QTest::newRow("+0530") << QByteArray("IST-5:30") << QDate(2026, 7, 1) << "+0530";
        QTest::newRow("-0500") << eastern << QDate(2026, 1, 15) << "-0500";
        QTest::newRow("summer -0400") << eastern << QDate(2026, 7, 1) << "-0400";
        QTest::newRow("GMT") << QByteArray("UTC0") << QDate(2026, 7, 1) << "GMT";
    }
    void zoneOffsetOfLocalTime()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDate, date);
        useTimeZone(zone.constData());
        QTEST(ZoneOffsetText(QDateTime(date, QTime(12, 0))), "text");
    }

    void templateFileErrors_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty path") << ""
                                    << "";
        QTest::newRow("missing file") << "missing.txt"
                                      << "No such file or directory";
        QTest::newRow("folder") << "folder"
                                << "";
        QTest::newRow("too large") << "large.txt"
                                   << "The file is larger than 1048576 bytes.";
    }
    // The file error comes before any connection is made.
    void templateFileErrors()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QString folder = m_sandbox->root();
        QDir(folder).mkdir(QStringLiteral("folder"));
        writeFile(folder + QStringLiteral("/large.txt"), QByteArray(MaxTemplateSize + 1, 'x'));
        const QString path = name.isEmpty() ? QString() : folder + QLatin1Char('/') + name;

        FakeServer server;
        QVERIFY(server.listen());
        try {
            sendTo(server, path, QStringLiteral("a@x.test"));
            QFAIL("no error");
        } catch (const FileError &error) {
            const QString prefix = QStringLiteral("Cannot open file \"%1\". ").arg(path);
            QVERIFY2(error.message().startsWith(prefix), qPrintable(error.message()));
            QVERIFY(error.message().size() > prefix.size());
            if (!reason.isEmpty())
                QCOMPARE(error.message(), prefix + reason);
        }
        QTest::qWait(50);
        QCOMPARE(server.connectionCount(), 0);
    }

    void largestTemplateIsRead()
    {
        const QString path = m_sandbox->root() + QStringLiteral("/full.txt");
        writeFile(path, QByteArray(MaxTemplateSize - 2, 'x') + "\r\n");
        QCOMPARE(LoadTemplateLines(path).size(), 1);
    }

    void endToEnd_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QString>("certExpiry");
        QTest::addColumn<QByteArray>("values");
        QTest::newRow("values stored")
            << true << QString()
            << QByteArray("Subject: http://webhost:8080/status failed 3 times\r\n\r\n"
                          "Down since: 08.12.2026 15:00:00\r\nBack since: 08.12.2026 15:30:00\r\n"
                          "Outage: 2 h 05 min\r\nCertificate ends: \r\n");
        QTest::newRow("values missing")
            << false << QString()
            << QByteArray("Subject: http://webhost:8080/status failed 0 times\r\n\r\n"
                          "Down since: \r\nBack since: \r\nOutage: \r\nCertificate ends: \r\n");
        QTest::newRow("certificate warning")
            << true << QStringLiteral("2026-12-22")
            << QByteArray("Subject: http://webhost:8080/status failed 3 times\r\n\r\n"
                          "Down since: 08.12.2026 15:00:00\r\nBack since: 08.12.2026 15:30:00\r\n"
                          "Outage: 2 h 05 min\r\nCertificate ends: 2026-12-22\r\n");
    }
    void endToEnd()
    {
        QFETCH(bool, stored);
        QFETCH(QString, certExpiry);
        QFETCH(QByteArray, values);
        if (stored)
            storeServiceValues();
        const QString path = m_sandbox->root() + QStringLiteral("/OnError_Default.txt");
        writeFile(path, Template);

        FakeServer server;
        QVERIFY(server.listen());
        FakeServer::Scenario scenario;
        scenario.send("220 fake.test ESMTP\r\n");
        for (const auto &[command, reply] :
             QList<std::pair<QByteArray, QByteArray>>{{"HELO tester\r\n", "250 fake.test\r\n"},
                                                      {"MAIL FROM", "250 2.1.0 Ok\r\n"},
                                                      {"RCPT TO:<a@x.test>", "250 2.1.5 Ok\r\n"},
                                                      {"RCPT TO:< b@x.test>", "250 2.1.5 Ok\r\n"},
                                                      {"DATA\r\n", "354 Go ahead\r\n"},
                                                      {"\r\n.\r\n", "250 2.0.0 Ok: queued\r\n"}})
            scenario.waitForText(command).send(reply);
        server.setScenario(scenario);

        QCOMPARE(sendTo(server, path, QStringLiteral("a@x.test, b@x.test"), certExpiry),
                 QStringLiteral("250 2.0.0 Ok: queued"));
        QVERIFY(QTest::qWaitFor([&] { return server.peerClosed(0); }, 5000));
        const QByteArray message = "Date: Tue, 8 Dec 2026 16:00:05 +0100\r\n"
                                   "To: ops@x.test\r\n"
                                   "From: Quellmark <alerts@quellmark.test>\r\n" +
                                   values + "Sent: " + timeNow().toUtf8() +
                                   "\r\n..signature caf\xc3\xa9\r\n.\r\n";
        QCOMPARE(server.received(0), "HELO tester\r\nMAIL FROM:<alerts@quellmark.test>\r\n"
                                     "RCPT TO:<a@x.test>\r\nRCPT TO:< b@x.test>\r\nDATA\r\n" +
                                         message + "QUIT\r\n");
    }

    void brokenConnectionIsNotSent()
    {
        const QString path = m_sandbox->root() + QStringLiteral("/big.txt");
        QByteArray big = "Subject: big\r\n\r\n";
        while (big.size() < 900 * 1024)
            big += QByteArray(78, 'm') + "\r\n";
        writeFile(path, big);
        FakeServer server;
        QVERIFY(server.listen());
        FakeServer::Scenario scenario;
        scenario.send("220 fake.test\r\n").waitForText("HELO").send("250 ok\r\n");
        scenario.waitForText("MAIL").send("250 ok\r\n").waitForText("RCPT").send("250 ok\r\n");
        scenario.waitForText("DATA\r\n").send("354 go\r\n").close();
        server.setScenario(scenario);
        QCOMPARE(sendTo(server, path, QStringLiteral("a@x.test")),
                 QStringLiteral("Message could not be sent"));
    }

    void noServerGivesEmptyReply()
    {
        const QString path = m_sandbox->root() + QStringLiteral("/t.txt");
        writeFile(path, Template);
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        SmtpSettings smtp;
        smtp.server = QStringLiteral("127.0.0.1");
        smtp.port = closed.serverPort();
        closed.close();
        QCOMPARE(SendAlertMail(ServicesKey, Service, path, QStringLiteral("a@x.test"), smtp,
                               environment()),
                 QString());
    }

    // A real SMTP server receives the message; the values and the Date header
    // are in what it stored.
    void realSmtpSink()
    {
        if (SmtpSink::executable().isEmpty())
            QSKIP("postfix's smtp-sink is not installed (Debian package postfix); the delivery "
                  "through a real SMTP server was not tested");

        storeServiceValues();
        const QString path = m_sandbox->root() + QStringLiteral("/OnError_Default.txt");
        writeFile(path, Template);
        SmtpSink sink;
        QVERIFY2(sink.start(), "smtp-sink did not start listening");

        SmtpSettings smtp;
        smtp.server = QStringLiteral("127.0.0.1");
        smtp.port = sink.port();
        smtp.from = QStringLiteral("alerts@quellmark.test");
        QCOMPARE(SendAlertMail(ServicesKey, Service, path, QStringLiteral("a@x.test,b@x.test"),
                               smtp, environment()),
                 QStringLiteral("250 2.0.0 Ok"));

        QVERIFY(sink.waitForMessages(1));
        const QByteArray dump = sink.messages().first();
        // The sink keeps the envelope as X- headers and un-stuffs the dots.
        const QList<QByteArray> lines = SplitTextLines(dump);
        for (const QByteArray &expected :
             QList<QByteArray>{"X-Helo-Args: tester", "X-Mail-Args: <alerts@quellmark.test>",
                               "X-Rcpt-Args: <a@x.test>", "X-Rcpt-Args: <b@x.test>",
                               "Date: Tue, 8 Dec 2026 16:00:05 +0100",
                               "Subject: http://webhost:8080/status failed 3 times",
                               "Down since: 08.12.2026 15:00:00", "Back since: 08.12.2026 15:30:00",
                               "Outage: 2 h 05 min", "Sent: " + timeNow().toUtf8(), ".signature caf\xc3\xa9"})
            QVERIFY2(lines.contains(expected), expected.constData());
    }

private:
    static QDateTime now() { return QDateTime(QDate(2026, 12, 8), QTime(16, 0, 5)); }
    static QString timeNow() { return TimeStamp::format(now(), QLocale(QLocale::German)); }

    static AlertMailEnvironment environment()
    {
        AlertMailEnvironment environment;
        environment.now = &now;
        environment.locale = QLocale(QLocale::German);
        environment.heloName = QStringLiteral("tester");
        environment.waits.connectMs = 5000;
        environment.waits.firstDataMs = 3000;
        environment.waits.extraTryMs = 500;
        environment.waits.readMs = 500;
        environment.waits.replyTotalMs = 5000;
        environment.waits.sendMs = 5000;
        return environment;
    }

    static void storeServiceValues()
    {
        const QString key = ServicesKey + QLatin1Char('\\') + Service;
        RegWriteInteger(key, QStringLiteral("ActualFailures"), 3);
        RegWriteString(key, QStringLiteral("FailureTime"), QStringLiteral("08.12.2026 15:00:00"));
        RegWriteString(key, QStringLiteral("RecoveryTime"), QStringLiteral("08.12.2026 15:30:00"));
        RegWriteString(key, QStringLiteral("OutageStart"), QStringLiteral("2026-12-08T13:25:00Z"));
        RegWriteString(key, QStringLiteral("OutageEnd"), QStringLiteral("2026-12-08T15:30:59Z"));
    }

    static QString sendTo(const FakeServer &server, const QString &templatePath,
                          const QString &recipients, const QString &certExpiry = QString())
    {
        SmtpSettings smtp;
        smtp.server = QStringLiteral("127.0.0.1");
        smtp.port = server.port();
        smtp.from = QStringLiteral("alerts@quellmark.test");
        return SendAlertMail(ServicesKey, Service, templatePath, recipients, smtp, environment(), nullptr,
                             certExpiry);
    }

    std::unique_ptr<TestSandbox> m_sandbox;
    std::unique_ptr<RegistryStore> m_store;
};

QTEST_GUILESS_MAIN(TestAlertMail)
#include "tst_alertmail.moc"
