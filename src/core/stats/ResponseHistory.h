#pragma once

#include "stats/ResponseFigures.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

struct sqlite3;

// A service's response times over a stretch of time, shrunk to a number of
// columns for drawing, with its outages.
struct ResponseChartData {
    struct Column {
        int answers = 0; // 0: nothing answered in this column
        int minMs = 0;
        int maxMs = 0;
        int meanMs = 0;
    };
    struct Outage {
        qint64 fromMs = 0; // the first failed result
        qint64 toMs = 0;   // the next good one, or the end of the chart
    };
    qint64 fromMs = 0;
    qint64 toMs = 0;
    std::vector<Column> columns;
    QList<Outage> outages;
    int points = 0;
    int maxMs = 0; // the largest response time shown

    bool empty() const { return points == 0; }
};

// How much the response time history keeps.
struct ResponseHistoryLimits {
    qint64 maxAgeMs = 90LL * 24 * 3600 * 1000;
    // About 50 bytes a point on disk: some 50 MB at most.
    qint64 maxPoints = 1000000;
    // Results kept in memory while the file cannot be written.
    qsizetype maxPending = 100000;
};

// The response time history: every service's probe results (time, response
// time, up or down), kept across restarts in one SQLite file in the program
// folder.
//
// One database rather than a file per service: a cycle's results go in with
// one transaction whatever the number of services, dropping old points is an
// indexed delete instead of rewriting files, the windows' queries (a day, 30
// days, a chart's range) are index range scans, and the program already
// speaks SQLite for its settings. The WAL journal with synchronous=NORMAL
// keeps a commit from waiting for the disk; a crash may lose the last
// cycle's points, never the file.
//
// Bounded: points older than maxAge go, and beyond maxPoints the oldest go
// (whichever leaves fewer); the file itself stays. Results wait in memory
// until commit(), which the poll cycle calls once at its end.
//
// A file that is damaged, not ours or written by a newer version is set
// aside (renamed "<file>.damaged-<date>-<time>" or "<file>.newer-<date>-<time>",
// never deleted), the problem is told through the report callback, and a new
// history is started. No failure of the history ever throws or stops a poll:
// points that cannot be written now wait for the next commit (bounded).
class ResponseHistory {
public:
    using Limits = ResponseHistoryLimits;
    enum class Mode { ReadWrite, ReadOnly };

    static constexpr int SchemaVersion = 1;
    static constexpr int ApplicationId = 0x514D5254; // "QMRT"

    // Opens lazily: nothing touches the disk until the first use. report
    // gets each problem as one line of text; it may be empty. ReadOnly never
    // creates, changes or sets aside a file: a missing or unusable one
    // simply has no points.
    explicit ResponseHistory(QString path, Mode mode = Mode::ReadWrite, Limits limits = Limits(),
                             std::function<void(const QString &)> report = {});
    ~ResponseHistory();
    ResponseHistory(const ResponseHistory &) = delete;
    ResponseHistory &operator=(const ResponseHistory &) = delete;

    // programFolder + "history.sqlite"
    static QString pathIn(const QString &programFolder);
    QString path() const { return m_path; }

    // Keeps a result for the next commit.
    void add(const QString &service, const HistoryPoint &point);
    qsizetype pendingCount() const { return qsizetype(m_pending.size()); }
    // Writes the waiting results in one transaction and drops what is past
    // the bounds as of nowMs. False when they could not be written (they
    // wait for the next commit).
    bool commit(qint64 nowMs);
    // The same without dropping old points, for readers and the end of the
    // program, which need not know the cycle's clock.
    bool flush();

    // The service's figures as of nowMs, waiting results included.
    ResponseFigures figures(const QString &service, qint64 nowMs);
    // Each service's latest result, waiting results included.
    QHash<QString, HistoryPoint> latest();
    // The services that have points, sorted.
    QStringList services();
    // The services whose results go to the log entry ("webhost(http)": the
    // service log's name without ".log"), the one with the newest result
    // first. Several services share a log when they differ in port only.
    QStringList servicesOfLogEntry(const QString &entry);
    // When the service's oldest kept point was taken (UTC ms); none when the
    // history holds none of it.
    std::optional<qint64> firstPointMs(const QString &service);
    // A service's points between fromMs and toMs (inclusive), oldest first,
    // at most maxPoints of the newest ones. For tests and tools.
    QList<HistoryPoint> points(const QString &service, qint64 fromMs, qint64 toMs,
                               int maxPoints = 100000);
    qint64 pointCount();
    // The chart of a service between fromMs and toMs in `columns` columns
    // (1 to 10000). Waiting results are written first.
    ResponseChartData chart(const QString &service, qint64 fromMs, qint64 toMs, int columns);

    // Time spent writing (add and commit) since construction, for the
    // benchmark.
    qint64 writeNanos() const { return m_writeNanos; }
    // The problem reported last; empty when none, or once writing worked again.
    QString lastProblem() const { return m_lastProblem; }

private:
    struct Pending {
        QString service;
        HistoryPoint point;
    };
    bool open();
    bool openForReading();
    bool openFile(QString *problem, bool *setAside, QString *asideKind);
    void close();
    // Renames the file (and its -wal and -shm) aside; returns the new name.
    QString setAside(const QString &kind);
    // A statement failed with rc: a damaged file is set aside and a new one
    // started; other failures are reported once. Returns true when the file
    // was replaced, so the caller may try again.
    bool handleFailure(int rc, const QString &what);
    void report(const QString &text);
    bool write(std::optional<qint64> nowMs);
    // nowMs: drop what is older than the age bound as of then; none: only
    // the count bound applies.
    bool writePending(std::optional<qint64> nowMs);
    qint64 serviceId(const QString &service, bool create);
    QList<HistoryPoint> pendingOf(const QString &service) const;

    QString m_path;
    Mode m_mode;
    Limits m_limits;
    std::function<void(const QString &)> m_report;
    sqlite3 *m_db = nullptr;
    bool m_openFailedReported = false;
    bool m_retrying = false;
    qint64 m_nextOpenTry = 0;
    std::vector<Pending> m_pending;
    QHash<QString, qint64> m_ids;
    qint64 m_writeNanos = 0;
    QString m_lastProblem;
};
