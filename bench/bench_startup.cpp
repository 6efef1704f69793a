// Start-up and idle benchmarks against the real program.
//
//   bench_startup startup PROGRAM   start-up with 1,000 services until the
//                                   main window is up, and the resident
//                                   memory then (startup, startup_rss)
//   bench_startup idle PROGRAM      CPU over 30 s with 5 services on error:
//                                   blinking window, cycling tray icon
//                                   (idle_cpu); needs a session bus
//
// The program runs in private XDG folders; it tells that its windows are up
// by writing its pid into QUELLMARK_READY_FILE. Services point at loopback
// only; the idle ones at a port that refuses connections.

#include "BenchReport.h"

#include "config/Registry.h"
#include "config/RegistryStore.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QThread>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {

const QString Root = QStringLiteral("Software\\Kestrin Software\\Quellmark");
const QString Bus = QStringLiteral("org.kestrin.Quellmark");

int fail(const QString &message)
{
    std::fprintf(stderr, "bench_startup: %s\n", message.toUtf8().constData());
    return 1;
}

// Private XDG folders and a settings store for one run of the program.
class Sandbox {
public:
    bool make()
    {
        if (!m_dir.isValid())
            return false;
        for (const char *name : {"config", "data", "run"})
            QDir().mkpath(m_dir.path() + QLatin1Char('/') + QLatin1String(name));
        QFile::setPermissions(m_dir.path() + QStringLiteral("/run"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_store = std::make_unique<RegistryStore>(
            m_dir.path() + QStringLiteral("/config/quellmark/registry.sqlite"));
        RegistryStore::setCurrent(m_store.get());
        return true;
    }
    // The store is closed before the program opens it.
    void closeStore()
    {
        RegistryStore::setCurrent(nullptr);
        m_store.reset();
    }
    QString readyFile() const { return m_dir.path() + QStringLiteral("/run/ready"); }
    QString runDir() const { return m_dir.path() + QStringLiteral("/run"); }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.path() + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runDir());
        env.insert(QStringLiteral("QUELLMARK_READY_FILE"), readyFile());
        return env;
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<RegistryStore> m_store;
};

void addService(const QString &name, bool withPattern)
{
    const QString key = Root + QStringLiteral("\\Services\\") + name;
    RegWriteBool(key, QStringLiteral("SoundAlert"), true);
    RegWriteBool(key, QStringLiteral("LaunchApplication"), false);
    RegWriteInteger(key, QStringLiteral("FailuresBeforeLaunch"), 1);
    RegWriteBool(key, QStringLiteral("SendEmail"), false);
    RegWriteInteger(key, QStringLiteral("FailuresBeforeEmail"), 1);
    if (withPattern)
        RegWriteString(key, QStringLiteral("Pattern"), QStringLiteral("welcome"));
}

// Starts the program and waits (at most limitMs) until it reports that its
// windows are up. Returns the seconds that took, or a negative number.
double startAndWait(QProcess &process, const QString &program, const Sandbox &sandbox, int limitMs)
{
    QFile::remove(sandbox.readyFile());
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0 || inotify_add_watch(watch, QFile::encodeName(sandbox.runDir()).constData(),
                                       IN_CLOSE_WRITE) < 0)
        return -1;
    process.setProcessEnvironment(sandbox.environment());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    const double start = BenchReport::now();
    process.start(program, {});
    // Until then the process counts as starting, not running.
    process.waitForStarted(5000);
    double ready = -1;
    while (ready < 0 && (BenchReport::now() - start) * 1000 < limitMs) {
        pollfd fd{watch, POLLIN, 0};
        ::poll(&fd, 1, 50);
        char events[4096];
        while (::read(watch, events, sizeof events) > 0) {
        }
        if (QFile(sandbox.readyFile()).size() > 0)
            ready = BenchReport::now() - start;
        if (process.state() == QProcess::NotRunning)
            break;
    }
    ::close(watch);
    return ready;
}

void stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate(); // SIGTERM: the program's orderly exit
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// Resident memory in MiB, from /proc.
double residentMiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// User plus system CPU seconds the process used so far.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which may hold blanks: utime is the
    // 14th field of the line, stime the 15th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = fields.at(11).toDouble() + fields.at(12).toDouble();
    return ticks / double(sysconf(_SC_CLK_TCK));
}

