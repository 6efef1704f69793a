// End to end: the real program, on a private session bus and in private XDG
// folders, polls real servers on loopback ports (nginx, tinyproxy, vsftpd and
// postfix's smtp-sink) and scripted fakes (POP3, SMTP AUTH LOGIN). Services
// are set up with quellmark-reg, polls are started over D-Bus, and every
// poll is judged by what the program leaves behind: service logs, error.log,
// the values in its store, the marker files of the programs it launched,
// the e-mails that arrived and the desktop notifications a real notification
// daemon (dunst, on an Xvfb display of its own) showed.
//
// A server that is not installed makes its cases skip with a message naming
// the Debian package. Servers write only into this test's temporary folder,
// drop to nobody where they can, and die with the test process.

#include "FakeServer.h"
#include "PrivateBus.h"
#include "TestSandbox.h"

#include "platform/NetworkState.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <csignal>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const QString Interface = QStringLiteral("org.kestrin.Quellmark");
const QString ErrorLogName = QStringLiteral("error.log");
const QString Missing = QStringLiteral("<missing>");

QString settingsRoot(bool testMode)
{
    return testMode ? QStringLiteral("Software\\Kestrin Software\\QuellmarkTest")
                    : QStringLiteral("Software\\Kestrin Software\\Quellmark");
}

QString busName(bool testMode)
{
    return testMode ? QStringLiteral("org.kestrin.QuellmarkTest")
                    : QStringLiteral("org.kestrin.Quellmark");
}

// A port nobody listens on right now (the system's choice, so it is high).
quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return 0;
    return probe.serverPort();
}

QString findProgram(const QString &name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name,
                                              {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                               QStringLiteral("/usr/lib/postfix/sbin")});
    return path;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// The kinds of the records of a service log, in order: "start", "on", "off",
// or the raw line when it is none of them (or not ended by CR LF).
QStringList serviceLogRecords(const QString &path)
{
    QByteArray bytes = readAll(path);
    QStringList kinds;
    while (!bytes.isEmpty()) {
        const qsizetype end = bytes.indexOf("\r\n");
        const QByteArray line = end < 0 ? bytes : bytes.left(end);
        bytes = end < 0 ? QByteArray() : bytes.mid(end + 2);
        static const QRegularExpression stamped(
            QStringLiteral("^[^\\r\\n]+?(:  Log start|: went on error\\.|"
                           ": came off error\\.)$"));
        const QRegularExpressionMatch m = stamped.match(QString::fromUtf8(line));
        if (end < 0 || !m.hasMatch())
            kinds << QString::fromUtf8(line);
        else if (m.captured(1).endsWith(QLatin1String("Log start")))
            kinds << QStringLiteral("start");
        else
            kinds << (m.captured(1).contains(QLatin1String("went on")) ? QStringLiteral("on")
                                                                       : QStringLiteral("off"));
    }
    return kinds;
}

// What follows each error log entry header for host+path and protocol, one
// text per entry, up to the next entry's header.
QList<QByteArray> errorEntries(const QByteArray &errorLog, const QString &hostAndPath,
                               const QString &protocol)
{
    const QByteArray header = (QLatin1Char(' ') + hostAndPath + QLatin1Char('(') + protocol +
                               QStringLiteral(") response:\r\n"))
                                  .toUtf8();
    // The next entry: another failed service, or an alert that did not go.
    static const QRegularExpression nextHeader(QStringLiteral(
        "\\r\\n\\r\\n[^\\r\\n]*( \\S+\\(\\w+\\) response:|: alert [a-z-]+ not [a-z]+ for [^\\r\\n]*)\\r\\n"));
    QList<QByteArray> entries;
    for (qsizetype at = errorLog.indexOf(header); at >= 0; at = errorLog.indexOf(header, at + 1)) {
        // The header's line must begin right after the previous entry.
        const qsizetype lineStart = errorLog.lastIndexOf('\n', at) + 1;
        if (lineStart > 0 && !errorLog.mid(0, lineStart).endsWith("\r\n\r\n"))
            continue;
        const QByteArray rest = errorLog.mid(at + header.size());
        const QRegularExpressionMatch m = nextHeader.match(QString::fromLatin1(rest));
        entries << (m.hasMatch() ? rest.left(m.capturedStart() + 4) : rest);
    }
    return entries;
}

