// Poll cycle benchmark: a full cycle over N services on a loopback server,
// through the real engine (Monitor, PollCycle, Prober), the real settings store, the
// real service logs and the real main window as the display, against a
// plain sequential socket loop sending the same bytes.
//
//   bench_poll http|greeting [services [tray]]
//   bench_poll http_par [services]
//   bench_poll hang [services]
//
// Prints poll_<mode> (cycle time, ratio to the baseline loop), the baseline
// and where the cycle's time goes: probe, store, logs, history (the response
// time history's writes, as the history times them), display, other. With
// "tray" the main window stays hidden, as when the program sits in the tray
// (the figures get the suffix _tray).
//
// http_par: the all-up http cycle with 8 services checked at once against
// the same cycle one at a time, both through the program's own probes:
// poll_http_par on the list of poll_http (one host, so two at a time by the
// per-host limit) and poll_http_par_hosts with each service on a loopback
// address of its own.
//
// hang: services on loopback addresses of their own, of which 5 accept the
// connection and never answer, with a connection time-out of 15 s: one
// cycle one at a time (poll_hang_1) and one with 8 at once (poll_hang_8),
// beside the same list all answering with 8 at once (poll_hang_allup_8).

#include "BenchReport.h"
#include "BenchServer.h"
#include "TfrmMain.h"

#include "config/ProgramContext.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"
#include "engine/Monitor.h"
#include "engine/PollCycle.h"
#include "engine/Prober.h"
#include "engine/ProbeRules.h"
#include "engine/ServiceLog.h"
#include "engine/ServiceTarget.h"
#include "stats/ResponseHistory.h"
#include "platform/NetworkState.h"
#include "base/TimeStamp.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {

// Where the time of one cycle went, gathered while it runs.
struct Clocks {
    double probe = 0;         // inside Prober::run
    double view = 0;          // inside the window's display calls
    double widgetEvents = 0;  // window events handled outside display calls
    double widgetInProbe = 0; // of those, inside a probe's event loop
    bool inView = false;
    bool inProbe = false;
    int widgetDepth = 0;
};
Clocks g_clocks;

// With QUELLMARK_BENCH_PAINTS set: which widgets paint how often, to tell
// what the display time is spent on.
QHash<QString, int> g_paints;
bool g_countPaints = false;

// Repaints and layout run from whatever event loop comes next, mostly the
// probe's; timing every event a window or widget gets puts them where they
// belong.
class BenchApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        if (g_countPaints &&
            (event->type() == QEvent::Paint || event->type() == QEvent::LayoutRequest ||
             event->type() == QEvent::Resize))
            ++g_paints[QString::number(int(event->type())) + QLatin1Char(' ') +
                       QLatin1String(receiver->metaObject()->className()) + QLatin1Char(' ') +
                       receiver->objectName()];
        if (g_clocks.inView || g_clocks.widgetDepth > 0 ||
            !(receiver->isWidgetType() || receiver->isWindowType()))
            return QApplication::notify(receiver, event);
        const double start = BenchReport::now();
        ++g_clocks.widgetDepth;
        const bool result = QApplication::notify(receiver, event);
        --g_clocks.widgetDepth;
        const double spent = BenchReport::now() - start;
        g_clocks.widgetEvents += spent;
        if (g_clocks.inProbe)
            g_clocks.widgetInProbe += spent;
        return result;
    }
};

struct ViewScope {
    ViewScope() : m_outer(!g_clocks.inView), m_start(BenchReport::now()) { g_clocks.inView = true; }
    ~ViewScope()
    {
        if (m_outer) {
            g_clocks.view += BenchReport::now() - m_start;
            g_clocks.inView = false;
        }
    }
    bool m_outer;
    double m_start;
};

// The main window's answers to what the monitor reports, timed: a hook
// connected before the window's own slots opens the scope and one
// connected after them closes it (direct connections run in order).
int g_successes = 0;
int g_failures = 0;
double g_viewStart = 0;

void viewBegin()
{
    if (!g_clocks.inView) {
        g_clocks.inView = true;
        g_viewStart = BenchReport::now();
    }
}

