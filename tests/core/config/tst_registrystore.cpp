#include "config/RegistryStore.h"
#include "TestSandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <memory>

#include <sqlite3.h>
#include <sys/stat.h>

Q_DECLARE_METATYPE(RegValue)

// Readable failure messages for QCOMPARE.
char *toString(const RegValue &value)
{
    return QTest::toString(QStringLiteral("type %1: %2")
                               .arg(int(value.type))
                               .arg(QString::fromLatin1(value.data.toHex())));
}

char *toString(const std::optional<RegValue> &value)
{
    return value ? toString(*value) : qstrdup("(missing)");
}

// The executable doubles as the child process of the multi-process tests:
// with QM_STORE_CHILD set it does that job and exits instead of testing.
static const char kChildMode[] = "QM_STORE_CHILD";
static const char kChildFile[] = "QM_STORE_FILE";
static const char kChildArg[] = "QM_STORE_ARG";

static const QString kShared = QStringLiteral("Software\\Shared");
static const QString kChurn = QStringLiteral("Software\\Churn");
static constexpr int kChurnValues = 200;

// One line per key and value, depth-first, subkeys in enumeration order:
// enough to compare whole trees.
static QString dump(const RegistryStore &store, const QString &path, int depth = 0)
{
    QString out;
    const QString indent(depth * 2, QLatin1Char(' '));
    for (const QString &name : store.valueNames(path)) {
        const RegValue value = *store.value(path, name);
        out += indent + QStringLiteral("%1 = %2:%3\n")
                            .arg(name)
                            .arg(int(value.type))
                            .arg(QString::fromLatin1(value.data.toHex()));
    }
    for (const QString &name : store.subkeyNames(path)) {
        out += indent + QStringLiteral("[%1]\n").arg(name);
        out += dump(store, path + QLatin1Char('\\') + name, depth + 1);
    }
    return out;
}

static QString churnPayload(int generation)
{
    return QStringLiteral("gen-%1:").arg(generation) +
           QString(2000, QLatin1Char(char('a' + generation % 26)));
}

// Children ------------------------------------------------------------------

// Writes COUNT distinct values (and a few subkeys), starting together with
// the other writers: each announces itself in the barrier folder and waits
// for all of them.
static int childWrite(RegistryStore &store, const QStringList &args)
{
    const QString prefix = args.value(0);
    const int count = args.value(1).toInt();
    const int peers = args.value(2).toInt();
    const QDir barrier(args.value(3));
    QFile ready(barrier.filePath(QStringLiteral("ready-") + prefix));
    if (!ready.open(QIODevice::WriteOnly))
        return 3;
    ready.close();
    QElapsedTimer waited;
    waited.start();
    while (barrier.entryList({QStringLiteral("ready-*")}, QDir::Files).size() < peers) {
        if (waited.hasExpired(30000))
            return 4;
        QThread::msleep(2);
    }
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("%1%2").arg(prefix).arg(i, 4, 10, QLatin1Char('0'));
        store.setValue(kShared, name, RegValue::fromString(name + QStringLiteral("-data")));
        if (i % 100 == 0)
            store.createKey(kShared + QLatin1Char('\\') + name);
    }
    return 0;
}

// Rewrites every value and swaps a subtree between two names, round after
// round, until it is killed.
static int childChurn(RegistryStore &store)
{
    for (int generation = 1;; ++generation) {
        for (int i = 0; i < kChurnValues; ++i)
            store.setValue(kChurn, QStringLiteral("v%1").arg(i),
                           RegValue::fromString(churnPayload(generation)));
        const bool odd = generation % 2;
        store.renameKey(kChurn + (odd ? QStringLiteral("\\A") : QStringLiteral("\\B")),
                        kChurn + (odd ? QStringLiteral("\\B") : QStringLiteral("\\A")));
        if (generation == 2) {
            fputs("running\n", stdout);
            fflush(stdout);
        }
    }
}

static int runChild(const QByteArray &mode)
{
    const QStringList args = qEnvironmentVariable(kChildArg).split(QLatin1Char(':'));
    try {
        RegistryStore store(qEnvironmentVariable(kChildFile));
        if (mode == "write")
            return childWrite(store, args);
        if (mode == "churn")
            return childChurn(store);
        if (mode == "dump") {
            fputs(dump(store, args.value(0)).toUtf8().constData(), stdout);
            return 0;
        }
    } catch (const RegistryError &error) {
        fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    return 1;
}

// Raw database access for building files that are not ours -----------------

static void rawExec(const QString &file, const QStringList &statements)
{
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(file).constData(), &db), SQLITE_OK);
    for (const QString &sql : statements)
        QVERIFY2(sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK,
                 sqlite3_errmsg(db));
    sqlite3_close(db);
}

