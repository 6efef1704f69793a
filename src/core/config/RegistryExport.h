#pragma once

#include <optional>

#include <QString>
#include <QStringList>

class RegistryStore;

// The line-oriented text format of a backup's "registry.cfg": one block per
// key (header "[\path]", one "name" + "int="/"str="/"bin=" + data line per
// value, one empty line), keys visited breadth first, lines ended by CR LF.

// Appends the key at keyPath (below HKEY_CURRENT_USER) with all its values and
// all keys below it to filePath, creating the file when missing. Write errors
// are not reported. Returns the paths ("key\name", or a key path for a whole
// subtree) of the entries that cannot be expressed in the format and were left
// out, so a tool can warn about them.
QStringList ExportRegistryKey(RegistryStore &store, const QString &filePath,
                              const QString &keyPath);
// The same on RegistryStore::currentOrThrow().
QStringList ExportRegistryKey(const QString &filePath, const QString &keyPath);

// Writes every value the file names into the store, creating keys as needed;
// nothing is ever deleted. A missing file does nothing. Throws RegistryError
// when the file cannot be read or is too large (before anything is written),
// and "'<data>' is not a valid integer value" for a bad "int" line, in which
// case the lines before it stay written and the rest of the file is not read.
void ImportRegistryFile(RegistryStore &store, const QString &filePath);
// The same on RegistryStore::currentOrThrow().
void ImportRegistryFile(const QString &filePath);

// Files larger than this are refused by ImportRegistryFile.
constexpr qint64 RegistryImportMaxBytes = 64 * 1024 * 1024;

// A signed 32-bit decimal as "int=" data holds it: an optional sign and
// digits only; empty when the text is anything else or out of range.
std::optional<qint32> ParseRegistryInt(const QString &text);
