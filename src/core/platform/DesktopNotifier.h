#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <optional>

class QDBusPendingCallWatcher;

// Desktop notifications through the notification server on the session bus
// (org.freedesktop.Notifications). Every call is asynchronous, so a server
// that is slow or missing never holds up the caller, and a missing one is
// not reported: the notification is simply not shown.
//
// A service has at most one notification on screen: a new one replaces the
// service's last one. Where the server offers actions, an on-error
// notification carries "Open", "Snooze 1 hour" and "Acknowledge", and a
// recovery one "Open"; what the user picks comes back as actionInvoked.
class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    struct Notice {
        QString service;
        bool critical = false;
        QString summary;
        QString body;
        // Offer snooze and acknowledge besides open.
        bool holdActions = false;
    };

    // Action keys.
    static QString openKey() { return QStringLiteral("open"); }
    static QString snoozeKey() { return QStringLiteral("snooze"); }
    static QString ackKey() { return QStringLiteral("ack"); }

    // On the session bus, reached at the first notification.
    explicit DesktopNotifier(const QString &appName, const QString &appIcon, QObject *parent = nullptr);
    // On a given connection (tests use a private bus).
    DesktopNotifier(const QString &appName, const QString &appIcon, const QDBusConnection &bus,
                    QObject *parent = nullptr);
    ~DesktopNotifier() override;

    void show(const Notice &notice);
    // Takes the service's notification off the screen, if it shows one.
    void close(const QString &service);

    // What the server told of itself; empty before it was asked, or when
    // there is none.
    QStringList capabilities() const { return m_capabilities; }
    // No call to the server waits for its answer.
    bool isIdle() const { return m_capsState != Capabilities::Asking && m_inFlight.isEmpty(); }

signals:
    void actionInvoked(const QString &service, const QString &key);
    // A notification was sent and the server gave it its id.
    void shown(const QString &service, uint id);

private slots:
    void onActionInvoked(uint id, const QString &key);
    void onNotificationClosed(uint id, uint reason);

private:
    enum class Capabilities { Unknown, Asking, Known };

    QDBusConnection &bus();
    void askCapabilities();
    void capabilitiesAnswered(QDBusPendingCallWatcher *watcher);
    void sendNext(const QString &service);
    void notifyAnswered(const QString &service, QDBusPendingCallWatcher *watcher);
    void sendClose(uint id);
    void forget(uint id);

    QString m_appName;
    QString m_appIcon;
    std::optional<QDBusConnection> m_bus;
    bool m_signalsConnected = false;
    Capabilities m_capsState = Capabilities::Unknown;
    QStringList m_capabilities;
    // The latest notice of each service not yet sent; one per service.
    QHash<QString, Notice> m_queued;
    // Their services in the order they came.
    QStringList m_queueOrder;
    // Services whose Notify waits for its answer: the next one must carry
    // the id that answer brings, or it would not replace it.
    QSet<QString> m_inFlight;
    QSet<QString> m_closeAfterAnswer;
    QHash<QString, uint> m_idOfService;
    QHash<uint, QString> m_serviceOfId;
};