void viewEnd()
{
    if (g_clocks.inView) {
        g_clocks.view += BenchReport::now() - g_viewStart;
        g_clocks.inView = false;
    }
}

template <typename Signal>
void hook(Monitor &monitor, Signal signal, void (*step)())
{
    QObject::connect(&monitor, signal, &monitor, [step] { step(); });
}

void hookAll(Monitor &monitor, void (*step)())
{
    hook(monitor, &Monitor::statusLine, step);
    hook(monitor, &Monitor::statusCleared, step);
    hook(monitor, &Monitor::progressText, step);
    hook(monitor, &Monitor::errorPanel, step);
    hook(monitor, &Monitor::trayHint, step);
    hook(monitor, &Monitor::trayIcon, step);
    hook(monitor, &Monitor::cycleRunning, step);
    hook(monitor, &Monitor::abortEnabled, step);
    hook(monitor, &Monitor::timerSwitchShown, step);
    hook(monitor, &Monitor::errorWindowText, step);
    hook(monitor, &Monitor::errorWindowBordered, step);
    hook(monitor, &Monitor::errorWindowWordWrap, step);
    hook(monitor, &Monitor::errorWindowShown, step);
    hook(monitor, &Monitor::showOnErrorChecked, step);
}

// Every service answers, so no alert is expected; any call is counted.
class CountingAlerts : public AlertActions {
public:
    int calls = 0;
    QString lastError;
    QString playAlertSound(const QString &, bool) override
    {
        ++calls;
        return {};
    }
    void launchProgram(const QString &) override { ++calls; }
    MailOutcome sendAlertMail(const QString &, const QString &, const QString &) override
    {
        ++calls;
        return {};
    }
    void reportError(const QString &message) override
    {
        ++calls;
        lastError = message;
    }
};

struct Service {
    QString name;
    QString pattern;
    QByteArray address;
    QByteArray request; // http: the exact bytes the probe sends
};

int connectTo(const QByteArray &address, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // Every read and write of the baseline is bounded.
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, address.constData(), &sa.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// The plain loop: open, send the same request, read the answer, close.
// False when any exchange did not give the expected answer.
bool baselineHttp(const std::vector<Service> &services, quint16 port)
{
    char buffer[4096];
    for (const Service &s : services) {
        const int fd = connectTo(s.address, port);
        if (fd < 0 || !sendAll(fd, s.request))
            return false;
        QByteArray answer;
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
            answer.append(buffer, n);
        ::close(fd);
        if (!answer.startsWith("HTTP/1.1 200"))
            return false;
    }
    return true;
}

// Open, read the greeting line, send QUIT, close.
bool baselineGreeting(const std::vector<Service> &services, quint16 port)
{
    char buffer[512];
    for (const Service &s : services) {
        const int fd = connectTo(s.address, port);
        if (fd < 0)
            return false;
        QByteArray answer;
        while (!answer.endsWith("\r\n")) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            answer.append(buffer, n);
        }
        const bool ok = answer.startsWith("220") && sendAll(fd, "QUIT\r\n");
        ::close(fd);
        if (!ok)
            return false;
    }
    return true;
}

// The store traffic one cycle makes for a service that answers: what
// PollCycle reads and writes, call for call.
void replayStore(const ProgramContext &context, const std::vector<Service> &services)
{
    RegWriteInteger(context.settingsRoot, QStringLiteral("NoConnActualFailures"), 0);
    for (const Service &s : services) {
        const QString key = context.servicesKey + QLatin1Char('\\') + s.name;
        const RegKeyValues stored(key);
        stored.readInteger(QStringLiteral("ActualFailures"), 0);
        stored.readBool(QStringLiteral("SoundAlert"), true);
        stored.readBool(QStringLiteral("LaunchApplication"), false);
        stored.readInteger(QStringLiteral("FailuresBeforeLaunch"), 1);
        stored.readBool(QStringLiteral("RepeatLaunchApplication"), false);
        stored.readString(QStringLiteral("ProgName"), QString());
        stored.readString(QStringLiteral("ProgNameOff"), QString());
        stored.readBool(QStringLiteral("SendEmail"), false);
        stored.readInteger(QStringLiteral("FailuresBeforeEmail"), 1);
        stored.readBool(QStringLiteral("RepeatEmail"), false);
        stored.readString(QStringLiteral("OnErrorEmail"), QString());
        stored.readString(QStringLiteral("OnErrorEmailTo"), QString());
        stored.readString(QStringLiteral("OffErrorEmail"), QString());
        stored.readString(QStringLiteral("OffErrorEmailTo"), QString());
        stored.readString(QStringLiteral("Pattern"), QString());
        // ActualFailures: stored as 0 by the first cycle, not written again.
        stored.contains(QStringLiteral("ActualFailures"));
    }
}