static QByteArray readAll(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

static void writeAll(const QString &file, const QByteArray &bytes)
{
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// ---------------------------------------------------------------------------

class TstRegistryStore : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void valueNameCase_data();
    void valueNameCase();
    void keyNameCase();
    void subkeyOrder_data();
    void subkeyOrder();
    void valueOrder();
    void types_data();
    void types();
    void defaultValue();
    void pathForms_data();
    void pathForms();
    void createWithParents();
    void deleteTree();
    void deleteTop();
    void copyAndRename_data();
    void copyAndRename();
    void copyRefused_data();
    void copyRefused();
    void defaultPath_data();
    void defaultPath();
    void currentStore();
    void newFolderAndEmptyFile();
    void newStoreAppearsWhole();
    void invalidFileLeftUnchanged_data();
    void invalidFileLeftUnchanged();
    void foreignWalDatabaseLeftUnchanged();
    void lockedWriteFailsAndRecovers();
    void persistsAcrossProcesses();
    void concurrentWriters_data();
    void concurrentWriters();
    void killedWriter_data();
    void killedWriter();

private:
    QProcess *startChild(const QByteArray &mode, const QString &arg);
    void buildSource(RegistryStore &store);

    std::unique_ptr<TestSandbox> m_sandbox;
    std::unique_ptr<RegistryStore> m_store;
    QList<QProcess *> m_children;
};

void TstRegistryStore::init()
{
    m_sandbox = std::make_unique<TestSandbox>();
    m_store = std::make_unique<RegistryStore>(m_sandbox->storePath());
}

void TstRegistryStore::cleanup()
{
    for (QProcess *child : std::as_const(m_children)) {
        child->kill();
        child->waitForFinished();
        delete child;
    }
    m_children.clear();
    m_store.reset();
    m_sandbox.reset();
}

QProcess *TstRegistryStore::startChild(const QByteArray &mode, const QString &arg)
{
    auto *child = new QProcess;
    m_children << child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildMode), QString::fromLatin1(mode));
    env.insert(QString::fromLatin1(kChildFile), m_sandbox->storePath());
    env.insert(QString::fromLatin1(kChildArg), arg);
    child->setProcessEnvironment(env);
    child->setProcessChannelMode(QProcess::SeparateChannels);
    child->start(QCoreApplication::applicationFilePath(), {});
    return child;
}

void TstRegistryStore::valueNameCase_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("lookup");
    QTest::newRow("upper") << "LastService"
                           << "LASTSERVICE"
                           << "lastservice";
    QTest::newRow("lower") << "SmtpPort"
                           << "smtpport"
                           << "SMTPPORT";
    QTest::newRow("same") << "Top"
                          << "Top"
                          << "tOP";
    QTest::newRow("non-ascii") << QStringLiteral("Größe") << QStringLiteral("GRÖSSE")
                               << QStringLiteral("größe");
    QTest::newRow("default value") << ""
                                   << ""
                                   << "";
    // A name may begin with a byte order mark (text pasted from an editor);
    // it must come back with it, or the listed name would name nothing.
    QTest::newRow("byte order mark")
        << QStringLiteral("\uFEFFPattern") << QStringLiteral("\uFEFFPATTERN")
        << QStringLiteral("\uFEFFpattern");
}

void TstRegistryStore::valueNameCase()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, lookup);
    const QString key = QStringLiteral("Software\\Kestrin Software\\Quellmark");
    m_store->setValue(key, first, RegValue::fromString(QStringLiteral("one")));
    m_store->setValue(key, second, RegValue::fromString(QStringLiteral("two")));
    QCOMPARE(m_store->valueNames(key), QStringList{first});
    QCOMPARE(m_store->value(key, lookup), RegValue::fromString(QStringLiteral("two")));
    QVERIFY(m_store->deleteValue(key, lookup));
    QVERIFY(m_store->valueNames(key).isEmpty());
}

void TstRegistryStore::keyNameCase()
{
    m_store->createKey(QStringLiteral("Software\\Kestrin Software"));
    m_store->createKey(QStringLiteral("SOFTWARE\\kestrin software\\Quellmark"));
    QCOMPARE(m_store->subkeyNames(QString()), QStringList{QStringLiteral("Software")});
    QCOMPARE(m_store->subkeyNames(QStringLiteral("software")),
             QStringList{QStringLiteral("Kestrin Software")});
    QVERIFY(m_store->keyExists(QStringLiteral("software\\KESTRIN SOFTWARE\\quellmark")));
    QVERIFY(!m_store->keyExists(QStringLiteral("software\\KESTRIN SOFTWARE\\quellmarktest")));
}

