#include "StoreDamage.h"

#include "config/RegistryStore.h"

#include <QFile>
#include <QRandomGenerator>

namespace {
const QString Key = QStringLiteral("Software\\Kestrin Software\\Quellmark");
const QString Name = QStringLiteral("SmtpServer");
} // namespace

QByteArray StoreDamage::readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void StoreDamage::apply(const QString &storePath, const QString &kind)
{
    QFile file(storePath);
    const qint64 size = file.size();
    if (kind == QLatin1String("half")) {
        file.resize(size / 2);
    } else if (kind == QLatin1String("empty")) {
        file.resize(0);
    } else {
        QByteArray bytes(int(size), Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
}

void StoreDamage::makeStore(const QString &path, const QString &value)
{
    RegistryStore store(path);
    // Enough values that the store spans several pages.
    for (int i = 0; i < 200; ++i)
        store.setValue(Key + QStringLiteral("\\Services\\HTTP host%1 80").arg(i),
                       QStringLiteral("Pattern"), RegValue::fromString(QString(40, u'x')));
    store.setValue(Key, Name, RegValue::fromString(value));
}

QString StoreDamage::valueIn(const QString &path)
{
    const RegistryStore store(path);
    const std::optional<RegValue> value = store.value(Key, Name);
    return value ? value->toString() : QString();
}
