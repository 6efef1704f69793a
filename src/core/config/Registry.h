#pragma once

#include <QString>

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