void TstRegistryStore::subkeyOrder_data()
{
    QTest::addColumn<QStringList>("created");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("underscore after letters")
        << QStringList{"b", "A", "_x", "a1"} << QStringList{"A", "a1", "b", "_x"};
    QTest::newRow("mixed case") << QStringList{"Zeta", "alpha", "Beta"}
                                << QStringList{"alpha", "Beta", "Zeta"};
    QTest::newRow("services") << QStringList{"HTTP web 80", "smtp mail 25", "FTP files 21",
                                             "pop3 box 110"}
                              << QStringList{"FTP files 21", "HTTP web 80", "pop3 box 110",
                                             "smtp mail 25"};
    QTest::newRow("digits as text")
        << QStringList{"9", "10", "1", "~"} << QStringList{"1", "10", "9", "~"};
    QTest::newRow("accented after ascii")
        << QStringList{QStringLiteral("é"), "z", "E"} << QStringList{"E", "z", QStringLiteral("é")};
}

void TstRegistryStore::subkeyOrder()
{
    QFETCH(QStringList, created);
    QFETCH(QStringList, expected);
    for (const QString &name : created)
        m_store->createKey(QStringLiteral("Services\\") + name);
    QCOMPARE(m_store->subkeyNames(QStringLiteral("services")), expected);
}

void TstRegistryStore::valueOrder()
{
    const QString key = QStringLiteral("K");
    for (const char *name : {"Zulu", "alpha", "Mike", "bravo"})
        m_store->setValue(key, QString::fromLatin1(name), RegValue::fromDWord(1));
    const QStringList created{"Zulu", "alpha", "Mike", "bravo"};
    QCOMPARE(m_store->valueNames(key), created);

    // Overwriting, in another case and with another type, keeps the place.
    m_store->setValue(key, QStringLiteral("ALPHA"), RegValue::fromString(QStringLiteral("x")));
    m_store->setValue(key, QStringLiteral("zulu"), RegValue::fromBinary("\x01"));
    QCOMPARE(m_store->valueNames(key), created);
    QCOMPARE(m_store->value(key, QStringLiteral("alpha")),
             RegValue::fromString(QStringLiteral("x")));

    // Deleted and written again, it is a new value and goes last.
    QVERIFY(m_store->deleteValue(key, QStringLiteral("Zulu")));
    QVERIFY(!m_store->deleteValue(key, QStringLiteral("Zulu")));
    QVERIFY(!m_store->deleteValue(QStringLiteral("Missing"), QStringLiteral("Zulu")));
    m_store->setValue(key, QStringLiteral("zulu"), RegValue::fromDWord(2));
    QCOMPARE(m_store->valueNames(key), (QStringList{"alpha", "Mike", "bravo", "zulu"}));
}

void TstRegistryStore::types_data()
{
    QTest::addColumn<RegValue>("value");
    QTest::addColumn<int>("type");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("string") << RegValue::fromString(QStringLiteral("abc")) << 1 << qint64(4)
                            << QByteArray("abc");
    QTest::newRow("empty string") << RegValue::fromString(QString()) << 1 << qint64(1)
                                  << QByteArray();
    QTest::newRow("utf-8 string") << RegValue::fromString(QStringLiteral("é")) << 1 << qint64(3)
                                  << QByteArray("\xc3\xa9");
    QTest::newRow("string with byte order mark")
        << RegValue::fromString(QStringLiteral("\uFEFFabc")) << 1 << qint64(7)
        << QByteArray("\xef\xbb\xbf"
                      "abc");
    QTest::newRow("expand string")
        << RegValue{RegType::ExpandString, "%HOME%"} << 2 << qint64(7) << QByteArray("%HOME%");
    QTest::newRow("dword -2") << RegValue::fromDWord(-2) << 4 << qint64(4)
                              << QByteArray("\xfe\xff\xff\xff", 4);
    QTest::newRow("dword 258") << RegValue::fromDWord(258) << 4 << qint64(4)
                               << QByteArray("\x02\x01\x00\x00", 4);
    QTest::newRow("empty binary") << RegValue::fromBinary({}) << 3 << qint64(0) << QByteArray();
    QTest::newRow("binary with nul") << RegValue::fromBinary(QByteArray("\x00\x01\xff", 3)) << 3
                                     << qint64(3) << QByteArray("\x00\x01\xff", 3);
}

void TstRegistryStore::types()
{
    QFETCH(RegValue, value);
    QFETCH(int, type);
    QFETCH(qint64, size);
    QFETCH(QByteArray, data);
    QCOMPARE(int(value.type), type);
    QCOMPARE(value.data, data);
    QCOMPARE(value.size(), size);

    m_store->setValue(QStringLiteral("T"), QStringLiteral("v"), value);
    RegistryStore other(m_sandbox->storePath());
    const std::optional<RegValue> back = other.value(QStringLiteral("T"), QStringLiteral("v"));
    QVERIFY(back);
    QCOMPARE(*back, value);
    QCOMPARE(back->size(), size);
    if (value.type == RegType::DWord)
        QCOMPARE(RegValue::fromDWord(back->toDWord()), value);
    if (value.isString())
        QCOMPARE((RegValue{value.type, back->toString().toUtf8()}), value);
}

