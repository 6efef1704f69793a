#include "IntervalTimer.h"

#include <QTimer>

IntervalTimer::IntervalTimer(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::CoarseTimer);
    connect(m_timer, &QTimer::timeout, this, &IntervalTimer::timeout);
}

bool IntervalTimer::isCounting() const
{
    return m_timer->isActive();
}

int IntervalTimer::remainingTime() const
{
    return m_timer->isActive() ? m_timer->remainingTime() : -1;
}

void IntervalTimer::setInterval(int milliseconds)
{
    if (milliseconds < 0)
        milliseconds = 0;
    if (milliseconds == m_interval)
        return;
    m_interval = milliseconds;
    apply(true);
}

void IntervalTimer::setEnabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    apply(true);
}

void IntervalTimer::apply(bool restart)
{
    if (!m_enabled || m_interval <= 0) {
        m_timer->stop();
        return;
    }
    if (restart || !m_timer->isActive())
        m_timer->start(m_interval);
}