int startup(const QString &program)
{
    constexpr int Services = 1000;
    constexpr int Rounds = 5;
    std::vector<double> times, rss;
    for (int round = 0; round <= Rounds; ++round) {
        Sandbox sandbox;
        if (!sandbox.make())
            return fail(QStringLiteral("no temporary folder"));
        for (int i = 0; i < Services; ++i)
            addService(QStringLiteral("HTTP 127.0.0.1/site%1 8080").arg(i, 4, 10, QLatin1Char('0')),
                       i % 2);
        RegWriteInteger(Root, QStringLiteral("LastService"), Services / 2);
        sandbox.closeStore();

        QProcess process;
        const double spent = startAndWait(process, program, sandbox, 20000);
        const double memory = spent >= 0 ? residentMiB(process.processId()) : -1;
        stop(process);
        if (spent < 0)
            return fail(QStringLiteral("the program did not report its windows within 20 s"));
        // The first start pays for cold caches; it is not counted.
        if (round > 0) {
            times.push_back(spent);
            rss.push_back(memory);
        }
    }
    const double startMs = BenchReport::median(times) * 1000;
    const double rssMiB = BenchReport::median(rss);
    BenchReport::figure(QStringLiteral("startup"), startMs, QStringLiteral("ms"));
    BenchReport::figure(QStringLiteral("startup_rss"), rssMiB, QStringLiteral("MiB"));
    BenchReport::note(
        QStringLiteral("startup: %1 services, median of %2 starts, platform %3; "
                       "goals: under 500 ms (%4), under 80 MB (%5)")
            .arg(Services)
            .arg(Rounds)
            .arg(QGuiApplication::platformName())
            .arg(startMs < 500 ? QStringLiteral("met") : QStringLiteral("missed"))
            .arg(rssMiB * 1.048576 < 80 ? QStringLiteral("met") : QStringLiteral("missed")));
    return 0;
}

int idle(const QString &program)
{
    constexpr int Services = 5;
    constexpr double Seconds = 30;
    if (!QDBusConnection::sessionBus().isConnected())
        return fail(QStringLiteral("idle needs a session bus (run it under dbus-run-session)"));

    // A loopback port that refuses every connection: bound, never listening.
    const int closed = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (closed < 0 || ::bind(closed, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        ::getsockname(closed, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        return fail(QStringLiteral("no loopback port"));
    const int port = ntohs(sa.sin_port);

    Sandbox sandbox;
    if (!sandbox.make())
        return fail(QStringLiteral("no temporary folder"));
    for (int i = 0; i < Services; ++i)
        addService(QStringLiteral("HTTP 127.0.0.1/down%1 %2").arg(i).arg(port), false);
    sandbox.closeStore();

    QProcess process;
    if (startAndWait(process, program, sandbox, 20000) < 0)
        return fail(QStringLiteral("the program did not report its windows within 20 s"));
    const qint64 pid = process.processId();

    QDBusInterface control(Bus, QStringLiteral("/"), Bus, QDBusConnection::sessionBus());
    QStringList onError;
    const double asked = BenchReport::now();
    // The bus name may come a moment after the windows.
    bool polled = false;
    while (BenchReport::now() - asked < 20) {
        if (!polled)
            polled = control.isValid() &&
                     control.call(QStringLiteral("PollNow")).type() != QDBusMessage::ErrorMessage;
        if (polled && control.property("PollsHandled").toInt() >= 1) {
            onError = control.property("OnErrorList").toStringList();
            break;
        }
        QThread::msleep(100);
    }
    if (onError.isEmpty()) {
        stop(process);
        return fail(QStringLiteral("no poll put the services on error within 20 s"));
    }
    // Let the alert of the first failure (window, sound) settle.
    QThread::sleep(2);
    const double cpuStart = cpuSeconds(pid);
    const double wallStart = BenchReport::now();
    QThread::msleep(int(Seconds * 1000));
    const double cpu = cpuSeconds(pid) - cpuStart;
    const double wall = BenchReport::now() - wallStart;
    const double memory = residentMiB(pid);
    const bool alive = process.state() == QProcess::Running;
    stop(process);
    ::close(closed);
    if (!alive || cpuStart < 0)
        return fail(QStringLiteral("the program ended during the idle measurement (exit %1, %2)")
                        .arg(process.exitCode())
                        .arg(process.exitStatus() == QProcess::CrashExit
                                 ? QStringLiteral("crash")
                                 : QStringLiteral("normal")));

    const double percent = 100.0 * cpu / wall;
    BenchReport::figure(QStringLiteral("idle_cpu"), percent, QStringLiteral("%"));
    BenchReport::note(
        QStringLiteral("idle: %1 s CPU over %2 s with on error: %3; system tray %4; resident "
                       "%5 MiB; goal under 1 % of one core (%6)")
            .arg(cpu, 0, 'f', 2)
            .arg(wall, 0, 'f', 1)
            .arg(onError.join(QStringLiteral(", ")))
            .arg(QSystemTrayIcon::isSystemTrayAvailable() ? QStringLiteral("present")
                                                          : QStringLiteral("absent"))
            .arg(memory, 0, 'f', 1)
            .arg(percent < 1 ? QStringLiteral("met") : QStringLiteral("missed")));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return fail(QStringLiteral("usage: bench_startup startup|idle PROGRAM"));
    if (!QFile::exists(args.at(2)))
        return fail(QStringLiteral("no program at ") + args.at(2));
    if (args.at(1) == QLatin1String("startup"))
        return startup(args.at(2));
    if (args.at(1) == QLatin1String("idle"))
        return idle(args.at(2));
    return fail(QStringLiteral("unknown benchmark ") + args.at(1));
}
