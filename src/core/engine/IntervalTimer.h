#pragma once

#include <QObject>

class QTimer;

// A repeating timer with a separate enabled switch and interval, as the
// monitor's timers behave: it fires only while enabled with an interval
// above 0; setting a different interval restarts the count, setting the same
// one changes nothing, and an interval of 0 stops it without touching the
// enabled switch.
class IntervalTimer : public QObject {
    Q_OBJECT
public:
    explicit IntervalTimer(QObject *parent = nullptr);

    int interval() const { return m_interval; }
    bool isEnabled() const { return m_enabled; }
    bool isCounting() const;
    // Milliseconds until the next shot, -1 when not counting.
    int remainingTime() const;

    void setInterval(int milliseconds);
    void setEnabled(bool enabled);

signals:
    void timeout();

private:
    void apply(bool restart);

    QTimer *m_timer;
    int m_interval = 0;
    bool m_enabled = false;
};
