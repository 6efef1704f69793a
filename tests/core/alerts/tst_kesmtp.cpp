// The SMTP client against a scripted server on 127.0.0.1: the whole
// transcript the client sends, the reply text and result of each ending, the
// bounded waits, and values that would smuggle commands in.

#include "FakeResolver.h"
#include "FakeServer.h"

#include "alerts/TKEsmtp.h"

#include <QElapsedTimer>
#include <QHash>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <memory>

using Exchange = QList<std::pair<QByteArray, QByteArray>>;
Q_DECLARE_METATYPE(FakeServer::Scenario)
Q_DECLARE_METATYPE(Exchange)

namespace {

const QString Untouched = QStringLiteral("untouched");

// Waits short enough for tests; each test that is about a wait sets its own.
SmtpWaits quickWaits()
{
    SmtpWaits waits;
    waits.connectMs = 5000;
    waits.firstDataMs = 3000;
    waits.extraTryMs = 1000;
    waits.readMs = 400;
    waits.replyTotalMs = 8000;
    waits.sendMs = 5000;
    return waits;
}

// A server that answers each command it waits for with the reply given.
// An empty text to wait for sends at once (the greeting).
FakeServer::Scenario converse(const QList<std::pair<QByteArray, QByteArray>> &steps)
{
    FakeServer::Scenario scenario;
    for (const auto &[waitFor, reply] : steps) {
        if (!waitFor.isEmpty())
            scenario.waitForText(waitFor);
        scenario.send(reply);
    }
    return scenario;
}

const std::pair<QByteArray, QByteArray> Greeting{"", "220 fake.test ESMTP\r\n"};
const std::pair<QByteArray, QByteArray> Helo{"HELO tester\r\n", "250 fake.test\r\n"};
const std::pair<QByteArray, QByteArray> MailFrom{"MAIL FROM:<alerts@quellmark.test>\r\n",
                                                 "250 2.1.0 Ok\r\n"};
const std::pair<QByteArray, QByteArray> Data{"DATA\r\n", "354 End data with <CR><LF>.<CR><LF>\r\n"};
const std::pair<QByteArray, QByteArray> EndOfData{"\r\n.\r\n", "250 2.0.0 Ok: queued as 4711\r\n"};

std::pair<QByteArray, QByteArray> rcpt(const QByteArray &to,
                                       const QByteArray &reply = "250 2.1.5 Ok\r\n")
{
    return {"RCPT TO:<" + to + ">\r\n", reply};
}

struct Outcome {
    bool result = false;
    QString reply;
    qint64 elapsedMs = 0;
};

Outcome send(TKEsmtp &client)
{
    Outcome outcome;
    outcome.reply = Untouched;
    QElapsedTimer clock;
    clock.start();
    outcome.result = client.SendMail(outcome.reply);
    outcome.elapsedMs = clock.elapsed();
    return outcome;
}

void configure(TKEsmtp &client, const FakeServer &server)
{
    client.setHostAddress(QStringLiteral("127.0.0.1"));
    client.setPort(server.port());
    client.setFrom(QStringLiteral("alerts@quellmark.test"));
    client.setHeloName(QStringLiteral("tester"));
    client.setWaits(quickWaits());
}

// What the server got once the client is gone.
QByteArray transcriptOf(FakeServer &server)
{
    if (server.connectionCount() == 0)
        return QByteArray();
    if (!QTest::qWaitFor([&] { return server.peerClosed(0); }, 5000))
        qWarning("the client did not close the connection");
    return server.received(0);
}

} // namespace

class TestKEsmtp : public QObject {
    Q_OBJECT
private slots:
    void defaults()
    {
        TKEsmtp client;
        QCOMPARE(client.Port(), 25);
        QVERIFY(!client.RequireAuthentication());
        QVERIFY(client.SendTo().isEmpty());
        QVERIFY(client.OutMessage().isEmpty());
    }

