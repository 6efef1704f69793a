#pragma once

#include <QObject>

#include <functional>

class QTimer;

// A repeating timer with a separate enabled switch and interval, as the
// monitor's timers behave: it fires only while enabled with an interval
// above 0; setting a different interval restarts the count, setting the same
// one changes nothing, and an interval of 0 stops it without touching the
// enabled switch.
//
// Intervals are 64-bit milliseconds and may be far longer than one Qt timer
// can wait (about 24.8 days): the wait is made of shots of at most
// maxShotMs, each measuring what is left on a steady clock, so a long
// interval ends exactly when it should and never drifts by the shots.
class IntervalTimer : public QObject {
    Q_OBJECT
public:
    // Milliseconds of a steady clock; the default counts from an arbitrary
    // start and never goes back.
    using Clock = std::function<qint64()>;
    static constexpr qint64 DefaultMaxShotMs = 60 * 60 * 1000;

    explicit IntervalTimer(QObject *parent = nullptr, Clock clock = {}, qint64 maxShotMs = DefaultMaxShotMs);

    qint64 interval() const { return m_interval; }
    bool isEnabled() const { return m_enabled; }
    bool isCounting() const;
    // Milliseconds until the next shot, -1 when not counting.
    qint64 remainingTime() const;

    void setInterval(qint64 milliseconds);
    void setEnabled(bool enabled);

signals:
    void timeout();

private:
    void restart();
    void armShot();
    void shotEnded();

    QTimer *m_shot;
    Clock m_clock;
    qint64 m_maxShotMs;
    qint64 m_interval = 0;
    qint64 m_deadline = 0;
    bool m_enabled = false;
};