void TstRegistryStore::defaultValue()
{
    const QString key = QStringLiteral("Software\\Classes\\qm");
    m_store->setValue(key, QStringLiteral("Named"), RegValue::fromString(QStringLiteral("n")));
    QVERIFY(!m_store->value(key, QString()));
    m_store->setValue(key, QString(), RegValue::fromString(QStringLiteral("default")));
    QCOMPARE(m_store->valueNames(key), (QStringList{"Named", ""}));
    QCOMPARE(m_store->value(key, QString()), RegValue::fromString(QStringLiteral("default")));
    QCOMPARE(m_store->value(key, QStringLiteral("Named")),
             RegValue::fromString(QStringLiteral("n")));
    QVERIFY(m_store->deleteValue(key, QString()));
    QCOMPARE(m_store->valueNames(key), QStringList{"Named"});
}

void TstRegistryStore::pathForms_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("plain") << "Software\\Quellmark";
    QTest::newRow("leading backslash") << "\\Software\\Quellmark";
    QTest::newRow("doubled backslash") << "Software\\\\Quellmark";
    QTest::newRow("trailing backslash") << "Software\\Quellmark\\";
    QTest::newRow("other case") << "SOFTWARE\\quellmark";
}

void TstRegistryStore::pathForms()
{
    QFETCH(QString, path);
    m_store->setValue(QStringLiteral("Software\\Quellmark"), QStringLiteral("v"),
                      RegValue::fromDWord(7));
    m_store->setValue(path, QStringLiteral("w"), RegValue::fromDWord(8));
    QCOMPARE(m_store->valueNames(path), (QStringList{"v", "w"}));
    QCOMPARE(m_store->subkeyNames(QString()), QStringList{"Software"});
    QCOMPARE(m_store->subkeyNames(QStringLiteral("\\")), QStringList{"Software"});
    QCOMPARE(m_store->subkeyNames(QStringLiteral("Software")), QStringList{"Quellmark"});
}

void TstRegistryStore::createWithParents()
{
    QVERIFY(!m_store->keyExists(QStringLiteral("A")));
    m_store->setValue(QStringLiteral("A\\B\\C"), QStringLiteral("n"), RegValue::fromDWord(1));
    QVERIFY(m_store->keyExists(QStringLiteral("A")));
    QVERIFY(m_store->keyExists(QStringLiteral("A\\B")));
    m_store->createKey(QStringLiteral("A\\B\\C\\D\\E"));
    QVERIFY(m_store->keyExists(QStringLiteral("a\\b\\c\\d\\e")));
    // Creating an existing key leaves its contents alone.
    m_store->createKey(QStringLiteral("A\\B\\C"));
    QCOMPARE(m_store->valueNames(QStringLiteral("A\\B\\C")), QStringList{"n"});
    QCOMPARE(m_store->subkeyNames(QStringLiteral("A\\B\\C")), QStringList{"D"});
    // The top always exists.
    QVERIFY(m_store->keyExists(QString()));
}

void TstRegistryStore::deleteTree()
{
    buildSource(*m_store);
    m_store->setValue(QStringLiteral("Root\\Sibling"), QStringLiteral("keep"),
                      RegValue::fromDWord(3));
    const QString sibling = dump(*m_store, QStringLiteral("Root\\Sibling"));

    QVERIFY(!m_store->deleteKey(QStringLiteral("Root\\Missing")));
    QVERIFY(m_store->deleteKey(QStringLiteral("root\\SOURCE")));
    QVERIFY(!m_store->keyExists(QStringLiteral("Root\\Source")));
    QVERIFY(!m_store->keyExists(QStringLiteral("Root\\Source\\Sub1\\Deep")));
    QCOMPARE(m_store->subkeyNames(QStringLiteral("Root")), (QStringList{"Other", "Sibling"}));
    QCOMPARE(dump(*m_store, QStringLiteral("Root\\Sibling")), sibling);

    // Nothing of the old tree comes back with a key of the same name.
    m_store->createKey(QStringLiteral("Root\\Source\\Sub1"));
    QVERIFY(m_store->valueNames(QStringLiteral("Root\\Source")).isEmpty());
    QVERIFY(m_store->valueNames(QStringLiteral("Root\\Source\\Sub1")).isEmpty());
    QVERIFY(m_store->subkeyNames(QStringLiteral("Root\\Source\\Sub1")).isEmpty());
    QVERIFY(m_store->checkIntegrity());
}

