#pragma once

#include "engine/Prober.h"
#include "engine/ServiceTarget.h"

#include <QList>
#include <QString>

// Probes that run side by side on the caller's thread, each under a number
// the caller gives it. They move on only while wait() runs the event loop.
class ConcurrentProbes {
public:
    struct Finished {
        int id = 0;
        ProbeResult result;
    };

    virtual ~ConcurrentProbes() = default;

    // Starts a probe; its result comes back from a later wait(). A probe
    // that ends at once (a bad target, a refusal on this machine) comes back
    // from the next wait() without a sleep.
    virtual void start(int id, const ServiceTarget &target, const QString &pattern,
                       const ProbeSettings &settings) = 0;
    // Lets the probes move on until one has finished, wake() is called or
    // maxMs pass; hands back every probe finished since the last call, in
    // the order they finished.
    virtual QList<Finished> wait(qint64 maxMs) = 0;
    // Ends every running probe at once; none of them is handed back.
    virtual void abortAll() = 0;
    // Ends a wait() that runs now.
    virtual void wake() = 0;
    virtual int running() const = 0;
};
