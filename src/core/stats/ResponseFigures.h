#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// One result of a service's probe as the response time history keeps it.
struct HistoryPoint {
    qint64 utcMs = 0;    // when the result came, milliseconds since the epoch
    int responseMs = -1; // time to the complete answer; -1 when no answer came
    bool up = false;     // the probe succeeded

    bool answered() const { return responseMs >= 0; }
    bool operator==(const HistoryPoint &other) const = default;
};

// Median and 95th percentile of the response times in a window. Only
// answers count: a probe that got no answer has no time to count, it
// shows in the chart as an outage instead.
struct ResponseSpread {
    int answers = 0;
    int medianMs = -1;
    int p95Ms = -1;
};

// What the Sites page and the report tool say about a service's response
// times: the last result and the spread over a day and over 30 days.
struct ResponseFigures {
    std::optional<HistoryPoint> last;
    ResponseSpread day;
    ResponseSpread month;

    static constexpr qint64 DayMs = 24LL * 3600 * 1000;
    static constexpr qint64 MonthMs = 30 * DayMs;

    bool empty() const { return !last.has_value(); }

    // "Last response: 123 ms", "24 h: median 110 ms, 95% 240 ms",
    // "30 d: median 105 ms, 95% 300 ms"; one line "Response times: no data
    // yet" when nothing was recorded.
    QStringList lines() const;

    // The figures of a service's points (any order) as of nowMs.
    static ResponseFigures of(const QList<HistoryPoint> &points, qint64 nowMs);
    static ResponseSpread spread(std::vector<int> answers);

    // The median: the middle value, or the mean of the two middle ones
    // (rounded half up); -1 for no values.
    static int median(std::vector<int> values);
    // The nearest-rank percentile: the smallest value with at least p % of
    // the values at or below it; -1 for no values. p in (0, 100].
    static int percentile(std::vector<int> values, double p);
};
