#include "config/Registry.h"
#include "config/RegistryStore.h"
#include "StoreFixture.h"

#include <QFile>
#include <QTest>

#include <functional>
#include <limits>
#include <memory>

#include <sqlite3.h>

Q_DECLARE_METATYPE(RegValue)

static const QString kRoot = QStringLiteral("Software\\Kestrin Software\\Quellmark");
static const QString kService = kRoot + QStringLiteral("\\Services\\HTTP webhost 80");

class TstRegistryAccessors : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void missingGivesDefault_data();
    void missingGivesDefault();
    void roundTrip();
    void nonZeroIsTrue_data();
    void nonZeroIsTrue();
    void wrongType_data();
    void wrongType();
    void expandStringReadsAsText();
    void namesWithoutCase();
    void refusedWrite();
    void noStore();

private:
    std::unique_ptr<StoreFixture> m_fixture;
};

void TstRegistryAccessors::init()
{
    m_fixture = std::make_unique<StoreFixture>();
}

void TstRegistryAccessors::cleanup()
{
    m_fixture.reset();
}

void TstRegistryAccessors::missingGivesDefault_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("keyPresent");
    QTest::newRow("no root") << kRoot << false;
    QTest::newRow("no service key") << kService << false;
    QTest::newRow("key without the value") << kService << true;
}

// Every reader returns its default, and reading leaves no trace.
void TstRegistryAccessors::missingGivesDefault()
{
    QFETCH(QString, key);
    QFETCH(bool, keyPresent);
    if (keyPresent)
        RegWriteString(key, QStringLiteral("Other"), QStringLiteral("x"));
    const QString before = m_fixture->store().subkeyNames(QString()).join(QLatin1Char('|')) +
                           m_fixture->store().valueNames(key).join(QLatin1Char('|'));

    QCOMPARE(RegReadString(key, QStringLiteral("Pattern"), QStringLiteral("dflt")),
             QStringLiteral("dflt"));
    QCOMPARE(RegReadString(key, QStringLiteral("Pattern"), QString()), QString());
    QCOMPARE(RegReadInteger(key, QStringLiteral("Top"), 100), 100);
    QCOMPARE(RegReadInteger(key, QStringLiteral("Top"), -1), -1);
    QCOMPARE(RegReadBool(key, QStringLiteral("VisualAlert"), true), true);
    QCOMPARE(RegReadBool(key, QStringLiteral("TimerON"), false), false);
    const RegKeyValues all(key);
    QCOMPARE(all.readString(QStringLiteral("Pattern"), QStringLiteral("dflt")),
             QStringLiteral("dflt"));
    QCOMPARE(all.readInteger(QStringLiteral("Top"), -1), -1);
    QCOMPARE(all.readBool(QStringLiteral("VisualAlert"), true), true);

    QCOMPARE(m_fixture->store().keyExists(key), keyPresent);
    QCOMPARE(m_fixture->store().subkeyNames(QString()).join(QLatin1Char('|')) +
                 m_fixture->store().valueNames(key).join(QLatin1Char('|')),
             before);
}

