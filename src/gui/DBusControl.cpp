#include "DBusControl.h"

#include "TfrmMain.h"

#include "engine/Monitor.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QEvent>
#include <QTimer>

#include <climits>

namespace {
const QString Interface = QStringLiteral("org.kestrin.Quellmark");
const QString ObjectPath = QStringLiteral("/");
} // namespace

DBusControl::DBusControl(Monitor *monitor, TfrmMain *window)
    : QObject(window), m_monitor(monitor), m_window(window)
{
    connect(m_monitor, &Monitor::cycleRunning, this, &DBusControl::cycleRunning);
    connect(m_monitor, &Monitor::serviceChecked, this,
            [this](const QString &, const HistoryPoint &point) {
                ++m_checked;
                if (!point.up)
                    ++m_failed;
            });
    connect(m_monitor, &Monitor::cycleFinished, this, &DBusControl::cycleFinished);
    connect(m_monitor, &Monitor::timerSwitchShown, this, &DBusControl::announceChanges);
    connect(m_monitor, &Monitor::onErrorListChanged, this, &DBusControl::announceChanges);
    connect(m_monitor, &Monitor::holdChanged, this, &DBusControl::announceChanges);
    m_window->installEventFilter(this);
    auto *timeChecks = new QTimer(this);
    connect(timeChecks, &QTimer::timeout, this, &DBusControl::announceChanges);
    timeChecks->start(TimeChecksMs);
}

void DBusControl::cycleRunning(bool running)
{
    if (running) {
        m_cycleClock.start();
        m_checked = 0;
        m_failed = 0;
    }
    announceChanges();
}

void DBusControl::cycleFinished()
{
    announceChanges();
    // A poll that found no connection never ran: it checked nothing and
    // took no time.
    const int duration =
        m_cycleClock.isValid() ? int(qMin<qint64>(m_cycleClock.elapsed(), INT_MAX)) : 0;
    const int checked = m_checked;
    const int failed = m_failed;
    m_cycleClock.invalidate();
    m_checked = 0;
    m_failed = 0;
    emit PollFinished(checked, failed, duration);
}

bool DBusControl::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && !m_announceQueued &&
        (event->type() == QEvent::Show || event->type() == QEvent::Hide ||
         event->type() == QEvent::WindowStateChange)) {
        // Looked at once the window has settled in its new state.
        m_announceQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_announceQueued = false;
            announceChanges();
        });
    }
    return QObject::eventFilter(watched, event);
}

QVariantMap DBusControl::propertyValues() const
{
    return {
        {QStringLiteral("TimerOn"), timerOn()},
        {QStringLiteral("Polling"), polling()},
        {QStringLiteral("OnErrorList"), onErrorList()},
        {QStringLiteral("LastPollFinished"), lastPollFinished()},
        {QStringLiteral("PollsHandled"), pollsHandled()},
        {QStringLiteral("WindowShown"), windowShown()},
        {QStringLiteral("HeldBack"), heldBack()},
        {QStringLiteral("CertificatesExpiring"), certificatesExpiring()},
    };
}

void DBusControl::announceChanges()
{
    if (!m_bus)
        return;
    const QVariantMap now = propertyValues();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (m_announced.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    m_announced = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(ObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << Interface << changed << QStringList();
    m_bus->send(signal);
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
    if (!bus.registerObject(ObjectPath, this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                                QDBusConnection::ExportAllSignals))
        return false;
    if (!bus.registerService(serviceName(testMode))) {
        bus.unregisterObject(ObjectPath);
        return false;
    }
    m_bus = bus;
    // What a client reads from now on is the base the changes are told
    // against.
    m_announced = propertyValues();
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
