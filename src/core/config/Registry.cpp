#include "config/Registry.h"

#include "config/RegistryStore.h"

#include <optional>

static RegistryError invalidType(const QString &valueName)
{
    return RegistryError(QStringLiteral("Invalid data type for '%1'").arg(valueName));
}

static RegistryError failedGet(const QString &valueName)
{
    return RegistryError(QStringLiteral("Failed to get data for '%1'").arg(valueName));
}

static RegistryError failedSet(const QString &valueName)
{
    return RegistryError(QStringLiteral("Failed to set data for '%1'").arg(valueName));
}

// The stored value, or nothing when the key or the value is missing. The
// store's own failure is reported the way the user knows it.
static std::optional<RegValue> readValue(const QString &keyPath, const QString &valueName)
{
    RegistryStore &store = RegistryStore::currentOrThrow();
    try {
        return store.value(keyPath, valueName);
    } catch (const RegistryError &) {
        throw failedGet(valueName);
    }
}

static void writeValue(const QString &keyPath, const QString &valueName, const RegValue &value)
{
    RegistryStore &store = RegistryStore::currentOrThrow();
    try {
        store.setValue(keyPath, valueName, value);
    } catch (const RegistryError &) {
        throw failedSet(valueName);
    }
}

static QString stringOf(const std::optional<RegValue> &value, const QString &valueName,
                        const QString &defaultValue)
{
    if (!value)
        return defaultValue;
    if (!value->isString())
        throw invalidType(valueName);
    return value->toString();
}

static int integerOf(const std::optional<RegValue> &value, const QString &valueName,
                     int defaultValue)
{
    if (!value)
        return defaultValue;
    // Data that does not fit the number fails before its type is looked at.
    if (value->size() > 4)
        throw failedGet(valueName);
    if (value->type != RegType::DWord)
        throw invalidType(valueName);
    return value->toDWord();
}

QString RegReadString(const QString &keyPath, const QString &valueName, const QString &defaultValue)
{
    return stringOf(readValue(keyPath, valueName), valueName, defaultValue);
}

int RegReadInteger(const QString &keyPath, const QString &valueName, int defaultValue)
{
    return integerOf(readValue(keyPath, valueName), valueName, defaultValue);
}

bool RegReadBool(const QString &keyPath, const QString &valueName, bool defaultValue)
{
    return RegReadInteger(keyPath, valueName, defaultValue ? 1 : 0) != 0;
}

void RegWriteString(const QString &keyPath, const QString &valueName, const QString &value)
{
    writeValue(keyPath, valueName, RegValue::fromString(value));
}

void RegWriteInteger(const QString &keyPath, const QString &valueName, int value)
{
    writeValue(keyPath, valueName, RegValue::fromDWord(value));
}

void RegWriteBool(const QString &keyPath, const QString &valueName, bool value)
{
    writeValue(keyPath, valueName, RegValue::fromDWord(value ? 1 : 0));
}

// ------------------------------------------------------------ RegKeyValues

RegKeyValues::RegKeyValues(const QString &keyPath)
{
    RegistryStore &store = RegistryStore::currentOrThrow();
    try {
        m_values = store.values(keyPath);
    } catch (const RegistryError &) {
        // Reported by the first read, naming its value as a reader would.
        m_failed = true;
    }
}

RegKeyValues::~RegKeyValues() = default;

std::optional<RegValue> RegKeyValues::lookUp(const QString &valueName) const
{
    if (m_failed)
        throw failedGet(valueName);
    const auto found = m_values.constFind(RegistryStore::foldName(valueName));
    if (found == m_values.cend())
        return std::nullopt;
    return *found;
}

QString RegKeyValues::readString(const QString &valueName, const QString &defaultValue) const
{
    return stringOf(lookUp(valueName), valueName, defaultValue);
}

int RegKeyValues::readInteger(const QString &valueName, int defaultValue) const
{
    return integerOf(lookUp(valueName), valueName, defaultValue);
}

bool RegKeyValues::readBool(const QString &valueName, bool defaultValue) const
{
    return readInteger(valueName, defaultValue ? 1 : 0) != 0;
}

bool RegKeyValues::contains(const QString &valueName) const
{
    return lookUp(valueName).has_value();
}
