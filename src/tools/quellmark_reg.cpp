// quellmark-reg: reads and edits the per-user settings store from the command
// line, and converts it to and from the registry export text format.

#include "config/ProgramContext.h"
#include "config/RegistryExport.h"
#include "config/RegistryStore.h"
#include "config/StoreRecovery.h"
#include "base/TimeStamp.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cctype>
#include <cstdio>
#include <exception>
#include <optional>

static const char *const ToolName = "quellmark-reg";

static void writeTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

static void printLine(const QString &text)
{
    writeTo(stdout, text + QLatin1Char('\n'));
}

static void printError(const QString &text)
{
    writeTo(stderr,
            QString::fromLatin1(ToolName) + QStringLiteral(": ") + text + QLatin1Char('\n'));
}

static QString usageText()
{
    return QStringLiteral(
               "Usage: %1 COMMAND [ARGUMENTS]\n"
               "\n"
               "Reads and edits the Quellmark settings store (%2).\n"
               "KEY is a path below HKEY_CURRENT_USER with backslashes, for example\n"
               "\"Software\\Kestrin Software\\Quellmark\". An empty NAME (\"\") is the key's\n"
               "default value.\n"
               "\n"
               "Commands:\n"
               "  list KEY                       subkeys as \"[Name]\", then values as\n"
               "                                 \"Name  TYPE  data\" (line breaks shown as \\r, "
               "\\n)\n"
               "  get KEY NAME                   print a value's data: a string as stored, a "
               "number\n"
               "                                 in decimal, binary data as hex digits\n"
               "  set KEY NAME int|str|bin DATA  write a value, creating the key; int is a signed\n"
               "                                 32-bit decimal number, bin is hex digits\n"
               "  delete KEY [NAME]              delete a value, or the key with all below it\n"
               "  export KEY FILE                append the key with all below it to FILE in the\n"
               "                                 registry export text format\n"
               "  import FILE                    write every value named in FILE into the store\n"
               "  restore-last-good              put back the last good copy of a damaged store\n"
               "                                 (Quellmark keeps it beside the store while it\n"
               "                                 runs); the damaged file is kept aside\n"
               "  -h, --help                     show this help\n"
               "  -v, --version                  show the version\n"
               "\n"
               "Exit status: 0 on success, 1 on any error.\n")
        .arg(QString::fromLatin1(ToolName), RegistryStore::defaultPath());
}

// The program's version, so the tool and the program it belongs to are told
// apart and matched.
static QString versionText()
{
    return QStringLiteral("%1 (%2) %3\n")
        .arg(QString::fromLatin1(ToolName), ProgramContext::applicationTitle(),
             ProgramContext::buildVersion());
}

// Names and data shown on one line: control characters must not break it.
static QString visible(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else
            out += c;
    }
    return out;
}

static QString typeName(RegType type)
{
    switch (type) {
    case RegType::String:
        return QStringLiteral("REG_SZ");
    case RegType::ExpandString:
        return QStringLiteral("REG_EXPAND_SZ");
    case RegType::Binary:
        return QStringLiteral("REG_BINARY");
    case RegType::DWord:
        return QStringLiteral("REG_DWORD");
    }
    return QStringLiteral("REG_TYPE_%1").arg(int(type));
}

static QString dataText(const RegValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.type == RegType::DWord)
        return QString::number(value.toDWord());
    return QString::fromLatin1(value.data.toHex().toUpper());
}

static QString valueLabel(const QString &name)
{
    return name.isEmpty() ? QStringLiteral("the default value")
                          : QStringLiteral("value '%1'").arg(name);
}

// Strict: an even number of hex digits and nothing else.
static std::optional<QByteArray> parseHex(const QString &text)
{
    if (text.size() % 2 != 0)
        return std::nullopt;
    for (const QChar c : text) {
        if (!isxdigit(c.unicode() < 128 ? int(c.unicode()) : 0))
            return std::nullopt;
    }
    return QByteArray::fromHex(text.toLatin1());
}

static void requireKey(const RegistryStore &store, const QString &key)
{
    if (!store.keyExists(key))
        throw RegistryError(QStringLiteral("key '%1' does not exist").arg(key));
}