    void dialogue_data()
    {
        QTest::addColumn<bool>("auth");
        QTest::addColumn<QString>("heloName");
        QTest::addColumn<QStringList>("sendTo");
        QTest::addColumn<QStringList>("message");
        QTest::addColumn<FakeServer::Scenario>("scenario");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("reply");

        const QStringList message = {"Subject: Down", "", "webhost is down"};
        const QByteArray data = "DATA\r\nSubject: Down\r\n\r\nwebhost is down\r\n.\r\n";
        const QByteArray start = "HELO tester\r\nMAIL FROM:<alerts@quellmark.test>\r\n";
        const QString queued = "250 2.0.0 Ok: queued as 4711";

        QTest::newRow("HELO, two recipients")
            << false << "tester" << QStringList{"a@x.test", "b@x.test"} << message
            << converse(
                   {Greeting, Helo, MailFrom, rcpt("a@x.test"), rcpt("b@x.test"), Data, EndOfData})
            << start + "RCPT TO:<a@x.test>\r\nRCPT TO:<b@x.test>\r\n" + data + "QUIT\r\n"
            << true << queued;

        FakeServer::Scenario ehlo;
        ehlo.send("220 fake.test ESMTP\r\n")
            .waitForText("EHLO tester\r\n")
            .send("250-fake.test greets tester\r\n250-AU")
            .delay(100)
            .send("TH LOGIN PLAIN\r\n250-SIZE 1000")
            .delay(100)
            .send("0\r\n250 8BITMIME\r\n")
            .waitForText("AUTH LOGIN\r\n")
            .send("334 VXNlcm5hbWU6\r\n")
            .waitForText("dXPDqXI=\r\n")
            .send("334 UGFzc3dvcmQ6\r\n")
            .waitForText("czNjcmV0\r\n")
            .send("235 2.7.0 Authentication successful\r\n");
        for (const auto &step : {MailFrom, rcpt("a@x.test"), Data, EndOfData})
            ehlo.waitForText(step.first).send(step.second);
        QTest::newRow("EHLO with continuation lines, AUTH LOGIN")
            << true << "tester" << QStringList{"a@x.test"} << message << ehlo
            << "EHLO tester\r\nAUTH LOGIN\r\ndXPDqXI=\r\nczNjcmV0\r\n"
               "MAIL FROM:<alerts@quellmark.test>\r\nRCPT TO:<a@x.test>\r\n" +
                   data + "QUIT\r\n"
            << true << queued;

        QTest::newRow("auth refused")
            << true << "tester" << QStringList{"a@x.test"} << message
            << converse({Greeting,
                         {"EHLO tester\r\n", "250 fake.test\r\n"},
                         {"AUTH LOGIN\r\n", "334 VXNlcm5hbWU6\r\n"},
                         {"dXPDqXI=\r\n", "334 UGFzc3dvcmQ6\r\n"},
                         {"czNjcmV0\r\n", "535 5.7.8 Authentication failed\r\n"}})
            << QByteArray("EHLO tester\r\nAUTH LOGIN\r\ndXPDqXI=\r\nczNjcmV0\r\nQUIT\r\n") << false
            << "535 5.7.8 Authentication failed";

        QTest::newRow("dot stuffing")
            << false << "tester" << QStringList{"a@x.test"}
            << QStringList{"Subject: dots", "", ".", ".x", "a.b", "..", "", "end."}
            << converse({Greeting, Helo, MailFrom, rcpt("a@x.test"), Data, EndOfData})
            << start +
                   "RCPT TO:<a@x.test>\r\nDATA\r\nSubject: dots\r\n\r\n..\r\n..x\r\na.b\r\n...\r\n"
                   "\r\nend.\r\n.\r\nQUIT\r\n"
            << true << queued;

        QTest::newRow("second of three recipients refused")
            << false << "tester" << QStringList{"a@x.test", "b@x.test", "c@x.test"} << message
            << converse({Greeting, Helo, MailFrom, rcpt("a@x.test"),
                         rcpt("b@x.test", "550 5.1.1 <b@x.test>: Recipient address rejected\r\n")})
            << start + "RCPT TO:<a@x.test>\r\nRCPT TO:<b@x.test>\r\nQUIT\r\n"
            << false << "550 5.1.1 <b@x.test>: Recipient address rejected";

        QTest::newRow("251 is a refusal")
            << false << "tester" << QStringList{"a@x.test"} << message
            << converse({Greeting, Helo, MailFrom,
                         rcpt("a@x.test", "251 2.1.5 User not local; will forward\r\n")})
            << start + "RCPT TO:<a@x.test>\r\nQUIT\r\n"
            << false << "251 2.1.5 User not local; will forward";

        QTest::newRow("no recipients: MAIL FROM then DATA")
            << false << "tester" << QStringList{} << message
            << converse({Greeting, Helo, MailFrom, Data, EndOfData}) << start + data + "QUIT\r\n"
            << true << queued;

        QTest::newRow("recipients sent as stored")
            << false << "tester" << QStringList{"", " b@x.test"} << message
            << converse({Greeting, Helo, MailFrom, rcpt(""), rcpt(" b@x.test"), Data, EndOfData})
            << start + "RCPT TO:<>\r\nRCPT TO:< b@x.test>\r\n" + data + "QUIT\r\n"
            << true << queued;

        QTest::newRow("greeting refused")
            << false << "tester" << QStringList{"a@x.test"} << message
            << converse({{"", "554 5.3.2 fake.test busy\r\n"}}) << QByteArray("QUIT\r\n") << false
            << "554 5.3.2 fake.test busy";

        QTest::newRow("multi-line refusal reports its last line")
            << false << "tester" << QStringList{"a@x.test"} << message
            << converse(
                   {Greeting,
                    Helo,
                    {MailFrom.first, "550-5.7.1 first line\r\n550-second\r\n550 5.7.1 last\r\n"}})
            << start + "QUIT\r\n"
            << false << "550 5.7.1 last";

        QTest::newRow("DATA refused")
            << false << "tester" << QStringList{"a@x.test"} << message
            << converse({Greeting,
                         Helo,
                         MailFrom,
                         rcpt("a@x.test"),
                         {"DATA\r\n", "554 5.5.1 No valid recipients\r\n"}})
            << start + "RCPT TO:<a@x.test>\r\nDATA\r\nQUIT\r\n"
            << false << "554 5.5.1 No valid recipients";

        QTest::newRow("message refused")
            << false << "tester" << QStringList{"a@x.test"} << message
            << converse({Greeting,
                         Helo,
                         MailFrom,
                         rcpt("a@x.test"),
                         Data,
                         {"\r\n.\r\n", "552 5.3.4 Message too big\r\n"}})
            << start + "RCPT TO:<a@x.test>\r\n" + data + "QUIT\r\n"
            << false << "552 5.3.4 Message too big";

        // Replies that never complete are given up after the silence and
        // count as refusals, whatever their code.
        QTest::newRow("reply ending in a bare LF")
            << false << "tester" << QStringList{"a@x.test"} << message
            << converse({Greeting, {"HELO tester\r\n", "250 fake.test\n"}})
            << QByteArray("HELO tester\r\nQUIT\r\n") << false << "250 fake.test";
        QTest::newRow("code without a blank")
            << false << "tester" << QStringList{"a@x.test"} << message
            << converse({Greeting, {"HELO tester\r\n", "250\r\n"}})
            << QByteArray("HELO tester\r\nQUIT\r\n") << false << "250";
        QTest::newRow("continuation line, then silence")
            << false << "tester" << QStringList{"a@x.test"} << message
            << converse({Greeting, {"HELO tester\r\n", "250-fake.test\r\n"}})
            << QByteArray("HELO tester\r\nQUIT\r\n") << false << "250-fake.test";

        const QByteArray host = TKEsmtp::LocalHostName().toUtf8();
        QTest::newRow("HELO with this machine's name")
            << false << "" << QStringList{"a@x.test"} << message
            << converse({Greeting,
                         {"HELO " + host + "\r\n", "250 fake.test\r\n"},
                         MailFrom,
                         rcpt("a@x.test"),
                         Data,
                         EndOfData})
            << "HELO " + host + "\r\nMAIL FROM:<alerts@quellmark.test>\r\nRCPT TO:<a@x.test>\r\n" +
                   data + "QUIT\r\n"
            << true << queued;
    }
    void dialogue()
    {
        QFETCH(bool, auth);
        QFETCH(QString, heloName);
        QFETCH(QStringList, sendTo);
        QFETCH(QStringList, message);
        QFETCH(FakeServer::Scenario, scenario);

        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(scenario);
        TKEsmtp client;
        configure(client, server);
        client.setHeloName(heloName);
        client.setRequireAuthentication(auth);
        client.setUser(QStringLiteral("usér"));
        client.setPassword(QStringLiteral("s3cret"));
        client.setSendTo(sendTo);
        client.setOutMessage(message);

        const Outcome outcome = send(client);
        QTEST(transcriptOf(server), "transcript");
        QTEST(outcome.result, "result");
        QTEST(outcome.reply, "reply");
        QCOMPARE(server.connectionCount(), 1);
        QVERIFY(server.peerClosed(0));
    }