void TstRegistryStore::deleteTop()
{
    buildSource(*m_store);
    m_store->setValue(QString(), QStringLiteral("atTop"), RegValue::fromDWord(1));
    QVERIFY(m_store->deleteKey(QStringLiteral("\\")));
    QVERIFY(m_store->keyExists(QString()));
    QVERIFY(m_store->subkeyNames(QString()).isEmpty());
    QVERIFY(m_store->valueNames(QString()).isEmpty());
    m_store->setValue(QStringLiteral("Again"), QStringLiteral("v"), RegValue::fromDWord(1));
    QCOMPARE(m_store->subkeyNames(QString()), QStringList{"Again"});
}

// Root\Source: three values in a non-alphabetical creation order, two
// subkeys, one of them with a subkey of its own.
void TstRegistryStore::buildSource(RegistryStore &store)
{
    const QString source = QStringLiteral("Root\\Source");
    store.setValue(source, QStringLiteral("Pattern"), RegValue::fromString(QStringLiteral("ok")));
    store.setValue(source, QStringLiteral("ActualFailures"), RegValue::fromDWord(3));
    store.setValue(source, QStringLiteral("Blob"), RegValue::fromBinary(QByteArray("\0\1", 2)));
    store.setValue(source, QString(), RegValue::fromString(QStringLiteral("default")));
    store.setValue(source + QStringLiteral("\\Sub1"), QStringLiteral("x"), RegValue::fromDWord(1));
    store.setValue(source + QStringLiteral("\\Sub1\\Deep"), QStringLiteral("y"),
                   RegValue::fromString(QStringLiteral("deep")));
    store.createKey(source + QStringLiteral("\\sub0"));
    store.createKey(QStringLiteral("Root\\Other"));
}

void TstRegistryStore::copyAndRename_data()
{
    QTest::addColumn<bool>("rename");
    QTest::addColumn<QString>("target");
    QTest::newRow("copy to sibling") << false << "Root\\Copy";
    QTest::newRow("copy to new parents") << false << "Elsewhere\\Far\\Copy";
    QTest::newRow("copy beside inside other") << false << "root\\other\\Copy";
    QTest::newRow("copy to prefix-like name") << false << "Root\\SourceX";
    QTest::newRow("rename to sibling") << true << "Root\\Renamed";
    QTest::newRow("rename to new parents") << true << "Elsewhere\\Renamed";
    QTest::newRow("rename upwards") << true << "Source";
}

void TstRegistryStore::copyAndRename()
{
    QFETCH(bool, rename);
    QFETCH(QString, target);
    const QString source = QStringLiteral("Root\\Source");
    buildSource(*m_store);
    const QString tree = dump(*m_store, source);
    QVERIFY(tree.contains(QLatin1String("[Deep]")));

    QVERIFY(rename ? m_store->renameKey(source, target) : m_store->copyKey(source, target));
    QCOMPARE(dump(*m_store, target), tree);
    QCOMPARE(m_store->valueNames(target), (QStringList{"Pattern", "ActualFailures", "Blob", ""}));
    // The new key takes its name as given.
    const QStringList parts = target.split(QLatin1Char('\\'));
    QVERIFY(m_store->subkeyNames(parts.mid(0, parts.size() - 1).join(QLatin1Char('\\')))
                .contains(parts.last()));
    QCOMPARE(m_store->keyExists(source), !rename);
    if (!rename)
        QCOMPARE(dump(*m_store, source), tree);

    // The copy is independent of whatever remains of the source.
    m_store->setValue(target + QStringLiteral("\\Sub1"), QStringLiteral("x"),
                      RegValue::fromDWord(9));
    if (!rename)
        QCOMPARE(dump(*m_store, source), tree);
    QVERIFY(m_store->checkIntegrity());
}

void TstRegistryStore::copyRefused_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::newRow("missing source") << "Root\\Nope"
                                    << "Root\\New";
    QTest::newRow("target exists") << "Root\\Source"
                                   << "Root\\Other";
    QTest::newRow("target exists in other case") << "Root\\Source"
                                                 << "ROOT\\OTHER";
    QTest::newRow("change of case only") << "Root\\Source"
                                         << "Root\\SOURCE";
    QTest::newRow("same key") << "Root\\Source"
                              << "Root\\Source";
    QTest::newRow("target inside source") << "Root\\Source"
                                          << "Root\\Source\\Sub1\\New";
    QTest::newRow("target inside source, other case") << "Root\\Source"
                                                      << "root\\source\\New";
    QTest::newRow("top as source") << ""
                                   << "Root\\New";
    QTest::newRow("top as target") << "Root\\Source"
                                   << "\\";
}

void TstRegistryStore::copyRefused()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    buildSource(*m_store);
    const QString before = dump(*m_store, QString());
    QVERIFY(!m_store->copyKey(from, to));
    QCOMPARE(dump(*m_store, QString()), before);
    QVERIFY(!m_store->renameKey(from, to));
    QCOMPARE(dump(*m_store, QString()), before);
}

