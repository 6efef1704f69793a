#include "stats/ResponseHistory.h"

#include "engine/ServiceLog.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <sqlite3.h>

namespace {

// Fails soft: a statement that cannot be prepared or bound reports its code
// through rc() and steps to nothing.
class Stmt {
public:
    Stmt(sqlite3 *db, const char *sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Stmt() { sqlite3_finalize(m_stmt); }
    Stmt(const Stmt &) = delete;
    Stmt &operator=(const Stmt &) = delete;

    Stmt &bind(int index, qint64 value)
    {
        if (m_rc == SQLITE_OK)
            m_rc = sqlite3_bind_int64(m_stmt, index, value);
        return *this;
    }
    Stmt &bind(int index, const QString &text)
    {
        if (m_rc == SQLITE_OK) {
            const QByteArray utf8 = text.toUtf8();
            m_rc = sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()),
                                     SQLITE_TRANSIENT);
        }
        return *this;
    }
    // True while rows come; a failure ends the rows and is kept in rc().
    bool next()
    {
        if (m_rc != SQLITE_OK && m_rc != SQLITE_ROW)
            return false;
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW) {
            m_rc = SQLITE_ROW;
            return true;
        }
        m_rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
        return false;
    }
    // Runs a statement that gives no rows; the result code.
    int run()
    {
        while (next()) {
        }
        return m_rc;
    }
    void reset()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        if (m_stmt)
            m_rc = SQLITE_OK;
    }
    qint64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    bool isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    QString text(int column) const
    {
        return QString::fromUtf8(
            reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column)),
            sqlite3_column_bytes(m_stmt, column));
    }
    int rc() const { return m_rc == SQLITE_ROW ? SQLITE_OK : m_rc; }

private:
    sqlite3_stmt *m_stmt = nullptr;
    int m_rc = SQLITE_OK;
};

int exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

// Codes that mean the file itself is bad, not that it is busy or the disk
// full for a moment.
bool isDamage(int rc)
{
    const int primary = rc & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
}

HistoryPoint pointFrom(const Stmt &s, int first)
{
    HistoryPoint p;
    p.utcMs = s.integer(first);
    p.responseMs = int(std::clamp<qint64>(s.integer(first + 1), -1, INT_MAX));
    p.up = s.integer(first + 2) != 0;
    return p;
}

constexpr int BusyTimeoutMs = 250;
// After a file that could not be opened, the next attempt waits this long.
constexpr qint64 ReopenPauseMs = 60 * 1000;

} // namespace

ResponseHistory::ResponseHistory(QString path, Mode mode, Limits limits,
                                 std::function<void(const QString &)> report)
    : m_path(std::move(path)), m_mode(mode), m_limits(limits), m_report(std::move(report))
{
}

ResponseHistory::~ResponseHistory()
{
    close();
}

QString ResponseHistory::pathIn(const QString &programFolder)
{
    QString folder = programFolder;
    if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + QStringLiteral("history.sqlite");
}

void ResponseHistory::report(const QString &text)
{
    m_lastProblem = text;
    if (m_report)
        m_report(text);
}

void ResponseHistory::close()
{
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
    m_ids.clear();
}

QString ResponseHistory::setAside(const QString &kind)
{
    close();
    const QString base = m_path + QLatin1Char('.') + kind + QLatin1Char('-') +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = base;
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo::exists(aside + QStringLiteral("-wal"));
         ++n)
        aside = base + QLatin1Char('-') + QString::number(n);
    // The journal belongs to the old file: beside a new one it would be
    // replayed into it.
    for (const char *suffix : {"", "-wal", "-shm"}) {
        const QByteArray from = QFile::encodeName(m_path) + suffix;
        const QByteArray to = QFile::encodeName(aside) + suffix;
        if (std::rename(from.constData(), to.constData()) != 0 && errno != ENOENT &&
            *suffix == '\0')
            return QString();
    }
    return aside;
}

