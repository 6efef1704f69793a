#include "FakeNotificationServer.h"

#include <QDBusConnectionInterface>
#include <QUuid>

namespace {
const QString Name = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
} // namespace

FakeNotificationServer::FakeNotificationServer(QStringList capabilities) : m_capabilities(std::move(capabilities)) {}

FakeNotificationServer::~FakeNotificationServer()
{
    stop();
}

bool FakeNotificationServer::start(const QString &busAddress)
{
    m_connectionName = QStringLiteral("fake-notifications-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDBusConnection bus = QDBusConnection::connectToBus(busAddress, m_connectionName);
    if (!bus.isConnected())
        return false;
    return bus.registerObject(Path, this, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) &&
           bus.registerService(Name);
}

void FakeNotificationServer::stop()
{
    if (m_connectionName.isEmpty())
        return;
    QDBusConnection bus(m_connectionName);
    bus.unregisterService(Name);
    bus.unregisterObject(Path);
    QDBusConnection::disconnectFromBus(m_connectionName);
    m_connectionName.clear();
}

QList<FakeNotificationServer::Call> FakeNotificationServer::notifications() const
{
    QList<Call> out;
    for (const Call &call : m_calls)
        if (call.method == QLatin1String("Notify"))
            out << call;
    return out;
}

int FakeNotificationServer::closeCount() const
{
    int n = 0;
    for (const Call &call : m_calls)
        n += call.method == QLatin1String("CloseNotification");
    return n;
}

void FakeNotificationServer::invokeAction(uint id, const QString &key, bool thenClose)
{
    emit ActionInvoked(id, key);
    if (thenClose)
        closeByUser(id);
}

void FakeNotificationServer::closeByUser(uint id)
{
    if (m_open.removeAll(id) > 0)
        emit NotificationClosed(id, 2);
}

QStringList FakeNotificationServer::GetCapabilities()
{
    ++m_capabilityQueries;
    return m_capabilities;
}

uint FakeNotificationServer::Notify(const QString &appName, uint replacesId, const QString &, const QString &summary,
                                    const QString &body, const QStringList &actions, const QVariantMap &hints, int)
{
    Call call;
    call.method = QStringLiteral("Notify");
    call.replacesId = replacesId;
    call.appName = appName;
    call.summary = summary;
    call.body = body;
    call.actions = actions;
    call.hints = hints;
    const QVariant urgency = hints.value(QStringLiteral("urgency"));
    if (urgency.isValid())
        call.urgency = urgency.toInt();
    // A notification still open keeps its id when replaced; otherwise a
    // new one is made.
    call.id = replacesId != 0 && m_open.contains(replacesId) ? replacesId : m_nextId++;
    if (!m_open.contains(call.id))
        m_open << call.id;
    m_calls << call;
    return call.id;
}

void FakeNotificationServer::CloseNotification(uint id)
{
    Call call;
    call.method = QStringLiteral("CloseNotification");
    call.id = id;
    m_calls << call;
    if (m_open.removeAll(id) > 0)
        emit NotificationClosed(id, 3);
}

QString FakeNotificationServer::GetServerInformation(QString &vendor, QString &version, QString &specVersion)
{
    vendor = QStringLiteral("test");
    version = QStringLiteral("1");
    specVersion = QStringLiteral("1.2");
    return QStringLiteral("fake");
}
