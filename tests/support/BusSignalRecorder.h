#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QVariantMap>

// Records the signals of one interface member that an object on a bus
// sends, so a test can wait for them and look at their arguments.
class BusSignalRecorder : public QObject {
    Q_OBJECT
public:
    // Starts recording; false when the bus refused the match.
    bool listen(QDBusConnection connection, const QString &service, const QString &path,
                const QString &interface, const QString &member);
    const QList<QDBusMessage> &messages() const { return m_messages; }
    // PropertiesChanged: every changed-properties map recorded, in order.
    QList<QVariantMap> changedProperties() const;
    // The values a property was announced with, in order.
    QVariantList announced(const QString &property) const;

private slots:
    void record(const QDBusMessage &message) { m_messages << message; }

private:
    QList<QDBusMessage> m_messages;
};
