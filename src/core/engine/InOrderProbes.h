#pragma once

#include "engine/ConcurrentProbes.h"

#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// The probes of one walk over a list, several at once, with their results
// handed back strictly in list order: the result of entry k only once
// those of the entries before it were taken.
//
// Probes start in list order, at most `limit` at once and at most
// PerHostLimit to one host (by name, in any letter case), so a long list
// of paths on one server does not hammer it; an entry whose host is busy
// waits while the entries after it go ahead. A finished result waits for
// its turn; one that still holds an answer occupies its probe's place
// until it is taken, so no more than `limit` answers are held at once (the
// entry being waited for may always start, whatever is held).
class InOrderProbes {
public:
    static constexpr int PerHostLimit = 2;

    struct Job {
        ServiceTarget target;
        QString pattern;
        ProbeSettings settings;
    };
    // The probe of one entry, asked for once per entry in list order just
    // before it may start; none for an entry that is not probed.
    using Prepare = std::function<std::optional<Job>(int index)>;
    // Called with each result as it comes in, before it waits for its turn.
    using Finish = std::function<void(int index, ProbeResult &result)>;

    InOrderProbes(ConcurrentProbes &probes, int limit, int count, Prepare prepare, Finish finish);
    ~InOrderProbes();
    InOrderProbes(const InOrderProbes &) = delete;
    InOrderProbes &operator=(const InOrderProbes &) = delete;

    // Makes sure that every entry up to `index` was prepared, and starts
    // what may start.
    void prepareThrough(int index);
    // The result of entry `index` (prepared with a job, and after the
    // results before it were taken); the event loop runs until it is there.
    // None when `aborted` says so first, or after abortAll().
    std::optional<ProbeResult> take(int index, const std::function<bool()> &aborted);
    // Ends every probe at once; nothing more starts.
    void abortAll();

    int running() const { return m_running; }

private:
    struct Waiting {
        int index = 0;
        QString host; // in lower case
        Job job;
    };
    void fill();
    void begin(int index, const QString &host, const Job &job);
    // Starts the entry's probe, or keeps it waiting.
    void offer(int index, Job job);
    void collect(QList<ConcurrentProbes::Finished> finished);
    bool mayStart(int index, const QString &host) const;

    ConcurrentProbes &m_probes;
    const int m_limit;
    const int m_count;
    Prepare m_prepare;
    Finish m_finish;
    int m_next = 0; // the next entry to prepare
    int m_head = 0; // the entry whose result is wanted next
    int m_running = 0;
    int m_heldAnswers = 0;
    bool m_stopped = false;
    // Prepared, but their host was busy or no place was free.
    QList<Waiting> m_waiting;
    QHash<QString, int> m_perHost;
    QHash<int, QString> m_hostOf;
    QHash<int, ProbeResult> m_done;
};