void TstRegistryAccessors::roundTrip()
{
    RegWriteString(kRoot, QStringLiteral("SmtpServer"), QStringLiteral("mail.example.test"));
    RegWriteString(kRoot, QStringLiteral("SmtpPass"), QString());
    RegWriteString(kRoot, QStringLiteral("BackupDir"), QStringLiteral("/home/ü/Backup"));
    RegWriteInteger(kRoot, QStringLiteral("LastService"), -1);
    RegWriteInteger(kRoot, QStringLiteral("Low"), std::numeric_limits<int>::min());
    RegWriteInteger(kRoot, QStringLiteral("High"), std::numeric_limits<int>::max());
    RegWriteBool(kRoot, QStringLiteral("TimerON"), true);
    RegWriteBool(kRoot, QStringLiteral("Minimized"), false);

    QCOMPARE(RegReadString(kRoot, QStringLiteral("SmtpServer"), QString()),
             QStringLiteral("mail.example.test"));
    // Stored empty differs from absent: the default does not come back.
    QCOMPARE(RegReadString(kRoot, QStringLiteral("SmtpPass"), QStringLiteral("dflt")), QString());
    QCOMPARE(RegReadString(kRoot, QStringLiteral("BackupDir"), QString()),
             QStringLiteral("/home/ü/Backup"));
    QCOMPARE(RegReadInteger(kRoot, QStringLiteral("LastService"), 0), -1);
    QCOMPARE(RegReadInteger(kRoot, QStringLiteral("Low"), 0), std::numeric_limits<int>::min());
    QCOMPARE(RegReadInteger(kRoot, QStringLiteral("High"), 0), std::numeric_limits<int>::max());
    QCOMPARE(RegReadBool(kRoot, QStringLiteral("TimerON"), false), true);
    QCOMPARE(RegReadBool(kRoot, QStringLiteral("Minimized"), true), false);
    // The same through one read of the whole key, names in any case.
    const RegKeyValues all(kRoot);
    QCOMPARE(all.readString(QStringLiteral("smtpserver"), QString()),
             QStringLiteral("mail.example.test"));
    QCOMPARE(all.readString(QStringLiteral("SmtpPass"), QStringLiteral("dflt")), QString());
    QCOMPARE(all.readInteger(QStringLiteral("LOW"), 0), std::numeric_limits<int>::min());
    QCOMPARE(all.readBool(QStringLiteral("TimerON"), false), true);
    QCOMPARE(all.readBool(QStringLiteral("Minimized"), true), false);

    // Booleans are stored as the numbers 1 and 0, as other tools expect.
    QCOMPARE(*m_fixture->store().value(kRoot, QStringLiteral("TimerON")), RegValue::fromDWord(1));
    QCOMPARE(*m_fixture->store().value(kRoot, QStringLiteral("Minimized")), RegValue::fromDWord(0));

    // Writing again replaces, type included.
    RegWriteInteger(kRoot, QStringLiteral("SmtpServer"), 25);
    QCOMPARE(RegReadInteger(kRoot, QStringLiteral("SmtpServer"), 0), 25);
}

void TstRegistryAccessors::nonZeroIsTrue_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<bool>("expected");
    QTest::newRow("0") << 0 << false;
    QTest::newRow("1") << 1 << true;
    QTest::newRow("5") << 5 << true;
    QTest::newRow("-1") << -1 << true;
    QTest::newRow("256") << 256 << true;
    QTest::newRow("high bit only") << std::numeric_limits<int>::min() << true;
}

void TstRegistryAccessors::nonZeroIsTrue()
{
    QFETCH(int, stored);
    QFETCH(bool, expected);
    RegWriteInteger(kService, QStringLiteral("SoundAlert"), stored);
    QCOMPARE(RegReadBool(kService, QStringLiteral("SoundAlert"), !expected), expected);
}

void TstRegistryAccessors::wrongType_data()
{
    QTest::addColumn<RegValue>("stored");
    QTest::addColumn<QString>("reader");
    QTest::addColumn<QString>("error");
    const QString invalid = QStringLiteral("Invalid data type for 'Port'");
    const QString tooLong = QStringLiteral("Failed to get data for 'Port'");
    const auto text = [](const char *s) { return RegValue::fromString(QString::fromLatin1(s)); };
    // A string's size counts its terminator: "80" is 3 bytes, "8080" is 5.
    QTest::newRow("short string as integer") << text("80") << "integer" << invalid;
    QTest::newRow("3-char string as integer") << text("808") << "integer" << invalid;
    QTest::newRow("long string as integer") << text("8080") << "integer" << tooLong;
    QTest::newRow("long string as bool") << text("true") << "bool" << tooLong;
    QTest::newRow("empty string as bool") << text("") << "bool" << invalid;
    QTest::newRow("4 bytes binary as integer")
        << RegValue::fromBinary(QByteArray(4, '\1')) << "integer" << invalid;
    QTest::newRow("empty binary as integer") << RegValue::fromBinary({}) << "integer" << invalid;
    QTest::newRow("8 bytes binary as integer")
        << RegValue::fromBinary(QByteArray(8, '\0')) << "integer" << tooLong;
    QTest::newRow("oversized number")
        << RegValue{RegType::DWord, QByteArray(8, '\0')} << "integer" << tooLong;
    QTest::newRow("number as string") << RegValue::fromDWord(80) << "string" << invalid;
    QTest::newRow("binary as string") << RegValue::fromBinary("abc") << "string" << invalid;
    QTest::newRow("empty binary as string") << RegValue::fromBinary({}) << "string" << invalid;
    QTest::newRow("default value name") << RegValue::fromDWord(1) << "string:"
                                        << "Invalid data type for ''";
}