    // The login follows what the EHLO reply offers. `exchange` is what the
    // client must send after EHLO and what the server answers to it.
    void login_data()
    {
        QTest::addColumn<QByteArray>("capabilities");
        QTest::addColumn<QString>("password");
        QTest::addColumn<Exchange>("exchange");
        QTest::addColumn<bool>("delivered");
        QTest::addColumn<QString>("reply");

        const Exchange login = {{"AUTH LOGIN\r\n", "334 VXNlcm5hbWU6\r\n"},
                                {"dXPDqXI=\r\n", "334 UGFzc3dvcmQ6\r\n"},
                                {"czNjcmV0\r\n", "235 2.7.0 Authentication successful\r\n"}};
        const QByteArray ok = "235 2.7.0 Authentication successful\r\n";
        const QString queued = "250 2.0.0 Ok: queued as 4711";
        const QString none = "The SMTP server offers no login this program can use (it offers: "
                             "%1); the message was not sent.";

        QTest::newRow("LOGIN and PLAIN offered: LOGIN")
            << QByteArray("250-fake.test\r\n250-AUTH PLAIN LOGIN\r\n250 8BITMIME\r\n")
            << "s3cret" << login << true << queued;
        QTest::newRow("old form, lower case: LOGIN")
            << QByteArray("250-fake.test\r\n250-auth=login\r\n250 AUTH CRAM-MD5\r\n") << "s3cret"
            << login << true << queued;
        QTest::newRow("no AUTH keyword: LOGIN as always")
            << QByteArray("250-fake.test\r\n250-AUTHX PLAIN\r\n250 SIZE\r\n") << "s3cret" << login
            << true << queued;
        QTest::newRow("only PLAIN: initial response")
            << QByteArray("250-fake.test\r\n250 AUTH PLAIN CRAM-MD5\r\n") << "s3cret"
            << Exchange{{"AUTH PLAIN AHVzw6lyAHMzY3JldA==\r\n", ok}} << true << queued;
        QTest::newRow("PLAIN refused")
            << QByteArray("250-fake.test\r\n250 AUTH PLAIN\r\n") << "s3cret"
            << Exchange{{"AUTH PLAIN AHVzw6lyAHMzY3JldA==\r\n",
                         "535 5.7.8 Authentication failed\r\n"}}
            << false << "535 5.7.8 Authentication failed";
        // The command line may hold 512 bytes with its CR LF; beyond that the
        // credentials follow a 334.
        const QByteArray at509 = QByteArray("\0us\xc3\xa9r\0", 7) + QByteArray(365, 'p');
        const QByteArray at513 = QByteArray("\0us\xc3\xa9r\0", 7) + QByteArray(366, 'p');
        QTest::newRow("PLAIN, longest single line")
            << QByteArray("250 AUTH PLAIN\r\n") << QString(365, QLatin1Char('p'))
            << Exchange{{"AUTH PLAIN " + at509.toBase64() + "\r\n", ok}} << true << queued;
        QTest::newRow("PLAIN, too long for one line")
            << QByteArray("250 AUTH PLAIN\r\n") << QString(366, QLatin1Char('p'))
            << Exchange{{"AUTH PLAIN\r\n", "334 \r\n"}, {at513.toBase64() + "\r\n", ok}} << true
            << queued;
        QTest::newRow("neither: no credentials")
            << QByteArray("250-fake.test\r\n250-AUTH cram-md5 XOAUTH2\r\n250-AUTH=CRAM-MD5\r\n"
                          "250 SIZE\r\n")
            << "s3cret" << Exchange{} << false << none.arg("CRAM-MD5 XOAUTH2");
        // What is named is bounded: no odd characters, no long names.
        QTest::newRow("neither, odd names left out")
            << "250 AUTH <b>LOGIN</b> " + QByteArray(21, 'X') + " NTLM GSSAPI\r\n"
            << "s3cret" << Exchange{} << false << none.arg("NTLM GSSAPI");
    }
    void login()
    {
        QFETCH(QByteArray, capabilities);
        QFETCH(QString, password);
        QFETCH(Exchange, exchange);
        QFETCH(bool, delivered);

        Exchange steps = {Greeting, {"EHLO tester\r\n", capabilities}};
        QByteArray transcript = "EHLO tester\r\n";
        for (const auto &step : exchange) {
            steps.append(step);
            transcript += step.first;
        }
        if (delivered) {
            steps << MailFrom << rcpt("a@x.test") << Data << EndOfData;
            transcript += "MAIL FROM:<alerts@quellmark.test>\r\nRCPT TO:<a@x.test>\r\n"
                          "DATA\r\nSubject: Down\r\n\r\nwebhost is down\r\n.\r\n";
        }
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(converse(steps));
        TKEsmtp client;
        configure(client, server);
        client.setRequireAuthentication(true);
        client.setUser(QStringLiteral("usér"));
        client.setPassword(password);
        client.setSendTo({QStringLiteral("a@x.test")});
        client.setOutMessage({"Subject: Down", "", "webhost is down"});

        const Outcome outcome = send(client);
        QCOMPARE(transcriptOf(server), transcript + "QUIT\r\n");
        QCOMPARE(outcome.result, delivered);
        QTEST(outcome.reply, "reply");
    }

