// The store keeps its statements prepared and remembers key ids between
// calls; these tests make sure nothing it remembers outlives a change made
// through another connection or through its own deletes, and that writing
// an unchanged value changes nothing in the file.

#include "config/RegistryStore.h"
#include "TestSandbox.h"

#include <QTest>

#include <memory>

#include <sqlite3.h>

namespace {

const QString Parent = QStringLiteral("Software\\Kestrin Software\\Quellmark\\Services");
const QString Key = Parent + QStringLiteral("\\HTTP webhost 80");
const QString Name = QStringLiteral("ActualFailures");

RegValue text(const char *t)
{
    return RegValue::fromString(QString::fromLatin1(t));
}

// What the other connection does between two reads of ours.
enum class Change {
    ValueChanged,
    ValueDeleted,
    KeyDeleted,
    KeyRecreated,
    KeyReplacedByRename,
    ParentRenamed,
    ParentDeletedAndOtherKeysAdded,
};

// PRAGMA data_version of a connection of its own: it changes only when
// another connection committed a change to the file.
class Watcher {
public:
    explicit Watcher(const QString &path)
    {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, SQLITE_OPEN_READONLY, nullptr);
    }
    ~Watcher() { sqlite3_close_v2(m_db); }
    qint64 version() const
    {
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(m_db, "PRAGMA data_version", -1, &stmt, nullptr);
        const qint64 v = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
        sqlite3_finalize(stmt);
        return v;
    }

private:
    sqlite3 *m_db = nullptr;
};

} // namespace

using OptionalValue = std::optional<RegValue>;
Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(OptionalValue)

// Readable failure messages for QCOMPARE.
char *toString(const OptionalValue &value)
{
    if (!value)
        return QTest::toString(QStringLiteral("(missing)"));
    return QTest::toString(QStringLiteral("type %1: %2")
                               .arg(int(value->type))
                               .arg(QString::fromLatin1(value->data.toHex())));
}

class TstRegistryCache : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void otherConnectionsChange_data();
    void otherConnectionsChange();
    void ownDeletesAndRenames();
    void unchangedWriteWritesNothing();
    void sameBytesOtherTypeIsWritten();

private:
    std::unique_ptr<TestSandbox> m_sandbox;
    std::unique_ptr<RegistryStore> m_store;
};

void TstRegistryCache::init()
{
    m_sandbox = std::make_unique<TestSandbox>();
    m_store = std::make_unique<RegistryStore>(m_sandbox->storePath());
}

void TstRegistryCache::cleanup()
{
    m_store.reset();
    m_sandbox.reset();
}

void TstRegistryCache::otherConnectionsChange_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<QString>("readPath");
    QTest::addColumn<OptionalValue>("expected");
    QTest::addColumn<bool>("keyExists");

    const QString moved = QStringLiteral("Software\\Moved\\HTTP webhost 80");
    QTest::newRow("value changed")
        << Change::ValueChanged << Key << std::optional<RegValue>(text("2")) << true;
    QTest::newRow("value deleted")
        << Change::ValueDeleted << Key << std::optional<RegValue>() << true;
    QTest::newRow("key deleted") << Change::KeyDeleted << Key << std::optional<RegValue>() << false;
    QTest::newRow("key deleted and made anew")
        << Change::KeyRecreated << Key << std::optional<RegValue>(text("3")) << true;
    QTest::newRow("another key renamed into its place")
        << Change::KeyReplacedByRename << Key << std::optional<RegValue>(text("4")) << true;
    QTest::newRow("parent renamed: old path")
        << Change::ParentRenamed << Key << std::optional<RegValue>() << false;
    QTest::newRow("parent renamed: new path")
        << Change::ParentRenamed << moved << std::optional<RegValue>(text("1")) << true;
    // New keys may take the ids the deleted ones had.
    QTest::newRow("parent deleted, other keys added")
        << Change::ParentDeletedAndOtherKeysAdded << Key << std::optional<RegValue>() << false;
}

void TstRegistryCache::otherConnectionsChange()
{
    QFETCH(Change, change);
    QFETCH(QString, readPath);
    QFETCH(OptionalValue, expected);
    QFETCH(bool, keyExists);

    m_store->setValue(Key, Name, text("1"));
    m_store->setValue(Key + QStringLiteral("\\Child"), Name, text("c"));
    // Our reads put the ids of both paths into the cache.
    QCOMPARE(m_store->value(Key, Name), std::optional<RegValue>(text("1")));
    QVERIFY(m_store->keyExists(Key));

    RegistryStore other(m_sandbox->storePath());
    switch (change) {
    case Change::ValueChanged:
        other.setValue(Key, Name, text("2"));
        break;
    case Change::ValueDeleted:
        QVERIFY(other.deleteValue(Key, Name));
        break;
    case Change::KeyDeleted:
        QVERIFY(other.deleteKey(Key));
        break;
    case Change::KeyRecreated:
        QVERIFY(other.deleteKey(Key));
        other.setValue(Key, Name, text("3"));
        break;
    case Change::KeyReplacedByRename:
        other.setValue(QStringLiteral("Software\\Elsewhere"), Name, text("4"));
        QVERIFY(other.renameKey(Key, QStringLiteral("Software\\Old")));
        QVERIFY(other.renameKey(QStringLiteral("Software\\Elsewhere"), Key));
        break;
    case Change::ParentRenamed:
        QVERIFY(other.renameKey(Parent, QStringLiteral("Software\\Moved")));
        break;
    case Change::ParentDeletedAndOtherKeysAdded:
        QVERIFY(other.deleteKey(Parent));
        for (int i = 0; i < 5; ++i)
            other.setValue(QStringLiteral("Software\\New%1").arg(i), Name, text("n"));
        break;
    }

    QCOMPARE(m_store->value(readPath, Name), expected);
    const QHash<QString, RegValue> all = m_store->values(readPath);
    QCOMPARE(all.contains(RegistryStore::foldName(Name)), bool(expected));
    if (expected)
        QCOMPARE(all.value(RegistryStore::foldName(Name)), *expected);
    QCOMPARE(m_store->keyExists(readPath), keyExists);
    QCOMPARE(m_store->valueNames(readPath).contains(Name), bool(expected));
    // Our own write after the change lands where the other connection sees it.
    m_store->setValue(readPath, QStringLiteral("Ours"), text("o"));
    QCOMPARE(other.value(readPath, QStringLiteral("Ours")), std::optional<RegValue>(text("o")));
    QCOMPARE(m_store->value(readPath, QStringLiteral("Ours")), std::optional<RegValue>(text("o")));
    // A write of what the other connection's keys hold (new keys may have
    // taken the ids ours had) is never taken for an unchanged one.
    other.setValue(QStringLiteral("Software\\New0"), Name, text("n"));
    m_store->setValue(readPath, Name, text("n"));
    QCOMPARE(other.value(readPath, Name), std::optional<RegValue>(text("n")));
    QVERIFY(m_store->checkIntegrity());
}

