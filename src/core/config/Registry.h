#pragma once

#include "config/RegistryStore.h"

#include <QHash>
#include <QString>

#include <optional>

// The six settings accessors. Each opens the key below HKEY_CURRENT_USER in
// the current store (RegistryStore::current()), does its one read or write and
// is done; nothing is cached between calls.
//
// Readers never create a key or value and return the default when either is
// missing. A value of another type fails with RegistryError
// "Invalid data type for '<name>'", or "Failed to get data for '<name>'" when
// the stored data is longer than the number expected. A write the store
// refuses fails with "Failed to set data for '<name>'".

QString RegReadString(const QString &keyPath, const QString &valueName, const QString &defaultValue);
int RegReadInteger(const QString &keyPath, const QString &valueName, int defaultValue);
// Any non-zero number reads as true.
bool RegReadBool(const QString &keyPath, const QString &valueName, bool defaultValue);

void RegWriteString(const QString &keyPath, const QString &valueName, const QString &value);
void RegWriteInteger(const QString &keyPath, const QString &valueName, int value);
// Stored as the number 1 or 0.
void RegWriteBool(const QString &keyPath, const QString &valueName, bool value);

// Every value of one key, read in one go (one store call instead of one per
// value), answering as the readers above would have at that moment: the same
// defaults and the same errors.
class RegKeyValues {
public:
    explicit RegKeyValues(const QString &keyPath);
    ~RegKeyValues();
    RegKeyValues(const RegKeyValues &) = delete;
    RegKeyValues &operator=(const RegKeyValues &) = delete;

    QString readString(const QString &valueName, const QString &defaultValue) const;
    int readInteger(const QString &valueName, int defaultValue) const;
    bool readBool(const QString &valueName, bool defaultValue) const;
    // Whether the value is stored at all (of whatever type).
    bool contains(const QString &valueName) const;

private:
    std::optional<RegValue> lookUp(const QString &valueName) const;

    QHash<QString, RegValue> m_values;
    bool m_failed = false;
};
