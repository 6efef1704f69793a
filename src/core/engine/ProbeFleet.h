#pragma once

#include "engine/ConcurrentProbes.h"
#include "engine/net/EventWait.h"

#include <memory>
#include <vector>

class HostResolver;
class ProbeTask;

// Runs several probes at once, each a ProbeTask with its own connection
// and answer buffer, all driven by events on the caller's thread: no
// thread per probe. A wait first looks at the sockets without a round
// through the event loop (a near server has mostly answered by then), and
// otherwise sleeps in the event loop until any probe's socket, a time limit
// or wake() ends it, so the windows stay responsive throughout.
//
// It holds only the probes it runs and the results not yet handed back:
// the caller bounds how many run at once.
class ProbeFleet final : public ConcurrentProbes {
public:
    // A null resolver means the platform's own name resolution.
    explicit ProbeFleet(HostResolver *resolver = nullptr);
    ~ProbeFleet() override;
    ProbeFleet(const ProbeFleet &) = delete;
    ProbeFleet &operator=(const ProbeFleet &) = delete;

    void start(int id, const ServiceTarget &target, const QString &pattern,
               const ProbeSettings &settings) override;
    QList<Finished> wait(qint64 maxMs) override;
    void abortAll() override;
    void wake() override { m_wait.wake(); }
    int running() const override { return int(m_running.size()); }

    // For tests: shorter silence limit.
    void setSilenceLimitMs(int ms) { m_silenceLimitMs = ms; }

private:
    struct Running {
        int id = 0;
        std::unique_ptr<ProbeTask> task;
    };

    // Moves every probe on as far as it goes now; the finished ones leave.
    // True when any finished.
    bool driveAll();
    // Looks at every socket once without waiting; true when any moved.
    bool pollSockets();
    QList<Finished> takeFinished();

    HostResolver *m_resolver = nullptr;
    std::unique_ptr<HostResolver> m_ownResolver;
    EventWait m_wait;
    int m_silenceLimitMs;
    std::vector<Running> m_running;
    QList<Finished> m_finished;
    // Aborted probes, deleted only outside the event handlers that may
    // still be on the stack when the abort came.
    std::vector<std::unique_ptr<ProbeTask>> m_retired;
};
