#include "DBusControl.h"

#include "TfrmMain.h"

#include "engine/PollCycle.h"

#include <QAction>
#include <QDBusConnection>
#include <QTimer>

DBusControl::DBusControl(TfrmMain *window) : QObject(window), m_window(window) {}

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

bool DBusControl::timerOn() const
{
    return m_window->isTimerOn();
}

bool DBusControl::polling() const
{
    return m_window->pollCycle()->isRunning();
}

QStringList DBusControl::onErrorList() const
{
    return m_window->onErrorList();
}

QString DBusControl::lastPollFinished() const
{
    return m_window->pollCycle()->lastFinished();
}

int DBusControl::pollsHandled() const
{
    return m_window->pollCycle()->pollsHandled();
}

void DBusControl::PollNow()
{
    QTimer::singleShot(0, m_window, [w = m_window] { w->butStartClick(); });
}

void DBusControl::ToggleTimer()
{
    QTimer::singleShot(0, m_window, [w = m_window] { w->butTimerClick(); });
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
    QTimer::singleShot(0, m_window, [w = m_window] { w->mnuExitClick(); });
}
