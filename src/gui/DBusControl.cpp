#include "DBusControl.h"

#include "TfrmMain.h"

#include "engine/Monitor.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusError>
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

QStringList DBusControl::heldBack() const
{
    return m_monitor->heldBack();
}

QStringList DBusControl::certificatesExpiring() const
{
    return m_monitor->certificatesExpiring();
}

void DBusControl::answer(int outcome, const QString &service)
{
    if (!calledFromDBus())
        return;
    switch (static_cast<Monitor::HoldOutcome>(outcome)) {
    case Monitor::HoldOutcome::Done:
        return;
    case Monitor::HoldOutcome::UnknownService:
        sendErrorReply(unknownServiceError(), QStringLiteral("No service named \"%1\" is watched").arg(service.left(200)));
        return;
    case Monitor::HoldOutcome::NotOnError:
        sendErrorReply(notOnErrorError(), QStringLiteral("The service \"%1\" is not on error").arg(service.left(200)));
        return;
    case Monitor::HoldOutcome::BadMinutes:
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("Minutes must be from 1 to %1").arg(AlertHold::MaxSnoozeMinutes));
        return;
    case Monitor::HoldOutcome::StoreFailed:
        sendErrorReply(failedError(), QStringLiteral("The settings cannot be written"));
        return;
    }
}

void DBusControl::Snooze(const QString &service, uint minutes)
{
    const int bounded = minutes > uint(AlertHold::MaxSnoozeMinutes) ? 0 : int(minutes);
    answer(int(m_monitor->snooze(service, bounded)), service);
}

void DBusControl::Acknowledge(const QString &service)
{
    answer(int(m_monitor->acknowledge(service)), service);
}

void DBusControl::Resume(const QString &service)
{
    answer(int(m_monitor->resume(service)), service);
}