void TstRegistryAccessors::wrongType()
{
    QFETCH(RegValue, stored);
    QFETCH(QString, reader);
    QFETCH(QString, error);
    const QString name = reader.endsWith(QLatin1Char(':')) ? QString() : QStringLiteral("Port");
    m_fixture->store().setValue(kRoot, name, stored);
    try {
        if (reader.startsWith(QLatin1String("string")))
            RegReadString(kRoot, name, QString());
        else if (reader == QLatin1String("integer"))
            RegReadInteger(kRoot, name, 0);
        else
            RegReadBool(kRoot, name, false);
        QFAIL("no error");
    } catch (const RegistryError &e) {
        QCOMPARE(e.message(), error);
        QCOMPARE(QString::fromUtf8(e.what()), error);
    }
    // A key's values read in one go fail the same way.
    const RegKeyValues all(kRoot);
    try {
        if (reader.startsWith(QLatin1String("string")))
            all.readString(name, QString());
        else if (reader == QLatin1String("integer"))
            all.readInteger(name, 0);
        else
            all.readBool(name, false);
        QFAIL("no error from the key's values");
    } catch (const RegistryError &e) {
        QCOMPARE(e.message(), error);
    }
    // The failed read changed nothing.
    QCOMPARE(*m_fixture->store().value(kRoot, name), stored);
}

void TstRegistryAccessors::expandStringReadsAsText()
{
    m_fixture->store().setValue(kRoot, QStringLiteral("Path"), {RegType::ExpandString, "%HOME%/x"});
    QCOMPARE(RegReadString(kRoot, QStringLiteral("Path"), QString()), QStringLiteral("%HOME%/x"));
}

void TstRegistryAccessors::namesWithoutCase()
{
    RegWriteInteger(kService, QStringLiteral("ActualFailures"), 1);
    RegWriteInteger(kService.toUpper(), QStringLiteral("actualfailures"), 2);
    QCOMPARE(RegReadInteger(kService.toLower(), QStringLiteral("ACTUALFAILURES"), 0), 2);
    QCOMPARE(m_fixture->store().valueNames(kService),
             QStringList{QStringLiteral("ActualFailures")});
    QCOMPARE(m_fixture->store().subkeyNames(kRoot + QStringLiteral("\\Services")),
             QStringList{QStringLiteral("HTTP webhost 80")});
}

// Another process holding the write lock past the timeout makes the write
// fail with the user's message; the next write goes through.
void TstRegistryAccessors::refusedWrite()
{
    RegWriteInteger(kRoot, QStringLiteral("Top"), 5);
    sqlite3 *other = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(m_fixture->sandbox().storePath()).constData(), &other),
             SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    m_fixture->store().setBusyTimeout(50);

    const auto expectSetError = [](const std::function<void()> &write, const QString &name) {
        try {
            write();
            QFAIL("no error");
        } catch (const RegistryError &e) {
            QCOMPARE(e.message(), QStringLiteral("Failed to set data for '%1'").arg(name));
        }
    };
    expectSetError([] { RegWriteInteger(kRoot, QStringLiteral("Top"), 6); }, "Top");
    expectSetError([] { RegWriteString(kRoot, QStringLiteral("SmtpUser"), "u"); }, "SmtpUser");
    expectSetError([] { RegWriteBool(kService, QStringLiteral("SendEmail"), true); }, "SendEmail");
    // Reading is not held up by the other writer.
    QCOMPARE(RegReadInteger(kRoot, QStringLiteral("Top"), 0), 5);

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    RegWriteInteger(kRoot, QStringLiteral("Top"), 7);
    QCOMPARE(RegReadInteger(kRoot, QStringLiteral("Top"), 0), 7);
    QVERIFY(!m_fixture->store().keyExists(kService));
}

void TstRegistryAccessors::noStore()
{
    RegistryStore::setCurrent(nullptr);
    QVERIFY_THROWS_EXCEPTION(RegistryError, RegReadString(kRoot, QStringLiteral("x"), QString()));
    QVERIFY_THROWS_EXCEPTION(RegistryError, RegWriteInteger(kRoot, QStringLiteral("x"), 1));
    QVERIFY_THROWS_EXCEPTION(RegistryError, RegKeyValues{kRoot});
}

QTEST_GUILESS_MAIN(TstRegistryAccessors)

#include "tst_registryaccessors.moc"
