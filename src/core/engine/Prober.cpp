#include "Prober.h"

#include "engine/HostResolver.h"
#include "engine/ProbeConnection.h"
#include "engine/ProbeTask.h"
#include "engine/SystemHostResolver.h"

namespace {

// Longest sleep between looks at the caller's abort predicate.
constexpr qint64 AbortCheckMs = 50;

// How long a probe waits on its socket alone before it waits in the event
// loop: about what a server on the same network takes to answer.
constexpr int QuickWaitUs = 1000;

// Longest time a probe goes without running the event loop.
constexpr qint64 EventLoopEveryMs = 10;

} // namespace

Prober::Prober(HostResolver *resolver, QObject *parent) : QObject(parent), m_resolver(resolver)
{
    m_wait.setCheckEveryMs(int(AbortCheckMs));
    if (!m_resolver) {
        m_ownResolver = std::make_unique<SystemHostResolver>();
        m_resolver = m_ownResolver.get();
    }
}

Prober::~Prober() = default;

void Prober::abort()
{
    if (!m_busy)
        return;
    m_abort = true;
    wake();
}

void Prober::wake()
{
    m_wait.wake();
}

bool Prober::abortSeen(const std::function<bool()> &abortRequested) const
{
    return m_abort || (abortRequested && abortRequested());
}

void Prober::awaitProgress(ProbeConnection &connection, qint64 maxMs)
{
    // Progress is taken without the event loop when the connection has it or
    // gets it within a moment; but a server that sends a little every
    // fraction of a millisecond must not keep the window and Abort waiting:
    // the event loop gets its turn at least every EventLoopEveryMs.
    const bool loopDue = m_wait.msSinceLoop() >= EventLoopEveryMs;
    if (!loopDue && (connection.pollNow() || connection.waitBriefly(QuickWaitUs)))
        return;
    connection.prepareWait();
    m_wait.sleep(maxMs);
}

ProbeResult Prober::run(const ServiceTarget &target, const QString &pattern,
                        const ProbeSettings &settings, std::function<bool()> abortRequested)
{
    if (m_busy)
        return ProbeResult();
    m_busy = true;
    m_abort = false;
    m_wait.noteLoopRan();
    struct BusyReset {
        bool &busy;
        ~BusyReset() { busy = false; }
    } busyReset{m_busy};

    ProbeTask task(target, pattern, settings, m_silenceLimitMs, *m_resolver, [this] { wake(); });
    // The task moves on as far as it can between looks at the abort; then
    // the wait is on its connection, or in the event loop while the name is
    // looked up.
    while (!task.done()) {
        if (abortSeen(abortRequested)) {
            task.abort();
            break;
        }
        if (task.advance())
            continue;
        if (ProbeConnection *connection = task.waitingOn()) {
            const qint64 limit = task.waitLimitMs();
            awaitProgress(*connection, limit < 0 ? AbortCheckMs : limit);
        } else {
            m_wait.sleep(AbortCheckMs);
        }
    }
    ProbeResult result = task.result();
    if (task.connectFailed())
        result.aborted = abortSeen(abortRequested);
    return result;
}
