#include "ProbeFleet.h"

#include "engine/HostResolver.h"
#include "engine/ProbeConnection.h"
#include "engine/ProbeTask.h"
#include "engine/SystemHostResolver.h"

#include <algorithm>

namespace {

// Longest sleep: the caller looks at its abort request this often.
constexpr qint64 CheckEveryMs = 50;

// Longest time the sockets are looked at without running the event loop,
// so that a stream of answers never keeps the window and Abort waiting.
constexpr qint64 EventLoopEveryMs = 10;

// How long the oldest probe waits on its socket alone before the wait goes
// to the event loop.
constexpr int QuickWaitUs = 1000;

} // namespace

ProbeFleet::ProbeFleet(HostResolver *resolver)
    : m_resolver(resolver), m_silenceLimitMs(Prober::DefaultSilenceLimitMs)
{
    m_wait.setCheckEveryMs(int(CheckEveryMs));
    if (!m_resolver) {
        m_ownResolver = std::make_unique<SystemHostResolver>();
        m_resolver = m_ownResolver.get();
    }
}

ProbeFleet::~ProbeFleet()
{
    abortAll();
}

void ProbeFleet::start(int id, const ServiceTarget &target, const QString &pattern,
                       const ProbeSettings &settings)
{
    m_retired.clear();
    if (m_running.empty())
        m_wait.noteLoopRan();
    Running probe;
    probe.id = id;
    probe.task = std::make_unique<ProbeTask>(target, pattern, settings, m_silenceLimitMs,
                                             *m_resolver, [this] { m_wait.wake(); });
    m_running.push_back(std::move(probe));
}

bool ProbeFleet::driveAll()
{
    bool anyFinished = false;
    for (auto it = m_running.begin(); it != m_running.end();) {
        ProbeTask &task = *it->task;
        while (task.advance()) {
        }
        if (task.done()) {
            m_finished.append({it->id, task.result()});
            it = m_running.erase(it);
            anyFinished = true;
        } else {
            ++it;
        }
    }
    return anyFinished;
}

bool ProbeFleet::pollSockets()
{
    bool moved = false;
    for (const Running &probe : m_running) {
        if (ProbeConnection *connection = probe.task->waitingOn())
            moved = connection->pollNow() || moved;
    }
    return moved;
}

QList<ProbeFleet::Finished> ProbeFleet::takeFinished()
{
    QList<Finished> finished;
    finished.swap(m_finished);
    return finished;
}

QList<ProbeFleet::Finished> ProbeFleet::wait(qint64 maxMs)
{
    m_retired.clear();
    if (driveAll() || !m_finished.isEmpty() || m_running.empty())
        return takeFinished();
    // Whatever the sockets hold already is taken without the event loop,
    // as long as the loop had its turn a moment ago; then the oldest probe,
    // the one most likely waited for, gets a moment on its socket alone (a
    // near server answers within it).
    if (m_wait.msSinceLoop() < EventLoopEveryMs) {
        if (pollSockets() && driveAll())
            return takeFinished();
        ProbeConnection *oldest = m_running.empty() ? nullptr : m_running.front().task->waitingOn();
        if (oldest && oldest->waitBriefly(QuickWaitUs) && driveAll())
            return takeFinished();
    }
    qint64 limit = std::max<qint64>(0, maxMs);
    for (const Running &probe : m_running) {
        if (ProbeConnection *connection = probe.task->waitingOn()) {
            connection->prepareWait();
            const qint64 probeLimit = probe.task->waitLimitMs();
            if (probeLimit >= 0)
                limit = std::min(limit, probeLimit);
        }
    }
    m_wait.sleep(limit);
    m_retired.clear();
    driveAll();
    return takeFinished();
}

void ProbeFleet::abortAll()
{
    for (Running &probe : m_running) {
        probe.task->abort();
        m_retired.push_back(std::move(probe.task));
    }
    m_running.clear();
    m_finished.clear();
    m_wait.wake();
}
