// ImportRegistryFile on arbitrary file bytes, into a fresh store. What it
// imported must survive a round trip through the export format: exported
// and imported again into another store, the tree is the same.

#include "FuzzSupport.h"

#include "config/RegistryExport.h"
#include "config/RegistryStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

// Every key and value, depth first; enough to compare whole trees.
QByteArray dump(const RegistryStore &store, const QString &path)
{
    QByteArray out = "[" + RegistryStore::foldName(path).toUtf8() + "]\n";
    for (const QString &name : store.valueNames(path)) {
        const std::optional<RegValue> value = store.value(path, name);
        FUZZ_CHECK(value.has_value());
        out += name.toUtf8() + "=" + QByteArray::number(int(value->type)) + ":" +
               value->data.toHex() + "\n";
    }
    for (const QString &name : store.subkeyNames(path))
        out += dump(store, path.isEmpty() ? name : path + QLatin1Char('\\') + name);
    return out;
}

// In memory where the system offers it: the format is fuzzed, not the disk.
QString folder()
{
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/quellmark-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/quellmark-fuzz-XXXXXX"));
    return dir.path();
}

// An emptied store, kept open from one input to the next: opening a store
// costs far more than an import.
RegistryStore &emptyStore(int which)
{
    static RegistryStore first(folder() + QStringLiteral("/first.sqlite"));
    static RegistryStore second(folder() + QStringLiteral("/second.sqlite"));
    RegistryStore &store = which == 0 ? first : second;
    store.deleteKey(QString());
    FUZZ_CHECK(store.subkeyNames(QString()).isEmpty() && store.valueNames(QString()).isEmpty());
    return store;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = folder() + QStringLiteral("/input.cfg");
    const QString exported = folder() + QStringLiteral("/exported.cfg");
    writeFile(input, QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));

    RegistryStore &first = emptyStore(0);
    try {
        ImportRegistryFile(first, input);
    } catch (const RegistryError &error) {
        // Only a bad number stops an import of a readable file.
        FUZZ_CHECK(error.message().endsWith(QLatin1String("' is not a valid integer value")));
    }

    QFile::remove(exported);
    const QStringList skipped = ExportRegistryKey(first, exported, QString());
    // Whatever the reader accepted, the writer can express.
    FUZZ_CHECK(skipped.isEmpty());

    RegistryStore &second = emptyStore(1);
    ImportRegistryFile(second, exported);
    FUZZ_CHECK(dump(first, QString()) == dump(second, QString()));
    return 0;
}