    void messageBytesKeptExactly()
    {
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(converse({Greeting, Helo, MailFrom, rcpt("a@x.test"), Data, EndOfData}));
        TKEsmtp client;
        configure(client, server);
        client.setSendTo({QStringLiteral("a@x.test")});
        // Latin-1 bytes that are not UTF-8 and a zero byte pass unchanged.
        client.setOutMessageBytes({"Subject: caf\xe9", "", QByteArray("a\0b", 3)});
        QVERIFY(send(client).result);
        QVERIFY(transcriptOf(server).contains(
            QByteArray("DATA\r\nSubject: caf\xe9\r\n\r\na\0b\r\n.\r\n", 26)));
    }

    // Nothing usable within the waits: the reply is given up in bounded time.
    void silentOrEndlessServer_data()
    {
        QTest::addColumn<FakeServer::Scenario>("scenario");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QString>("replyStart");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");

        // First wait 300 ms, extra try 300 ms, silence 200 ms, 1000 ms a reply.
        QTest::newRow("no greeting at all")
            << FakeServer::Scenario().stall() << QByteArray() << "" << 550 << 3000;
        QTest::newRow("silent after HELO")
            << converse({Greeting}).waitForText("HELO tester\r\n").stall()
            << QByteArray("HELO tester\r\n") << "" << 550 << 3000;
        // What comes in the extra try is dropped, the connection stays open.
        QTest::newRow("greeting in the extra try")
            << FakeServer::Scenario().delay(420).send("220 late\r\n").stall()
            << QByteArray("QUIT\r\n") << "" << 400 << 3000;
        QTest::newRow("partial reply, then silence")
            << FakeServer::Scenario().send("220 fake").stall() << QByteArray("QUIT\r\n")
            << "220 fake" << 180 << 3000;
        QTest::newRow("reply trickling in forever")
            << FakeServer::Scenario().send("220-").streamForever("x", 50) << QByteArray("QUIT\r\n")
            << "220-xxx" << 950 << 4000;
        QTest::newRow("endless continuation lines")
            << FakeServer::Scenario().streamForever("220-" + QByteArray(60, 'y') + "\r\n")
            << QByteArray("QUIT\r\n") << "220-yyy" << 0 << 4000;
    }
    void silentOrEndlessServer()
    {
        QFETCH(FakeServer::Scenario, scenario);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(scenario);
        TKEsmtp client;
        configure(client, server);
        SmtpWaits waits = quickWaits();
        waits.firstDataMs = 300;
        waits.extraTryMs = 300;
        waits.readMs = 200;
        waits.replyTotalMs = 1000;
        client.setWaits(waits);
        client.setSendTo({QStringLiteral("a@x.test")});

        const Outcome outcome = send(client);
        QVERIFY(!outcome.result);
        QFETCH(QString, replyStart);
        QVERIFY2(replyStart.isEmpty() ? outcome.reply.isEmpty()
                                      : outcome.reply.startsWith(replyStart),
                 qPrintable(outcome.reply.left(80)));
        QVERIFY(outcome.reply.size() <= TKEsmtp::ReplyLimit);
        QVERIFY2(outcome.elapsedMs >= minMs && outcome.elapsedMs <= maxMs,
                 qPrintable(QString::number(outcome.elapsedMs)));
        QTEST(transcriptOf(server), "transcript");
    }