static bool isTopKey(const QString &key)
{
    return key.split(QLatin1Char('\\'), Qt::SkipEmptyParts).isEmpty();
}

static void listKey(const RegistryStore &store, const QString &key)
{
    requireKey(store, key);
    for (const QString &subkey : store.subkeyNames(key))
        printLine(QLatin1Char('[') + visible(subkey) + QLatin1Char(']'));
    for (const QString &name : store.valueNames(key)) {
        const std::optional<RegValue> value = store.value(key, name);
        if (!value)
            continue;
        const QString label = name.isEmpty() ? QStringLiteral("(Default)") : visible(name);
        printLine(label + QStringLiteral("  ") + typeName(value->type) + QStringLiteral("  ") +
                  visible(dataText(*value)));
    }
}

static void getValue(const RegistryStore &store, const QString &key, const QString &name)
{
    requireKey(store, key);
    const std::optional<RegValue> value = store.value(key, name);
    if (!value)
        throw RegistryError(
            QStringLiteral("%1 does not exist in key '%2'").arg(valueLabel(name), key));
    printLine(dataText(*value));
}

static void setValue(RegistryStore &store, const QString &key, const QString &name,
                     const QString &type, const QString &data)
{
    const QString kind = type.toLower();
    if (kind == QLatin1StringView("int")) {
        const std::optional<qint32> number = ParseRegistryInt(data);
        if (!number)
            throw RegistryError(QStringLiteral("'%1' is not a valid integer value").arg(data));
        store.setValue(key, name, RegValue::fromDWord(*number));
    } else if (kind == QLatin1StringView("str")) {
        store.setValue(key, name, RegValue::fromString(data));
    } else if (kind == QLatin1StringView("bin")) {
        const std::optional<QByteArray> bytes = parseHex(data);
        if (!bytes)
            throw RegistryError(
                QStringLiteral("'%1' is not valid binary data (an even number of hex digits)")
                    .arg(data));
        store.setValue(key, name, RegValue::fromBinary(*bytes));
    } else {
        throw RegistryError(
            QStringLiteral("unknown value type '%1' (use int, str or bin)").arg(type));
    }
}

static void deleteEntry(RegistryStore &store, const QString &key,
                        const std::optional<QString> &name)
{
    requireKey(store, key);
    if (name) {
        if (!store.deleteValue(key, *name))
            throw RegistryError(
                QStringLiteral("%1 does not exist in key '%2'").arg(valueLabel(*name), key));
        return;
    }
    // Wiping the whole store by a mistyped empty key is too easy to do.
    if (isTopKey(key))
        throw RegistryError(QStringLiteral("refusing to delete the top of the store"));
    if (!store.deleteKey(key))
        throw RegistryError(QStringLiteral("key '%1' does not exist").arg(key));
}

static void exportKey(RegistryStore &store, const QString &key, const QString &filePath)
{
    requireKey(store, key);
    // The export itself drops lines it cannot write; check up front so an
    // unwritable file is an error here.
    {
        QFile file(filePath);
        if (QFileInfo(filePath).isDir() || !file.open(QIODevice::WriteOnly | QIODevice::Append))
            throw RegistryError(
                QStringLiteral("cannot write to '%1': %2").arg(filePath, file.errorString()));
    }
    const QStringList skipped = ExportRegistryKey(store, filePath, key);
    for (const QString &path : skipped)
        printError(QStringLiteral("warning: '%1' cannot be written in the export format and "
                                  "was left out")
                       .arg(visible(path)));
}

static void importFile(RegistryStore &store, const QString &filePath)
{
    if (!QFileInfo::exists(filePath))
        throw RegistryError(QStringLiteral("file '%1' does not exist").arg(filePath));
    ImportRegistryFile(store, filePath);
}

