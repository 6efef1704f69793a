// Writers killed with SIGKILL at random moments, hundreds of times: the
// settings store, log appends and template saves must each be found in the
// state before or after a write, never in between.
//
// The writers are forked children of this test; each announces through a
// pipe when it is about to write, and is killed a random number of
// microseconds later. QM_CRASH_SEED=<n> repeats a run's kill moments.

#include "alerts/TemplateFolder.h"
#include "config/RegistryStore.h"
#include "base/Subs.h"
#include "engine/ServiceLog.h"
#include "platform/UniqueFile.h"
#include "TestSandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

// ---------------------------------------------------------------- children

using Ready = std::function<void()>;

struct Child {
    pid_t pid = -1;
    int readyFd = -1;
};

// Runs body in a forked child that never returns; body calls ready() once
// it is about to write.
Child startWriter(const std::function<void(const Ready &)> &body)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        qFatal("pipe2 failed");
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
        qFatal("fork failed");
    if (pid == 0) {
        // A writer never outlives the test, whatever becomes of it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(3);
        ::close(fds[0]);
        const int out = fds[1];
        try {
            body([out] { (void)!::write(out, "r", 1); });
        } catch (...) {
        }
        ::_exit(3); // a writer only ever ends by being killed
    }
    ::close(fds[1]);
    return {pid, fds[0]};
}

bool waitReady(const Child &child, int timeoutMs)
{
    pollfd p{child.readyFd, POLLIN, 0};
    char c;
    return ::poll(&p, 1, timeoutMs) == 1 && ::read(child.readyFd, &c, 1) == 1;
}

