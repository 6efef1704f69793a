#include "config/RegistryExport.h"

#include "config/RegistryStore.h"

#include <QFile>
#include <QFileInfo>

#include <array>
#include <optional>

static const QString LineBreak = QStringLiteral("\r\n");
static const QString LineBreakMark = QStringLiteral("qqqq");

// Drops empty components so "\A\\B\" and "A\B" give the same header.
static QString normalizedKeyPath(const QString &path)
{
    return path.split(QLatin1Char('\\'), Qt::SkipEmptyParts).join(QLatin1Char('\\'));
}

static QString childPath(const QString &parent, const QString &name)
{
    return parent.isEmpty() ? name : parent + QLatin1Char('\\') + name;
}

static bool hasLineBreakChar(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

static QString upperHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

// The value's line without its line end, or nothing when the value cannot be
// written so that the reader gives it back:
// - a name with "=" (the reader splits at the first "="), CR or LF (it would
//   split the line), or starting with "[" (the reader would take the line for a
//   key header);
// - string data with a CR or LF that is not part of a CR LF pair (only the pair
//   has an escape, "qqqq").
// Such values never come from the program itself; leaving them out keeps
// everything else in the file importable.
static std::optional<QString> valueLine(const QString &name, const RegValue &value)
{
    if (name.contains(QLatin1Char('=')) || hasLineBreakChar(name) ||
        name.startsWith(QLatin1Char('[')))
        return std::nullopt;
    switch (value.type) {
    case RegType::DWord:
        return name + QStringLiteral("int=") + QString::number(value.toDWord());
    case RegType::String:
    case RegType::ExpandString: {
        QString text = value.toString();
        text.replace(LineBreak, LineBreakMark);
        if (hasLineBreakChar(text))
            return std::nullopt;
        return name + QStringLiteral("str=") + text;
    }
    default:
        return name + QStringLiteral("bin=") + upperHex(value.data);
    }
}

// Appends one line to the export file with a single write. A line that fails
// is dropped and the file cut back to its last whole line, so a full disk never
// leaves a torn line that the next one would be glued to.
static void appendLine(QFile &file, const QString &line)
{
    if (!file.isOpen())
        return;
    const QByteArray bytes = (line + LineBreak).toUtf8();
    const qint64 before = file.size();
    if (file.write(bytes) != bytes.size())
        file.resize(before);
}

static bool isBlankLine(const QString &line)
{
    for (const QChar c : line) {
        if (c.unicode() > 0x20 && c.category() != QChar::Other_Control)
            return false;
    }
    return true;
}

std::optional<qint32> ParseRegistryInt(const QString &text)
{
    int start = 0;
    if (!text.isEmpty() && (text[0] == QLatin1Char('-') || text[0] == QLatin1Char('+')))
        start = 1;
    if (start == text.size())
        return std::nullopt;
    for (int i = start; i < text.size(); ++i) {
        if (text[i] < QLatin1Char('0') || text[i] > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return number;
}

static int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Half the text's length in bytes, rounded down; a trailing odd digit is
// ignored. Nothing when a used character is not a hexadecimal digit.
static std::optional<QByteArray> parseHex(const QString &text)
{
    QByteArray bytes(text.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const int high = hexDigit(text[2 * i]);
        const int low = hexDigit(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[i] = char(high * 16 + low);
    }
    return bytes;
}

static QStringList splitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines.append(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

static const std::array<QLatin1StringView, 7> HiveNames = {
    QLatin1StringView("HKEY_CLASSES_ROOT"),     QLatin1StringView("HKEY_CURRENT_USER"),
    QLatin1StringView("HKEY_LOCAL_MACHINE"),    QLatin1StringView("HKEY_USERS"),
    QLatin1StringView("HKEY_PERFORMANCE_DATA"), QLatin1StringView("HKEY_CURRENT_CONFIG"),
    QLatin1StringView("HKEY_DYN_DATA"),
};
static const QLatin1StringView CurrentUserHive("HKEY_CURRENT_USER");

QStringList ExportRegistryKey(RegistryStore &store, const QString &filePath, const QString &keyPath)
{
    QStringList skipped;
    // Opened once for the whole export; when it cannot be opened every line is
    // dropped, as a failed write would be.
    QFile out(filePath);
    (void)out.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);

    // Grows while it is walked: each key's subkeys go to the end, which gives
    // the breadth-first order.
    QStringList keys{normalizedKeyPath(keyPath)};
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QString key = keys.at(i);
        if (store.keyExists(key)) {
            appendLine(out, QStringLiteral("[\\") + key + QLatin1Char(']'));
            for (const QString &name : store.valueNames(key)) {
                const std::optional<RegValue> value = store.value(key, name);
                if (!value)
                    continue; // gone since the names were listed
                if (const std::optional<QString> line = valueLine(name, *value))
                    appendLine(out, *line);
                else
                    skipped.append(key + QLatin1Char('\\') + name);
            }
            for (const QString &subkey : store.subkeyNames(key)) {
                // A line break in a key name would tear its header apart.
                if (hasLineBreakChar(subkey))
                    skipped.append(childPath(key, subkey));
                else
                    keys.append(childPath(key, subkey));
            }
        }
        appendLine(out, QString());
    }
    return skipped;
}

QStringList ExportRegistryKey(const QString &filePath, const QString &keyPath)
{
    return ExportRegistryKey(RegistryStore::currentOrThrow(), filePath, keyPath);
}

void ImportRegistryFile(RegistryStore &store, const QString &filePath)
{
    QFile file(filePath);
    if (!file.exists())
        return;
    if (QFileInfo(filePath).isDir() || !file.open(QIODevice::ReadOnly))
        throw RegistryError(QStringLiteral("Cannot read the file '%1'").arg(filePath));
    // Read one byte past the bound so a file that grows meanwhile is caught
    // too. In pieces sized after the file: read(n) sets aside n bytes at
    // once, which would make every import of a small file cost the bound.
    const qint64 piece = qBound(qint64(4096), file.size() + 1, qint64(1024 * 1024));
    QByteArray bytes;
    while (bytes.size() <= RegistryImportMaxBytes) {
        const QByteArray more = file.read(qMin(piece, RegistryImportMaxBytes + 1 - bytes.size()));
        if (more.isEmpty())
            break;
        bytes += more;
    }
    if (bytes.size() > RegistryImportMaxBytes)
        throw RegistryError(QStringLiteral("The file '%1' is larger than %2 MiB and cannot be "
                                           "imported")
                                .arg(filePath)
                                .arg(RegistryImportMaxBytes / (1024 * 1024)));
    if (file.error() != QFileDevice::NoError)
        throw RegistryError(QStringLiteral("Cannot read the file '%1'").arg(filePath));

    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF))) // a byte-order mark left by an editor
        text.remove(0, 1);

    // Only HKEY_CURRENT_USER exists in the store: value lines under any other
    // hive, known or not, are skipped.
    QLatin1StringView hive = CurrentUserHive;
    bool accepting = true;
    // Set by a header without its closing "]"; its value lines are dropped
    // rather than written into the key of the header before it.
    bool inMalformedBlock = false;
    QString keyPath;

    for (const QString &line : splitLines(text)) {
        if (isBlankLine(line))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            if (line.size() < 2 || !line.endsWith(QLatin1Char(']'))) {
                inMalformedBlock = true;
                continue;
            }
            inMalformedBlock = false;
            QString keyText = line.mid(1, line.size() - 2);
            if (keyText.left(4).toLower() == QLatin1StringView("hkey")) {
                accepting = false;
                // "[HKEY_CURRENT_USER]" without a path names the hive's top.
                const qsizetype slash = keyText.indexOf(QLatin1Char('\\'));
                const QString hiveName = (slash < 0 ? keyText : keyText.left(slash)).toUpper();
                keyText = slash < 0 ? QString() : keyText.mid(slash + 1);
                for (const QLatin1StringView known : HiveNames) {
                    if (hiveName == known) {
                        hive = known;
                        accepting = true;
                        break;
                    }
                }
            }
            keyPath = keyText;
            // Creating the key at its header keeps keys without values (an
            // empty leaf such as a freshly added service) through a round trip.
            if (accepting && hive == CurrentUserHive)
                store.createKey(keyPath);
            continue;
        }
        if (inMalformedBlock || !accepting || hive != CurrentUserHive)
            continue;

        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 3)
            continue; // no "=", or no room for a tag before it
        const QString name = line.left(equals - 3);
        const QString tag = line.mid(equals - 3, 3);
        QString data = line.mid(equals + 1);

        if (tag == QLatin1StringView("int")) {
            data.replace(LineBreakMark, LineBreak);
            const std::optional<qint32> number = ParseRegistryInt(data);
            if (!number)
                throw RegistryError(QStringLiteral("'%1' is not a valid integer value").arg(data));
            store.setValue(keyPath, name, RegValue::fromDWord(*number));
        } else if (tag == QLatin1StringView("str")) {
            data.replace(LineBreakMark, LineBreak);
            store.setValue(keyPath, name, RegValue::fromString(data));
        } else {
            const std::optional<QByteArray> bytes = parseHex(data);
            if (!bytes)
                continue;
            try {
                store.setValue(keyPath, name, RegValue::fromBinary(*bytes));
            } catch (const RegistryError &) {
                // A binary value that cannot be written is skipped silently,
                // like one with bad digits.
            }
        }
    }
}

void ImportRegistryFile(const QString &filePath)
{
    ImportRegistryFile(RegistryStore::currentOrThrow(), filePath);
}
