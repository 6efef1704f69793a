#include "config/RegistryStore.h"
#include "platform/PrivateFiles.h"
#include "platform/UniqueFile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QtEndian>
#include <QThread>

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

// Marks a file as ours: "QMRG" in the database header, plus the format name
// and schema version in the meta table.
static constexpr int kApplicationId = 0x514D5247;
static constexpr int kSchemaVersion = 1;
static constexpr char kFormatName[] = "quellmark-registry";
static constexpr int kDefaultBusyTimeoutMs = 10000;
// The top of the hive is created with the schema and never deleted.
static constexpr qint64 kTopKey = 1;

static RegistryStore *s_current = nullptr;

static QStringList splitPath(const QString &path)
{
    return path.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

// QString::fromUtf8 drops a leading byte order mark; names and strings in
// the store keep theirs, or a listed name would name nothing.
static QString decodeUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(bytes);
}

DamagedStoreError::DamagedStoreError(const QString &path, const QString &reason)
    : RegistryError(QStringLiteral("The settings store '%1' is damaged (%2).").arg(path, reason)),
      m_path(path), m_reason(reason)
{
}

// ---------------------------------------------------------------------------
// RegValue

RegValue RegValue::fromString(const QString &text)
{
    return {RegType::String, text.toUtf8()};
}

RegValue RegValue::fromDWord(qint32 number)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToLittleEndian<qint32>(number, bytes.data());
    return {RegType::DWord, bytes};
}

RegValue RegValue::fromBinary(const QByteArray &bytes)
{
    return {RegType::Binary, bytes};
}

QString RegValue::toString() const
{
    return decodeUtf8(data);
}

qint32 RegValue::toDWord() const
{
    // Shorter data is taken as the low bytes; longer data is cut.
    char bytes[4] = {0, 0, 0, 0};
    std::copy_n(data.constData(), std::min<qsizetype>(data.size(), 4), bytes);
    return qFromLittleEndian<qint32>(bytes);
}

qint64 RegValue::size() const
{
    return isString() ? data.size() + 1 : data.size();
}

// ---------------------------------------------------------------------------
// Cache: every statement is prepared once per connection and kept, since
// parsing and planning cost more than running the small statements of an
// accessor call. Key ids are remembered by path, so a call does not walk the
// tree one component at a time; they are trusted only while no other
// connection has changed the file (PRAGMA data_version, looked at inside
// every transaction) and are forgotten when this connection deletes keys or
// rolls a write back.

struct RegistryStore::Cache {
    struct Entry {
        sqlite3_stmt *stmt = nullptr;
        bool inUse = false;
    };
    struct Hash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const
        {
            return std::hash<std::string_view>()(text);
        }
    };
    // Node-based, so an entry stays put while others are added.
    std::unordered_map<std::string, Entry, Hash, std::equal_to<>> statements;
    QHash<QString, qint64> keyIds;
    qint64 dataVersion = -1;
};

// More paths than any real tree holds at once; past it the ids are dropped.
static constexpr qsizetype kMaxCachedKeys = 4096;

// ---------------------------------------------------------------------------
// Statement: a prepared statement that throws RegistryError on failure. It
// borrows the cached one for its text; a statement already in use further
// up the stack (a recursive copy) gets a private one instead.

