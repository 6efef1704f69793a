#include "DBusControl.h"

#include "TfrmMain.h"

#include "engine/Monitor.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>

DBusControl::DBusControl(Monitor *monitor, TfrmMain *window)
    : QObject(window), m_monitor(monitor), m_window(window)
{
}

QString DBusControl::serviceName(bool testMode)
{
    return testMode ? QStringLiteral("org.kestrin.QuellmarkTest") : QStringLiteral("org.kestrin.Quellmark");
}

bool DBusControl::registerOnSessionBus(bool testMode)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    if (!bus.registerObject(QStringLiteral("/"), this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties))
        return false;
    if (!bus.registerService(serviceName(testMode))) {
        bus.unregisterObject(QStringLiteral("/"));
        return false;
    }
    return true;
}

bool DBusControl::showRunningInstance(bool testMode)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(serviceName(testMode), QStringLiteral("/"),
                                                       QStringLiteral("org.kestrin.Quellmark"),
                                                       QStringLiteral("Restore"));
    // Restore only queues its work, so the answer is quick; a program that
    // hangs does not hold this start for long.
    const QDBusMessage reply = bus.call(call, QDBus::Block, RestoreCallTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool DBusControl::windowShown() const
{
    return m_window->isVisible() && !m_window->isMinimized();
}

bool DBusControl::timerOn() const
{
    return m_monitor->timerOn();
}

bool DBusControl::polling() const
{
    return m_monitor->isPolling();
}

QStringList DBusControl::onErrorList() const
{
    return m_monitor->onErrorList();
}

QString DBusControl::lastPollFinished() const
{
    return m_monitor->lastPollFinished();
}

int DBusControl::pollsHandled() const
{
    return m_monitor->pollsHandled();
}

void DBusControl::PollNow()
{
    QTimer::singleShot(0, m_monitor, [m = m_monitor] { m->pollNow(); });
}

void DBusControl::ToggleTimer()
{
    QTimer::singleShot(0, m_monitor, [m = m_monitor] { m->toggleTimer(); });
}

void DBusControl::Restore()
{
    QTimer::singleShot(0, m_window, [w = m_window] { w->restoreFromTray(); });
}

void DBusControl::ShowServicesOnError()
{
    QTimer::singleShot(0, m_window, [w = m_window] { w->urlsOnErrorAction()->trigger(); });
}

void DBusControl::ShowStats()
{
    QTimer::singleShot(0, m_window, [w = m_window] { w->butStatsClick(); });
}

void DBusControl::Exit()
{
    QTimer::singleShot(0, m_monitor, [m = m_monitor] { m->requestExit(); });
}