// Opens the file and checks it is a history of ours this version can read;
// creates the tables in a new file. On failure problem says why; setAside
// tells whether the file should go aside (damaged, foreign or newer), with
// asideKind naming it.
bool ResponseHistory::openFile(QString *problem, bool *setAsideFile, QString *asideKind)
{
    *setAsideFile = false;
    const bool readOnly = m_mode == Mode::ReadOnly;
    if (readOnly && !QFileInfo::exists(m_path))
        return false;
    if (!readOnly)
        QDir().mkpath(QFileInfo(m_path).absolutePath());
    const int flags =
        (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
        SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(QFile::encodeName(m_path).constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        *problem = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
        close();
        return false;
    }
    sqlite3_busy_timeout(m_db, BusyTimeoutMs);
    sqlite3_extended_result_codes(m_db, 1);

    const auto fail = [&](int code, const QString &why) {
        *problem = why.isEmpty() ? QString::fromUtf8(sqlite3_errstr(code)) : why;
        *setAsideFile = isDamage(code);
        *asideKind = QStringLiteral("damaged");
        close();
        return false;
    };
    qint64 applicationId = 0, version = 0, tables = 0;
    {
        Stmt s(m_db, "PRAGMA application_id");
        if (s.next())
            applicationId = s.integer(0);
        if (s.rc() != SQLITE_OK)
            return fail(s.rc(), {});
    }
    {
        Stmt s(m_db, "PRAGMA user_version");
        if (s.next())
            version = s.integer(0);
        if (s.rc() != SQLITE_OK)
            return fail(s.rc(), {});
    }
    {
        Stmt s(m_db, "SELECT count(*) FROM sqlite_schema");
        if (s.next())
            tables = s.integer(0);
        if (s.rc() != SQLITE_OK)
            return fail(s.rc(), {});
    }
    const bool fresh = applicationId == 0 && version == 0 && tables == 0;
    if (!fresh && applicationId != ApplicationId) {
        // Some other database at our name: kept, never written into.
        *problem = QStringLiteral("not a response time history");
        *setAsideFile = true;
        *asideKind = QStringLiteral("damaged");
        close();
        return false;
    }
    if (version > SchemaVersion) {
        *problem =
            QStringLiteral("written by a newer version of the program (format %1)").arg(version);
        *setAsideFile = true;
        *asideKind = QStringLiteral("newer");
        close();
        return false;
    }
    if (readOnly) {
        if (fresh)
            close();
        return !fresh;
    }

    rc = exec(m_db, "PRAGMA journal_mode=WAL");
    if (rc == SQLITE_OK)
        rc = exec(m_db, "PRAGMA synchronous=NORMAL");
    if (rc == SQLITE_OK && (fresh || version < SchemaVersion)) {
        rc = exec(
            m_db,
            "BEGIN IMMEDIATE;"
            "CREATE TABLE IF NOT EXISTS services(id INTEGER PRIMARY KEY, name TEXT NOT NULL "
            "UNIQUE);"
            "CREATE TABLE IF NOT EXISTS points(id INTEGER PRIMARY KEY, service INTEGER NOT NULL,"
            " t INTEGER NOT NULL, ms INTEGER NOT NULL, up INTEGER NOT NULL);"
            "CREATE INDEX IF NOT EXISTS points_by_service ON points(service, t);"
            "PRAGMA application_id=1364021844;"
            "PRAGMA user_version=1;"
            "COMMIT");
        if (rc != SQLITE_OK)
            exec(m_db, "ROLLBACK");
    }
    // Points are trimmed in the order they were written (see writePending),
    // so an index by time would only cost every insert; files that have one
    // lose it (when they cannot now, they keep it: it does no harm).
    if (rc == SQLITE_OK)
        exec(m_db, "DROP INDEX IF EXISTS points_by_time");
    static_assert(ApplicationId == 1364021844 && SchemaVersion == 1, "the schema text names both");
    if (rc != SQLITE_OK)
        return fail(rc, QString::fromUtf8(sqlite3_errmsg(m_db)));
    return true;
}

bool ResponseHistory::open()
{
    if (m_db)
        return true;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now < m_nextOpenTry)
        return false;
    QString problem, kind;
    bool aside = false;
    if (openFile(&problem, &aside, &kind))
        return true;
    if (m_mode == Mode::ReadOnly)
        return false;
    if (aside) {
        const QString where = setAside(kind);
        if (!where.isEmpty()) {
            report(QStringLiteral(
                       "The response time history '%1' could not be used (%2); it is kept as "
                       "'%3' and a new history was started.")
                       .arg(m_path, problem, where));
            QString again;
            if (openFile(&again, &aside, &kind))
                return true;
            problem = again;
        }
    }
    m_nextOpenTry = now + ReopenPauseMs;
    if (!m_openFailedReported) {
        m_openFailedReported = true;
        report(QStringLiteral(
                   "The response time history '%1' cannot be opened (%2); response times are "
                   "kept in memory for now.")
                   .arg(m_path, problem));
    }
    return false;
}

bool ResponseHistory::openForReading()
{
    // Looking is no reason to create the file.
    return m_db || (QFileInfo::exists(m_path) && open());
}