void TstRegistryStore::defaultPath_data()
{
    QTest::addColumn<bool>("set");
    QTest::addColumn<QString>("configHome");
    QTest::addColumn<QString>("expected");
    const QString fallback =
        QDir::homePath() + QStringLiteral("/.config/quellmark/registry.sqlite");
    QTest::newRow("absolute") << true << "/srv/cfg"
                              << "/srv/cfg/quellmark/registry.sqlite";
    QTest::newRow("relative is ignored") << true << "cfg/here" << fallback;
    QTest::newRow("empty") << true << "" << fallback;
    QTest::newRow("unset") << false << "" << fallback;
}

void TstRegistryStore::defaultPath()
{
    QFETCH(bool, set);
    QFETCH(QString, configHome);
    QFETCH(QString, expected);
    // The sandbox puts XDG_CONFIG_HOME back when the test case ends.
    if (set)
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
    else
        qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(RegistryStore::defaultPath(), expected);
}

void TstRegistryStore::currentStore()
{
    RegistryStore::setCurrent(nullptr);
    QVERIFY_THROWS_EXCEPTION(RegistryError, RegistryStore::currentOrThrow());
    {
        RegistryStore store(m_sandbox->storePath());
        RegistryStore::setCurrent(&store);
        QCOMPARE(RegistryStore::current(), &store);
        QCOMPARE(&RegistryStore::currentOrThrow(), &store);
    }
    // A destroyed store is no longer current.
    QCOMPARE(RegistryStore::current(), nullptr);
}

void TstRegistryStore::newFolderAndEmptyFile()
{
    const QString nested = m_sandbox->root() + QStringLiteral("/a/b/c/registry.sqlite");
    {
        RegistryStore store(nested);
        store.setValue(QStringLiteral("K"), QStringLiteral("v"), RegValue::fromDWord(1));
    }
    QVERIFY(QFile::exists(nested));

    const QString empty = m_sandbox->root() + QStringLiteral("/empty.sqlite");
    writeAll(empty, QByteArray());
    {
        RegistryStore store(empty);
        store.setValue(QStringLiteral("K"), QStringLiteral("v"), RegValue::fromDWord(2));
    }
    RegistryStore reopened(empty);
    QCOMPARE(reopened.value(QStringLiteral("k"), QStringLiteral("V")), RegValue::fromDWord(2));
}

// A new store is set up aside and appears whole under its name, readable by
// its owner alone whatever the umask; a leftover of a start killed while setting
// one up stands in nobody's way.
void TstRegistryStore::newStoreAppearsWhole()
{
    const QString folder = m_sandbox->root() + QStringLiteral("/fresh");
    const QString path = folder + QStringLiteral("/registry.sqlite");
    QVERIFY(QDir().mkpath(folder));
    writeAll(path + QStringLiteral(".new-left"), "half a store");
    const mode_t old = ::umask(027);
    {
        RegistryStore store(path);
        ::umask(old);
        store.setValue(QStringLiteral("K"), QStringLiteral("v"), RegValue::fromDWord(1));
        QVERIFY(QFile::exists(path));
    }
    QCOMPARE(int(QFile::permissions(path) & 0x7777),
             int(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                 QFileDevice::WriteUser));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             QStringList(
                 {QStringLiteral("registry.sqlite"), QStringLiteral("registry.sqlite.new-left")}));
    RegistryStore reopened(path);
    QCOMPARE(reopened.value(QStringLiteral("K"), QStringLiteral("v")), RegValue::fromDWord(1));
}

void TstRegistryStore::invalidFileLeftUnchanged_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    const QString notOurs = QStringLiteral("is not a Quellmark settings store");
    QTest::newRow("random bytes") << "random" << notOurs;
    QTest::newRow("text") << "text" << notOurs;
    QTest::newRow("sqlite header, garbage after") << "torn" << notOurs;
    QTest::newRow("foreign database") << "foreign" << notOurs;
    QTest::newRow("database without tables") << "bare" << notOurs;
    QTest::newRow("our id, no marker table") << "noMeta" << notOurs;
    QTest::newRow("newer schema") << "newer"
                                  << "was written by a newer version";
}

