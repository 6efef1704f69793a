#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// A scripted desktop notification server (org.freedesktop.Notifications) on
// a bus connection of the test's own. It records every Notify and
// CloseNotification call, gives ids as a server does (a replaced
// notification keeps its id), offers the capabilities it is given, and
// sends ActionInvoked and NotificationClosed when the test says so.
class FakeNotificationServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString method; // "Notify" or "CloseNotification"
        uint id = 0;    // the id given back, or the one closed
        uint replacesId = 0;
        QString appName;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int urgency = -1;
    };

    explicit FakeNotificationServer(QStringList capabilities = {QStringLiteral("actions"), QStringLiteral("body")});
    ~FakeNotificationServer() override;

    // Connects to the bus at the address and takes the server's name.
    bool start(const QString &busAddress);
    void stop();

    QList<Call> calls() const { return m_calls; }
    QList<Call> notifications() const;
    int closeCount() const;
    int capabilityQueries() const { return m_capabilityQueries; }
    void clear() { m_calls.clear(); }

    // As servers do, the notification then goes, unless told otherwise.
    void invokeAction(uint id, const QString &key, bool thenClose = true);
    void closeByUser(uint id);

public slots:
    QStringList GetCapabilities();
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout);
    void CloseNotification(uint id);
    QString GetServerInformation(QString &vendor, QString &version, QString &specVersion);

signals:
    void NotificationClosed(uint id, uint reason);
    void ActionInvoked(uint id, const QString &actionKey);

private:
    QStringList m_capabilities;
    QString m_connectionName;
    QList<Call> m_calls;
    QList<uint> m_open;
    uint m_nextId = 1;
    int m_capabilityQueries = 0;
};
