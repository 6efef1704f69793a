#include "config/Backup.h"
#include "config/Registry.h"
#include "config/Settings.h"

#include "support/StoreFixture.h"

#include <QtTest>

#include <memory>

static const QString Service = QStringLiteral("HTTP webhost 80");

// A value of the setting's type that differs from its default (and, for a
// bounded number, lies within the bounds).
static QVariant otherValue(const Setting &s)
{
    switch (s.type) {
    case Setting::Type::Bool:
        return !s.defaultBool();
    case Setting::Type::Integer:
        if (s.minimum != s.maximum)
            return s.minimum != s.defaultNumber ? s.minimum : s.maximum;
        return s.defaultNumber + 7;
    case Setting::Type::String:
        return QStringLiteral("set %1 é").arg(s.name());
    }
    return {};
}

static QVariant readBack(const SettingsAccess &access, const Setting &s)
{
    switch (s.type) {
    case Setting::Type::Bool:
        return access.readBool(s, Service);
    case Setting::Type::Integer:
        return access.readInteger(s, Service);
    case Setting::Type::String:
        return access.readString(s, Service);
    }
    return {};
}

class TstSettings : public QObject {
    Q_OBJECT
private slots:
    void init() { m_fixture = std::make_unique<StoreFixture>(); }
    void cleanup() { m_fixture.reset(); }

    // A fresh store answers every value of the table, each named once, with
    // its default and is left as empty as it was.
    void freshStoreReadsEveryDefault()
    {
        const SettingsAccess access(m_fixture->context());
        const QString folder = m_fixture->context().programFolder;
        QSet<QString> names;
        for (const Setting *s : Settings::All) {
            names.insert(s->name().toLower());
            QVariant expected = s->defaultNumber;
            if (s->type == Setting::Type::Bool)
                expected = s->defaultBool();
            else if (s->type == Setting::Type::String)
                expected = s->defaultText(folder);
            QCOMPARE(readBack(access, *s), expected);
        }
        QCOMPARE(names.size(), qsizetype(Settings::All.size()));
        QVERIFY(!m_fixture->store().keyExists(m_fixture->context().settingsRoot));
        QCOMPARE(Settings::BackupDir.defaultText(folder), DefaultBackupFolder(folder));
    }

    // Every value of the table, global and per service, set to something
    // else than its default survives a backup and a restore.
    void backupAndRestoreKeepEveryValue()
    {
        const ProgramContext &context = m_fixture->context();
        const SettingsAccess access(context);
        for (const Setting *s : Settings::All) {
            const QVariant value = otherValue(*s);
            switch (s->type) {
            case Setting::Type::Bool:
                access.writeBool(*s, value.toBool(), Service);
                break;
            case Setting::Type::Integer:
                access.writeInteger(*s, value.toInt(), Service);
                break;
            case Setting::Type::String:
                access.writeString(*s, value.toString(), Service);
                break;
            }
        }
        QCOMPARE(access.keyOf(Settings::SoundAlert, Service),
                 context.servicesKey + QStringLiteral("\\") + Service);

        const QString folder = m_fixture->sandbox().root() + QStringLiteral("/set/");
        BackupCallbacks callbacks;
        callbacks.confirmRestore = [](const QString &) { return true; };
        callbacks.reportError = [](const QString &message) { QFAIL(qPrintable(message)); };
        QVERIFY(DoBackup(folder, context.settingsRoot, {}, callbacks));
        m_fixture->store().deleteKey(context.settingsRoot);
        QCOMPARE(readBack(access, Settings::NormalConnectionFreq), QVariant(60));
        QVERIFY(DoRestore(folder, context.settingsRoot, context.programFolder, callbacks));

        for (const Setting *s : Settings::All)
            QCOMPARE(readBack(access, *s), otherValue(*s));
    }

private:
    std::unique_ptr<StoreFixture> m_fixture;
};

QTEST_GUILESS_MAIN(TstSettings)
#include "tst_settings.moc"