void TstRegistryStore::invalidFileLeftUnchanged()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QString file = m_sandbox->root() + QStringLiteral("/other.sqlite");
    if (kind == QLatin1String("random")) {
        QByteArray bytes(8192, Qt::Uninitialized);
        QRandomGenerator rng(42);
        rng.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        writeAll(file, bytes);
    } else if (kind == QLatin1String("text")) {
        writeAll(file, "[General]\nTop=100\n");
    } else if (kind == QLatin1String("torn")) {
        writeAll(file, QByteArray("SQLite format 3\0", 16) + QByteArray(300, '\x5a'));
    } else if (kind == QLatin1String("foreign")) {
        rawExec(file, {"CREATE TABLE keys (id INTEGER PRIMARY KEY, name TEXT)",
                       "INSERT INTO keys (name) VALUES ('precious')"});
    } else if (kind == QLatin1String("bare")) {
        rawExec(file, {"PRAGMA user_version = 1"});
    } else if (kind == QLatin1String("noMeta")) {
        rawExec(file, {"PRAGMA application_id = 1364021831", "CREATE TABLE t (x)"});
    } else if (kind == QLatin1String("newer")) {
        {
            RegistryStore store(file);
            store.setValue(QStringLiteral("K"), QStringLiteral("v"), RegValue::fromDWord(1));
        }
        rawExec(file, {"UPDATE meta SET value = value + 1 WHERE name = 'schema'"});
    }
    const QByteArray before = readAll(file);
    QVERIFY(!before.isEmpty());

    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            RegistryStore store(file);
            QFAIL("the file was accepted");
        } catch (const RegistryError &error) {
            QVERIFY2(error.message().contains(file), qPrintable(error.message()));
            QVERIFY2(error.message().contains(message), qPrintable(error.message()));
            QVERIFY2(error.message().contains(QLatin1String("left unchanged")),
                     qPrintable(error.message()));
        }
        QCOMPARE(readAll(file), before);
    }
}

// A foreign database in WAL mode whose latest data is still in its WAL and
// which nobody has open: the checkpoint a closing writer would do must not
// happen either.
void TstRegistryStore::foreignWalDatabaseLeftUnchanged()
{
    const QString file = m_sandbox->root() + QStringLiteral("/wal.sqlite");
    sqlite3 *db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(file).constData(), &db), SQLITE_OK);
    QCOMPARE(sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr), SQLITE_OK);
    for (const char *sql :
         {"PRAGMA journal_mode = WAL", "CREATE TABLE t (x)", "INSERT INTO t VALUES ('in the wal')"})
        QCOMPARE(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const QByteArray main = readAll(file);
    const QByteArray wal = readAll(file + QStringLiteral("-wal"));
    QVERIFY(!wal.isEmpty());

    QVERIFY_THROWS_EXCEPTION(RegistryError, RegistryStore store(file));
    QCOMPARE(readAll(file), main);
    QCOMPARE(readAll(file + QStringLiteral("-wal")), wal);
}

void TstRegistryStore::lockedWriteFailsAndRecovers()
{
    m_store->setValue(QStringLiteral("K"), QStringLiteral("before"), RegValue::fromDWord(1));
    sqlite3 *other = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(m_sandbox->storePath()).constData(), &other),
             SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    m_store->setBusyTimeout(100);
    QVERIFY_THROWS_EXCEPTION(
        RegistryError,
        m_store->setValue(QStringLiteral("K"), QStringLiteral("during"), RegValue::fromDWord(2)));
    QVERIFY_THROWS_EXCEPTION(RegistryError, m_store->createKey(QStringLiteral("K\\New")));
    QVERIFY_THROWS_EXCEPTION(RegistryError,
                             m_store->copyKey(QStringLiteral("K"), QStringLiteral("K2")));
    // Readers are not held up by a writer.
    QCOMPARE(m_store->valueNames(QStringLiteral("K")), QStringList{"before"});

    QCOMPARE(sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    m_store->setValue(QStringLiteral("K"), QStringLiteral("after"), RegValue::fromDWord(3));
    QCOMPARE(m_store->valueNames(QStringLiteral("K")), (QStringList{"before", "after"}));
    QVERIFY(!m_store->keyExists(QStringLiteral("K\\New")));
    QVERIFY(!m_store->keyExists(QStringLiteral("K2")));
}

void TstRegistryStore::persistsAcrossProcesses()
{
    // Written here and read by another process while this one keeps the
    // store open: nothing may be held back in this process.
    buildSource(*m_store);
    QProcess *child = startChild("dump", QStringLiteral("Root"));
    QVERIFY(child->waitForFinished(60000));
    QCOMPARE(child->readAllStandardError(), QByteArray());
    QCOMPARE(child->exitCode(), 0);
    QCOMPARE(QString::fromUtf8(child->readAllStandardOutput()),
             dump(*m_store, QStringLiteral("Root")));

    // Written by another process, seen here without reopening.
    QDir().mkpath(m_sandbox->root() + QStringLiteral("/barrier"));
    child = startChild("write",
                       QStringLiteral("p:5:1:") + m_sandbox->root() + QStringLiteral("/barrier"));
    QVERIFY(child->waitForFinished(60000));
    QCOMPARE(child->exitCode(), 0);
    QCOMPARE(m_store->value(kShared, QStringLiteral("p0004")),
             RegValue::fromString(QStringLiteral("p0004-data")));
}