// The log traffic of the same cycle: the time stamp and the check that the
// service's log exists.
void replayLogs(const ProgramContext &context, const std::vector<Service> &services)
{
    const QLocale locale;
    for (const Service &s : services)
        ServiceLog::ensureLogStarted(ServiceLog::logPath(context.programFolder, s.name), [&] {
            return TimeStamp::format(QDateTime::currentDateTime(), locale);
        });
}

int fail(const QString &message)
{
    std::fprintf(stderr, "bench_poll: %s\n", message.toUtf8().constData());
    return 1;
}

// A listener on each address (one port for all) that takes connections
// into its backlog and never answers: the client's connect succeeds and
// its request gets nothing back.
class SilentListeners {
public:
    ~SilentListeners()
    {
        for (int fd : m_fds)
            ::close(fd);
    }
    bool start(const QList<QByteArray> &addresses)
    {
        for (const QByteArray &address : addresses) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0)
                return false;
            m_fds << fd;
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_port = htons(m_port);
            ::inet_pton(AF_INET, address.constData(), &sa.sin_addr);
            if (::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || ::listen(fd, 64) != 0)
                return false;
            if (m_port == 0) {
                socklen_t length = sizeof sa;
                ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &length);
                m_port = ntohs(sa.sin_port);
            }
        }
        return true;
    }
    quint16 port() const { return m_port; }

private:
    QList<int> m_fds;
    quint16 m_port = 0;
};

QByteArray loopbackAddress(int i)
{
    return "127.0." + QByteArray::number(1 + i / 200) + '.' + QByteArray::number(1 + i % 200);
}