bool ResponseHistory::handleFailure(int rc, const QString &what)
{
    if (isDamage(rc) && m_mode == Mode::ReadWrite) {
        const QString where = setAside(QStringLiteral("damaged"));
        report(QStringLiteral(
                   "The response time history '%1' is damaged (%2 while %3); it is kept as '%4' "
                   "and a new history was started.")
                   .arg(m_path, QString::fromUtf8(sqlite3_errstr(rc)), what,
                        where.isEmpty() ? QStringLiteral("it was") : where));
        return !where.isEmpty() && open();
    }
    if (m_lastProblem.isEmpty() || !m_lastProblem.contains(what))
        report(QStringLiteral("The response time history '%1' could not be %2 (%3).")
                   .arg(m_path, what, QString::fromUtf8(sqlite3_errstr(rc))));
    return false;
}

void ResponseHistory::add(const QString &service, const HistoryPoint &point)
{
    if (m_mode == Mode::ReadOnly || service.isEmpty())
        return;
    QElapsedTimer clock;
    clock.start();
    if (qsizetype(m_pending.size()) >= m_limits.maxPending)
        m_pending.erase(m_pending.begin(),
                        m_pending.begin() + std::max<qsizetype>(1, m_limits.maxPending / 10));
    m_pending.push_back({service, point});
    m_writeNanos += clock.nsecsElapsed();
}

qint64 ResponseHistory::serviceId(const QString &service, bool create)
{
    const auto known = m_ids.constFind(service);
    if (known != m_ids.cend())
        return *known;
    {
        Stmt s(m_db, "SELECT id FROM services WHERE name = ?1");
        s.bind(1, service);
        if (s.next()) {
            const qint64 id = s.integer(0);
            if (m_ids.size() > 100000)
                m_ids.clear();
            m_ids.insert(service, id);
            return id;
        }
        if (s.rc() != SQLITE_OK)
            return -s.rc();
    }
    if (!create)
        return 0;
    Stmt s(m_db, "INSERT INTO services(name) VALUES (?1)");
    const int rc = s.bind(1, service).run();
    if (rc != SQLITE_OK)
        return -rc;
    const qint64 id = sqlite3_last_insert_rowid(m_db);
    m_ids.insert(service, id);
    return id;
}

// One transaction: the cycle's points in, what is past the bounds out.
bool ResponseHistory::writePending(std::optional<qint64> nowMs)
{
    int rc = exec(m_db, "BEGIN IMMEDIATE");
    QString what = QStringLiteral("written");
    if (rc == SQLITE_OK) {
        Stmt insert(m_db, "INSERT INTO points(service, t, ms, up) VALUES (?1, ?2, ?3, ?4)");
        rc = insert.rc();
        for (size_t i = 0; rc == SQLITE_OK && i < m_pending.size(); ++i) {
            const Pending &p = m_pending[i];
            const qint64 id = serviceId(p.service, true);
            if (id < 0) {
                rc = int(-id);
                break;
            }
            insert.reset();
            rc = insert.bind(1, id)
                     .bind(2, p.point.utcMs)
                     .bind(3, std::max(-1, p.point.responseMs))
                     .bind(4, p.point.up ? 1 : 0)
                     .run();
        }
        if (rc == SQLITE_OK && nowMs) {
            what = QStringLiteral("trimmed");
            // Points go in in time order: the old ones are those before the
            // first that is not, found without an index by time. A clock set
            // back leaves a few a little longer; the point cap still holds.
            Stmt old(m_db, "DELETE FROM points WHERE id < coalesce((SELECT id FROM points WHERE t >= ?1"
                           " ORDER BY id LIMIT 1), (SELECT max(id) + 1 FROM points))");
            rc = old.bind(1, *nowMs - m_limits.maxAgeMs).run();
        }
        if (rc == SQLITE_OK) {
            // Rows get ever larger ids, so the newest maxPoints are those
            // above max(id) - maxPoints: no count of the table needed.
            Stmt many(m_db, "DELETE FROM points WHERE id <= (SELECT max(id) FROM points) - ?1");
            rc = many.bind(1, std::max<qint64>(1, m_limits.maxPoints)).run();
        }
        if (rc == SQLITE_OK)
            rc = exec(m_db, "COMMIT");
        if (rc != SQLITE_OK) {
            exec(m_db, "ROLLBACK");
            // A rolled-back insert may have left a service id that is gone.
            m_ids.clear();
        }
    }
    if (rc == SQLITE_OK) {
        m_pending.clear();
        // Working again: the next failure is told again.
        m_lastProblem.clear();
        return true;
    }
    // A damaged file was replaced by a new one: the points go into it,
    // once; a new file that fails too is only reported.
    if (handleFailure(rc, what) && !m_retrying) {
        m_retrying = true;
        const bool ok = writePending(nowMs);
        m_retrying = false;
        return ok;
    }
    return false;
}