void TstRegistryStore::concurrentWriters_data()
{
    QTest::addColumn<bool>("freshFile");
    QTest::newRow("both create the file") << true;
    QTest::newRow("existing store") << false;
}

void TstRegistryStore::concurrentWriters()
{
    QFETCH(bool, freshFile);
    constexpr int kPerChild = 500;
    if (freshFile) {
        m_store.reset();
        QVERIFY(QFile::remove(m_sandbox->storePath()));
    }
    const QString barrier = m_sandbox->root() + QStringLiteral("/barrier");
    QVERIFY(QDir().mkpath(barrier));
    QProcess *a = startChild("write", QStringLiteral("a:%1:2:%2").arg(kPerChild).arg(barrier));
    QProcess *b = startChild("write", QStringLiteral("b:%1:2:%2").arg(kPerChild).arg(barrier));
    for (QProcess *child : {a, b}) {
        QVERIFY(child->waitForFinished(120000));
        QCOMPARE(child->readAllStandardError(), QByteArray());
        QCOMPARE(child->exitStatus(), QProcess::NormalExit);
        QCOMPARE(child->exitCode(), 0);
    }

    RegistryStore store(m_sandbox->storePath());
    const QStringList names = store.valueNames(kShared);
    QCOMPARE(names.size(), 2 * kPerChild);
    for (const char *prefix : {"a", "b"}) {
        for (int i = 0; i < kPerChild; ++i) {
            const QString name =
                QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(i, 4, 10, QLatin1Char('0'));
            QCOMPARE(store.value(kShared, name),
                     RegValue::fromString(name + QStringLiteral("-data")));
        }
    }
    QCOMPARE(store.subkeyNames(kShared).size(), 2 * (kPerChild / 100));
    QVERIFY(store.checkIntegrity());
}

void TstRegistryStore::killedWriter_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::newRow("at once") << 0;
    QTest::newRow("soon") << 37;
    QTest::newRow("later") << 230;
}

void TstRegistryStore::killedWriter()
{
    QFETCH(int, delayMs);
    for (int i = 0; i < kChurnValues; ++i)
        m_store->setValue(kChurn, QStringLiteral("v%1").arg(i),
                          RegValue::fromString(churnPayload(0)));
    const QString subtree = kChurn + QStringLiteral("\\A");
    m_store->setValue(subtree, QStringLiteral("x"), RegValue::fromDWord(1));
    m_store->setValue(subtree, QStringLiteral("y"), RegValue::fromString(QStringLiteral("y")));
    m_store->setValue(subtree + QStringLiteral("\\Inner"), QStringLiteral("z"),
                      RegValue::fromBinary("zz"));
    const QString tree = dump(*m_store, subtree);
    // The child is to be the only one with the file open when it dies.
    m_store.reset();

    QProcess *child = startChild("churn", QString());
    QVERIFY(child->waitForReadyRead(60000));
    QCOMPARE(child->readLine(), QByteArray("running\n"));
    QThread::msleep(delayMs);
    child->kill();
    QVERIFY(child->waitForFinished(10000));
    QCOMPARE(child->exitStatus(), QProcess::CrashExit);

    RegistryStore store(m_sandbox->storePath());
    QString report;
    QVERIFY2(store.checkIntegrity(&report), qPrintable(report));
    static const QRegularExpression payload(QStringLiteral("^gen-(\\d+):([a-z]{2000})$"));
    QList<int> generations;
    for (int i = 0; i < kChurnValues; ++i) {
        const std::optional<RegValue> value = store.value(kChurn, QStringLiteral("v%1").arg(i));
        QVERIFY(value && value->type == RegType::String);
        const QRegularExpressionMatch match = payload.match(value->toString());
        QVERIFY2(match.hasMatch(), qPrintable(value->toString().left(40)));
        const int generation = match.captured(1).toInt();
        QCOMPARE(value->toString(), churnPayload(generation));
        generations << generation;
    }
    // Values are rewritten in order, so the newer generation is a prefix.
    QVERIFY(generations.first() >= 2);
    for (int i = 1; i < generations.size(); ++i)
        QVERIFY(generations[i] == generations[i - 1] || generations[i] == generations[i - 1] - 1);
    QVERIFY(generations.first() - generations.last() <= 1);

    // The subtree moved whole: under exactly one of its two names.
    const QStringList where = store.subkeyNames(kChurn);
    QCOMPARE(where.size(), 1);
    QCOMPARE(dump(store, kChurn + QLatin1Char('\\') + where.first()), tree);

    store.setValue(kChurn, QStringLiteral("after"), RegValue::fromDWord(1));
    QCOMPARE(store.value(kChurn, QStringLiteral("after")), RegValue::fromDWord(1));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray mode = qgetenv(kChildMode);
    if (!mode.isEmpty())
        return runChild(mode);
    TstRegistryStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_registrystore.moc"