// The cycles of several services at once, through the engine's own probes
// and the real main window.
int runParallel(const QString &mode, int count, const ProgramContext &context)
{
    const bool hang = mode == QLatin1String("hang");
    constexpr int AtOnce = 8;
    constexpr int HangTimeoutSecs = 15;
    constexpr int Hanging = 5;

    // poll_http_par: the list of poll_http on one address; otherwise one
    // address a service.
    const auto lists = [&](bool ownAddresses, quint16 port, quint16 silentPort) {
        QStringList names;
        for (int i = 0; i < count; ++i) {
            const bool silent = silentPort != 0 && i % (count / Hanging) == count / Hanging / 2;
            const QByteArray address = ownAddresses ? loopbackAddress(i) : QByteArray("127.0.0.1");
            names << QStringLiteral("HTTP %1/site%2 %3")
                         .arg(QString::fromLatin1(address))
                         .arg(i, 4, 10, QLatin1Char('0'))
                         .arg(silent ? silentPort : port);
        }
        return names;
    };
    QList<QByteArray> addresses{"127.0.0.1"};
    for (int i = 0; i < count; ++i)
        addresses << loopbackAddress(i);
    BenchServer server(BenchServer::Mode::Http);
    QString error;
    if (!server.start(addresses, &error))
        return fail(error);
    SilentListeners silent;
    QList<QByteArray> silentAddresses;
    for (int i = 0; i < count; ++i)
        if (i % (count / Hanging) == count / Hanging / 2)
            silentAddresses << loopbackAddress(i);
    if (hang && !silent.start(silentAddresses))
        return fail(QStringLiteral("no silent listener"));

    Monitor::Overrides engine;
    const bool connectionCheck = InternetConnected();
    if (connectionCheck)
        engine.internetConnected = RecentInternetCheck();
    else
        engine.internetConnected = [] { return true; };
    engine.watchConnection = false;
    Monitor monitor(context, engine);
    TfrmMain window(context, &monitor);
    window.show();
    QCoreApplication::processEvents();
    CountingAlerts alerts;
    monitor.setAlertActions(&alerts);
    int atOnce = 1;
    int timeoutSecs = HangTimeoutSecs;
    monitor.setSettingsSource([&] {
        LiveSettings live = window.liveSettings();
        live.parallelChecks = atOnce;
        live.connectionTimeoutSecs = timeoutSecs;
        live.visualAlert = false;
        return live;
    });
    QStringList names;
    monitor.setServiceListProvider([&names] { return names; });
    int successes = 0, failures = 0;
    QObject::connect(&monitor, &Monitor::statusLine, &monitor, [&](const QString &line) {
        if (line.startsWith(QLatin1String("Success: ")))
            ++successes;
        else if (line.startsWith(QLatin1String("Failed: ")))
            ++failures;
    });
    const auto cycle = [&](int n, const QStringList &list) -> double {
        atOnce = n;
        names = list;
        successes = failures = 0;
        const double start = BenchReport::now();
        monitor.pollNow();
        return (BenchReport::now() - start) * 1000;
    };
    const QString checkNote = connectionCheck ? QString()
                                              : QStringLiteral(" (no routable interface: connection check left out)");

    if (!hang) {
        constexpr int Rounds = 11;
        for (const bool own : {false, true}) {
            const QStringList list = lists(own, server.port(), 0);
            // Warm-up: the service logs are created.
            cycle(1, list);
            cycle(AtOnce, list);
            std::vector<double> ones, eights;
            for (int round = 0; round < Rounds; ++round) {
                // Alternated, so neither side always runs on a warmer cache.
                const int first = round % 2 ? AtOnce : 1;
                const double a = cycle(first, list);
                const bool okA = successes == count;
                const double b = cycle(first == 1 ? AtOnce : 1, list);
                if (!okA || successes != count || alerts.calls != 0)
                    return fail(QStringLiteral("round %1: not every service answered").arg(round));
                (first == 1 ? ones : eights).push_back(a);
                (first == 1 ? eights : ones).push_back(b);
            }
            const double one = BenchReport::median(ones);
            const double eight = BenchReport::median(eights);
            const QString name = own ? QStringLiteral("poll_http_par_hosts") : QStringLiteral("poll_http_par");
            BenchReport::figure(name, eight, QStringLiteral("ms"), eight / one);
            BenchReport::figure(name + QStringLiteral("_1"), one, QStringLiteral("ms"));
            BenchReport::note(QStringLiteral("%1: %2 services (%3), %4 at once against one at a time, median of "
                                             "%5 rounds each; goal: ratio at most 1.0 (%6)%7")
                                  .arg(name)
                                  .arg(count)
                                  .arg(own ? QStringLiteral("one loopback address each")
                                           : QStringLiteral("all on one address: two at a time by the "
                                                            "per-host limit"))
                                  .arg(AtOnce)
                                  .arg(Rounds)
                                  .arg(eight <= one ? QStringLiteral("met") : QStringLiteral("missed"))
                                  .arg(checkNote));
        }
        return 0;
    }

    const QStringList allUp = lists(true, server.port(), 0);
    const QStringList withSilent = lists(true, server.port(), silent.port());
    cycle(AtOnce, allUp); // warm-up
    std::vector<double> ups;
    for (int round = 0; round < 5; ++round) {
        ups.push_back(cycle(AtOnce, allUp));
        if (successes != count)
            return fail(QStringLiteral("all-up cycle: %1 of %2 answered").arg(successes).arg(count));
    }
    const double upMs = BenchReport::median(ups);
    const double eightMs = cycle(AtOnce, withSilent);
    const int failedEight = failures;
    const double oneMs = qEnvironmentVariableIsSet("QUELLMARK_BENCH_HANG_SKIP_1") ? -1 : cycle(1, withSilent);
    const int failedOne = failures;
    if (failedEight != Hanging || (oneMs >= 0 && failedOne != Hanging))
        return fail(QStringLiteral("hang: %1 and %2 services failed, expected %3")
                        .arg(failedEight)
                        .arg(failedOne)
                        .arg(Hanging));
    const double goalMs = 1.3 * HangTimeoutSecs * 1000 + upMs;
    BenchReport::figure(QStringLiteral("poll_hang_8"), eightMs, QStringLiteral("ms"), eightMs / goalMs);
    if (oneMs >= 0)
        BenchReport::figure(QStringLiteral("poll_hang_1"), oneMs, QStringLiteral("ms"));
    BenchReport::figure(QStringLiteral("poll_hang_allup_8"), upMs, QStringLiteral("ms"));
    BenchReport::note(QStringLiteral("poll_hang: %1 services on addresses of their own, %2 accept and never "
                                     "answer, connection time-out %3 s; ratio of poll_hang_8 to the goal "
                                     "1.3 x %3 s + the all-up cycle (%4 ms): %5%6")
                          .arg(count)
                          .arg(Hanging)
                          .arg(HangTimeoutSecs)
                          .arg(goalMs, 0, 'f', 0)
                          .arg(eightMs <= goalMs ? QStringLiteral("met") : QStringLiteral("missed"))
                          .arg(checkNote));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const QString modeName = argc > 1 ? QString::fromLatin1(argv[1]) : QStringLiteral("http");
    const bool http = modeName == QLatin1String("http");
    const bool parallel = modeName == QLatin1String("http_par") || modeName == QLatin1String("hang");
    if (!http && !parallel && modeName != QLatin1String("greeting"))
        return fail(QStringLiteral("usage: bench_poll http|greeting [services [tray]] | http_par|hang [services]"));
    const int count = argc > 2 ? std::clamp(QByteArray(argv[2]).toInt(), parallel ? 10 : 1, 1000) : 500;
    // "tray": the main window hidden, as the program runs most of the day.
    const bool inTray = argc > 3 && QByteArray(argv[3]) == "tray";
    constexpr int Rounds = 11;

    // Private folders: nothing of the user's is read or written.
    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        return fail(QStringLiteral("no temporary folder"));
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        const QString dir = sandbox.path() + QLatin1Char('/') + QString::fromLatin1(name);
        QDir().mkpath(dir);
        qputenv(name, QFile::encodeName(dir));
    }
    QFile::setPermissions(sandbox.path() + QStringLiteral("/XDG_RUNTIME_DIR"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    BenchApplication app(argc, argv);
    g_countPaints = qEnvironmentVariableIsSet("QUELLMARK_BENCH_PAINTS");
    if (parallel) {
        RegistryStore store(RegistryStore::defaultPath());
        RegistryStore::setCurrent(&store);
        const ProgramContext context = ProgramContext::create(
            false, QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + QStringLiteral("/quellmark/"));
        const int status = runParallel(modeName, count, context);
        RegistryStore::setCurrent(nullptr);
        return status;
    }

    // Services: http ones differ by path on one address, greeting ones by
    // address (127.0.1.1 and up), all on the server's one port.
    std::vector<Service> services;
    QList<QByteArray> addresses;
    for (int i = 0; i < count; ++i) {
        Service s;
        if (http) {
            s.address = "127.0.0.1";
            s.pattern = i % 2 ? QStringLiteral("welcome") : QString();
        } else {
            s.address =
                "127.0." + QByteArray::number(1 + i / 200) + '.' + QByteArray::number(1 + i % 200);
            addresses.append(s.address);
        }
        services.push_back(s);
    }
    if (http)
        addresses.append("127.0.0.1");
    BenchServer server(http ? BenchServer::Mode::Http : BenchServer::Mode::Greeting);
    QString error;
    if (!server.start(addresses, &error))
        return fail(error);
    const QString port = QString::number(server.port());

    RegistryStore store(RegistryStore::defaultPath());
    RegistryStore::setCurrent(&store);
    const ProgramContext context = ProgramContext::create(
        false, QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + QStringLiteral("/quellmark/"));

    QStringList names;
    for (int i = 0; i < count; ++i) {
        Service &s = services[size_t(i)];
        s.name = http ? QStringLiteral("HTTP 127.0.0.1/site%1 %2")
                            .arg(i, 4, 10, QLatin1Char('0'))
                            .arg(port)
                      : QStringLiteral("FTP %1 %2").arg(QString::fromLatin1(s.address), port);
        names << s.name;
        // The values the editor and the Sites page leave on a service.
        const QString key = context.servicesKey + QLatin1Char('\\') + s.name;
        RegWriteBool(key, QStringLiteral("SoundAlert"), true);
        RegWriteBool(key, QStringLiteral("LaunchApplication"), false);
        RegWriteInteger(key, QStringLiteral("FailuresBeforeLaunch"), 1);
        RegWriteBool(key, QStringLiteral("SendEmail"), false);
        RegWriteInteger(key, QStringLiteral("FailuresBeforeEmail"), 1);
        if (!s.pattern.isEmpty())
            RegWriteString(key, QStringLiteral("Pattern"), s.pattern);
        if (http) {
            const std::optional<ServiceTarget> target = ServiceTarget::parse(s.name);
            s.request = buildHttpRequest(*target, !s.pattern.isEmpty(), false, userAgentText(),
                                         makerHost());
        }
    }

    // The program's engine, with the probe timed on its way.
    Prober prober;
    Monitor::Overrides engine;
    // The program's own connection check, as it runs before every service;
    // on a machine without a routable interface every cycle would stop at
    // once, so there the check is left out (and the figures say so).
    const bool connectionCheck = InternetConnected();
    if (connectionCheck)
        engine.internetConnected = RecentInternetCheck();
    else
        engine.internetConnected = [] { return true; };
    engine.watchConnection = false;
    engine.probe = [&prober](const ServiceTarget &target, const QString &pattern, const ProbeSettings &settings,
                             std::function<bool()> abortRequested) {
        const double start = BenchReport::now();
        g_clocks.inProbe = true;
        ProbeResult result = prober.run(target, pattern, settings, std::move(abortRequested));
        g_clocks.inProbe = false;
        g_clocks.probe += BenchReport::now() - start;
        return result;
    };
    engine.abortProbe = [&prober] { prober.abort(); };
    Monitor monitor(context, engine);

    // The window's slots on the monitor's signals sit between the hooks.
    QObject::connect(&monitor, &Monitor::statusLine, &monitor, [](const QString &line) {
        if (line.startsWith(QLatin1String("Success: ")))
            ++g_successes;
        else if (line.startsWith(QLatin1String("Failed: ")))
            ++g_failures;
    });
    hookAll(monitor, viewBegin);
    TfrmMain window(context, &monitor);
    hookAll(monitor, viewEnd);
    if (!inTray)
        window.show();
    QCoreApplication::processEvents();
    const std::function<void()> pump = monitor.eventPump();
    monitor.setEventPump([pump] {
        ViewScope s;
        pump();
    });
    CountingAlerts alerts;
    monitor.setAlertActions(&alerts);
    monitor.setServiceListProvider([&names] { return names; });

    double historySpent = 0;
    const auto runCycle = [&]() -> std::optional<double> {
        g_clocks = Clocks();
        g_successes = g_failures = 0;
        const qint64 historyBefore = monitor.history()->writeNanos();
        const double start = BenchReport::now();
        monitor.pollNow();
        const double spent = BenchReport::now() - start;
        historySpent = double(monitor.history()->writeNanos() - historyBefore) / 1e9;
        if (g_successes != count || alerts.calls != 0)
            return std::nullopt;
        return spent;
    };
    const auto runBaseline = [&]() -> std::optional<double> {
        const double start = BenchReport::now();
        const bool ok = http ? baselineHttp(services, server.port())
                             : baselineGreeting(services, server.port());
        const double spent = BenchReport::now() - start;
        return ok ? std::optional<double>(spent) : std::nullopt;
    };

    // The first cycle creates the service logs; neither it nor the first
    // baseline loop is counted.
    if (!runCycle())
        return fail(QStringLiteral("warm-up cycle: %1 of %2 services answered (%3)")
                        .arg(g_successes)
                        .arg(count)
                        .arg(alerts.lastError));
    if (!runBaseline())
        return fail(QStringLiteral("baseline loop failed"));

    std::vector<double> cycles, baselines, probes, displays, stores, logs, histories, others;
    for (int round = 0; round < Rounds; ++round) {
        // Alternate the order so neither side always runs on a warmer cache.
        std::optional<double> base, spent;
        if (round % 2 == 0)
            base = runBaseline();
        spent = runCycle();
        if (round % 2 == 1)
            base = runBaseline();
        if (!base || !spent)
            return fail(QStringLiteral("round %1: %2 of %3 services answered")
                            .arg(round)
                            .arg(g_successes)
                            .arg(count));
        const Clocks clocks = g_clocks;
        const double historyTime = historySpent;
        double start = BenchReport::now();
        replayStore(context, services);
        const double storeTime = BenchReport::now() - start;
        start = BenchReport::now();
        replayLogs(context, services);
        const double logTime = BenchReport::now() - start;

        const double probe = clocks.probe - clocks.widgetInProbe;
        const double display = clocks.view + clocks.widgetEvents;
        cycles.push_back(*spent);
        baselines.push_back(*base);
        probes.push_back(probe);
        displays.push_back(display);
        stores.push_back(storeTime);
        logs.push_back(logTime);
        histories.push_back(historyTime);
        others.push_back(*spent - probe - display - storeTime - logTime - historyTime);
    }

    if (g_countPaints) {
        g_paints.clear();
        runCycle();
        QStringList lines;
        for (auto it = g_paints.cbegin(); it != g_paints.cend(); ++it)
            lines << QStringLiteral("%1 %2").arg(it.value(), 6).arg(it.key());
        lines.sort();
        BenchReport::note(QStringLiteral("events (12 paint, 76 layout, 14 resize) in one cycle:"));
        for (const QString &line : std::as_const(lines))
            BenchReport::note(line);
    }

    const QString name = (http ? QStringLiteral("poll_http") : QStringLiteral("poll_greeting")) +
                         (inTray ? QStringLiteral("_tray") : QString());
    const double cycleMs = BenchReport::median(cycles) * 1000;
    const double baseMs = BenchReport::median(baselines) * 1000;
    BenchReport::figure(name, cycleMs, QStringLiteral("ms"), cycleMs / baseMs);
    BenchReport::figure(name + QStringLiteral("_baseline"), baseMs, QStringLiteral("ms"));
    const struct {
        const char *part;
        const std::vector<double> &values;
    } parts[] = {{"probe", probes},
                 {"store", stores},
                 {"logs", logs},
                 {"history", histories},
                 {"display", displays},
                 {"other", others}};
    QStringList shares;
    for (const auto &p : parts) {
        const double ms = BenchReport::median(p.values) * 1000;
        BenchReport::figure(name + QLatin1Char('_') + QLatin1String(p.part), ms,
                            QStringLiteral("ms"));
        shares << QStringLiteral("%1 %2%")
                      .arg(QLatin1String(p.part))
                      .arg(100 * ms / cycleMs, 0, 'f', 0);
    }
    BenchReport::note(
        QStringLiteral("%1: %2 services, median of %3 rounds, %4 connections "
                       "served%7; shares of the cycle: %5; goal at most 2 times "
                       "the baseline (%6)")
            .arg(name)
            .arg(count)
            .arg(Rounds)
            .arg(server.served())
            .arg(shares.join(QStringLiteral(", ")))
            .arg(cycleMs <= 2 * baseMs ? QStringLiteral("met") : QStringLiteral("missed"))
            .arg(connectionCheck ? QString()
                                 : QStringLiteral(" (no routable interface: connection check "
                                                  "left out)")));
    server.stop();
    return 0;
}
