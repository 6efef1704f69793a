#include "BusSignalRecorder.h"

#include <QDBusArgument>
#include <QDBusVariant>

bool BusSignalRecorder::listen(QDBusConnection connection, const QString &service,
                               const QString &path, const QString &interface, const QString &member)
{
    return connection.connect(service, path, interface, member, this, SLOT(record(QDBusMessage)));
}

QList<QVariantMap> BusSignalRecorder::changedProperties() const
{
    QList<QVariantMap> maps;
    for (const QDBusMessage &message : m_messages) {
        const QList<QVariant> args = message.arguments();
        if (args.size() < 2)
            continue;
        QVariantMap map;
        const QVariant changed = args.at(1);
        if (changed.canConvert<QDBusArgument>())
            changed.value<QDBusArgument>() >> map;
        else
            map = changed.toMap();
        // Values arrive as variants of their own; strings lists as arguments.
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (it->canConvert<QDBusVariant>())
                *it = it->value<QDBusVariant>().variant();
            if (it->canConvert<QDBusArgument>()) {
                QStringList list;
                it->value<QDBusArgument>() >> list;
                *it = list;
            }
        }
        maps << map;
    }
    return maps;
}

QVariantList BusSignalRecorder::announced(const QString &property) const
{
    QVariantList values;
    for (const QVariantMap &map : changedProperties())
        if (map.contains(property))
            values << map.value(property);
    return values;
}