class RegistryStore::Statement {
public:
    Statement(const RegistryStore &store, const char *sql) : m_store(store)
    {
        auto &statements = store.m_cache->statements;
        auto it = statements.find(std::string_view(sql));
        if (it == statements.end())
            it = statements.emplace(std::string(sql), Cache::Entry()).first;
        Cache::Entry &entry = it->second;
        if (!entry.inUse) {
            if (!entry.stmt && sqlite3_prepare_v3(store.m_db, sql, -1, SQLITE_PREPARE_PERSISTENT,
                                                  &entry.stmt, nullptr) != SQLITE_OK) {
                sqlite3_finalize(entry.stmt);
                entry.stmt = nullptr;
                store.fail();
            }
            entry.inUse = true;
            m_entry = &entry;
            m_stmt = entry.stmt;
        } else if (sqlite3_prepare_v2(store.m_db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
            sqlite3_finalize(m_stmt);
            m_stmt = nullptr;
            store.fail();
        }
    }
    ~Statement()
    {
        if (m_entry) {
            sqlite3_reset(m_stmt);
            sqlite3_clear_bindings(m_stmt);
            m_entry->inUse = false;
        } else {
            sqlite3_finalize(m_stmt);
        }
    }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, qint64 number)
    {
        check(sqlite3_bind_int64(m_stmt, index, number));
        return *this;
    }
    Statement &bind(int index, const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        check(
            sqlite3_bind_text(m_stmt, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Statement &bindBlob(int index, const QByteArray &bytes)
    {
        // An empty QByteArray may have no buffer, which SQLite would store as NULL.
        if (bytes.isEmpty())
            check(sqlite3_bind_zeroblob(m_stmt, index, 0));
        else
            check(sqlite3_bind_blob(m_stmt, index, bytes.constData(), int(bytes.size()),
                                    SQLITE_TRANSIENT));
        return *this;
    }

    // True while rows come.
    bool next()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        m_store.fail();
    }
    void run()
    {
        while (next()) {
        }
    }
    void reset()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

    sqlite3_stmt *handle() const { return m_stmt; }
    bool isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
    qint64 integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
    QString text(int column) const
    {
        const auto *chars = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
        return decodeUtf8(QByteArrayView(chars, sqlite3_column_bytes(m_stmt, column)));
    }
    QByteArray blob(int column) const
    {
        const auto *bytes = static_cast<const char *>(sqlite3_column_blob(m_stmt, column));
        return QByteArray(bytes, sqlite3_column_bytes(m_stmt, column));
    }

private:
    void check(int rc) const
    {
        if (rc != SQLITE_OK)
            m_store.fail();
    }

    const RegistryStore &m_store;
    sqlite3_stmt *m_stmt = nullptr;
    Cache::Entry *m_entry = nullptr;
};

// ---------------------------------------------------------------------------
// Transaction: one per public call. Writers take the write lock up front
// (BEGIN IMMEDIATE) so they queue behind each other instead of failing on a
// lock upgrade; anything not committed is rolled back, leaving the
// connection ready for the next call.

class RegistryStore::Transaction {
public:
    Transaction(const RegistryStore &store, bool write) : m_store(store), m_write(write)
    {
        Statement(store, write ? "BEGIN IMMEDIATE" : "BEGIN").run();
        try {
            store.checkDataVersion();
        } catch (...) {
            end();
            throw;
        }
    }
    ~Transaction() { end(); }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    void commit()
    {
        Statement(m_store, "COMMIT").run();
        // Our own change leaves the ids we know right.
        m_store.m_cache->dataVersion = m_store.fileVersion();
    }

private:
    void end() noexcept
    {
        if (sqlite3_get_autocommit(m_store.m_db))
            return;
        // A reader changed nothing: ending it either way is the same.
        if (!m_write) {
            try {
                if (sqlite3_step(Statement(m_store, "COMMIT").handle()) == SQLITE_DONE)
                    return;
            } catch (...) {
            }
        }
        sqlite3_exec(m_store.m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        // Ids of keys this transaction created are gone with it.
        m_store.forgetKeys();
        m_store.m_cache->dataVersion = m_store.fileVersion();
    }

    const RegistryStore &m_store;
    bool m_write;
};

// ---------------------------------------------------------------------------
// Opening

RegistryStore::RegistryStore(const QString &filePath)
    : m_path(filePath), m_cache(std::make_unique<Cache>())
{
    const QFileInfo info(filePath);
    bool existed = info.exists();
    FileState state = FileState::Empty;
    if (!existed) {
        // The store holds the mail password: its folder is the owner's alone.
        if (!QFileInfo(info.absolutePath()).isDir() && !CreatePrivateFolder(info.absolutePath()))
            throw RegistryError(
                QStringLiteral("Cannot create the folder '%1' for the settings store '%2'.")
                    .arg(QDir::toNativeSeparators(info.absolutePath()), m_path));
        existed = createAside() || createEmpty();
    }
    if (existed) {
        // Judged through a read-only connection first, so a file that is not
        // ours cannot be changed in any way (no journal replay, no checkpoint).
        state = inspectExisting();
        // A store made by an older version, or copied in, may be readable by
        // others; SQLite gives new -wal and -shm files the store's mode.
        for (const char *suffix : {"", "-wal", "-shm"})
            MakePrivate(m_path + QLatin1String(suffix));
    }

    const int flags = SQLITE_OPEN_READWRITE | (existed ? 0 : SQLITE_OPEN_CREATE);
    if (sqlite3_open_v2(QFile::encodeName(m_path).constData(), &m_db, flags, nullptr) !=
        SQLITE_OK) {
        const QString reason = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString();
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw RegistryError(
            QStringLiteral("Cannot open the settings store '%1': %2.").arg(m_path, reason));
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, kDefaultBusyTimeoutMs);
    try {
        if (state == FileState::Empty)
            initialise(m_path);
        exec("PRAGMA foreign_keys = ON");
        enableWal();
        // With WAL, NORMAL loses nothing when the program crashes or is
        // killed: a commit is in the WAL file (the kernel's page cache) when
        // it returns, and the next open replays it. Only a power loss or a
        // crash of the system may drop the last commits, never corrupt the
        // file. FULL would add an fsync to every accessor call - several
        // milliseconds each on a real disk, for settings that are written
        // again on the next poll anyway.
        exec("PRAGMA synchronous = NORMAL");
    } catch (...) {
        finalizeStatements();
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw;
    }
}

RegistryStore::~RegistryStore()
{
    if (s_current == this)
        s_current = nullptr;
    finalizeStatements();
    sqlite3_close_v2(m_db);
}

RegistryStore::FileState RegistryStore::classify(sqlite3 *db, const QString &path,
                                                 QString *readError)
{
    // Runs inside the caller's transaction so that all checks see one state
    // of the file, even while another process creates it.
    auto query = [&](const char *sql, QString *text, qint64 *number) -> int {
        sqlite3_stmt *stmt = nullptr;
        int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(stmt);
            if (rc == SQLITE_ROW) {
                if (text)
                    *text = QString::fromUtf8(
                        reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
                if (number)
                    *number = sqlite3_column_int64(stmt, 0);
                rc = SQLITE_OK;
            } else if (rc == SQLITE_DONE) {
                rc = SQLITE_NOTFOUND;
            }
        }
        sqlite3_finalize(stmt);
        return rc;
    };
    auto unreadable = [&](int rc) {
        const int primary = rc & 0xff;
        // Not a database at all, or one whose pages do not hold together.
        if ((primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT) && readError)
            *readError = QString::fromUtf8(sqlite3_errmsg(db));
        if (primary == SQLITE_OK || primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT ||
            primary == SQLITE_ERROR || primary == SQLITE_NOTFOUND)
            return;
        throw RegistryError(QStringLiteral("Cannot read the settings store '%1' (%2); it was "
                                           "left unchanged.")
                                .arg(path, QString::fromUtf8(sqlite3_errmsg(db))));
    };

    qint64 tables = 0;
    int rc = query("SELECT count(*) FROM sqlite_master", nullptr, &tables);
    if (rc != SQLITE_OK) {
        unreadable(rc);
        return FileState::Foreign;
    }
    if (tables == 0) {
        qint64 pages = 0;
        rc = query("PRAGMA page_count", nullptr, &pages);
        if (rc != SQLITE_OK) {
            unreadable(rc);
            return FileState::Foreign;
        }
        return pages == 0 ? FileState::Empty : FileState::Foreign;
    }
    qint64 appId = 0;
    rc = query("PRAGMA application_id", nullptr, &appId);
    if (rc != SQLITE_OK || appId != kApplicationId) {
        unreadable(rc);
        return FileState::Foreign;
    }
    QString format;
    rc = query("SELECT value FROM meta WHERE name = 'format'", &format, nullptr);
    if (rc != SQLITE_OK || format != QLatin1String(kFormatName)) {
        unreadable(rc);
        return FileState::Foreign;
    }
    qint64 schema = 0;
    rc = query("SELECT value FROM meta WHERE name = 'schema'", nullptr, &schema);
    if (rc != SQLITE_OK || schema < 1) {
        unreadable(rc);
        return FileState::Foreign;
    }
    return schema > kSchemaVersion ? FileState::Newer : FileState::Ours;
}

void RegistryStore::refuse(FileState state, const QString &path)
{
    if (state == FileState::Newer)
        throw RegistryError(QStringLiteral("The settings store '%1' was written by a newer "
                                           "version of Quellmark; it was left unchanged.")
                                .arg(path));
    throw RegistryError(
        QStringLiteral("The file '%1' is not a Quellmark settings store; it was left unchanged.")
            .arg(path));
}

// A read-only connection that is rolled back and closed however the caller
// leaves.
namespace {
struct ReadOnlyConnection {
    sqlite3 *db = nullptr;
    int rc = SQLITE_OK;
    explicit ReadOnlyConnection(const QString &path)
    {
        rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY,
                             nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_extended_result_codes(db, 1);
            sqlite3_busy_timeout(db, kDefaultBusyTimeoutMs);
            sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        }
    }
    ~ReadOnlyConnection()
    {
        if (db && !sqlite3_get_autocommit(db))
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(db);
    }
    ReadOnlyConnection(const ReadOnlyConnection &) = delete;
    ReadOnlyConnection &operator=(const ReadOnlyConnection &) = delete;
};
} // namespace

RegistryStore::FileState RegistryStore::inspectExisting() const
{
    const bool hasLastGood = QFileInfo::exists(lastGoodPath(m_path));
    if (hasLastGood && QFileInfo(m_path).size() == 0)
        throw DamagedStoreError(m_path, QStringLiteral("the file is empty"));
    const ReadOnlyConnection connection(m_path);
    if (connection.rc != SQLITE_OK)
        throw RegistryError(QStringLiteral("Cannot read the settings store '%1' (%2); it was "
                                           "left unchanged.")
                                .arg(m_path, QString::fromUtf8(sqlite3_errmsg(connection.db))));
    QString damage;
    const FileState state = classify(connection.db, m_path, &damage);
    // The store is small; a check of every page at start finds a store
    // cut short or overwritten in the middle before the first accessor
    // trips over it.
    if (state == FileState::Ours)
        quickCheck(connection.db, &damage);
    if (!damage.isEmpty() && (hasLastGood || headerIsOurs(m_path)))
        throw DamagedStoreError(m_path, damage);
    if (state != FileState::Empty && state != FileState::Ours)
        refuse(state, m_path);
    return state;
}

bool RegistryStore::quickCheck(sqlite3 *db, QString *report)
{
    sqlite3_stmt *stmt = nullptr;
    QStringList lines;
    int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &stmt, nullptr);
    while (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        // A badly damaged file can report a line per page; a few say enough.
        if (lines.size() < 3)
            lines << QString::fromUtf8(
                reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
        rc = SQLITE_OK;
    }
    if (rc != SQLITE_DONE)
        lines << QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
    if (lines == QStringList{QStringLiteral("ok")})
        return true;
    if (report)
        *report = lines.join(QStringLiteral("; "));
    return false;
}

bool RegistryStore::headerIsOurs(const QString &path)
{
    // SQLite's magic, and our application id at offset 68, big-endian.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.read(100);
    return header.size() == 100 && header.startsWith(QByteArrayView("SQLite format 3\0", 16)) &&
           qFromBigEndian<qint32>(header.constData() + 68) == kApplicationId;
}

bool RegistryStore::isSoundStore(const QString &path, QString *reason)
{
    if (!QFileInfo(path).isFile() || QFileInfo(path).size() == 0) {
        if (reason)
            *reason = QStringLiteral("the file is missing or empty");
        return false;
    }
    const ReadOnlyConnection connection(path);
    QString damage;
    try {
        if (connection.rc == SQLITE_OK &&
            classify(connection.db, path, &damage) == FileState::Ours && damage.isEmpty())
            return quickCheck(connection.db, reason);
    } catch (const RegistryError &error) {
        damage = error.message();
    }
    if (reason)
        *reason = !damage.isEmpty()            ? damage
                  : connection.rc != SQLITE_OK ? QString::fromUtf8(sqlite3_errstr(connection.rc))
                                               : QStringLiteral("not a Quellmark settings store");
    return false;
}

QString RegistryStore::lastGoodPath(const QString &storePath)
{
    return storePath + QStringLiteral(".last-good");
}

// Sets up a new store at the path and switches it to WAL, then links it into
// place, so the path never names a store that is only half set up: a process
// killed while setting one up in place would leave a rollback journal that a
// read-only look at the file cannot get past, and the store could never be
// opened again. Killed here, it leaves a temporary file (and SQLite's files
// beside it) that the next start sweeps away. False when the folder takes no
// hard links (or no new file); the caller then sets the store up in place.
bool RegistryStore::createAside()
{
    const QByteArray target = QFile::encodeName(m_path);
    QByteArray aside;
    // Private whatever the umask: the store will hold the mail password.
    const int fd =
        CreateUniqueFile(QFile::encodeName(QFileInfo(m_path).absolutePath()), "store", 0600, aside);
    if (fd < 0)
        return false;
    ::fchmod(fd, 0600);
    // The descriptor holds the file's lock, so no sweep takes it while it is
    // set up; it is closed only after SQLite let go of the file, as closing
    // it earlier would drop SQLite's own locks on it.
    struct Remover {
        QByteArray path;
        int fd;
        ~Remover()
        {
            for (const char *suffix : {"", "-journal", "-wal", "-shm"})
                ::unlink((path + suffix).constData());
            ::close(fd);
        }
    } remover{aside, fd};

    if (sqlite3_open_v2(aside.constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
    try {
        initialise(QFile::decodeName(aside));
        enableWal();
    } catch (...) {
        finalizeStatements();
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw;
    }
    // The last connection's close writes everything into the file itself.
    finalizeStatements();
    const bool closed = sqlite3_close(m_db) == SQLITE_OK;
    m_db = nullptr;
    if (!closed)
        return false;
    // Another process may have won the race; its store is used then.
    return ::link(aside.constData(), target.constData()) == 0 || errno == EEXIST;
}

bool RegistryStore::createEmpty()
{
    // SQLite would create the file readable by everyone; an empty file made
    // here first is set up in place with the mode it already has.
    const int fd = ::open(QFile::encodeName(m_path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno == EEXIST;
    ::fchmod(fd, 0600);
    ::close(fd);
    return true;
}

void RegistryStore::initialise(const QString &filePath)
{
    Transaction transaction(*this, true);
    // Another process may have set the file up (or put something else in
    // it) since we looked; decide again under the write lock. Only the
    // file's size tells emptiness here: inside a write transaction SQLite
    // already counts the first page of a new database.
    const FileState state =
        QFileInfo(filePath).size() == 0 ? FileState::Empty : classify(m_db, m_path);
    if (state == FileState::Ours)
        return;
    if (state != FileState::Empty)
        refuse(state, m_path);

    static const char *const schema[] = {
        "CREATE TABLE meta (name TEXT PRIMARY KEY, value NOT NULL)",
        "CREATE TABLE keys (id INTEGER PRIMARY KEY,"
        " parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
        " name TEXT NOT NULL, fold TEXT NOT NULL, UNIQUE (parent, fold))",
        // The rowid gives the order in which values were created.
        "CREATE TABLE vals (id INTEGER PRIMARY KEY,"
        " key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
        " name TEXT NOT NULL, fold TEXT NOT NULL, type INTEGER NOT NULL,"
        " data BLOB NOT NULL, UNIQUE (key, fold))",
        "INSERT INTO keys (id, parent, name, fold) VALUES (1, NULL, '', '')",
        "PRAGMA user_version = 1",
    };
    for (const char *sql : schema)
        exec(sql);
    exec(QStringLiteral("PRAGMA application_id = %1").arg(kApplicationId).toUtf8().constData());
    Statement meta(*this, "INSERT INTO meta (name, value) VALUES ('format', ?1), ('schema', ?2)");
    meta.bind(1, QString::fromLatin1(kFormatName)).bind(2, qint64(kSchemaVersion)).run();
    transaction.commit();
}

void RegistryStore::enableWal()
{
    // Switching needs a moment alone with the file; when two processes open a
    // new store together one of them may have to try again. A file system
    // without WAL support answers with the old mode, which still works, only
    // with readers and writers taking turns.
    QDeadlineTimer deadline(kDefaultBusyTimeoutMs);
    for (;;) {
        sqlite3_stmt *stmt = nullptr;
        int rc = sqlite3_prepare_v2(m_db, "PRAGMA journal_mode = WAL", -1, &stmt, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_step(stmt);
        sqlite3_finalize(stmt);
        if (rc == SQLITE_ROW)
            return;
        const int primary = rc & 0xff;
        if ((primary != SQLITE_BUSY && primary != SQLITE_LOCKED) || deadline.hasExpired())
            fail();
        QThread::msleep(20);
    }
}

// ---------------------------------------------------------------------------
// Helpers

void RegistryStore::fail() const
{
    const QString reason = QString::fromUtf8(sqlite3_errmsg(m_db));
    throw RegistryError(QStringLiteral("The settings store '%1' failed: %2.").arg(m_path, reason));
}

void RegistryStore::exec(const char *sql) const
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail();
}

void RegistryStore::finalizeStatements() const
{
    for (auto &[sql, entry] : m_cache->statements)
        sqlite3_finalize(entry.stmt);
    m_cache->statements.clear();
    forgetKeys();
    m_cache->dataVersion = -1;
}

void RegistryStore::forgetKeys() const
{
    m_cache->keyIds.clear();
}

qint64 RegistryStore::fileVersion() const
{
    // Changes with every change to the file, ours and other connections'
    // alike; another connection's change is seen when a snapshot begins.
    unsigned int version = 0;
    if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_DATA_VERSION, &version) != SQLITE_OK)
        return -1;
    return version;
}

void RegistryStore::checkDataVersion() const
{
    // A deferred transaction takes its snapshot with its first read; this
    // one, so the count belongs to the snapshot the call then reads from.
    Statement(*this, "PRAGMA data_version").run();
    const qint64 now = fileVersion();
    if (now < 0 || now != m_cache->dataVersion)
        forgetKeys();
    m_cache->dataVersion = now;
}

QString RegistryStore::foldName(const QString &name)
{
    // The same few dozen value names are folded over and over (the poll
    // cycle reads the same ones for every service); short names' folds are
    // remembered, a bounded number of them.
    constexpr qsizetype LongestRemembered = 64;
    constexpr qsizetype MostRemembered = 512;
    thread_local QHash<QString, QString> folds;
    if (name.size() > LongestRemembered)
        return name.toUpper();
    const auto known = folds.constFind(name);
    if (known != folds.cend())
        return *known;
    if (folds.size() >= MostRemembered)
        folds.clear();
    return *folds.insert(name, name.toUpper());
}

void RegistryStore::setBusyTimeout(int milliseconds)
{
    sqlite3_busy_timeout(m_db, milliseconds);
}

bool RegistryStore::checkIntegrity(QString *report) const
{
    Statement check(*this, "PRAGMA integrity_check");
    QStringList lines;
    while (check.next())
        lines << check.text(0);
    const bool ok = lines == QStringList{QStringLiteral("ok")};
    if (report)
        *report = lines.join(QLatin1Char('\n'));
    return ok;
}

QString RegistryStore::defaultPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // The base directory rules say relative paths are to be ignored.
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/quellmark/registry.sqlite");
}

void RegistryStore::setCurrent(RegistryStore *store)
{
    s_current = store;
}

RegistryStore *RegistryStore::current()
{
    return s_current;
}

RegistryStore &RegistryStore::currentOrThrow()
{
    if (!s_current)
        throw RegistryError(QStringLiteral("No settings store is open."));
    return *s_current;
}

qint64 RegistryStore::findKey(const QStringList &parts) const
{
    Statement child(*this, "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
    qint64 id = kTopKey;
    for (const QString &part : parts) {
        child.reset();
        child.bind(1, id).bind(2, foldName(part));
        if (!child.next())
            return -1;
        id = child.integer(0);
    }
    return id;
}

qint64 RegistryStore::insertKey(qint64 parent, const QString &name, const QString &fold)
{
    Statement insert(*this, "INSERT INTO keys (parent, name, fold) VALUES (?1, ?2, ?3)");
    insert.bind(1, parent).bind(2, name).bind(3, fold).run();
    return sqlite3_last_insert_rowid(m_db);
}

qint64 RegistryStore::ensureKey(const QStringList &parts)
{
    Statement child(*this, "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
    qint64 id = kTopKey;
    for (const QString &part : parts) {
        const QString fold = foldName(part);
        child.reset();
        child.bind(1, id).bind(2, fold);
        id = child.next() ? child.integer(0) : insertKey(id, part, fold);
    }
    return id;
}

qint64 RegistryStore::findKey(const QString &path) const
{
    const auto known = m_cache->keyIds.constFind(path);
    if (known != m_cache->keyIds.cend())
        return *known;
    const qint64 id = findKey(splitPath(path));
    if (id >= 0) {
        if (m_cache->keyIds.size() >= kMaxCachedKeys)
            forgetKeys();
        m_cache->keyIds.insert(path, id);
    }
    return id;
}

qint64 RegistryStore::ensureKey(const QString &path)
{
    const auto known = m_cache->keyIds.constFind(path);
    if (known != m_cache->keyIds.cend())
        return *known;
    const qint64 id = ensureKey(splitPath(path));
    if (m_cache->keyIds.size() >= kMaxCachedKeys)
        forgetKeys();
    m_cache->keyIds.insert(path, id);
    return id;
}

void RegistryStore::deleteTree(qint64 id)
{
    // Ids of the keys below are kept by path; they all go.
    forgetKeys();
    // Explicit rather than trusting ON DELETE CASCADE, which is off for any
    // connection that did not ask for it.
    static const char subtree[] = "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
                                  "SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id) ";
    if (id == kTopKey) {
        Statement(*this, "DELETE FROM vals").run();
        Statement(*this, "DELETE FROM keys WHERE id <> 1").run();
        return;
    }
    Statement(*this, (QByteArray(subtree) + "DELETE FROM vals WHERE key IN sub").constData())
        .bind(1, id)
        .run();
    Statement(*this, (QByteArray(subtree) + "DELETE FROM keys WHERE id IN sub").constData())
        .bind(1, id)
        .run();
}

void RegistryStore::copyTree(qint64 from, qint64 to)
{
    // INSERT ... SELECT hands out rowids in the selected order, which keeps
    // the values' creation order.
    Statement values(*this, "INSERT INTO vals (key, name, fold, type, data) "
                            "SELECT ?2, name, fold, type, data FROM vals WHERE key = ?1 "
                            "ORDER BY id");
    values.bind(1, from).bind(2, to).run();

    struct Child {
        qint64 id;
        QString name, fold;
    };
    std::vector<Child> children;
    Statement list(*this, "SELECT id, name, fold FROM keys WHERE parent = ?1");
    list.bind(1, from);
    while (list.next())
        children.push_back({list.integer(0), list.text(1), list.text(2)});
    for (const Child &child : children)
        copyTree(child.id, insertKey(to, child.name, child.fold));
}

bool RegistryStore::copyInside(const QString &from, const QString &to)
{
    const QStringList source = splitPath(from);
    const QStringList target = splitPath(to);
    const qint64 sourceId = findKey(source);
    if (sourceId < 0 || target.isEmpty())
        return false;
    // A target inside the source (or the source itself) would copy forever.
    if (target.size() >= source.size()) {
        bool inside = true;
        for (qsizetype i = 0; i < source.size() && inside; ++i)
            inside = foldName(source[i]) == foldName(target[i]);
        if (inside)
            return false;
    }
    if (findKey(target) >= 0)
        return false;
    const qint64 parent = ensureKey(target.mid(0, target.size() - 1));
    copyTree(sourceId, insertKey(parent, target.last(), foldName(target.last())));
    return true;
}

// ---------------------------------------------------------------------------
// Public calls, one transaction each

bool RegistryStore::keyExists(const QString &path) const
{
    Transaction transaction(*this, false);
    return findKey(path) >= 0;
}

void RegistryStore::createKey(const QString &path)
{
    Transaction transaction(*this, true);
    ensureKey(path);
    transaction.commit();
}

bool RegistryStore::deleteKey(const QString &path)
{
    Transaction transaction(*this, true);
    const qint64 id = findKey(path);
    if (id < 0)
        return false;
    deleteTree(id);
    transaction.commit();
    return true;
}

bool RegistryStore::copyKey(const QString &from, const QString &to)
{
    Transaction transaction(*this, true);
    if (!copyInside(from, to))
        return false;
    transaction.commit();
    return true;
}

bool RegistryStore::renameKey(const QString &from, const QString &to)
{
    Transaction transaction(*this, true);
    if (!copyInside(from, to))
        return false;
    deleteTree(findKey(splitPath(from)));
    transaction.commit();
    return true;
}

QStringList RegistryStore::subkeyNames(const QString &path) const
{
    Transaction transaction(*this, false);
    const qint64 id = findKey(path);
    if (id < 0)
        return {};
    std::vector<std::pair<QString, QString>> children; // (fold, name)
    Statement list(*this, "SELECT fold, name FROM keys WHERE parent = ?1");
    list.bind(1, id);
    while (list.next())
        children.emplace_back(list.text(0), list.text(1));
    std::sort(children.begin(), children.end());
    QStringList names;
    names.reserve(qsizetype(children.size()));
    for (const auto &child : children)
        names << child.second;
    return names;
}

QStringList RegistryStore::valueNames(const QString &path) const
{
    Transaction transaction(*this, false);
    const qint64 id = findKey(path);
    if (id < 0)
        return {};
    QStringList names;
    Statement list(*this, "SELECT name FROM vals WHERE key = ?1 ORDER BY id");
    list.bind(1, id);
    while (list.next())
        names << list.text(0);
    return names;
}

std::optional<RegValue> RegistryStore::value(const QString &path, const QString &name) const
{
    // The common case, a key whose id is known, is one statement with no
    // transaction around it: its answer counts when the file is unchanged
    // in the snapshot it read from (the count is still that snapshot's
    // right after the step), else the call starts over the long way.
    const auto known = m_cache->keyIds.constFind(path);
    if (known != m_cache->keyIds.cend() && m_cache->dataVersion >= 0) {
        Statement read(*this, "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
        read.bind(1, *known).bind(2, foldName(name));
        const bool found = read.next();
        if (fileVersion() == m_cache->dataVersion) {
            if (!found)
                return std::nullopt;
            return RegValue{RegType(read.integer(0)), read.blob(1)};
        }
        forgetKeys();
    }
    Transaction transaction(*this, false);
    const qint64 id = findKey(path);
    if (id < 0)
        return std::nullopt;
    Statement read(*this, "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
    read.bind(1, id).bind(2, foldName(name));
    if (!read.next())
        return std::nullopt;
    return RegValue{RegType(read.integer(0)), read.blob(1)};
}

QHash<QString, RegValue> RegistryStore::values(const QString &path) const
{
    const auto collect = [this](qint64 id) {
        QHash<QString, RegValue> found;
        Statement read(*this, "SELECT fold, type, data FROM vals WHERE key = ?1");
        read.bind(1, id);
        while (read.next())
            found.insert(read.text(0), RegValue{RegType(read.integer(1)), read.blob(2)});
        return found;
    };
    // As value(): one statement while the key's id is known and the file
    // unchanged, else the long way in a transaction.
    const auto known = m_cache->keyIds.constFind(path);
    if (known != m_cache->keyIds.cend() && m_cache->dataVersion >= 0) {
        QHash<QString, RegValue> found = collect(*known);
        if (fileVersion() == m_cache->dataVersion)
            return found;
        forgetKeys();
    }
    Transaction transaction(*this, false);
    const qint64 id = findKey(path);
    if (id < 0)
        return {};
    return collect(id);
}

QHash<QString, RegValue> RegistryStore::valueInSubkeys(const QString &path, const QString &name) const
{
    Transaction transaction(*this, false);
    const qint64 id = findKey(path);
    if (id < 0)
        return {};
    QHash<QString, RegValue> found;
    Statement read(*this, "SELECT k.fold, v.type, v.data FROM keys k JOIN vals v ON v.key = k.id"
                          " WHERE k.parent = ?1 AND v.fold = ?2");
    read.bind(1, id).bind(2, foldName(name));
    while (read.next())
        found.insert(read.text(0), RegValue{RegType(read.integer(1)), read.blob(2)});
    return found;
}

void RegistryStore::setValue(const QString &path, const QString &name, const RegValue &value)
{
    // Writing what is already stored changes nothing: the poll cycle writes
    // the same counters for every service, and a check costs a fraction of
    // a write transaction. The check counts only when the file did not
    // change in between, as for a read.
    const auto known = m_cache->keyIds.constFind(path);
    if (known != m_cache->keyIds.cend() && m_cache->dataVersion >= 0) {
        Statement read(*this, "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2");
        read.bind(1, *known).bind(2, foldName(name));
        const bool same = read.next() && read.integer(0) == qint64(value.type) &&
                          read.blob(1) == value.data;
        if (same && fileVersion() == m_cache->dataVersion)
            return;
    }
    Transaction transaction(*this, true);
    const qint64 id = ensureKey(path);
    // An update in place keeps the row, so the name's first-written case and
    // its place in the enumeration stay. Writing what is already there
    // changes no page (SQLite leaves equal bytes alone), so the commit has
    // nothing to write: the poll cycle writes the same counters again and
    // again.
    Statement write(*this, "INSERT INTO vals (key, name, fold, type, data) "
                           "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (key, fold) "
                           "DO UPDATE SET type = excluded.type, data = excluded.data");
    write.bind(1, id).bind(2, name).bind(3, foldName(name)).bind(4, qint64(value.type));
    write.bindBlob(5, value.data).run();
    transaction.commit();
}

bool RegistryStore::deleteValue(const QString &path, const QString &name)
{
    Transaction transaction(*this, true);
    const qint64 id = findKey(path);
    if (id < 0)
        return false;
    Statement remove(*this, "DELETE FROM vals WHERE key = ?1 AND fold = ?2");
    remove.bind(1, id).bind(2, foldName(name)).run();
    const bool removed = sqlite3_changes(m_db) > 0;
    transaction.commit();
    return removed;
}