    void serverClosesMidDialogue_data()
    {
        QTest::addColumn<FakeServer::Scenario>("scenario");
        QTest::addColumn<QByteArray>("transcript");
        QTest::addColumn<QString>("reply");
        QTest::newRow("closes instead of answering HELO")
            << converse({Greeting}).waitForText("HELO tester\r\n").close()
            << QByteArray("HELO tester\r\n") << "";
        QTest::newRow("421 and close")
            << converse({Greeting, Helo, {MailFrom.first, "421 4.3.2 Shutting down\r\n"}}).close()
            << QByteArray("HELO tester\r\nMAIL FROM:<alerts@quellmark.test>\r\n")
            << "421 4.3.2 Shutting down";
        QTest::newRow("closes in the middle of a reply")
            << converse({Greeting}).waitForText("HELO tester\r\n").send("250 fake").close()
            << QByteArray("HELO tester\r\n") << "250 fake";
    }
    void serverClosesMidDialogue()
    {
        QFETCH(FakeServer::Scenario, scenario);
        QFETCH(QByteArray, transcript);
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(scenario);
        TKEsmtp client;
        configure(client, server);
        client.setSendTo({QStringLiteral("a@x.test")});

        const Outcome outcome = send(client);
        QVERIFY(!outcome.result);
        QTEST(outcome.reply, "reply");
        // Whether a QUIT still reached the closing server is a matter of timing.
        const QByteArray got = transcriptOf(server);
        QVERIFY2(got == transcript || got == transcript + "QUIT\r\n", got.constData());
        QVERIFY(outcome.elapsedMs < 3000);
    }

