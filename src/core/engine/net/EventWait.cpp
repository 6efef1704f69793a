#include "EventWait.h"

#include <QEventLoop>

#include <algorithm>
#include <climits>

EventWait::EventWait()
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { wake(); });
}

EventWait::~EventWait() = default;

void EventWait::wake()
{
    if (m_loop) {
        m_woken = true;
        m_loop->quit();
    }
}

bool EventWait::sleep(qint64 maxMs)
{
    qint64 ms = std::max<qint64>(maxMs, 0);
    if (m_checkEveryMs >= 0)
        ms = std::min<qint64>(ms, m_checkEveryMs);
    noteLoopRan();
    QEventLoop loop;
    m_loop = &loop;
    m_woken = false;
    m_timer.start(int(std::min<qint64>(ms, INT_MAX)));
    loop.exec();
    m_loop = nullptr;
    m_timer.stop();
    return m_woken;
}

EventWait::End EventWait::until(const std::function<bool()> &ready, QDeadlineTimer deadline,
                                const std::function<bool()> &aborted)
{
    for (;;) {
        if (aborted && aborted())
            return End::Aborted;
        if (ready())
            return End::Ready;
        if (deadline.hasExpired())
            return End::TimedOut;
        if (!sleep(deadline.isForever() ? qint64(INT_MAX) : deadline.remainingTime()) &&
            m_endWhenLoopEnds)
            return End::LoopEnded;
    }
}