// A server the test starts. It runs as nobody:nogroup when asked (and when we
// may switch), and gets SIGTERM when the test process dies, so a crashed or
// timed-out run leaves no server behind.
class ServerProcess {
public:
    ServerProcess() { m_process.setProcessChannelMode(QProcess::MergedChannels); }
    ~ServerProcess() { stop(); }
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    bool start(const QString &program, const QStringList &arguments, bool asNobody,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        uid_t uid = 0;
        gid_t gid = 0;
        bool drop = false;
        if (asNobody && geteuid() == 0) {
            const passwd *user = getpwnam("nobody");
            const group *grp = getgrnam("nogroup");
            if (user) {
                drop = true;
                uid = user->pw_uid;
                gid = grp ? grp->gr_gid : user->pw_gid;
            }
        }
        m_process.setChildProcessModifier([drop, uid, gid] {
            if (drop) {
                ::setgroups(0, nullptr);
                if (::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0)
                    ::_exit(127);
            }
            // After the switch: a change of credentials clears this again.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        });
        m_process.setProcessEnvironment(environment);
        m_process.start(program, arguments);
        return m_process.waitForStarted(5000);
    }

    // Waits until something accepts on the port while the process still runs.
    bool waitListening(quint16 port, int timeoutMs = 10000)
    {
        return QTest::qWaitFor(
                   [&] {
                       if (m_process.state() != QProcess::Running)
                           return true;
                       QTcpSocket socket;
                       socket.connectToHost(QHostAddress::LocalHost, port);
                       return socket.waitForConnected(200);
                   },
                   timeoutMs) &&
               m_process.state() == QProcess::Running;
    }

    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }

    QByteArray output()
    {
        m_output += m_process.readAll();
        return m_output;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    QByteArray m_output;
};

// One real server shared by the cases: its port, and why its cases cannot
// run (not installed: skip; installed but broken: fail).
struct Peer {
    std::unique_ptr<ServerProcess> process;
    quint16 port = 0;
    QString skip;
    QString failure;
};

// Without a network interface besides loopback the program sees no internet
// connection and probes nothing, whatever runs on loopback.
#define REQUIRE_CONNECTION()                                                                       \
    do {                                                                                           \
        if (!m_connected)                                                                          \
            QSKIP("this machine has no network interface besides loopback that is up, so the "     \
                  "program sees no internet connection and probes nothing; case not run");         \
    } while (0)

#define REQUIRE_PEER(peer)                                                                         \
    do {                                                                                           \
        if (!(peer).skip.isEmpty())                                                                \
            QSKIP(qPrintable((peer).skip));                                                        \
        if (!(peer).failure.isEmpty())                                                             \
            QFAIL(qPrintable((peer).failure));                                                     \
    } while (0)

// One run of the program: private XDG folders, a private session bus, the
// program itself (possibly started again in the same folders) and the
// settings tool.
class ProgramRun {
public:
    explicit ProgramRun(bool testMode) : m_testMode(testMode) {}
    ~ProgramRun()
    {
        stopProgram();
        if (m_connected)
            QDBusConnection::disconnectFromBus(m_connectionName);
    }

    QString root() const { return settingsRoot(m_testMode); }
    QString serviceKey(const QString &service) const
    {
        return root() + QStringLiteral("\\Services\\") + service;
    }
    QString programFolder() const { return m_sandbox.programFolder(); }
    QString sandboxRoot() const { return m_sandbox.root(); }
    QString errorLogPath() const { return programFolder() + ErrorLogName; }
    QString problem() const { return m_problem; }
    QString busAddress() const { return m_address; }
    QDBusConnection connection() const { return QDBusConnection(m_connectionName); }

    bool startBus()
    {
        // A socket in the file system rather than an abstract one, so a
        // program in a network namespace of its own reaches it too.
        const QString dir = m_sandbox.root() + QStringLiteral("/bus");
        QDir().mkpath(dir);
        // Nothing is started on demand: a notification daemon installed
        // here is not woken by every case whose service goes on error.
        const QString config = m_sandbox.root() + QStringLiteral("/bus.conf");
        if (!PrivateBus::writeConfig(config, QStringLiteral("unix:dir=") + dir))
            return fail(QStringLiteral("cannot write the bus configuration"));
        if (!m_bus.start(findProgram(QStringLiteral("dbus-daemon")),
                         {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                          QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")},
                         false))
            return fail(QStringLiteral("dbus-daemon did not start"));
        QByteArray line;
        if (!QTest::qWaitFor(
                [&] {
                    line += m_bus.process().readAllStandardOutput();
                    return line.contains('\n') || !m_bus.running();
                },
                10000) ||
            !line.contains('\n'))
            return fail(QStringLiteral("dbus-daemon printed no address: ") +
                        QString::fromUtf8(line));
        m_address = QString::fromUtf8(line.left(line.indexOf('\n')).trimmed());
        m_connectionName =
            QStringLiteral("e2e-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        QDBusConnection connection = QDBusConnection::connectToBus(m_address, m_connectionName);
        m_connected = true;
        if (!connection.isConnected())
            return fail(QStringLiteral("cannot connect to the private bus ") + m_address);
        return true;
    }

    // Starts the program (behind wrapper, if any) and waits until it is up
    // and its name is on the bus.
    bool startProgram(const QStringList &wrapper = {})
    {
        const QString app = qEnvironmentVariable("QUELLMARK_APP");
        if (app.isEmpty())
            return fail(QStringLiteral("QUELLMARK_APP is not set"));
        const QString ready =
            m_sandbox.root() + QStringLiteral("/ready-") + QString::number(++m_starts);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        env.insert(QStringLiteral("QUELLMARK_READY_FILE"), ready);
        m_app = std::make_unique<QProcess>();
        m_app->setProcessEnvironment(env);
        m_app->setProcessChannelMode(QProcess::ForwardedChannels);
        // Like the servers: it must not outlive a test that crashed.
        m_app->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        QStringList command = wrapper;
        command << app;
        if (m_testMode)
            command << QStringLiteral("test");
        m_app->start(command.first(), command.mid(1));
        if (!m_app->waitForStarted(10000))
            return fail(QStringLiteral("the program did not start: ") + m_app->errorString());
        if (!QTest::qWaitFor(
                [&] { return QFile::exists(ready) || m_app->state() == QProcess::NotRunning; },
                30000) ||
            !QFile::exists(ready))
            return fail(QStringLiteral("the program did not come up"));
        QDBusConnection connection = QDBusConnection(m_connectionName);
        if (!QTest::qWaitFor(
                [&] {
                    return connection.interface()->isServiceRegistered(busName(m_testMode)).value();
                },
                10000))
            return fail(QStringLiteral("the program's name did not appear on the bus"));
        return true;
    }

    // Calls a method of the program without blocking the event loop, so
    // the fake servers of this process keep answering meanwhile.
    bool call(const QString &method)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            busName(m_testMode), QStringLiteral("/"), Interface, method);
        return finish(QDBusConnection(m_connectionName).asyncCall(message, 20000)).type() ==
               QDBusMessage::ReplyMessage;
    }

    QVariant property(const QString &name)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            busName(m_testMode), QStringLiteral("/"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        message << Interface << name;
        const QDBusMessage reply =
            finish(QDBusConnection(m_connectionName).asyncCall(message, 20000));
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return reply.arguments().constFirst().value<QDBusVariant>().variant();
    }

    QStringList onErrorList() { return property(QStringLiteral("OnErrorList")).toStringList(); }

    // One poll over D-Bus, waiting for its end. Polls are kept more than a
    // second apart so each has its own "Poll finished at" time stamp.
    bool poll()
    {
        while (m_lastPoll.isValid() && m_lastPoll.elapsed() < 1100)
            QTest::qWait(50);
        const QString before = property(QStringLiteral("LastPollFinished")).toString();
        if (!call(QStringLiteral("PollNow")))
            return fail(QStringLiteral("PollNow failed"));
        const bool ended = QTest::qWaitFor(
            [&] {
                const QString now = property(QStringLiteral("LastPollFinished")).toString();
                return !now.isEmpty() && now != before &&
                       !property(QStringLiteral("Polling")).toBool();
            },
            90000);
        m_lastPoll.start();
        return ended || fail(QStringLiteral("the poll did not end"));
    }

    // Asks the program to exit and waits; true when it ended with status 0.
    // Asks the program to exit (over D-Bus, or with SIGTERM) and waits;
    // true when it ended with status 0 in time.
    bool exitProgram(bool bySignal = false, int timeoutMs = 20000)
    {
        if (!m_app)
            return true;
        if (bySignal)
            ::kill(static_cast<pid_t>(m_app->processId()), SIGTERM);
        else if (!call(QStringLiteral("Exit")))
            return fail(QStringLiteral("Exit failed"));
        const bool ended =
            QTest::qWaitFor([&] { return m_app->state() == QProcess::NotRunning; }, timeoutMs);
        const bool clean =
            ended && m_app->exitStatus() == QProcess::NormalExit && m_app->exitCode() == 0;
        stopProgram();
        return clean || fail(QStringLiteral("the program did not end cleanly in time"));
    }

    void stopProgram()
    {
        if (m_app && m_app->state() != QProcess::NotRunning) {
            m_app->kill();
            m_app->waitForFinished(5000);
        }
        m_app.reset();
    }

    // quellmark-reg with the run's folders; its output, or nothing on failure.
    std::optional<QByteArray> reg(const QStringList &arguments)
    {
        QProcess tool;
        tool.start(qEnvironmentVariable("QUELLMARK_REG"), arguments);
        if (!tool.waitForFinished(20000) || tool.exitStatus() != QProcess::NormalExit ||
            tool.exitCode() != 0)
            return std::nullopt;
        return tool.readAllStandardOutput();
    }

    bool set(const QString &key, const QString &name, int value)
    {
        return reg({QStringLiteral("set"), key, name, QStringLiteral("int"),
                    QString::number(value)})
                   .has_value() ||
               fail(QStringLiteral("quellmark-reg set %1 failed").arg(name));
    }

    bool set(const QString &key, const QString &name, const QString &value)
    {
        return reg({QStringLiteral("set"), key, name, QStringLiteral("str"), value}).has_value() ||
               fail(QStringLiteral("quellmark-reg set %1 failed").arg(name));
    }

    // A value as quellmark-reg prints it, without the line end; Missing
    // when there is no such value.
    QString get(const QString &key, const QString &name)
    {
        std::optional<QByteArray> out = reg({QStringLiteral("get"), key, name});
        if (!out)
            return Missing;
        if (out->endsWith('\n'))
            out->chop(1);
        return QString::fromUtf8(*out);
    }

private:
    bool fail(const QString &why)
    {
        m_problem = why;
        return false;
    }

    QDBusMessage finish(const QDBusPendingCall &pending)
    {
        if (!QTest::qWaitFor([&] { return pending.isFinished(); }, 25000))
            return {};
        return pending.reply();
    }

    bool m_testMode;
    TestSandbox m_sandbox;
    ServerProcess m_bus;
    QString m_address;
    QString m_connectionName;
    bool m_connected = false;
    std::unique_ptr<QProcess> m_app;
    int m_starts = 0;
    QElapsedTimer m_lastPoll;
    QString m_problem;
};

} // namespace

class TestE2E : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_work;
    Peer m_nginx, m_tinyproxy, m_vsftpd, m_sink, m_sink421;
    QString m_webRoot, m_accessLog, m_sinkDumps;
    bool m_connected = false;

    QString workPath(const QString &name) const { return m_work.path() + QLatin1Char('/') + name; }

    // Folders servers write into after dropping to nobody.
    QString openFolder(const QString &name) const
    {
        const QString path = workPath(name);
        QDir().mkpath(path);
        QFile::setPermissions(path, QFileDevice::Permissions(0x7777));
        return path;
    }

    // Starts a server on a fresh free port; a port taken between the check
    // and the server's bind is tried again on another one.
    bool startPeer(Peer &peer, const QString &packageHint, const QString &program,
                   const std::function<QStringList(quint16)> &argumentsForPort, bool asNobody,
                   const std::function<bool(quint16)> &identify = {})
    {
        const QString path = findProgram(program);
        if (path.isEmpty()) {
            peer.skip =
                QStringLiteral(
                    "%1 is not installed (Debian package %2); its end-to-end cases were not run")
                    .arg(program, packageHint);
            return false;
        }
        for (int attempt = 0; attempt < 3; ++attempt) {
            peer.port = freePort();
            peer.process = std::make_unique<ServerProcess>();
            if (peer.process->start(path, argumentsForPort(peer.port), asNobody) &&
                peer.process->waitListening(peer.port) && (!identify || identify(peer.port))) {
                peer.failure.clear();
                return true;
            }
            peer.failure = QStringLiteral("%1 is installed but did not start: %2")
                               .arg(program, QString::fromUtf8(peer.process->output()));
            peer.process->stop();
        }
        return false;
    }