void sleepMicroseconds(qint64 us)
{
    timespec t{time_t(us / 1000000), long(us % 1000000) * 1000};
    while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

// Kills the child and tells whether it was still running when killed.
bool killWriter(Child &child)
{
    ::kill(child.pid, SIGKILL);
    int status = 0;
    while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    ::close(child.readyFd);
    child = {};
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

QRandomGenerator &killMoments()
{
    static QRandomGenerator generator = [] {
        bool ok = false;
        quint32 seed = qEnvironmentVariableIntValue("QM_CRASH_SEED", &ok);
        if (!ok)
            seed = QRandomGenerator::system()->generate();
        qInfo("kill moments from QM_CRASH_SEED=%u", seed);
        return QRandomGenerator(seed);
    }();
    return generator;
}

// After the writers are gone, the start-up sweep leaves none of their
// temporary files behind.
QStringList temporariesAfterSweep(const QString &folder)
{
    RemoveAbandonedTemporaries(folder);
    QStringList left;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (IsTemporaryFileName(QFile::encodeName(name)))
            left << name;
    return left;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// ------------------------------------------------------------------ store

const QString StoreRoot = QStringLiteral("Software\\Kestrin Software\\Crash");
constexpr int StoreKeys = 24;

QString keyOf(int i)
{
    return StoreRoot + QStringLiteral("\\Group%1").arg(i % 4);
}

QString nameOf(int i)
{
    return QStringLiteral("Value%1").arg(i);
}

// Generation g of value i: strings, numbers and binary data of sizes from a
// few bytes to several database pages, so values move between pages.
RegValue valueOf(int generation, int i)
{
    const int length = (generation * 7919 + i * 104729) % 6000;
    switch (i % 3) {
    case 0:
        return RegValue::fromString(QStringLiteral("g%1/i%2/").arg(generation).arg(i) +
                                    QString(length, QChar(u'a' + (generation + i) % 26)));
    case 1:
        return RegValue::fromDWord(generation * 1000 + i);
    default: {
        QByteArray bytes = QByteArray::number(generation) + ':' + QByteArray::number(i) + ':';
        bytes += QByteArray(length, char(generation * 31 + i));
        return RegValue::fromBinary(bytes);
    }
    }
}

// The generation a stored value belongs to; nullopt for anything that is
// no whole value of any generation.
std::optional<int> generationOf(int i, const RegValue &value)
{
    int generation = -1;
    if (value.type == RegType::DWord) {
        generation = (value.toDWord() - i) / 1000;
    } else {
        const QByteArray head = value.type == RegType::String ? value.data.mid(1) : value.data;
        bool ok = false;
        generation = head.left(head.indexOf(value.type == RegType::String ? '/' : ':')).toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (generation < 0 || !(valueOf(generation, i) == value))
        return std::nullopt;
    return generation;
}

const QString SwapA = StoreRoot + QStringLiteral("\\Swap\\A");
const QString SwapB = StoreRoot + QStringLiteral("\\Swap\\B");
const QString CounterKey = StoreRoot;
const QString CounterName = QStringLiteral("Generation");

// The subtree is built aside and moved into place, so it appears whole.
void createSwapTree(RegistryStore &store)
{
    const QString aside = StoreRoot + QStringLiteral("\\Swap\\Building");
    store.deleteKey(aside);
    store.setValue(aside, QStringLiteral("x"), RegValue::fromDWord(7));
    store.setValue(aside + QStringLiteral("\\Inner"), QStringLiteral("y"),
                   RegValue::fromString(QStringLiteral("inner")));
    store.renameKey(aside, SwapA);
}

// Rewrites every value in order, then the counter, then moves a subtree to
// its other name; generation after generation until killed.
void storeWriter(const QString &path, int firstGeneration, const Ready &ready)
{
    RegistryStore store(path);
    if (!store.keyExists(SwapA) && !store.keyExists(SwapB))
        createSwapTree(store);
    ready();
    for (int generation = firstGeneration;; ++generation) {
        for (int i = 0; i < StoreKeys; ++i)
            store.setValue(keyOf(i), nameOf(i), valueOf(generation, i));
        store.setValue(CounterKey, CounterName, RegValue::fromDWord(generation));
        if (store.keyExists(SwapA))
            store.renameKey(SwapA, SwapB);
        else
            store.renameKey(SwapB, SwapA);
    }
}

// ------------------------------------------------------------------- logs

// Record n of a log: one line, mostly short, sometimes several pages long.
QByteArray lineOf(qint64 n)
{
    const int length = n % 11 == 0 ? 9000 + int(n * 7) % 30000 : 20 + int(n * 37) % 200;
    return "08/12/2026 15:38:25: record " + QByteArray::number(n) + ' ' +
           QByteArray(length, char('a' + n % 26)) + '.';
}

// Response n of an error log entry: several lines, up to beyond the cut.
QByteArray responseOf(qint64 n)
{
    QByteArray response = "HTTP/1.1 503 Service Unavailable\r\nX-Entry: " + QByteArray::number(n);
    response += "\r\n\r\n" + QByteArray(int(n * 7919) % (ServiceLog::MaxResponseBytes + 5000),
                                        char('A' + n % 26));
    return response;
}

const QString Stamp = QStringLiteral("08/12/2026 15:38:25");

// The bytes one append of record n puts at the end of the log.
QByteArray recordBytes(bool errorLog, qint64 n)
{
    if (!errorLog)
        return lineOf(n) + "\r\n";
    QByteArray response = responseOf(n);
    QByteArray entry = Stamp.toUtf8() + " host" + QByteArray::number(n) + "/(http) response:\r\n";
    if (response.size() > ServiceLog::MaxResponseBytes) {
        entry += response.left(ServiceLog::MaxResponseBytes);
        if (!entry.endsWith("\r\n"))
            entry += "\r\n";
        entry += "[response cut: " + QByteArray::number(ServiceLog::MaxResponseBytes) + " of " +
                 QByteArray::number(response.size()) + " bytes written]\r\n";
    } else {
        entry += response;
        if (!entry.endsWith("\r\n"))
            entry += "\r\n";
    }
    return entry + "\r\n";
}

void logWriter(const QString &path, bool errorLog, qint64 first, const Ready &ready)
{
    ready();
    for (qint64 n = first;; ++n) {
        if (errorLog)
            ServiceLog::appendServiceFailed(path, Stamp, QStringLiteral("host%1/").arg(n),
                                            QStringLiteral("http"), responseOf(n));
        else
            AppendLine(path, QString::fromUtf8(lineOf(n)));
    }
}

// ---------------------------------------------------------------- templates

QByteArray templateOf(int generation)
{
    const int length = (generation * 104729) % 300000;
    return "To: admin@example.org\r\nFrom: quellmark@example.org\r\nSubject: generation " +
           QByteArray::number(generation) + "\r\n\r\n" +
           QByteArray(length, char('a' + generation % 26)) + "\r\n";
}

void templateWriter(const QString &path, int first, const Ready &ready)
{
    ready();
    for (int generation = first;; ++generation)
        WriteTemplateFile(path, templateOf(generation));
}

} // namespace

class TstCrashSafety : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void storeSurvivesKills_data();
    void storeSurvivesKills();
    void logAppendsSurviveKills_data();
    void logAppendsSurviveKills();
    void templateSavesSurviveKills_data();
    void templateSavesSurviveKills();

private:
    // A random moment in the writer's life: mostly while it writes, now and
    // then while it is still starting up.
    void killSomewhere(Child &child, qint64 maxUs, bool waitForReady = true);

    std::unique_ptr<TestSandbox> m_sandbox;
    QElapsedTimer m_clock;
    int m_kills = 0;
};

void TstCrashSafety::initTestCase()
{
    m_sandbox = std::make_unique<TestSandbox>();
    m_clock.start();
}

void TstCrashSafety::cleanupTestCase()
{
    qInfo("%d writers killed in %lld ms", m_kills, m_clock.elapsed());
}

void TstCrashSafety::killSomewhere(Child &child, qint64 maxUs, bool waitForReady)
{
    const bool started = !waitForReady || waitReady(child, 30000);
    if (started)
        sleepMicroseconds(qint64(killMoments().bounded(quint32(maxUs + 1))));
    const bool wasRunning = killWriter(child);
    QVERIFY2(started, "the writer did not start");
    QVERIFY2(wasRunning, "the writer ended before it was killed");
    ++m_kills;
}

// ------------------------------------------------------------------ store

void TstCrashSafety::storeSurvivesKills_data()
{
    QTest::addColumn<bool>("freshStore");
    QTest::addColumn<int>("kills");
    QTest::addColumn<int>("maxDelayUs");
    // Killed while the store is created, then in the middle of its writes.
    QTest::newRow("new store") << true << 60 << 20000;
    QTest::newRow("existing store") << false << 300 << 30000;
}

void TstCrashSafety::storeSurvivesKills()
{
    QFETCH(bool, freshStore);
    QFETCH(int, kills);
    QFETCH(int, maxDelayUs);
    const QString path = m_sandbox->root() + QStringLiteral("/store/registry.sqlite");
    const auto removeStore = [&] {
        for (const char *suffix : {"", "-wal", "-shm", "-journal"})
            QFile::remove(path + QLatin1String(suffix));
    };
    removeStore();

    // The last generation seen of every value; -1 while it is missing.
    QList<int> seen(StoreKeys, -1);
    int counter = 0;
    for (int round = 0; round < kills; ++round) {
        if (freshStore) {
            removeStore();
            seen.fill(-1);
            counter = 0;
        }
        Child child =
            startWriter([&](const Ready &ready) { storeWriter(path, counter + 1, ready); });
        // A new store is killed from the moment its writer starts.
        killSomewhere(child, maxDelayUs, !freshStore);
        if (QTest::currentTestFailed())
            return;

        std::unique_ptr<RegistryStore> store;
        try {
            store = std::make_unique<RegistryStore>(path);
        } catch (const RegistryError &error) {
            QFAIL(qPrintable(QStringLiteral("round %1: the store does not open: %2")
                                 .arg(round)
                                 .arg(error.message())));
        }
        QString report;
        QVERIFY2(store->checkIntegrity(&report), qPrintable(report));

        QList<int> now(StoreKeys, -1);
        for (int i = 0; i < StoreKeys; ++i) {
            const std::optional<RegValue> value = store->value(keyOf(i), nameOf(i));
            if (!value) {
                // Only a value never written may be missing.
                QVERIFY2(seen[i] < 0,
                         qPrintable(QStringLiteral("round %1: value %2 lost").arg(round).arg(i)));
                continue;
            }
            const std::optional<int> generation = generationOf(i, *value);
            QVERIFY2(generation, qPrintable(QStringLiteral("round %1: value %2 is torn: %3")
                                                .arg(round)
                                                .arg(i)
                                                .arg(QString::fromLatin1(value->data.left(40)))));
            // Old or new, never older than before.
            QVERIFY2(*generation >= seen[i], qPrintable(QStringLiteral("round %1: value %2 went "
                                                                       "back from %3 to %4")
                                                            .arg(round)
                                                            .arg(i)
                                                            .arg(seen[i])
                                                            .arg(*generation)));
            now[i] = *generation;
        }
        const std::optional<RegValue> counterValue = store->value(CounterKey, CounterName);
        const int newCounter = counterValue ? counterValue->toDWord() : 0;
        QVERIFY(newCounter >= counter);
        // Values are written in order and the counter after them: every
        // value is of the counter's generation or the one being written.
        for (int i = 0; i < StoreKeys; ++i) {
            const int generation = now[i] < 0 ? 0 : now[i];
            QVERIFY2(generation == newCounter || generation == newCounter + 1,
                     qPrintable(QStringLiteral("round %1: value %2 of generation %3, counter %4")
                                    .arg(round)
                                    .arg(i)
                                    .arg(generation)
                                    .arg(newCounter)));
            if (i > 0)
                QVERIFY(generation <= (now[i - 1] < 0 ? 0 : now[i - 1]));
        }
        // The subtree moves whole: under one of its two names, never both.
        const bool a = store->keyExists(SwapA);
        const bool b = store->keyExists(SwapB);
        QVERIFY(!(a && b));
        if (a || b) {
            const QString key = a ? SwapA : SwapB;
            QCOMPARE(store->value(key, QStringLiteral("x")), RegValue::fromDWord(7));
            QCOMPARE(store->value(key + QStringLiteral("\\Inner"), QStringLiteral("y")),
                     RegValue::fromString(QStringLiteral("inner")));
            QCOMPARE(store->valueNames(key).size(), 1);
        } else {
            QVERIFY2(freshStore && newCounter == 0, "the moved subtree is lost");
        }
        // And the store takes new writes.
        store->setValue(StoreRoot, QStringLiteral("Probe"), RegValue::fromDWord(round));
        QCOMPARE(store->value(StoreRoot, QStringLiteral("Probe")), RegValue::fromDWord(round));
        seen = now;
        counter = newCounter;
    }
    QCOMPARE(temporariesAfterSweep(QFileInfo(path).absolutePath()), QStringList());
}

// ------------------------------------------------------------------- logs

void TstCrashSafety::logAppendsSurviveKills_data()
{
    QTest::addColumn<bool>("errorLog");
    QTest::addColumn<int>("kills");
    QTest::newRow("service log lines") << false << 80;
    QTest::newRow("error log entries") << true << 60;
}

// After each kill the log holds whole records and at most one record cut
// short at its end; the next writer starts on a new line, so a cut record
// never glues onto the one after it.
void TstCrashSafety::logAppendsSurviveKills()
{
    QFETCH(bool, errorLog);
    QFETCH(int, kills);
    const QString path = m_sandbox->root() + (errorLog ? QStringLiteral("/logs/error.log")
                                                       : QStringLiteral("/logs/host(http).log"));
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::remove(path);

    QByteArray checked; // the part of the log already verified
    qint64 next = 0;    // the first record the next writer appends
    int cut = 0;
    for (int round = 0; round < kills; ++round) {
        Child child =
            startWriter([&](const Ready &ready) { logWriter(path, errorLog, next, ready); });
        killSomewhere(child, 3000);
        if (QTest::currentTestFailed())
            return;

        const QByteArray log = readAll(path);
        QVERIFY(log.startsWith(checked));
        // What this writer could have appended, record after record.
        QByteArray expected = checked.isEmpty() || checked.endsWith('\n') ? QByteArray() : "\r\n";
        qint64 n = next;
        const qsizetype added = log.size() - checked.size();
        while (expected.size() < added)
            expected += recordBytes(errorLog, n++);
        const QByteArray appended = log.mid(checked.size());
        QVERIFY2(
            expected.startsWith(appended),
            qPrintable(QStringLiteral("round %1: the log holds bytes no writer wrote").arg(round)));
        // Records completed by this writer; the next one starts after them.
        qint64 complete = next;
        QByteArray whole = checked.isEmpty() || checked.endsWith('\n') ? QByteArray() : "\r\n";
        while (whole.size() + recordBytes(errorLog, complete).size() <= appended.size())
            whole += recordBytes(errorLog, complete++);
        if (appended.size() > whole.size())
            ++cut;
        next = complete + (appended.size() > whole.size() ? 1 : 0);
        checked = log;
        // A new log now and then keeps the test's reading cheap.
        if (checked.size() > 2 * 1024 * 1024) {
            QFile::remove(path);
            checked.clear();
        }
    }
    qInfo("%d of %d kills cut a record short", cut, kills);
}

// ---------------------------------------------------------------- templates

void TstCrashSafety::templateSavesSurviveKills_data()
{
    QTest::addColumn<bool>("newFile");
    QTest::addColumn<int>("kills");
    QTest::newRow("replacing a template") << false << 50;
    QTest::newRow("saving a new template") << true << 30;
}

// A save killed half way leaves the old template or the new one whole, and
// nothing else the composer would list.
void TstCrashSafety::templateSavesSurviveKills()
{
    QFETCH(bool, newFile);
    QFETCH(int, kills);
    const TemplateFolder folder(m_sandbox->root() + QStringLiteral("/email-") +
                                (newFile ? QStringLiteral("new") : QStringLiteral("old")));
    QVERIFY(folder.create());
    const QString path = folder.pathOf(QStringLiteral("OnError"));
    int generation = 0;
    if (!newFile)
        WriteTemplateFile(path, templateOf(generation));
    for (int round = 0; round < kills; ++round) {
        if (newFile)
            QFile::remove(path);
        Child child =
            startWriter([&](const Ready &ready) { templateWriter(path, generation + 1, ready); });
        killSomewhere(child, newFile ? 1500 : 20000);
        if (QTest::currentTestFailed())
            return;

        const QByteArray bytes = readAll(path);
        if (newFile && !QFileInfo::exists(path))
            continue;
        const qsizetype at = bytes.indexOf("Subject: generation ");
        QVERIFY2(at > 0, "the template is torn");
        const int found = bytes.mid(at + 20, bytes.indexOf('\r', at) - at - 20).toInt();
        QVERIFY2(bytes == templateOf(found),
                 qPrintable(QStringLiteral("round %1: template of generation %2 is torn")
                                .arg(round)
                                .arg(found)));
        QVERIFY(found >= generation);
        QCOMPARE(folder.names(), QStringList{QStringLiteral("OnError")});
        generation = found;
    }
    QCOMPARE(temporariesAfterSweep(QFileInfo(path).absolutePath()), QStringList());
}

QTEST_GUILESS_MAIN(TstCrashSafety)

#include "tst_crashsafety.moc"
