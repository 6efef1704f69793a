#include "IntervalTimer.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>

IntervalTimer::IntervalTimer(QObject *parent, Clock clock, qint64 maxShotMs)
    : QObject(parent), m_shot(new QTimer(this)), m_clock(std::move(clock)), m_maxShotMs(std::max<qint64>(1, maxShotMs))
{
    if (!m_clock)
        m_clock = [] { return QDeadlineTimer::current(Qt::PreciseTimer).deadline(); };
    m_shot->setSingleShot(true);
    connect(m_shot, &QTimer::timeout, this, &IntervalTimer::shotEnded);
}

bool IntervalTimer::isCounting() const
{
    return m_shot->isActive();
}

qint64 IntervalTimer::remainingTime() const
{
    if (!m_shot->isActive())
        return -1;
    return std::max<qint64>(0, m_deadline - m_clock());
}

void IntervalTimer::setInterval(qint64 milliseconds)
{
    milliseconds = std::max<qint64>(0, milliseconds);
    if (milliseconds == m_interval)
        return;
    m_interval = milliseconds;
    restart();
}

void IntervalTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    restart();
}

void IntervalTimer::restart()
{
    if (!m_enabled || m_interval <= 0) {
        m_shot->stop();
        return;
    }
    m_deadline = m_clock() + m_interval;
    armShot();
}

void IntervalTimer::armShot()
{
    const qint64 left = std::clamp<qint64>(m_deadline - m_clock(), 0, m_maxShotMs);
    // A coarse shot may end up to 5 % early or late; that is fine for the
    // long hops, and the last one is measured again when it ends.
    m_shot->setTimerType(left > 2000 ? Qt::CoarseTimer : Qt::PreciseTimer);
    m_shot->start(int(left));
}

void IntervalTimer::shotEnded()
{
    const qint64 now = m_clock();
    if (now < m_deadline) {
        armShot();
        return;
    }
    // Repeat from the moment the interval was due; after a long stall
    // (a suspended machine) count the next one from now instead of firing
    // a burst to catch up.
    m_deadline += m_interval;
    if (m_deadline <= now)
        m_deadline = now + m_interval;
    armShot();
    emit timeout();
}