// What the user can do about a damaged store, the same ways the program
// offers at start.
static QString damagedAdvice(const QString &storePath)
{
    const LastGoodCopy copy(storePath);
    if (copy.exists())
        return QStringLiteral("A last good copy saved %1 can be put back with '%2 "
                              "restore-last-good'; the damaged file is kept aside.")
            .arg(TimeStamp::format(copy.savedAt()), QString::fromLatin1(ToolName));
    return QStringLiteral("There is no last good copy to put back. Start Quellmark to begin "
                          "with new settings; the damaged file is kept aside.");
}

static int restoreLastGood(const QString &storePath)
{
    QString reason;
    if (RegistryStore::isSoundStore(storePath, &reason)) {
        printError(QStringLiteral("the settings store '%1' is not damaged; nothing was changed")
                       .arg(storePath));
        return 1;
    }
    const StoreRecovery recovery(storePath);
    const QDateTime saved = recovery.lastGood().savedAt();
    const QString aside = recovery.restoreLastGood();
    printLine(
        QStringLiteral("Restored the last good copy saved %1.").arg(TimeStamp::format(saved)));
    if (!aside.isEmpty())
        printLine(QStringLiteral("The damaged settings store was kept as '%1'.").arg(aside));
    return 0;
}

static bool argumentsFit(const QString &command, qsizetype count)
{
    if (command == QLatin1StringView("restore-last-good"))
        return count == 0;
    if (command == QLatin1StringView("list") || command == QLatin1StringView("import"))
        return count == 1;
    if (command == QLatin1StringView("get") || command == QLatin1StringView("export"))
        return count == 2;
    if (command == QLatin1StringView("set"))
        return count == 4;
    if (command == QLatin1StringView("delete"))
        return count == 1 || count == 2;
    return false;
}

static void run(RegistryStore &store, const QStringList &args)
{
    const QString &command = args.at(0);
    if (command == QLatin1StringView("list"))
        listKey(store, args[1]);
    else if (command == QLatin1StringView("get"))
        getValue(store, args[1], args[2]);
    else if (command == QLatin1StringView("set"))
        setValue(store, args[1], args[2], args[3], args[4]);
    else if (command == QLatin1StringView("delete"))
        deleteEntry(store, args[1],
                    args.size() == 3 ? std::optional<QString>(args[2]) : std::nullopt);
    else if (command == QLatin1StringView("export"))
        exportKey(store, args[1], args[2]);
    else if (command == QLatin1StringView("import"))
        importFile(store, args[1]);
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);

    if (args.isEmpty()) {
        writeTo(stderr, usageText());
        return 1;
    }
    if (args[0] == QLatin1StringView("-h") || args[0] == QLatin1StringView("--help")) {
        writeTo(stdout, usageText());
        return 0;
    }
    if (args[0] == QLatin1StringView("-v") || args[0] == QLatin1StringView("--version")) {
        writeTo(stdout, versionText());
        return 0;
    }
    static const QStringList commands = {QStringLiteral("list"),
                                         QStringLiteral("get"),
                                         QStringLiteral("set"),
                                         QStringLiteral("delete"),
                                         QStringLiteral("export"),
                                         QStringLiteral("import"),
                                         QStringLiteral("restore-last-good")};
    if (!commands.contains(args[0])) {
        printError(QStringLiteral("unknown command '%1' (see --help)").arg(args[0]));
        return 1;
    }

    if (!argumentsFit(args[0], args.size() - 1)) {
        printError(QStringLiteral("wrong number of arguments for '%1' (see --help)").arg(args[0]));
        return 1;
    }

    try {
        if (args[0] == QLatin1StringView("restore-last-good"))
            return restoreLastGood(RegistryStore::defaultPath());
        RegistryStore store(RegistryStore::defaultPath());
        RegistryStore::setCurrent(&store);
        try {
            run(store, args);
        } catch (...) {
            RegistryStore::setCurrent(nullptr);
            throw;
        }
        RegistryStore::setCurrent(nullptr);
    } catch (const DamagedStoreError &e) {
        printError(e.message() + QLatin1Char(' ') + damagedAdvice(e.path()));
        return 1;
    } catch (const RegistryError &e) {
        printError(e.message());
        return 1;
    } catch (const std::exception &e) {
        printError(QString::fromUtf8(e.what()));
        return 1;
    }
    return 0;
}
