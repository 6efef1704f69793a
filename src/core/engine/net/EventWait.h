#pragma once

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>

class QEventLoop;

// The one way a network client waits on the caller's thread. It runs the
// event loop meanwhile, so socket events arrive and the windows stay
// responsive, and sleeps until an event handler calls wake(), the sleep's
// limit passes, or (when a check interval is set) that interval passes, so
// that an abort request is seen even when nothing wakes the wait.
//
// Not for use from two nested waits on the same object at once.
class EventWait {
public:
    // LoopEnded: the thread's event loop is ending (the program quits),
    // told only when asked for with setEndWhenLoopEnds().
    enum class End { Ready, Aborted, TimedOut, LoopEnded };

    EventWait();
    ~EventWait();
    EventWait(const EventWait &) = delete;
    EventWait &operator=(const EventWait &) = delete;

    // Longest sleep before the conditions are looked at again; negative
    // means no limit beyond the deadline.
    void setCheckEveryMs(int ms) { m_checkEveryMs = ms; }

    // Whether until() gives up when the event loop ends under it; otherwise
    // it keeps looking until its own ends.
    void setEndWhenLoopEnds(bool on) { m_endWhenLoopEnds = on; }

    // Ends the running sleep; does nothing when no sleep runs.
    void wake();

    // Runs the event loop once, until wake() or maxMs pass (never longer
    // than the check interval). False when the loop ended of its own: the
    // thread's event loop is ending.
    bool sleep(qint64 maxMs);

    // Time since a sleep last began, or since noteLoopRan() (the caller came
    // from the event loop); -1 before either.
    qint64 msSinceLoop() const { return m_sinceLoop.isValid() ? m_sinceLoop.elapsed() : -1; }
    void noteLoopRan() { m_sinceLoop.start(); }

    // Looks at `aborted` (may be empty), then `ready`, then the deadline,
    // and sleeps until the next look while none of them ends the wait.
    End until(const std::function<bool()> &ready, QDeadlineTimer deadline,
              const std::function<bool()> &aborted = {});

private:
    QEventLoop *m_loop = nullptr;
    QTimer m_timer; // ends a sleep that nothing else ended
    int m_checkEveryMs = -1;
    bool m_endWhenLoopEnds = false;
    bool m_woken = false;
    QElapsedTimer m_sinceLoop;
};
