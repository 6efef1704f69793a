#include "DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
// A server that does not answer within this long is taken as absent.
constexpr int CallTimeoutMs = 10000;
// Bounds on what a server may tell us.
constexpr int MaxCapabilities = 64;
constexpr int MaxCapabilityLength = 128;

enum Urgency : uchar { Low = 0, Normal = 1, Critical = 2 };
} // namespace

DesktopNotifier::DesktopNotifier(const QString &appName, const QString &appIcon, QObject *parent)
    : QObject(parent), m_appName(appName), m_appIcon(appIcon)
{
}

DesktopNotifier::DesktopNotifier(const QString &appName, const QString &appIcon, const QDBusConnection &bus,
                                 QObject *parent)
    : QObject(parent), m_appName(appName), m_appIcon(appIcon), m_bus(bus)
{
}

DesktopNotifier::~DesktopNotifier()
{
    if (m_signalsConnected && m_bus) {
        m_bus->disconnect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                          SLOT(onActionInvoked(uint, QString)));
        m_bus->disconnect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                          SLOT(onNotificationClosed(uint, uint)));
    }
}

QDBusConnection &DesktopNotifier::bus()
{
    if (!m_bus)
        m_bus = QDBusConnection::sessionBus();
    if (!m_signalsConnected && m_bus->isConnected()) {
        m_signalsConnected = true;
        m_bus->connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                       SLOT(onActionInvoked(uint, QString)));
        m_bus->connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                       SLOT(onNotificationClosed(uint, uint)));
    }
    return *m_bus;
}

void DesktopNotifier::show(const Notice &notice)
{
    if (notice.service.isEmpty())
        return;
    m_closeAfterAnswer.remove(notice.service);
    if (!m_queued.contains(notice.service))
        m_queueOrder << notice.service;
    m_queued.insert(notice.service, notice);
    switch (m_capsState) {
    case Capabilities::Unknown:
        askCapabilities();
        return;
    case Capabilities::Asking:
        return;
    case Capabilities::Known:
        sendNext(notice.service);
        return;
    }
}

void DesktopNotifier::close(const QString &service)
{
    m_queued.remove(service);
    m_queueOrder.removeOne(service);
    if (m_inFlight.contains(service)) {
        m_closeAfterAnswer.insert(service);
        return;
    }
    const auto found = m_idOfService.constFind(service);
    if (found == m_idOfService.constEnd())
        return;
    const uint id = *found;
    forget(id);
    sendClose(id);
}

void DesktopNotifier::askCapabilities()
{
    QDBusConnection &connection = bus();
    if (!connection.isConnected()) {
        // No session bus: nothing can be shown, now or later in this run.
        m_queued.clear();
        m_queueOrder.clear();
        return;
    }
    m_capsState = Capabilities::Asking;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(connection.asyncCall(call, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::capabilitiesAnswered);
}

void DesktopNotifier::capabilitiesAnswered(QDBusPendingCallWatcher *watcher)
{
    watcher->deleteLater();
    const QDBusPendingReply<QStringList> reply = *watcher;
    if (reply.isError()) {
        // No server (or a broken one): what waited is dropped, and the next
        // notification asks again, in case one has started since.
        m_capsState = Capabilities::Unknown;
        m_capabilities.clear();
        m_queued.clear();
        m_queueOrder.clear();
        return;
    }
    m_capabilities.clear();
    for (const QString &capability : reply.value()) {
        if (m_capabilities.size() >= MaxCapabilities)
            break;
        if (capability.size() <= MaxCapabilityLength)
            m_capabilities << capability;
    }
    m_capsState = Capabilities::Known;
    const QStringList waiting = m_queueOrder;
    for (const QString &service : waiting)
        sendNext(service);
}

void DesktopNotifier::sendNext(const QString &service)
{
    if (m_inFlight.contains(service))
        return;
    const auto found = m_queued.constFind(service);
    if (found == m_queued.constEnd())
        return;
    const Notice notice = *found;
    m_queued.erase(found);
    m_queueOrder.removeOne(service);

    QStringList actions;
    if (m_capabilities.contains(QLatin1String("actions"))) {
        actions << openKey() << QStringLiteral("Open");
        if (notice.holdActions)
            actions << snoozeKey() << QStringLiteral("Snooze 1 hour") << ackKey() << QStringLiteral("Acknowledge");
    }
    QString body = notice.body;
    if (m_capabilities.contains(QLatin1String("body-markup")))
        body = body.toHtmlEscaped();
    if (!m_capabilities.contains(QLatin1String("body")))
        body.clear();
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(notice.critical ? Critical : Normal)));
    hints.insert(QStringLiteral("category"),
                 notice.critical ? QStringLiteral("network.error") : QStringLiteral("network"));
    hints.insert(QStringLiteral("desktop-entry"), m_appIcon);

    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    call << m_appName << m_idOfService.value(service, 0u) << m_appIcon << notice.summary << body << actions
         << hints << qint32(-1);
    m_inFlight.insert(service);
    auto *watcher = new QDBusPendingCallWatcher(bus().asyncCall(call, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, service](QDBusPendingCallWatcher *w) { notifyAnswered(service, w); });
}

void DesktopNotifier::notifyAnswered(const QString &service, QDBusPendingCallWatcher *watcher)
{
    watcher->deleteLater();
    m_inFlight.remove(service);
    const QDBusPendingReply<uint> reply = *watcher;
    if (reply.isError()) {
        // The server went away; its ids mean nothing to the next one.
        const auto old = m_idOfService.constFind(service);
        if (old != m_idOfService.constEnd())
            forget(*old);
        m_capsState = Capabilities::Unknown;
        m_closeAfterAnswer.remove(service);
        if (m_queued.contains(service))
            askCapabilities();
        return;
    }
    const uint id = reply.value();
    const auto old = m_idOfService.constFind(service);
    if (old != m_idOfService.constEnd() && *old != id)
        forget(*old);
    if (id != 0) {
        m_idOfService.insert(service, id);
        m_serviceOfId.insert(id, service);
        emit shown(service, id);
    }
    if (m_closeAfterAnswer.remove(service)) {
        if (id != 0) {
            forget(id);
            sendClose(id);
        }
        return;
    }
    sendNext(service);
}

void DesktopNotifier::sendClose(uint id)
{
    QDBusConnection &connection = bus();
    if (!connection.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("CloseNotification"));
    call << id;
    // The answer does not matter: a notification already gone is fine.
    auto *watcher = new QDBusPendingCallWatcher(connection.asyncCall(call, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, watcher, &QObject::deleteLater);
}

void DesktopNotifier::forget(uint id)
{
    const QString service = m_serviceOfId.take(id);
    if (!service.isEmpty() && m_idOfService.value(service) == id)
        m_idOfService.remove(service);
}

void DesktopNotifier::onActionInvoked(uint id, const QString &key)
{
    const auto found = m_serviceOfId.constFind(id);
    if (found == m_serviceOfId.constEnd())
        return;
    if (key != openKey() && key != snoozeKey() && key != ackKey())
        return;
    emit actionInvoked(*found, key);
}

void DesktopNotifier::onNotificationClosed(uint id, uint)
{
    forget(id);
}
