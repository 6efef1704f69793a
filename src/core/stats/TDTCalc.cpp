#include "stats/TDTCalc.h"

#include <cmath>

namespace {

// Julian day of 30 December 1899, day 0 of the scale.
constexpr qint64 EpochJulianDay = 2415019;

// Truncates toward zero; -1 when the result is no 64-bit integer, else its
// low 32 bits.
qint32 truncated(long double x)
{
    const long double t = std::trunc(x);
    // 2^63 is exactly representable; anything at or beyond it (or NaN) fails.
    constexpr long double Limit = 9223372036854775808.0L;
    if (!(t < Limit && t >= -Limit))
        return -1;
    const auto whole = static_cast<qint64>(t);
    return static_cast<qint32>(static_cast<quint32>(static_cast<quint64>(whole)));
}

} // namespace

double TDTCalc::StartTime() const
{
    return double(m_start / MsPerDay);
}

void TDTCalc::setStartTime(double days)
{
    m_start = static_cast<long double>(days) * MsPerDay;
    recompute();
}

double TDTCalc::EndTime() const
{
    return double(m_end / MsPerDay);
}

void TDTCalc::setEndTime(double days)
{
    m_end = static_cast<long double>(days) * MsPerDay;
    recompute();
}

void TDTCalc::setStartDateTime(const QDateTime &when)
{
    m_start = static_cast<long double>(wallClockMs(when));
    recompute();
}

void TDTCalc::setEndDateTime(const QDateTime &when)
{
    m_end = static_cast<long double>(wallClockMs(when));
    recompute();
}

void TDTCalc::setSpan(qint64 startMs, qint64 endMs)
{
    m_start = static_cast<long double>(startMs);
    m_end = static_cast<long double>(endMs);
    recompute();
}

qint64 TDTCalc::wallClockMs(const QDateTime &when)
{
    return wallClockMs(when.date(), when.time());
}

qint64 TDTCalc::wallClockMs(QDate date, QTime time)
{
    return (date.toJulianDay() - EpochJulianDay) * MsPerDay + time.msecsSinceStartOfDay();
}

QDate TDTCalc::dateOf(qint64 ms)
{
    // Floor division, so moments before the epoch keep a positive time of day.
    qint64 day = ms / MsPerDay;
    if (ms % MsPerDay < 0)
        --day;
    return QDate::fromJulianDay(day + EpochJulianDay);
}

QTime TDTCalc::timeOf(qint64 ms)
{
    qint64 rest = ms % MsPerDay;
    if (rest < 0)
        rest += MsPerDay;
    return QTime::fromMSecsSinceStartOfDay(int(rest));
}

QDateTime TDTCalc::fromWallClockMs(qint64 ms)
{
    return QDateTime(dateOf(ms), timeOf(ms));
}

void TDTCalc::recompute()
{
    // Each unit divides the running value, never a rounded one.
    long double x = m_end - m_start;
    m_milliSeconds = truncated(x);
    x /= 1000;
    m_seconds = truncated(x);
    x /= 60;
    m_minutes = truncated(x);
    x /= 60;
    m_hours = truncated(x);
    x /= 24;
    m_days = truncated(x);

    const long double days = (m_end - m_start) / MsPerDay;
    m_months = truncated(days / 30.4375L);
    m_years = truncated(days / 365.25L);
}
