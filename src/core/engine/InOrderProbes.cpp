#include "InOrderProbes.h"

namespace {
// Longest single wait before the abort request is looked at again.
constexpr qint64 AbortCheckMs = 50;
} // namespace

InOrderProbes::InOrderProbes(ConcurrentProbes &probes, int limit, int count, Prepare prepare,
                             Finish finish)
    : m_probes(probes), m_limit(qMax(1, limit)), m_count(count), m_prepare(std::move(prepare)),
      m_finish(std::move(finish))
{
}

InOrderProbes::~InOrderProbes()
{
    abortAll();
}

void InOrderProbes::abortAll()
{
    if (m_running > 0)
        m_probes.abortAll();
    m_stopped = true;
    m_running = 0;
    m_heldAnswers = 0;
    m_waiting.clear();
    m_perHost.clear();
    m_hostOf.clear();
    m_done.clear();
}

bool InOrderProbes::mayStart(int index, const QString &host) const
{
    if (m_perHost.value(host) >= PerHostLimit)
        return false;
    return index == m_head || m_running + m_heldAnswers < m_limit;
}

void InOrderProbes::begin(int index, const QString &host, const Job &job)
{
    ++m_perHost[host];
    m_hostOf.insert(index, host);
    ++m_running;
    m_probes.start(index, job.target, job.pattern, job.settings);
}

void InOrderProbes::offer(int index, Job job)
{
    QString host = job.target.host.toLower();
    if (mayStart(index, host))
        begin(index, host, job);
    else
        m_waiting.append({index, std::move(host), std::move(job)});
}

void InOrderProbes::fill()
{
    if (m_stopped)
        return;
    // Those kept waiting go first, in list order, as soon as their host
    // and a place are free.
    for (qsizetype i = 0; i < m_waiting.size();) {
        const Waiting &w = m_waiting.at(i);
        if (mayStart(w.index, w.host)) {
            const Waiting started = m_waiting.takeAt(i);
            begin(started.index, started.host, started.job);
        } else {
            ++i;
        }
    }
    // Then new entries, while there is a place; no more than `limit` kept
    // waiting for a busy host.
    while (m_next < m_count && m_running + m_heldAnswers < m_limit && m_waiting.size() < m_limit) {
        const int index = m_next++;
        std::optional<Job> job = m_prepare(index);
        if (m_stopped)
            return;
        if (job)
            offer(index, std::move(*job));
    }
}

void InOrderProbes::prepareThrough(int index)
{
    m_head = qMax(m_head, index);
    fill();
    // The entry wanted next is prepared even when every place is taken.
    while (!m_stopped && m_next <= index && m_next < m_count) {
        const int next = m_next++;
        std::optional<Job> job = m_prepare(next);
        if (!m_stopped && job)
            offer(next, std::move(*job));
    }
    fill();
}

void InOrderProbes::collect(QList<ConcurrentProbes::Finished> finished)
{
    for (ConcurrentProbes::Finished &f : finished) {
        const QString host = m_hostOf.take(f.id);
        if (--m_perHost[host] <= 0)
            m_perHost.remove(host);
        --m_running;
        m_finish(f.id, f.result);
        if (!f.result.response.isEmpty())
            ++m_heldAnswers;
        m_done.insert(f.id, std::move(f.result));
    }
}

std::optional<ProbeResult> InOrderProbes::take(int index, const std::function<bool()> &aborted)
{
    prepareThrough(index);
    for (;;) {
        if (m_stopped)
            return std::nullopt;
        auto found = m_done.find(index);
        if (found != m_done.end()) {
            ProbeResult result = std::move(*found);
            m_done.erase(found);
            if (!result.response.isEmpty())
                --m_heldAnswers;
            m_head = index + 1;
            fill();
            return result;
        }
        if (aborted && aborted())
            return std::nullopt;
        collect(m_probes.wait(AbortCheckMs));
        fill();
    }
}
