#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <stdexcept>

struct sqlite3;

// Value types of the store; the numbers are those of the Windows registry so
// that export files and tools speak the same language.
enum class RegType : int {
    String = 1,       // REG_SZ
    ExpandString = 2, // REG_EXPAND_SZ (read like a string, never written by us)
    Binary = 3,       // REG_BINARY
    DWord = 4,        // REG_DWORD, a signed 32-bit number for our readers
};

// One stored value. Strings are kept as UTF-8 without a terminator, numbers as
// four little-endian bytes, binary data as it is.
struct RegValue {
    RegType type = RegType::String;
    QByteArray data;

    static RegValue fromString(const QString &text);
    static RegValue fromDWord(qint32 number);
    static RegValue fromBinary(const QByteArray &bytes);

    bool isString() const { return type == RegType::String || type == RegType::ExpandString; }
    QString toString() const;
    qint32 toDWord() const;
    // Size as the registry reports it: strings count their terminating NUL.
    qint64 size() const;

    bool operator==(const RegValue &other) const = default;
};

// Any failure of the store the user must hear about. what() is UTF-8.
class RegistryError : public std::runtime_error {
public:
    explicit RegistryError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};

// The file at the store's path is a settings store of ours that is damaged:
// cut short, overwritten, or failing the database's own check. The file was
// left unchanged; StoreRecovery offers the ways forward.
class DamagedStoreError : public RegistryError {
public:
    DamagedStoreError(const QString &path, const QString &reason);
    QString path() const { return m_path; }
    // What is wrong, in SQLite's words.
    QString reason() const { return m_reason; }

private:
    QString m_path;
    QString m_reason;
};

// The per-user settings store: a tree of keys standing for HKEY_CURRENT_USER,
// kept in one SQLite file (WAL journal). Key paths are relative to the hive's
// top and use backslashes ("Software\Kestrin Software\Quellmark"); empty
// components (a leading or doubled backslash) are ignored, so "\A\B" and
// "A\B" name the same key and "" or "\" names the top itself.
//
// Key and value names compare without regard to case and keep the case they
// were first written in. Subkeys enumerate sorted without regard to case;
// values enumerate in the order they were first created. Every call is one
// transaction: other processes sharing the file never see half a change.
class RegistryStore {
public:
    // Opens the store, creating the file and its folder when missing. A file
    // that exists but is not a settings store is never touched: the
    // constructor throws RegistryError naming the file.
    //
    // A file that cannot be read or fails the database's check is taken for
    // a damaged store of ours (DamagedStoreError) when its header carries our
    // mark, or when a last good copy lies beside it (which only this program
    // makes, for a store at this path); an empty file beside a last good
    // copy is a store cut to nothing. Without either sign such a file is
    // refused as not ours, as is a sound database of another program.
    explicit RegistryStore(const QString &filePath);
    ~RegistryStore();
    RegistryStore(const RegistryStore &) = delete;
    RegistryStore &operator=(const RegistryStore &) = delete;

    // $XDG_CONFIG_HOME/quellmark/registry.sqlite (~/.config/... by default).
    static QString defaultPath();
    // Where the last good copy of the store at storePath is kept.
    static QString lastGoodPath(const QString &storePath);
    // Whether the file at path (read only, never changed) is a sound store
    // of ours; false with the reason when it is not.
    static bool isSoundStore(const QString &path, QString *reason = nullptr);

    // The store the Reg* accessors and the export format use. Not owned.
    static void setCurrent(RegistryStore *store);
    static RegistryStore *current();        // may be null
    static RegistryStore &currentOrThrow(); // throws RegistryError when none is set

    QString filePath() const { return m_path; }

    bool keyExists(const QString &path) const;
    // Creates the key and any missing parents; an existing key is left as is.
    void createKey(const QString &path);
    // Deletes the key with all its values and everything below it. False when
    // it did not exist. The top of the hive cannot be deleted (its contents
    // are removed instead).
    bool deleteKey(const QString &path);
    // Copies the key with its values and subkeys to a new path (parents of the
    // target are created). False, and nothing changes, when the source is
    // missing, the target exists, or the target lies inside the source.
    bool copyKey(const QString &from, const QString &to);
    // copyKey followed by deleteKey of the source, in one transaction.
    bool renameKey(const QString &from, const QString &to);

    // Names as stored (case as first written). Empty when the key is missing.
    QStringList subkeyNames(const QString &path) const;
    QStringList valueNames(const QString &path) const;

    // Empty when the key or the value is missing. The empty name is the
    // key's default value.
    std::optional<RegValue> value(const QString &path, const QString &name) const;
    // Every value of the key, by folded name, read at one moment. Empty when
    // the key is missing.
    QHash<QString, RegValue> values(const QString &path) const;
    // The value `name` of every subkey of `path` that has it, in one read:
    // the subkey's folded name to its value. Lists of many services read
    // one value of each this way instead of a read per service.
    QHash<QString, RegValue> valueInSubkeys(const QString &path, const QString &name) const;
    // Creates the key (with parents) and writes the value, replacing one of
    // the same name (its type may change; its enumeration place stays).
    void setValue(const QString &path, const QString &name, const RegValue &value);
    // False when the key or value did not exist.
    bool deleteValue(const QString &path, const QString &name);

    // The form in which names are compared: upper case, as the registry does.
    static QString foldName(const QString &name);
    // How long a call waits for another process's write before it fails
    // (10 s unless changed).
    void setBusyTimeout(int milliseconds);
    // Runs the database's own consistency check; problems, if any, go to
    // *report.
    bool checkIntegrity(QString *report = nullptr) const;

private:
    class Statement;
    class Transaction;
    struct Cache;
    enum class FileState { Empty, Ours, Foreign, Newer };

    static FileState classify(sqlite3 *db, const QString &path, QString *readError = nullptr);
    static bool quickCheck(sqlite3 *db, QString *report);
    static bool headerIsOurs(const QString &path);
    [[noreturn]] static void refuse(FileState state, const QString &path);
    FileState inspectExisting() const;
    bool createAside();
    bool createEmpty();
    void initialise(const QString &filePath);
    void enableWal();
    [[noreturn]] void fail() const;
    void exec(const char *sql) const;

    qint64 findKey(const QStringList &parts) const;
    qint64 ensureKey(const QStringList &parts);
    // The same by path, through the cache of key ids.
    qint64 findKey(const QString &path) const;
    qint64 ensureKey(const QString &path);
    // Forgets what the cache knows when another connection changed the file.
    void checkDataVersion() const;
    qint64 fileVersion() const;
    void forgetKeys() const;
    void finalizeStatements() const;
    qint64 insertKey(qint64 parent, const QString &name, const QString &fold);
    void deleteTree(qint64 id);
    void copyTree(qint64 from, qint64 to);
    bool copyInside(const QString &from, const QString &to);

    QString m_path;
    sqlite3 *m_db = nullptr;
    // Prepared statements and key ids kept between calls.
    std::unique_ptr<Cache> m_cache;
};