void TstRegistryCache::ownDeletesAndRenames()
{
    const QString child = Key + QStringLiteral("\\Child");
    m_store->setValue(Key, Name, text("1"));
    m_store->setValue(child, Name, text("c"));
    QCOMPARE(m_store->value(child, Name), std::optional<RegValue>(text("c")));

    QVERIFY(m_store->deleteKey(Key));
    QCOMPARE(m_store->value(child, Name), std::optional<RegValue>());
    QVERIFY(!m_store->keyExists(child));

    // Made anew (other ids): the new values, never the old ones.
    m_store->setValue(QStringLiteral("Software\\Filler"), Name, text("f"));
    m_store->setValue(child, Name, text("c2"));
    QCOMPARE(m_store->value(child, Name), std::optional<RegValue>(text("c2")));
    QCOMPARE(m_store->value(Key, Name), std::optional<RegValue>());

    QVERIFY(m_store->renameKey(Key, QStringLiteral("Software\\Renamed")));
    QCOMPARE(m_store->value(child, Name), std::optional<RegValue>());
    QCOMPARE(m_store->value(QStringLiteral("Software\\Renamed\\Child"), Name),
             std::optional<RegValue>(text("c2")));

    QVERIFY(m_store->copyKey(QStringLiteral("Software\\Renamed"), Key));
    QCOMPARE(m_store->value(child, Name), std::optional<RegValue>(text("c2")));
    m_store->setValue(child, Name, text("c3"));
    QCOMPARE(m_store->value(QStringLiteral("Software\\Renamed\\Child"), Name),
             std::optional<RegValue>(text("c2")));
    QCOMPARE(m_store->value(child, Name), std::optional<RegValue>(text("c3")));

    // Deleting the whole tree leaves nothing to find.
    QVERIFY(m_store->deleteKey(QString()));
    QCOMPARE(m_store->value(child, Name), std::optional<RegValue>());
    QVERIFY(m_store->checkIntegrity());
}

void TstRegistryCache::unchangedWriteWritesNothing()
{
    m_store->setValue(Key, Name, RegValue::fromDWord(0));
    m_store->setValue(Key, QStringLiteral("FailureTime"), text("8 Dec 2026 15:38:25"));
    const Watcher watcher(m_sandbox->storePath());
    const qint64 before = watcher.version();
    QVERIFY(before >= 0);
    for (int i = 0; i < 50; ++i) {
        m_store->setValue(Key, Name, RegValue::fromDWord(0));
        m_store->setValue(Key, QStringLiteral("failuretime"), text("8 Dec 2026 15:38:25"));
        m_store->createKey(Key);
    }
    QCOMPARE(watcher.version(), before);

    m_store->setValue(Key, Name, RegValue::fromDWord(1));
    QVERIFY(watcher.version() != before);
    QCOMPARE(m_store->value(Key, Name), std::optional<RegValue>(RegValue::fromDWord(1)));
    // The name keeps the case it was first written in.
    QCOMPARE(m_store->valueNames(Key), (QStringList{Name, QStringLiteral("FailureTime")}));
}

void TstRegistryCache::sameBytesOtherTypeIsWritten()
{
    const RegValue number = RegValue::fromDWord(1);
    const RegValue binary = RegValue::fromBinary(number.data);
    const RegValue string{RegType::String, number.data};
    m_store->setValue(Key, Name, number);
    for (const RegValue &value : {binary, string, number}) {
        m_store->setValue(Key, Name, value);
        QCOMPARE(m_store->value(Key, Name), std::optional<RegValue>(value));
        QCOMPARE(RegistryStore(m_sandbox->storePath()).value(Key, Name),
                 std::optional<RegValue>(value));
    }
    // An empty value differs from a missing one and from other empty types.
    m_store->setValue(Key, QStringLiteral("Empty"), RegValue::fromBinary(QByteArray()));
    m_store->setValue(Key, QStringLiteral("Empty"), RegValue::fromString(QString()));
    QCOMPARE(m_store->value(Key, QStringLiteral("Empty")),
             std::optional<RegValue>(RegValue::fromString(QString())));
}

QTEST_GUILESS_MAIN(TstRegistryCache)
#include "tst_registrycache.moc"
