#pragma once

#include <QDateTime>

// Holds a start and an end moment and keeps their difference ready in seven
// units. Each unit is the whole difference expressed in that unit, truncated
// toward zero, not a remainder: 1 day 2 hours gives 1 day, 26 hours and 1560
// minutes; minus half a second gives 0 seconds.
//
// Moments are date-time values in days since 30 December 1899 00:00 of the
// local wall clock (the fraction is the time of day), so every value the
// report shows as a date and time means the same instant here, whatever the
// machine's time zone.
//
// A unit whose truncated value does not fit a 64-bit integer holds -1;
// otherwise each holds the low 32 bits of its 64-bit value, so MilliSeconds
// is meaningful below about 24.8 days and Seconds below about 68 years.
//
// A plain value: an owner keeps one as a member.
class TDTCalc {
public:
    TDTCalc() = default;

    // Setting a moment recomputes every unit at once; reading never does.
    double StartTime() const;
    void setStartTime(double days);
    double EndTime() const;
    void setEndTime(double days);

    // The same moments from a date and time, kept to the exact millisecond
    // so that whole seconds never come out one short by rounding.
    void setStartDateTime(const QDateTime &when);
    void setEndDateTime(const QDateTime &when);
    // Both ends in wall-clock milliseconds (see wallClockMs) with one recompute.
    void setSpan(qint64 startMs, qint64 endMs);

    qint32 Years() const { return m_years; }
    qint32 Months() const { return m_months; }
    qint32 Days() const { return m_days; }
    qint32 Hours() const { return m_hours; }
    qint32 Minutes() const { return m_minutes; }
    qint32 Seconds() const { return m_seconds; }
    qint32 MilliSeconds() const { return m_milliSeconds; }

    // Milliseconds since 30 December 1899 00:00 of the moment's local date
    // and time; the scale of StartTime and EndTime times 86400000.
    static qint64 wallClockMs(const QDateTime &when);
    static qint64 wallClockMs(QDate date, QTime time);
    // The local date and time a wall-clock value stands for.
    static QDateTime fromWallClockMs(qint64 ms);
    // Its date and its time of day alone, without the cost of a zone lookup.
    static QDate dateOf(qint64 ms);
    static QTime timeOf(qint64 ms);
    static constexpr qint64 MsPerDay = 86400000;

private:
    void recompute();

    // Milliseconds on the wall-clock scale; extended precision keeps every
    // whole millisecond of a double day value.
    long double m_start = 0;
    long double m_end = 0;
    qint32 m_years = 0;
    qint32 m_months = 0;
    qint32 m_days = 0;
    qint32 m_hours = 0;
    qint32 m_minutes = 0;
    qint32 m_seconds = 0;
    qint32 m_milliSeconds = 0;
};