    void connectionBreaksWhileSending()
    {
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(converse({Greeting, Helo, MailFrom, rcpt("a@x.test"), Data}).close());
        TKEsmtp client;
        configure(client, server);
        client.setSendTo({QStringLiteral("a@x.test")});
        client.setOutMessageBytes(QList<QByteArray>(60000, QByteArray(78, 'm')));
        QString reply = Untouched;
        QVERIFY_THROWS_EXCEPTION(SmtpError, client.SendMail(reply));
        QCOMPARE(reply, QStringLiteral("354 End data with <CR><LF>.<CR><LF>"));
    }

    void injectionRefusedBeforeConnecting_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QStringList>("sendTo");
        QTest::addColumn<bool>("auth");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("heloName");
        QTest::addColumn<QStringList>("message");
        QTest::addColumn<QString>("named");

        const QString from = "alerts@quellmark.test";
        const QStringList to = {"a@x.test"};
        const QStringList message = {"Subject: x", "", "body"};
        QTest::newRow("sender with CR LF")
            << "a@x.test>\r\nRCPT TO:<evil@x.test" << to << false << ""
            << ""
            << "tester" << message << "The sender address";
        QTest::newRow("sender with NUL") << QString("a@x.test") + QChar(0) << to << false << ""
                                         << ""
                                         << "tester" << message << "The sender address";
        QTest::newRow("second recipient with LF")
            << from << QStringList{"a@x.test", "b@x.test>\nDATA"} << false << ""
            << ""
            << "tester" << message << "Recipient 2";
        QTest::newRow("user name with CR") << from << to << true << "user\rAUTH"
                                           << "pw"
                                           << "tester" << message << "The user name";
        QTest::newRow("password with LF") << from << to << true << "user"
                                          << "pw\n"
                                          << "tester" << message << "The password";
        QTest::newRow("HELO name with CR LF")
            << from << to << false << ""
            << ""
            << "tester\r\nMAIL FROM:<x>" << message << "The local host name";
        QTest::newRow("message line hiding an end of data")
            << from << to << false << ""
            << ""
            << "tester" << QStringList{"Subject: x", "", "a\r\n.\r\nMAIL FROM:<evil>"}
            << "Message line 3";
    }
    void injectionRefusedBeforeConnecting()
    {
        QFETCH(QString, from);
        QFETCH(QStringList, sendTo);
        QFETCH(bool, auth);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, heloName);
        QFETCH(QStringList, message);
        QFETCH(QString, named);

        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(converse({Greeting}));
        FakeResolver resolver;
        TKEsmtp client(&resolver);
        configure(client, server);
        client.setHostAddress(QStringLiteral("mail.quellmark.test"));
        resolver.answers.insert(QStringLiteral("mail.quellmark.test"), {QHostAddress::LocalHost});
        client.setFrom(from);
        client.setSendTo(sendTo);
        client.setRequireAuthentication(auth);
        client.setUser(user);
        client.setPassword(password);
        client.setHeloName(heloName);
        client.setOutMessage(message);

        const Outcome outcome = send(client);
        QVERIFY(!outcome.result);
        QVERIFY2(outcome.reply.startsWith(named), qPrintable(outcome.reply));
        QVERIFY(outcome.reply.contains(QStringLiteral("nothing was sent")));
        QTest::qWait(50);
        QVERIFY(resolver.asked.isEmpty());
        QCOMPARE(server.connectionCount(), 0);
    }

    // User name and password are not sent without authentication, so they
    // are not looked at either.
    void credentialsIgnoredWithoutAuthentication()
    {
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(converse({Greeting, Helo, MailFrom, Data, EndOfData}));
        TKEsmtp client;
        configure(client, server);
        client.setUser(QStringLiteral("a\r\nb"));
        client.setPassword(QStringLiteral("c\nd"));
        QVERIFY(send(client).result);
        QVERIFY(!transcriptOf(server).contains("AUTH"));
    }

    void choosingTheServer_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("answers");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<bool>("result");
        QTest::newRow("dotted address, no lookup") << "127.0.0.1" << true << QStringList{} << true;
        QTest::newRow("host name through the resolver")
            << "mail.quellmark.test" << true << QStringList{"mail.quellmark.test"} << true;
        QTest::newRow("unknown name")
            << "nowhere.quellmark.test" << true << QStringList{"nowhere.quellmark.test"} << false;
        QTest::newRow("part above 255 is a name")
            << "127.0.0.256" << true << QStringList{"127.0.0.256"} << false;
        QTest::newRow("resolver never answers")
            << "mail.quellmark.test" << false << QStringList{"mail.quellmark.test"} << false;
        QTest::newRow("empty server") << "" << true << QStringList{} << false;
        QTest::newRow("port out of range") << "127.0.0.1" << true << QStringList{} << false;
    }
    void choosingTheServer()
    {
        QFETCH(QString, host);
        QFETCH(bool, answers);
        QFETCH(bool, result);
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(converse({Greeting, Helo, MailFrom, Data, EndOfData}));
        FakeResolver resolver;
        resolver.answers.insert(QStringLiteral("mail.quellmark.test"), {QHostAddress::LocalHost});
        resolver.never = !answers;
        TKEsmtp client(&resolver);
        configure(client, server);
        SmtpWaits waits = quickWaits();
        waits.connectMs = 300;
        client.setWaits(waits);
        client.setHostAddress(host);
        if (QTest::currentDataTag() == QByteArray("port out of range"))
            client.setPort(server.port() + 65536);

        const Outcome outcome = send(client);
        QTEST(resolver.asked, "asked");
        QCOMPARE(outcome.result, result);
        // No connection: the reply text is left as it was.
        if (!result) {
            QCOMPARE(outcome.reply, Untouched);
            QCOMPARE(server.connectionCount(), 0);
        }
        QVERIFY(outcome.elapsedMs < 3000);
    }

    void connectionRefused()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        TKEsmtp client;
        client.setHostAddress(QStringLiteral("127.0.0.1"));
        client.setPort(port);
        client.setWaits(quickWaits());
        const Outcome outcome = send(client);
        QVERIFY(!outcome.result);
        QCOMPARE(outcome.reply, Untouched);
    }

    // The wait runs the event loop: timers of the caller keep firing while
    // a slow server is being waited for.
    void callerStaysResponsive()
    {
        FakeServer server;
        QVERIFY(server.listen());
        server.setScenario(FakeServer::Scenario().delay(600).send("220 slow\r\n").stall());
        TKEsmtp client;
        configure(client, server);
        SmtpWaits waits = quickWaits();
        waits.firstDataMs = 1000;
        waits.extraTryMs = 100;
        client.setWaits(waits);
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(20);
        send(client);
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    }
};

QTEST_GUILESS_MAIN(TestKEsmtp)
#include "tst_kesmtp.moc"