bool ResponseHistory::commit(qint64 nowMs)
{
    return write(nowMs);
}

bool ResponseHistory::flush()
{
    return write(std::nullopt);
}

bool ResponseHistory::write(std::optional<qint64> nowMs)
{
    if (m_mode == Mode::ReadOnly)
        return false;
    QElapsedTimer clock;
    clock.start();
    bool ok = false;
    if (!m_pending.empty() && open())
        ok = writePending(nowMs);
    else
        ok = m_pending.empty();
    m_writeNanos += clock.nsecsElapsed();
    return ok;
}

QList<HistoryPoint> ResponseHistory::pendingOf(const QString &service) const
{
    QList<HistoryPoint> points;
    for (const Pending &p : m_pending)
        if (p.service == service)
            points.append(p.point);
    return points;
}

ResponseFigures ResponseHistory::figures(const QString &service, qint64 nowMs)
{
    QList<HistoryPoint> points = pendingOf(service);
    std::optional<HistoryPoint> lastStored;
    if (openForReading()) {
        const qint64 id = serviceId(service, false);
        if (id > 0) {
            Stmt s(m_db, "SELECT t, ms, up FROM points WHERE service = ?1 AND t >= ?2");
            s.bind(1, id).bind(2, nowMs - ResponseFigures::MonthMs);
            while (s.next())
                points.append(pointFrom(s, 0));
            // The last result may be older than the window.
            Stmt last(m_db,
                      "SELECT t, ms, up FROM points WHERE service = ?1 ORDER BY t DESC LIMIT 1");
            last.bind(1, id);
            if (last.next())
                lastStored = pointFrom(last, 0);
            if (s.rc() != SQLITE_OK || last.rc() != SQLITE_OK)
                handleFailure(s.rc() != SQLITE_OK ? s.rc() : last.rc(), QStringLiteral("read"));
        } else if (id < 0) {
            handleFailure(int(-id), QStringLiteral("read"));
        }
    }
    ResponseFigures figures = ResponseFigures::of(points, nowMs);
    if (lastStored && (!figures.last || lastStored->utcMs > figures.last->utcMs))
        figures.last = lastStored;
    return figures;
}

QHash<QString, HistoryPoint> ResponseHistory::latest()
{
    QHash<QString, HistoryPoint> found;
    if (openForReading()) {
        // The newest point of each service through its (service, t) index.
        Stmt s(m_db, "SELECT s.name, p.t, p.ms, p.up FROM services s JOIN points p ON p.id ="
                     " (SELECT id FROM points WHERE service = s.id ORDER BY t DESC LIMIT 1)");
        while (s.next())
            found.insert(s.text(0), pointFrom(s, 1));
        if (s.rc() != SQLITE_OK)
            handleFailure(s.rc(), QStringLiteral("read"));
    }
    for (const Pending &p : m_pending) {
        auto it = found.find(p.service);
        if (it == found.end() || it->utcMs <= p.point.utcMs)
            found.insert(p.service, p.point);
    }
    return found;
}

QStringList ResponseHistory::services()
{
    QStringList names;
    if (openForReading()) {
        Stmt s(
            m_db,
            "SELECT name FROM services s WHERE EXISTS (SELECT 1 FROM points WHERE service = s.id)"
            " ORDER BY name");
        while (s.next())
            names << s.text(0);
        if (s.rc() != SQLITE_OK)
            handleFailure(s.rc(), QStringLiteral("read"));
    }
    for (const Pending &p : m_pending)
        if (!names.contains(p.service))
            names << p.service;
    names.sort();
    return names;
}

QStringList ResponseHistory::servicesOfLogEntry(const QString &entry)
{
    const QHash<QString, HistoryPoint> newest = latest();
    QStringList found;
    for (auto it = newest.cbegin(); it != newest.cend(); ++it) {
        const QString path = ServiceLog::logPath(QStringLiteral("/"), it.key());
        if (path.size() > 5 && path.mid(1).chopped(4) == entry)
            found << it.key();
    }
    std::sort(found.begin(), found.end(), [&newest](const QString &a, const QString &b) {
        const qint64 ta = newest.value(a).utcMs, tb = newest.value(b).utcMs;
        return ta != tb ? ta > tb : a < b;
    });
    return found;
}