    static QByteArray fetch(quint16 port, const QByteArray &request, const QByteArray &until)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(2000))
            return {};
        socket.write(request);
        QByteArray got;
        (void)QTest::qWaitFor(
            [&] {
                socket.waitForReadyRead(50);
                got += socket.readAll();
                return got.contains(until) || socket.state() != QAbstractSocket::ConnectedState;
            },
            3000);
        return got;
    }

    void startNginx()
    {
        const QString prefix = workPath(QStringLiteral("nginx"));
        m_webRoot = prefix + QStringLiteral("/www");
        m_accessLog = prefix + QStringLiteral("/access.log");
        QDir().mkpath(m_webRoot);
        QDir().mkpath(prefix + QStringLiteral("/tmp"));
        // The workers run as nobody and read the web root.
        for (const QString &dir : {m_work.path(), prefix, m_webRoot})
            QFile::setPermissions(dir, QFileDevice::Permissions(0x7755));
        writeFile(m_webRoot + QStringLiteral("/flip.html"), "<p>Shop is up and RUNNING</p>\n");
        // Sent at 1 KB/s (below), so the whole page takes about two seconds.
        writeFile(m_webRoot + QStringLiteral("/slow.html"),
                  QByteArray(3000, 'x') + "\n<p>Last line of a slow page</p>\n");
        writeFile(m_webRoot + QStringLiteral("/chunked.html"),
                  "<p>Sent in <!--# echo var=\"ssi_word\" default=\"pieces\" --> "
                  "for the Chunked Welcome</p>\n");
        const auto config = [prefix, this](quint16 port) {
            const QString text =
                QStringLiteral("daemon off;\n"
                               "master_process on;\n"
                               "worker_processes 1;\n"
                               "%3\n"
                               "pid %1/nginx.pid;\n"
                               "error_log %1/error.log info;\n"
                               "events { worker_connections 64; }\n"
                               "http {\n"
                               "  log_format e2e '$request|$status|$http_via';\n"
                               "  access_log %1/access.log e2e;\n"
                               "  client_body_temp_path %1/tmp/body;\n"
                               "  proxy_temp_path %1/tmp/proxy;\n"
                               "  fastcgi_temp_path %1/tmp/fastcgi;\n"
                               "  uwsgi_temp_path %1/tmp/uwsgi;\n"
                               "  scgi_temp_path %1/tmp/scgi;\n"
                               "  server {\n"
                               "    listen 127.0.0.1:%2;\n"
                               "    root %1/www;\n"
                               "    default_type text/html;\n"
                               "    location = /ok { return 200 \"<html><body>Welcome to the "
                               "shop</body></html>\\n\"; }\n"
                               "    location = /plain { add_header X-Greeting Welcome; return "
                               "200 \"<html><body>Nothing to see</body></html>\\n\"; }\n"
                               "    location = /moved { return 301 /ok; }\n"
                               // Server-side includes: the length is not known
                               // in advance, so HTTP/1.1 answers come chunked.
                               "    location = /chunked { ssi on; try_files /chunked.html =404; }\n"
                               "    location = /missing { return 404; }\n"
                               "    location = /slow { limit_rate 1k; try_files /slow.html =404; }\n"
                               "    location = /down { return 503; }\n"
                               "    location = /flip { try_files /flip.html =503; }\n"
                               "    location = /whoami { return 200 \"quellmark-e2e-%2\"; }\n"
                               "  }\n"
                               "}\n")
                    .arg(prefix)
                    .arg(port)
                    .arg(geteuid() == 0 ? QStringLiteral("user nobody nogroup;") : QString());
            writeFile(prefix + QStringLiteral("/nginx.conf"), text.toUtf8());
            return QStringList{QStringLiteral("-e"), prefix + QStringLiteral("/error.log"),
                               QStringLiteral("-p"), prefix,
                               QStringLiteral("-c"), prefix + QStringLiteral("/nginx.conf")};
        };
        startPeer(m_nginx, QStringLiteral("nginx"), QStringLiteral("nginx"), config, false,
                  [](quint16 port) {
                      return fetch(port, "GET /whoami HTTP/1.0\r\n\r\n", "quellmark-e2e-")
                          .contains("quellmark-e2e-" + QByteArray::number(port));
                  });
    }

    void startTinyproxy()
    {
        const QString folder = openFolder(QStringLiteral("tinyproxy"));
        const auto config = [folder](quint16 port) {
            // Started as nobody already, so no User/Group lines are needed.
            const QString text = QStringLiteral("Port %1\n"
                                                "Listen 127.0.0.1\n"
                                                "Allow 127.0.0.1\n"
                                                "Timeout 30\n"
                                                "MaxClients 20\n"
                                                "LogFile \"%2/tinyproxy.log\"\n"
                                                "LogLevel Info\n")
                                     .arg(port)
                                     .arg(folder);
            writeFile(folder + QStringLiteral("/tinyproxy.conf"), text.toUtf8());
            return QStringList{QStringLiteral("-d"), QStringLiteral("-c"),
                               folder + QStringLiteral("/tinyproxy.conf")};
        };
        startPeer(m_tinyproxy, QStringLiteral("tinyproxy-bin"), QStringLiteral("tinyproxy"), config,
                  true);
    }

    void startVsftpd()
    {
        const QString folder = workPath(QStringLiteral("vsftpd"));
        QDir().mkpath(folder + QStringLiteral("/root"));
        QDir().mkpath(folder + QStringLiteral("/empty"));
        const auto config = [folder](quint16 port) {
            const QString text = QStringLiteral("listen=YES\n"
                                                "listen_ipv6=NO\n"
                                                "listen_address=127.0.0.1\n"
                                                "listen_port=%1\n"
                                                "background=NO\n"
                                                "run_as_launching_user=YES\n"
                                                "anonymous_enable=YES\n"
                                                "anon_root=%2/root\n"
                                                "local_enable=NO\n"
                                                "write_enable=NO\n"
                                                "secure_chroot_dir=%2/empty\n"
                                                "ftp_username=nobody\n"
                                                "xferlog_enable=NO\n"
                                                "syslog_enable=NO\n"
                                                "ftpd_banner=Quellmark e2e FTP %1 ready\n")
                                     .arg(port)
                                     .arg(folder);
            writeFile(folder + QStringLiteral("/vsftpd.conf"), text.toUtf8());
            return QStringList{folder + QStringLiteral("/vsftpd.conf")};
        };
        startPeer(m_vsftpd, QStringLiteral("vsftpd"), QStringLiteral("vsftpd"), config, false,
                  [](quint16 port) {
                      return fetch(port, QByteArray(), "\r\n")
                          .startsWith("220 Quellmark e2e FTP " + QByteArray::number(port));
                  });
    }

    void startSinks()
    {
        m_sinkDumps = openFolder(QStringLiteral("sink"));
        startPeer(
            m_sink, QStringLiteral("postfix"), QStringLiteral("smtp-sink"),
            [this](quint16 port) {
                return QStringList{QStringLiteral("-d"), m_sinkDumps + QStringLiteral("/%H%M%S."),
                                   QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("10")};
            },
            true);
        // Greets with 421 and hangs up: an SMTP server that is busy.
        startPeer(
            m_sink421, QStringLiteral("postfix"), QStringLiteral("smtp-sink"),
            [](quint16 port) {
                return QStringList{QStringLiteral("-Q"), QStringLiteral("CONNECT"),
                                   QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("10")};
            },
            true);
    }

    // The messages smtp-sink kept, oldest first, with LF line ends.
    QList<QByteArray> sinkMessages() const
    {
        QList<QByteArray> result;
        const QDir dir(m_sinkDumps);
        for (const QString &name : dir.entryList(QDir::Files, QDir::Time | QDir::Reversed))
            result << readAll(dir.filePath(name)).replace("\r\n", "\n");
        return result;
    }

    // New lines of nginx's access log since offset: "request|status|via".
    QStringList accessLogSince(qint64 offset) const
    {
        const QByteArray bytes = readAll(m_accessLog).mid(offset);
        return QString::fromUtf8(bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    static bool startRun(ProgramRun &run, QString *why)
    {
        if (!run.startBus() || !run.startProgram()) {
            *why = run.problem();
            return false;
        }
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        QVERIFY2(!qEnvironmentVariableIsEmpty("QUELLMARK_APP") &&
                     !qEnvironmentVariableIsEmpty("QUELLMARK_REG"),
                 "QUELLMARK_APP and QUELLMARK_REG must name the program and the settings tool");
        if (findProgram(QStringLiteral("dbus-daemon")).isEmpty())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon); the end-to-end suite "
                  "drives the "
                  "program over D-Bus and was not run");
        startNginx();
        startTinyproxy();
        startVsftpd();
        startSinks();
        QStringList skipped;
        for (const Peer *peer : {&m_nginx, &m_tinyproxy, &m_vsftpd, &m_sink, &m_sink421}) {
            if (!peer->skip.isEmpty() && !skipped.contains(peer->skip))
                skipped << peer->skip;
        }
        for (const QString &message : skipped)
            qWarning("SKIP: %s", qPrintable(message));
        m_connected = InternetConnected();
    }

    void cleanupTestCase()
    {
        for (Peer *peer : {&m_nginx, &m_tinyproxy, &m_vsftpd, &m_sink, &m_sink421}) {
            if (peer->process)
                peer->process->stop();
        }
    }

    // HTTP answers judged by the program, straight to nginx and through
    // tinyproxy: status and pattern rules, HEAD or GET, the request path in
    // lower case, the logs and the store after a first and a second poll.
    void httpJudgements_data()
    {
        QTest::addColumn<bool>("viaProxy");
        QTest::newRow("direct") << false;
        QTest::newRow("through tinyproxy") << true;
    }
    void httpJudgements()
    {
        REQUIRE_CONNECTION();
        QFETCH(bool, viaProxy);
        REQUIRE_PEER(m_nginx);
        if (viaProxy)
            REQUIRE_PEER(m_tinyproxy);

        // target: host and path in the service name; pattern: none means
        // HEAD; request: as nginx logs it; response and bodyText: in the
        // error log entry.
        struct Case {
            const char *target, *pattern, *request;
            bool success;
            const char *response, *bodyText;
        };
        const QList<Case> cases = {
            {"127.0.0.1/OK", "WELCOME", "GET /ok", true, "", ""},
            // The pattern only in a header line does not count.
            {"127.0.0.1/plain", "Welcome", "GET /plain", false, "HTTP/1.1 200 OK\r\n",
             "Nothing to see"},
            {"127.0.0.1/missing", "", "HEAD /missing", true, "", ""},
            {"localhost/moved", "", "HEAD /moved", true, "", ""},
            {"127.0.0.1/down/", "", "HEAD /down", false,
             "HTTP/1.1 503 Service Temporarily Unavailable\r\n", ""},
            {"127.0.0.1/flip", "running", "GET /flip", true, "", ""},
            {"127.0.0.1/chunked", "pieces for the chunked", "GET /chunked", true, "", ""},
        };

        ProgramRun run(false);
        const auto serviceName = [&](const Case &c) {
            return QStringLiteral("HTTP %1 %2").arg(QLatin1String(c.target)).arg(m_nginx.port);
        };
        for (const Case &c : cases) {
            const QString key = run.serviceKey(serviceName(c));
            QVERIFY(run.set(key, QStringLiteral("SoundAlert"), 0));
            if (*c.pattern)
                QVERIFY(run.set(key, QStringLiteral("Pattern"), QString::fromLatin1(c.pattern)));
        }
        if (viaProxy) {
            QVERIFY(run.set(run.root(), QStringLiteral("UseHttpProxy"), 1));
            QVERIFY(
                run.set(run.root(), QStringLiteral("HttpProxyURL"), QStringLiteral("127.0.0.1")));
            QVERIFY(run.set(run.root(), QStringLiteral("HttpProxyPort"), m_tinyproxy.port));
        }
        QString why;
        QVERIFY2(startRun(run, &why), qPrintable(why));

        const qint64 accessBefore = QFileInfo(m_accessLog).size();
        QElapsedTimer clock;
        clock.start();
        QVERIFY2(run.poll(), qPrintable(run.problem()));
        // nginx keeps its connections open: each answer must be taken as
        // complete by its framing, not by the server's close.
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));

        // What reached nginx: one request per service, by the right method,
        // and through the proxy exactly when it is switched on.
        QTRY_COMPARE(accessLogSince(accessBefore).size(), cases.size());
        const QStringList access = accessLogSince(accessBefore);
        for (const Case &c : cases) {
            const QStringList hits = access.filter(QLatin1String(c.request) + QLatin1Char(' '));
            QVERIFY2(hits.size() == 1,
                     qPrintable(QLatin1String(c.request) + QStringLiteral(" in ") +
                                access.join(QLatin1Char('\n'))));
            QCOMPARE(hits.first().section(QLatin1Char('|'), 2).contains(QLatin1String("tinyproxy")),
                     viaProxy);
        }

        QStringList expectedOnError;
        const QByteArray errorLog = readAll(run.errorLogPath());
        for (const Case &c : cases) {
            const QString name = serviceName(c);
            const QString key = run.serviceKey(name);
            QString target = QString::fromLatin1(c.target).toLower();
            if (target.endsWith(QLatin1Char('/')))
                target.chop(1);
            const QString logPath = run.programFolder() +
                                    QString(target).replace(QLatin1Char('/'), QLatin1Char('_')) +
                                    QStringLiteral("(http).log");
            QCOMPARE(run.get(key, QStringLiteral("ActualFailures")),
                     QString(c.success ? "0" : "1"));
            QCOMPARE(run.get(key, QStringLiteral("FailureTime")) != Missing, !c.success);
            QCOMPARE(run.get(key, QStringLiteral("RecoveryTime")), Missing);
            QCOMPARE(serviceLogRecords(logPath),
                     (c.success ? QStringList{QStringLiteral("start")}
                                : QStringList{QStringLiteral("start"), QStringLiteral("on")}));
            const QList<QByteArray> entries =
                errorEntries(errorLog, target, QStringLiteral("http"));
            if (c.success) {
                QVERIFY2(entries.isEmpty(), qPrintable(name));
                continue;
            }
            expectedOnError << QStringLiteral("http:") + target;
            QCOMPARE(entries.size(), 1);
            QVERIFY2(entries.first().startsWith(c.response), entries.first().constData());
            QVERIFY2(entries.first().contains(c.bodyText), entries.first().constData());
            QVERIFY(entries.first().endsWith("\r\n\r\n"));
        }
        QStringList onError = run.onErrorList();
        onError.sort();
        expectedOnError.sort();
        QCOMPARE(onError, expectedOnError);

        // Still failing: counts go on, but no second went-on-error record and
        // no second error log entry within one outage.
        QVERIFY2(run.poll(), qPrintable(run.problem()));
        for (const Case &c : cases) {
            const QString key = run.serviceKey(serviceName(c));
            QCOMPARE(run.get(key, QStringLiteral("ActualFailures")),
                     QString(c.success ? "0" : "2"));
        }
        QCOMPARE(readAll(run.errorLogPath()), errorLog);
        QCOMPARE(run.onErrorList().size(), expectedOnError.size());
        QVERIFY2(run.exitProgram(), qPrintable(run.problem()));
    }

    // The TCP type against nginx's port and a closed one, straight and
    // through tinyproxy's CONNECT, and a slow answer: nginx sends the page
    // at 1 KB/s, about two seconds, against a limit of 500 ms; the same
    // limit of 5 s lets a quick page pass.
    void tcpAndSlowAnswers_data()
    {
        QTest::addColumn<bool>("viaProxy");
        QTest::newRow("direct") << false;
        QTest::newRow("through tinyproxy") << true;
    }
    void tcpAndSlowAnswers()
    {
        REQUIRE_CONNECTION();
        QFETCH(bool, viaProxy);
        REQUIRE_PEER(m_nginx);
        if (viaProxy)
            REQUIRE_PEER(m_tinyproxy);

        ProgramRun run(false);
        const QString tcpUp = QStringLiteral("TCP 127.0.0.1 %1").arg(m_nginx.port);
        const QString tcpClosed = QStringLiteral("TCP localhost %1").arg(freePort());
        const QString slow = QStringLiteral("HTTP 127.0.0.1/slow %1").arg(m_nginx.port);
        const QString quick = QStringLiteral("HTTP 127.0.0.1/ok %1").arg(m_nginx.port);
        for (const QString &name : {tcpUp, tcpClosed, slow, quick})
            QVERIFY(run.set(run.serviceKey(name), QStringLiteral("SoundAlert"), 0));
        QVERIFY(run.set(run.serviceKey(slow), QStringLiteral("Pattern"), QStringLiteral("last line")));
        QVERIFY(run.set(run.serviceKey(slow), QStringLiteral("SlowAfterMs"), 500));
        QVERIFY(run.set(run.serviceKey(quick), QStringLiteral("SlowAfterMs"), 5000));
        if (viaProxy) {
            QVERIFY(run.set(run.root(), QStringLiteral("UseHttpProxy"), 1));
            QVERIFY(run.set(run.root(), QStringLiteral("HttpProxyURL"), QStringLiteral("127.0.0.1")));
            QVERIFY(run.set(run.root(), QStringLiteral("HttpProxyPort"), m_tinyproxy.port));
        }
        QString why;
        QVERIFY2(startRun(run, &why), qPrintable(why));
        QVERIFY2(run.poll(), qPrintable(run.problem()));

        const QList<QPair<QString, bool>> outcomes = {
            {tcpUp, true}, {tcpClosed, false}, {slow, false}, {quick, true}};
        for (const auto &[name, up] : outcomes)
            QVERIFY2(run.get(run.serviceKey(name), QStringLiteral("ActualFailures")) == QString(up ? "0" : "1"),
                     qPrintable(name));
        QStringList onError = run.onErrorList();
        onError.sort();
        QCOMPARE(onError, (QStringList{QStringLiteral("http:127.0.0.1/slow"), QStringLiteral("tcp:localhost")}));
        const QString folder = run.programFolder();
        QCOMPARE(serviceLogRecords(folder + QStringLiteral("127.0.0.1(tcp).log")), QStringList{QStringLiteral("start")});
        QCOMPARE(serviceLogRecords(folder + QStringLiteral("localhost(tcp).log")),
                 (QStringList{QStringLiteral("start"), QStringLiteral("on")}));
        QCOMPARE(serviceLogRecords(folder + QStringLiteral("127.0.0.1_slow(http).log")),
                 (QStringList{QStringLiteral("start"), QStringLiteral("on")}));

        const QByteArray errorLog = readAll(run.errorLogPath());
        QVERIFY(errorEntries(errorLog, QStringLiteral("127.0.0.1"), QStringLiteral("tcp")).isEmpty());
        const QList<QByteArray> closed = errorEntries(errorLog, QStringLiteral("localhost"), QStringLiteral("tcp"));
        QCOMPARE(closed.size(), 1);
        // Through the proxy the connection is the proxy's; its refusal is
        // what it answered.
        if (viaProxy)
            QVERIFY2(closed.first().startsWith("HTTP/1."), closed.first().constData());
        else
            QCOMPARE(closed.first(), QByteArray("Could not open connection to socket\r\n\r\n"));
        const QList<QByteArray> slowEntries =
            errorEntries(errorLog, QStringLiteral("127.0.0.1/slow"), QStringLiteral("http"));
        QCOMPARE(slowEntries.size(), 1);
        static const QRegularExpression slowLine(
            QStringLiteral("^slow: the answer took \\d+ ms, more than the 500 ms allowed\r\nHTTP/1.1 200 OK\r\n"));
        QVERIFY2(slowLine.match(QString::fromUtf8(slowEntries.first())).hasMatch(), slowEntries.first().constData());
        QVERIFY(slowEntries.first().contains("Last line of a slow page"));
        QVERIFY2(run.exitProgram(), qPrintable(run.problem()));
    }

    // Greetings of real and scripted servers: what counts as up, the result
    // code in the error log, and the QUIT that follows every greeting.
    void greetings_data()
    {
        QTest::addColumn<QString>("peer");     // server to talk to
        QTest::addColumn<QString>("protocol"); // in the service name
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QByteArray>("logged"); // error log entry text

        const auto row = [](const char *name, const char *peer,
                            const char *protocol) -> QTestData & {
            return QTest::newRow(name)
                   << QString::fromLatin1(peer) << QString::fromLatin1(protocol);
        };
        const QByteArray none;
        row("vsftpd 220", "vsftpd", "FTP") << none << true << none;
        row("smtp-sink 220", "smtp-sink", "SMTP") << none << true << none;
        row("smtp-sink 421", "smtp-sink 421", "SMTP")
            << none << false << QByteArray("421 4.0.0 Server closing connection\r\n\r\n");
        row("pop3 +OK", "fake", "POP3") << QByteArray("+OK POP3 ready\r\n") << true << none;
        row("pop3 -ERR", "fake", "POP3")
            << QByteArray("-ERR busy\r\n") << false << QByteArray("-ERR busy\r\n\r\n");
        row("pop3 +ok lower case", "fake", "POP3")
            << QByteArray("+ok ready\r\n") << false << QByteArray("+ok ready\r\n\r\n");
        row("ftp refused", "closed", "FTP")
            << none << false << QByteArray("Could not open connection to socket\r\n\r\n");
    }
    void greetings()
    {
        REQUIRE_CONNECTION();
        QFETCH(QString, peer);
        QFETCH(QString, protocol);
        QFETCH(QByteArray, greeting);
        QFETCH(bool, success);
        QFETCH(QByteArray, logged);

        FakeServer fake;
        quint16 port = 0;
        QString host = QStringLiteral("127.0.0.1");
        if (peer == QLatin1String("vsftpd")) {
            REQUIRE_PEER(m_vsftpd);
            port = m_vsftpd.port;
        } else if (peer == QLatin1String("smtp-sink")) {
            REQUIRE_PEER(m_sink);
            port = m_sink.port;
        } else if (peer == QLatin1String("smtp-sink 421")) {
            REQUIRE_PEER(m_sink421);
            port = m_sink421.port;
        } else if (peer == QLatin1String("fake")) {
            QVERIFY(fake.listen());
            fake.setScenario(
                FakeServer::Scenario().send(greeting).waitForText("\r\n").delay(50).close());
            port = fake.port();
        } else {
            // By name: the lookup of localhost stays on this machine.
            host = QStringLiteral("localhost");
            port = freePort();
        }

        ProgramRun run(false);
        const QString name = QStringLiteral("%1 %2 %3").arg(protocol, host).arg(port);
        const QString key = run.serviceKey(name);
        QVERIFY(run.set(key, QStringLiteral("SoundAlert"), 0));
        QString why;
        QVERIFY2(startRun(run, &why), qPrintable(why));
        QVERIFY2(run.poll(), qPrintable(run.problem()));

        const QString lower = protocol.toLower();
        QCOMPARE(run.get(key, QStringLiteral("ActualFailures")), QString(success ? "0" : "1"));
        QCOMPARE(run.get(key, QStringLiteral("FailureTime")) != Missing, !success);
        QCOMPARE(serviceLogRecords(run.programFolder() + host + QLatin1Char('(') + lower +
                                   QStringLiteral(").log")),
                 (success ? QStringList{QStringLiteral("start")}
                          : QStringList{QStringLiteral("start"), QStringLiteral("on")}));
        QCOMPARE(run.onErrorList(),
                 success ? QStringList() : QStringList{lower + QLatin1Char(':') + host});
        const QList<QByteArray> entries = errorEntries(readAll(run.errorLogPath()), host, lower);
        if (success) {
            QVERIFY(entries.isEmpty());
        } else {
            QCOMPARE(entries.size(), 1);
            QCOMPARE(entries.first(), logged);
        }
        if (peer == QLatin1String("fake")) {
            QTRY_COMPARE(fake.received(0), QByteArray("QUIT\r\n"));
            QCOMPARE(fake.connectionCount(), 1);
        }
        QVERIFY2(run.exitProgram(), qPrintable(run.problem()));
    }

    // A service goes down for two polls and comes back, while another stays
    // down, and a third cannot be reached and has a program that does not
    // exist: programs launched by their thresholds and repeat rules, alert
    // e-mails delivered to smtp-sink with their variables, and the state a
    // restarted program picks up from the store.
    void alertsAcrossARestart()
    {
        REQUIRE_CONNECTION();
        REQUIRE_PEER(m_nginx);
        REQUIRE_PEER(m_sink);
        ProgramRun run(false);
        const QString flip = QStringLiteral("HTTP 127.0.0.1/flip %1").arg(m_nginx.port);
        const QString down = QStringLiteral("HTTP 127.0.0.1/down %1").arg(m_nginx.port);
        const QString closedPort = QString::number(freePort());
        const QString unreachable = QStringLiteral("FTP localhost ") + closedPort;
        const QString flipKey = run.serviceKey(flip);
        const QString downKey = run.serviceKey(down);
        const QString unreachableKey = run.serviceKey(unreachable);
        const QString dir = run.sandboxRoot() + QLatin1Char('/');
        const QString flipMarks = dir + QStringLiteral("flip-launches");
        const QString downMarks = dir + QStringLiteral("down-launches");

        // Lines that begin with a dot must arrive as written.
        QVERIFY(writeFile(dir + QStringLiteral("down.txt"),
                          "To: ops\r\nFrom: monitor\r\nSubject: DOWN {SiteURL}\r\n\r\nFailures: "
                          "{NumberOfFailures}\r\n"
                          "Since: {FailureTime}\r\n.\r\n..two dots\r\n"));
        QVERIFY(writeFile(dir + QStringLiteral("up.txt"),
                          "To: ops\r\nFrom: monitor\r\nSubject: BACK {SiteURL}\r\n\r\nFailures: "
                          "{NumberOfFailures}\r\n"
                          "Since: {FailureTime}\r\nBack: {RecoveryTime}\r\n"));

        QVERIFY(run.set(flipKey, QStringLiteral("Pattern"), QStringLiteral("running")));
        QVERIFY(run.set(flipKey, QStringLiteral("LaunchApplication"), 1));
        QVERIFY(run.set(flipKey, QStringLiteral("FailuresBeforeLaunch"), 1));
        QVERIFY(run.set(flipKey, QStringLiteral("ProgName"),
                        QStringLiteral("/bin/sh -c \"echo down >> '%1'\"").arg(flipMarks)));
        QVERIFY(run.set(flipKey, QStringLiteral("ProgNameOff"),
                        QStringLiteral("/bin/sh -c \"echo up >> '%1'\"").arg(flipMarks)));
        QVERIFY(run.set(flipKey, QStringLiteral("SendEmail"), 1));
        QVERIFY(run.set(flipKey, QStringLiteral("FailuresBeforeEmail"), 2));
        QVERIFY(run.set(flipKey, QStringLiteral("OnErrorEmail"), dir + QStringLiteral("down.txt")));
        QVERIFY(
            run.set(flipKey, QStringLiteral("OnErrorEmailTo"), QStringLiteral("ops@example.org")));
        QVERIFY(run.set(flipKey, QStringLiteral("OffErrorEmail"), dir + QStringLiteral("up.txt")));
        QVERIFY(run.set(flipKey, QStringLiteral("OffErrorEmailTo"),
                        QStringLiteral("ops@example.org,boss@example.org")));

        QVERIFY(run.set(downKey, QStringLiteral("SoundAlert"), 0));
        QVERIFY(run.set(downKey, QStringLiteral("LaunchApplication"), 1));
        QVERIFY(run.set(downKey, QStringLiteral("FailuresBeforeLaunch"), 2));
        QVERIFY(run.set(downKey, QStringLiteral("RepeatLaunchApplication"), 1));
        QVERIFY(run.set(downKey, QStringLiteral("ProgName"),
                        QStringLiteral("/bin/sh -c \"echo down >> '%1'\"").arg(downMarks)));

        QVERIFY(run.set(unreachableKey, QStringLiteral("SoundAlert"), 0));
        QVERIFY(run.set(unreachableKey, QStringLiteral("LaunchApplication"), 1));
        QVERIFY(run.set(unreachableKey, QStringLiteral("ProgName"),
                        QStringLiteral("/nonexistent/quellmark-e2e-alert")));

        QVERIFY(run.set(run.root(), QStringLiteral("SmtpServer"), QStringLiteral("127.0.0.1")));
        QVERIFY(run.set(run.root(), QStringLiteral("SmtpPort"), m_sink.port));
        QVERIFY(
            run.set(run.root(), QStringLiteral("SmtpFrom"), QStringLiteral("monitor@example.org")));

        const QString flipPage = m_webRoot + QStringLiteral("/flip.html");
        const QByteArray page = readAll(flipPage);
        QVERIFY(QFile::remove(flipPage));
        // The page comes back whatever happens below, for the other cases.
        const auto restore = qScopeGuard([&] { writeFile(flipPage, page); });
        const int mailsBefore = int(sinkMessages().size());
        const auto newMails = [&] { return sinkMessages().mid(mailsBefore); };

        QString why;
        QVERIFY2(startRun(run, &why), qPrintable(why));

        // Poll 1: everything fails. The flip program starts at once; its
        // e-mail waits for the second failure; the down program for the
        // second too; the missing program is reported and the cycle goes on.
        QVERIFY2(run.poll(), qPrintable(run.problem()));
        QStringList onError = run.onErrorList();
        onError.sort();
        QCOMPARE(onError, (QStringList{QStringLiteral("ftp:localhost"),
                                       QStringLiteral("http:127.0.0.1/down"),
                                       QStringLiteral("http:127.0.0.1/flip")}));
        QTRY_COMPARE(readAll(flipMarks), QByteArray("down\n"));
        for (const QString &key : {flipKey, downKey, unreachableKey})
            QCOMPARE(run.get(key, QStringLiteral("ActualFailures")), QStringLiteral("1"));
        const QString flipFailed = run.get(flipKey, QStringLiteral("FailureTime"));
        const QString downFailed = run.get(downKey, QStringLiteral("FailureTime"));
        const QString unreachableFailed = run.get(unreachableKey, QStringLiteral("FailureTime"));
        for (const QString &stamp : {flipFailed, downFailed, unreachableFailed})
            QVERIFY(stamp != Missing && !stamp.isEmpty());
        const QByteArray errorLog1 = readAll(run.errorLogPath());
        QCOMPARE(errorEntries(errorLog1, QStringLiteral("localhost"), QStringLiteral("ftp")),
                 QList<QByteArray>{"Could not open connection to socket\r\n\r\n"});
        // The program that could not start is on record too.
        QVERIFY2(errorLog1.contains(": alert program not started for " + unreachableKey.section('\\', -1).toUtf8() +
                                    " (on-error program)\r\nCreate Process Error #2: No such file or directory\r\n"),
                 errorLog1.constData());
        QCOMPARE(errorEntries(errorLog1, QStringLiteral("127.0.0.1/flip"), QStringLiteral("http"))
                     .size(),
                 1);
        QCOMPARE(errorEntries(errorLog1, QStringLiteral("127.0.0.1/down"), QStringLiteral("http"))
                     .size(),
                 1);

        // Poll 2: the on-error e-mail at the second failure, the repeating
        // program at every second one; nothing new in the error log.
        QVERIFY2(run.poll(), qPrintable(run.problem()));
        QTRY_COMPARE(readAll(downMarks), QByteArray("down\n"));
        QVERIFY(QTest::qWaitFor([&] { return newMails().size() >= 1; }, 10000));
        QCOMPARE(newMails().size(), 1);
        const QByteArray url = "http://127.0.0.1:" + QByteArray::number(m_nginx.port) + "/flip";
        const QByteArray downMail = newMails().at(0);
        QVERIFY2(downMail.contains("\nSubject: DOWN " + url + "\n"), downMail.constData());
        QVERIFY(downMail.contains("\nFailures: 2\n"));
        QVERIFY(downMail.contains("\nSince: " + flipFailed.toUtf8() + "\n"));
        QVERIFY(downMail.contains("\n.\n..two dots\n"));
        QVERIFY(downMail.contains("\nDate: "));
        QVERIFY(downMail.contains("X-Mail-Args: <monitor@example.org>"));
        QVERIFY(downMail.contains("X-Rcpt-Args: <ops@example.org>"));
        QCOMPARE(readAll(run.errorLogPath()), errorLog1);
        QCOMPARE(readAll(flipMarks), QByteArray("down\n"));

        // Poll 3: flip is back. Off-error program and e-mail (the count had
        // reached both thresholds), the count reset only after the e-mail.
        QVERIFY(writeFile(flipPage, page));
        QVERIFY2(run.poll(), qPrintable(run.problem()));
        QTRY_COMPARE(readAll(flipMarks), QByteArray("down\nup\n"));
        QVERIFY(QTest::qWaitFor([&] { return newMails().size() >= 2; }, 10000));
        QCOMPARE(newMails().size(), 2);
        const QString recovered = run.get(flipKey, QStringLiteral("RecoveryTime"));
        QVERIFY(recovered != Missing && !recovered.isEmpty());
        const QByteArray upMail = newMails().at(1);
        QVERIFY2(upMail.contains("\nSubject: BACK " + url + "\n"), upMail.constData());
        QVERIFY(upMail.contains("\nFailures: 2\n"));
        QVERIFY(upMail.contains("\nBack: " + recovered.toUtf8() + "\n"));
        QVERIFY(upMail.contains("X-Rcpt-Args: <ops@example.org>"));
        QVERIFY(upMail.contains("X-Rcpt-Args: <boss@example.org>"));
        QCOMPARE(run.get(flipKey, QStringLiteral("ActualFailures")), QStringLiteral("0"));
        QCOMPARE(run.get(downKey, QStringLiteral("ActualFailures")), QStringLiteral("3"));
        QCOMPARE(
            serviceLogRecords(run.programFolder() + QStringLiteral("127.0.0.1_flip(http).log")),
            (QStringList{QStringLiteral("start"), QStringLiteral("on"), QStringLiteral("off")}));
        onError = run.onErrorList();
        onError.sort();
        QCOMPARE(onError, (QStringList{QStringLiteral("ftp:localhost"),
                                       QStringLiteral("http:127.0.0.1/down")}));
        QCOMPARE(readAll(downMarks), QByteArray("down\n"));
        QVERIFY2(run.exitProgram(), qPrintable(run.problem()));
        // The window's place is kept at the end.
        QVERIFY(run.get(run.root(), QStringLiteral("Top")) != Missing);
        QVERIFY(run.get(run.root(), QStringLiteral("Left")) != Missing);

        // A new run of the program starts with an empty on-error list and
        // the counts of the store: the still-failing services are not listed,
        // so they are logged once more and get their first-failure alerts by
        // "at least", but no second went-on-error record.
        QVERIFY2(run.startProgram(), qPrintable(run.problem()));
        QCOMPARE(run.onErrorList(), QStringList());
        QVERIFY2(run.poll(), qPrintable(run.problem()));
        QCOMPARE(run.get(downKey, QStringLiteral("ActualFailures")), QStringLiteral("4"));
        QCOMPARE(run.get(unreachableKey, QStringLiteral("ActualFailures")), QStringLiteral("4"));
        QCOMPARE(run.get(flipKey, QStringLiteral("ActualFailures")), QStringLiteral("0"));
        QTRY_COMPARE(readAll(downMarks), QByteArray("down\ndown\n"));
        // A wrong answer keeps the time of going on error; an unreachable
        // server gets the time of this failure.
        QCOMPARE(run.get(downKey, QStringLiteral("FailureTime")), downFailed);
        const QString unreachableNow = run.get(unreachableKey, QStringLiteral("FailureTime"));
        QVERIFY(unreachableNow != Missing);
        QVERIFY(unreachableNow != unreachableFailed);
        const QByteArray errorLog2 = readAll(run.errorLogPath());
        QCOMPARE(errorEntries(errorLog2, QStringLiteral("127.0.0.1/down"), QStringLiteral("http"))
                     .size(),
                 2);
        QCOMPARE(errorEntries(errorLog2, QStringLiteral("localhost"), QStringLiteral("ftp")).size(),
                 2);
        QCOMPARE(errorEntries(errorLog2, QStringLiteral("127.0.0.1/flip"), QStringLiteral("http"))
                     .size(),
                 1);
        QCOMPARE(
            serviceLogRecords(run.programFolder() + QStringLiteral("127.0.0.1_down(http).log")),
            (QStringList{QStringLiteral("start"), QStringLiteral("on")}));
        QCOMPARE(serviceLogRecords(run.programFolder() + QStringLiteral("localhost(ftp).log")),
                 (QStringList{QStringLiteral("start"), QStringLiteral("on")}));
        QCOMPARE(
            serviceLogRecords(run.programFolder() + QStringLiteral("127.0.0.1_flip(http).log")),
            (QStringList{QStringLiteral("start"), QStringLiteral("on"), QStringLiteral("off")}));
        QCOMPARE(newMails().size(), 2);
        QCOMPARE(readAll(flipMarks), QByteArray("down\nup\n"));
        QVERIFY2(run.exitProgram(), qPrintable(run.problem()));
    }

    // The alert e-mail through a server that wants AUTH LOGIN (the scripted
    // fake: smtp-sink accepts any AUTH at once), in both modes: the exact
    // dialogue, and no MAIL FROM after a refused password.
    void authLoginMail_data()
    {
        QTest::addColumn<bool>("testMode");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("password accepted, test mode") << true << true;
        QTest::newRow("password refused") << false << false;
    }
    void authLoginMail()
    {
        REQUIRE_CONNECTION();
        QFETCH(bool, testMode);
        QFETCH(bool, accepted);
        const QByteArray user = "e2e-user";
        const QByteArray password = "s3cret:pass word";

        FakeServer smtp;
        QVERIFY(smtp.listen());
        FakeServer::Scenario scenario;
        scenario.send("220 fake.test ESMTP\r\n")
            .waitForText("\r\n")
            .send("250-fake.test\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n")
            .waitForText("AUTH LOGIN\r\n")
            .send("334 VXNlcm5hbWU6\r\n")
            .waitForText("AUTH LOGIN\r\n" + user.toBase64() + "\r\n")
            .send("334 UGFzc3dvcmQ6\r\n")
            .waitForText(user.toBase64() + "\r\n" + password.toBase64() + "\r\n");
        if (accepted) {
            scenario.send("235 2.7.0 Authentication successful\r\n")
                .waitForText("MAIL FROM:")
                .waitForText(">\r\n")
                .send("250 2.1.0 Ok\r\n")
                .waitForText("RCPT TO:<a@example.org>\r\n")
                .send("250 2.1.5 Ok\r\n")
                .waitForText("RCPT TO:<b@example.org>\r\n")
                .send("250 2.1.5 Ok\r\n")
                .waitForText("DATA\r\n")
                .send("354 End data with <CR><LF>.<CR><LF>\r\n")
                .waitForText("\r\n.\r\n")
                .send("250 2.0.0 Ok: queued\r\n");
        } else {
            scenario.send("535 5.7.8 Authentication failed\r\n");
        }
        scenario.waitForText("QUIT\r\n").send("221 2.0.0 Bye\r\n").close();
        smtp.setScenario(scenario);

        ProgramRun run(testMode);
        const QString service = QStringLiteral("FTP localhost %1").arg(freePort());
        const QString key = run.serviceKey(service);
        const QString templatePath = run.sandboxRoot() + QStringLiteral("/alert.txt");
        QVERIFY(writeFile(templatePath,
                          "To: ops\r\nFrom: monitor\r\nSubject: {SiteURL} is down\r\n\r\n"
                          "Failed {NumberOfFailures} time(s).\r\n"));
        QVERIFY(run.set(key, QStringLiteral("SoundAlert"), 0));
        QVERIFY(run.set(key, QStringLiteral("SendEmail"), 1));
        QVERIFY(run.set(key, QStringLiteral("OnErrorEmail"), templatePath));
        QVERIFY(run.set(key, QStringLiteral("OnErrorEmailTo"),
                        QStringLiteral("a@example.org,b@example.org")));
        QVERIFY(run.set(run.root(), QStringLiteral("SmtpServer"), QStringLiteral("127.0.0.1")));
        QVERIFY(run.set(run.root(), QStringLiteral("SmtpPort"), smtp.port()));
        QVERIFY(
            run.set(run.root(), QStringLiteral("SmtpFrom"), QStringLiteral("monitor@example.org")));
        QVERIFY(run.set(run.root(), QStringLiteral("ReqSmtpAuth"), 1));
        QVERIFY(run.set(run.root(), QStringLiteral("SmtpUser"), QString::fromUtf8(user)));
        QVERIFY(run.set(run.root(), QStringLiteral("SmtpPass"), QString::fromUtf8(password)));
        QString why;
        QVERIFY2(startRun(run, &why), qPrintable(why));
        QVERIFY2(run.poll(), qPrintable(run.problem()));
        QTRY_VERIFY(smtp.connectionCount() == 1 && smtp.received(0).endsWith("QUIT\r\n"));

        QByteArray expected = "EHLO " + QHostInfo::localHostName().toUtf8() + "\r\nAUTH LOGIN\r\n" +
                              user.toBase64() + "\r\n" + password.toBase64() + "\r\n";
        const QByteArray transcript = smtp.received(0);
        if (!accepted) {
            QCOMPARE(transcript, expected + "QUIT\r\n");
        } else {
            expected += "MAIL FROM:<monitor@example.org>\r\nRCPT TO:<a@example.org>\r\nRCPT "
                        "TO:<b@example.org>\r\n"
                        "DATA\r\nDate: ";
            QVERIFY2(transcript.startsWith(expected), transcript.constData());
            const QByteArray url =
                "ftp://localhost:" + service.section(QLatin1Char(' '), 2).toUtf8();
            QVERIFY2(transcript.endsWith("\r\nTo: ops\r\nFrom: monitor\r\nSubject: " + url +
                                         " is down\r\n\r\nFailed 1 time(s).\r\n.\r\nQUIT\r\n"),
                     transcript.constData());
        }
        QCOMPARE(run.get(key, QStringLiteral("ActualFailures")), QStringLiteral("1"));
        QVERIFY2(run.exitProgram(), qPrintable(run.problem()));
    }

    // Alert e-mails to an SMTP server that refuses or drops the dialogue
    // (smtp-sink's fault flags): the poll still ends promptly, and the
    // program carries on and tries again at the next failure.
    void alertMailFaults_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("kept"); // messages the server kept after two polls
        const auto row = [](const char *name, const char *flag,
                            const char *command) -> QTestData & {
            return QTest::newRow(name)
                   << QStringList{QString::fromLatin1(flag), QString::fromLatin1(command)};
        };
        row("RCPT refused (4xx)", "-r", "RCPT") << 0;
        row("MAIL refused (5xx)", "-f", "MAIL") << 0;
        row("421 and hang-up at HELO", "-Q", "HELO") << 0;
        row("dropped after DATA", "-q", "DATA") << 0;
        // The server has the message but never says so.
        row("dropped after the message", "-q", ".") << 2;
    }
    void alertMailFaults()
    {
        REQUIRE_CONNECTION();
        QFETCH(QStringList, faults);
        QFETCH(int, kept);
        const QString sinkProgram = findProgram(QStringLiteral("smtp-sink"));
        if (sinkProgram.isEmpty())
            QSKIP("smtp-sink is not installed (Debian package postfix); its end-to-end cases were "
                  "not run");

        ProgramRun run(false);
        const QString dumps = run.sandboxRoot() + QStringLiteral("/dumps");
        QDir().mkpath(dumps);
        QFile::setPermissions(dumps, QFileDevice::Permissions(0x7777));
        QFile::setPermissions(run.sandboxRoot(), QFileDevice::Permissions(0x7755));
        ServerProcess sink;
        const quint16 port = freePort();
        QVERIFY(sink.start(
            sinkProgram,
            faults + QStringList{QStringLiteral("-d"), dumps + QStringLiteral("/%H%M%S."),
                                 QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("10")},
            true));
        QVERIFY2(sink.waitListening(port), sink.output().constData());

        const QString service = QStringLiteral("FTP localhost %1").arg(freePort());
        const QString key = run.serviceKey(service);
        const QString templatePath = run.sandboxRoot() + QStringLiteral("/alert.txt");
        QVERIFY(writeFile(templatePath, "Subject: {SiteURL} is down\r\n\r\nFailed.\r\n"));
        QVERIFY(run.set(key, QStringLiteral("SoundAlert"), 0));
        QVERIFY(run.set(key, QStringLiteral("SendEmail"), 1));
        QVERIFY(run.set(key, QStringLiteral("RepeatEmail"), 1));
        QVERIFY(run.set(key, QStringLiteral("OnErrorEmail"), templatePath));
        QVERIFY(run.set(key, QStringLiteral("OnErrorEmailTo"), QStringLiteral("ops@example.org")));
        QVERIFY(run.set(run.root(), QStringLiteral("SmtpServer"), QStringLiteral("127.0.0.1")));
        QVERIFY(run.set(run.root(), QStringLiteral("SmtpPort"), port));
        QVERIFY(
            run.set(run.root(), QStringLiteral("SmtpFrom"), QStringLiteral("monitor@example.org")));
        QString why;
        QVERIFY2(startRun(run, &why), qPrintable(why));

        for (int poll = 1; poll <= 2; ++poll) {
            QElapsedTimer clock;
            clock.start();
            QVERIFY2(run.poll(), qPrintable(run.problem()));
            QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(run.get(key, QStringLiteral("ActualFailures")), QString::number(poll));
        }
        QVERIFY(sink.running());
        QTRY_COMPARE(QDir(dumps).entryList(QDir::Files).size(), kept);
        QVERIFY2(run.exitProgram(), qPrintable(run.problem()));
    }

    // Exit and SIGTERM while a probe waits for a server that never answers:
    // the program ends at once and in order, the probe's connection is
    // closed, and the service that was being probed keeps its state.
    void exitDuringAPoll_data()
    {
        QTest::addColumn<bool>("bySignal");
        QTest::newRow("Exit over D-Bus") << false;
        QTest::newRow("SIGTERM") << true;
    }
    void exitDuringAPoll()
    {
        REQUIRE_CONNECTION();
        QFETCH(bool, bySignal);
        FakeServer silent;
        QVERIFY(silent.listen());
        silent.setScenario(FakeServer::Scenario().stall());

        ProgramRun run(false);
        const QString key = run.serviceKey(QStringLiteral("POP3 127.0.0.1 %1").arg(silent.port()));
        QVERIFY(run.set(key, QStringLiteral("SoundAlert"), 0));
        QVERIFY(run.set(run.root(), QStringLiteral("ConnectionTimeout"), 600));
        QString why;
        QVERIFY2(startRun(run, &why), qPrintable(why));
        QCOMPARE(run.property(QStringLiteral("TimerOn")).toBool(), false);
        QVERIFY(run.call(QStringLiteral("ToggleTimer")));
        QTRY_VERIFY(run.property(QStringLiteral("TimerOn")).toBool());

        QVERIFY(run.call(QStringLiteral("PollNow")));
        QTRY_COMPARE(silent.connectionCount(), 1);
        QVERIFY(run.property(QStringLiteral("Polling")).toBool());
        QElapsedTimer clock;
        clock.start();
        QVERIFY2(run.exitProgram(bySignal, 10000), qPrintable(run.problem()));
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY(silent.peerClosed(0));

        QCOMPARE(run.get(key, QStringLiteral("ActualFailures")), Missing);
        QCOMPARE(run.get(key, QStringLiteral("FailureTime")), Missing);
        QCOMPARE(serviceLogRecords(run.programFolder() + QStringLiteral("127.0.0.1(pop3).log")),
                 QStringList{QStringLiteral("start")});
        QVERIFY(errorEntries(readAll(run.errorLogPath()), QStringLiteral("127.0.0.1"),
                             QStringLiteral("pop3"))
                    .isEmpty());
        // The orderly way out keeps the window's place.
        QVERIFY(run.get(run.root(), QStringLiteral("Top")) != Missing);
    }

    // A real notification daemon, dunst on an X display of its own and on
    // the program's bus, is told when a service goes on error (critical)
    // and when it comes back (normal, with how long it was down). A rule in
    // dunst's configuration runs a script for every notification it shows,
    // which writes it down.
    void desktopNotificationsWithDunst()
    {
        REQUIRE_CONNECTION();
        const QString dunst = findProgram(QStringLiteral("dunst"));
        if (dunst.isEmpty())
            QSKIP("dunst is not installed (Debian package dunst); the desktop notification case was not run");
        const QString xvfb = findProgram(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            QSKIP("Xvfb is not installed (Debian package xvfb); the desktop notification case was not run");

        FakeServer web;
        QVERIFY(web.listen());
        const auto answer = [&web](const QByteArray &status) {
            web.setScenario(FakeServer::Scenario()
                                .waitForText("\r\n\r\n")
                                .send("HTTP/1.1 " + status + "\r\nContent-Length: 0\r\n\r\n")
                                .close());
        };
        answer("503 Service Unavailable");
        ProgramRun run(false);
        const QString service = QStringLiteral("HTTP 127.0.0.1 %1").arg(web.port());
        QVERIFY(run.set(run.serviceKey(service), QStringLiteral("SoundAlert"), 0));
        QVERIFY2(run.startBus(), qPrintable(run.problem()));

        ServerProcess display;
        QVERIFY(display.start(xvfb,
                              {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                               QStringLiteral("0"), QStringLiteral("800x600x24"), QStringLiteral("-nolisten"),
                               QStringLiteral("tcp")},
                              false));
        static const QRegularExpression displayNumber(QStringLiteral("(?:^|\\n)(\\d+)\\n"));
        QString number;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         const QRegularExpressionMatch m =
                             displayNumber.match(QString::fromUtf8(display.output()));
                         number = m.captured(1);
                         return m.hasMatch() || !display.running();
                     },
                     15000) &&
                     !number.isEmpty(),
                 "Xvfb did not tell its display number");

        const QString record = run.sandboxRoot() + QStringLiteral("/notifications");
        const QString script = run.sandboxRoot() + QStringLiteral("/record.sh");
        const QString config = run.sandboxRoot() + QStringLiteral("/dunstrc");
        QVERIFY(writeFile(script, QStringLiteral("#!/bin/sh\n"
                                                 "printf '%s|%s|%s|%s\\n' \"$DUNST_URGENCY\" \"$DUNST_APP_NAME\" "
                                                 "\"$DUNST_SUMMARY\" \"$(printf %s \"$DUNST_BODY\" | tr '\\n' '~')\" "
                                                 ">> '%1'\n")
                                      .arg(record)
                                      .toUtf8()));
        QVERIFY(QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner));
        QVERIFY(writeFile(config, QStringLiteral("[global]\n    font = Monospace 10\n"
                                                 "[record]\n    appname = \"*\"\n    script = %1\n")
                                      .arg(script)
                                      .toUtf8()));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + number);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), run.busAddress());
        ServerProcess daemon;
        QVERIFY(daemon.start(dunst, {QStringLiteral("-config"), config}, false, env));
        const QString notifications = QStringLiteral("org.freedesktop.Notifications");
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         return run.connection().interface()->isServiceRegistered(notifications).value() ||
                                !daemon.running();
                     },
                     15000) &&
                     daemon.running(),
                 qPrintable(QStringLiteral("dunst did not take the notification service: ") +
                            QString::fromUtf8(daemon.output())));

        QVERIFY2(run.startProgram(), qPrintable(run.problem()));
        QVERIFY2(run.poll(), qPrintable(run.problem()));
        const QString summary = service + QStringLiteral(" went on error");
        QTRY_VERIFY_WITH_TIMEOUT(readAll(record).contains('\n'), 15000);
        QStringList lines = QString::fromUtf8(readAll(record)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.at(0).startsWith(QStringLiteral("CRITICAL|Quellmark|") + summary +
                                        QStringLiteral("|Failed: http: 127.0.0.1:%1/ (503) went on error~")
                                            .arg(web.port())),
                 qPrintable(lines.at(0)));

        answer("200 OK");
        QVERIFY2(run.poll(), qPrintable(run.problem()));
        QTRY_COMPARE_WITH_TIMEOUT(readAll(record).count('\n'), qsizetype(2), 15000);
        lines = QString::fromUtf8(readAll(record)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(lines.at(1).startsWith(QStringLiteral("NORMAL|Quellmark|") + service +
                                        QStringLiteral(" came off error|Success: http: 127.0.0.1:%1/ (200) "
                                                       "came off error.~")
                                            .arg(web.port())),
                 qPrintable(lines.at(1)));
        QVERIFY2(lines.at(1).endsWith(QStringLiteral("~Down for under 1 min")), qPrintable(lines.at(1)));
        QVERIFY2(run.exitProgram(), qPrintable(run.problem()));
    }

    // Without any network interface but loopback (a network namespace of
    // its own) the program only counts: no service is probed, the error log
    // says so once, and the no-connection program starts at its threshold.
    void noInternetConnection()
    {
        const QString unshare = findProgram(QStringLiteral("unshare"));
        if (unshare.isEmpty())
            QSKIP("unshare is not installed (Debian package util-linux); the no-connection case "
                  "was not run");
        QProcess check;
        check.start(unshare, {QStringLiteral("-rn"), QStringLiteral("true")});
        if (!check.waitForFinished(10000) || check.exitCode() != 0)
            QSKIP("this machine does not allow a private network namespace (unshare -rn); the "
                  "no-connection case "
                  "was not run");

        ProgramRun run(false);
        FakeServer web;
        QVERIFY(web.listen());
        const QString service = QStringLiteral("HTTP 127.0.0.1 %1").arg(web.port());
        const QString marks = run.sandboxRoot() + QStringLiteral("/no-connection");
        QVERIFY(run.set(run.serviceKey(service), QStringLiteral("SoundAlert"), 0));
        QVERIFY(run.set(run.root(), QStringLiteral("NoConnAppLaunch"), 1));
        QVERIFY(run.set(run.root(), QStringLiteral("NoConnFailures"), 2));
        QVERIFY(run.set(run.root(), QStringLiteral("NoConnProgName"),
                        QStringLiteral("/bin/sh -c \"echo launched >> '%1'\"").arg(marks)));
        QVERIFY2(run.startBus(), qPrintable(run.problem()));
        QVERIFY2(run.startProgram({unshare, QStringLiteral("-rn")}), qPrintable(run.problem()));

        // No cycle runs, so there is no "Poll finished" to wait for: the
        // count in the store tells that the poll was handled.
        for (int poll = 1; poll <= 3; ++poll) {
            QVERIFY(run.call(QStringLiteral("PollNow")));
            QTRY_COMPARE(run.get(run.root(), QStringLiteral("NoConnActualFailures")),
                         QString::number(poll));
            QCOMPARE(run.onErrorList(), QStringList{QStringLiteral("NoInternetConnection")});
        }
        QTRY_COMPARE(readAll(marks), QByteArray("launched\n"));
        QTest::qWait(300);
        QCOMPARE(readAll(marks), QByteArray("launched\n"));
        const QByteArray errorLog = readAll(run.errorLogPath());
        QCOMPARE(errorLog.count(": no internet connection\r\n\r\n"), 1);
        QCOMPARE(web.connectionCount(), 0);
        QVERIFY(!QFile::exists(run.programFolder() + QStringLiteral("127.0.0.1(http).log")));
        QCOMPARE(run.property(QStringLiteral("LastPollFinished")).toString(), QString());
        QVERIFY2(run.exitProgram(), qPrintable(run.problem()));
    }
};

QTEST_GUILESS_MAIN(TestE2E)
#include "tst_e2e.moc"