QList<HistoryPoint> ResponseHistory::points(const QString &service, qint64 fromMs, qint64 toMs,
                                            int maxPoints)
{
    flush();
    QList<HistoryPoint> found;
    if (!openForReading() || maxPoints <= 0)
        return found;
    const qint64 id = serviceId(service, false);
    if (id <= 0)
        return found;
    Stmt s(m_db, "SELECT t, ms, up FROM points WHERE service = ?1 AND t BETWEEN ?2 AND ?3 ORDER BY "
                 "t DESC LIMIT ?4");
    s.bind(1, id).bind(2, fromMs).bind(3, toMs).bind(4, maxPoints);
    while (s.next())
        found.prepend(pointFrom(s, 0));
    if (s.rc() != SQLITE_OK)
        handleFailure(s.rc(), QStringLiteral("read"));
    return found;
}

std::optional<qint64> ResponseHistory::firstPointMs(const QString &service)
{
    std::optional<qint64> first;
    for (const Pending &p : m_pending)
        if (p.service == service && (!first || p.point.utcMs < *first))
            first = p.point.utcMs;
    if (!openForReading())
        return first;
    const qint64 id = serviceId(service, false);
    if (id <= 0)
        return first;
    Stmt s(m_db, "SELECT min(t) FROM points WHERE service = ?1");
    s.bind(1, id);
    if (s.next() && !s.isNull(0))
        first = first ? std::min(*first, s.integer(0)) : s.integer(0);
    if (s.rc() != SQLITE_OK)
        handleFailure(s.rc(), QStringLiteral("read"));
    return first;
}

qint64 ResponseHistory::pointCount()
{
    qint64 count = qint64(m_pending.size());
    if (openForReading()) {
        Stmt s(m_db, "SELECT count(*) FROM points");
        if (s.next())
            count += s.integer(0);
    }
    return count;
}

ResponseChartData ResponseHistory::chart(const QString &service, qint64 fromMs, qint64 toMs,
                                         int columns)
{
    ResponseChartData chart;
    chart.fromMs = fromMs;
    chart.toMs = std::max(toMs, fromMs + 1);
    chart.columns.resize(size_t(std::clamp(columns, 1, 10000)));
    flush();
    if (!openForReading())
        return chart;
    const qint64 id = serviceId(service, false);
    if (id <= 0)
        return chart;
    const qint64 span = chart.toMs - chart.fromMs;
    const qint64 count = qint64(chart.columns.size());
    // Each column's answers summed up by the database: a 90-day chart never
    // brings every point into memory.
    {
        Stmt s(m_db,
               "SELECT min((t - ?2) * ?4 / ?5, ?4 - 1) AS c, count(*), min(ms), max(ms), avg(ms)"
               " FROM points WHERE service = ?1 AND t BETWEEN ?2 AND ?3 AND ms >= 0 GROUP BY c");
        s.bind(1, id).bind(2, chart.fromMs).bind(3, chart.toMs).bind(4, count).bind(5, span);
        while (s.next()) {
            const qint64 c = s.integer(0);
            if (c < 0 || c >= count)
                continue;
            ResponseChartData::Column &column = chart.columns[size_t(c)];
            column.answers = int(s.integer(1));
            column.minMs = int(s.integer(2));
            column.maxMs = int(s.integer(3));
            column.meanMs = int(s.integer(4));
            chart.maxMs = std::max(chart.maxMs, column.maxMs);
        }
        if (s.rc() != SQLITE_OK) {
            handleFailure(s.rc(), QStringLiteral("read"));
            return chart;
        }
    }
    // Outages: from each result that failed after one that did not (or
    // first in the range) to the next good one. The state changes alone
    // come back, however many points the range holds.
    {
        Stmt s(m_db, "SELECT t, up FROM (SELECT t, up, lag(up) OVER (ORDER BY t) AS before"
                     " FROM points WHERE service = ?1 AND t BETWEEN ?2 AND ?3)"
                     " WHERE before IS NULL OR up != before");
        s.bind(1, id).bind(2, chart.fromMs).bind(3, chart.toMs);
        bool inOutage = false;
        while (s.next()) {
            const qint64 t = s.integer(0);
            const bool up = s.integer(1) != 0;
            if (!up && !inOutage) {
                chart.outages.append({t, chart.toMs});
                inOutage = true;
            } else if (up && inOutage) {
                chart.outages.last().toMs = t;
                inOutage = false;
            }
        }
        if (s.rc() != SQLITE_OK)
            handleFailure(s.rc(), QStringLiteral("read"));
    }
    {
        Stmt s(m_db, "SELECT count(*) FROM points WHERE service = ?1 AND t BETWEEN ?2 AND ?3");
        s.bind(1, id).bind(2, chart.fromMs).bind(3, chart.toMs);
        if (s.next())
            chart.points = int(s.integer(0));
    }
    return chart;
}
