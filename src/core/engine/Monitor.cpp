#include "Monitor.h"

#include "alerts/ProgramLauncher.h"
#include "engine/AlertFailures.h"
#include "engine/IntervalTimer.h"
#include "engine/Prober.h"
#include "platform/ConnectionWatcher.h"
#include "platform/NetworkState.h"

Monitor::Monitor(const ProgramContext &context, QObject *parent) : Monitor(context, Overrides(), parent) {}

Monitor::Monitor(const ProgramContext &context, Overrides overrides, QObject *parent)
    : QObject(parent), m_context(context)
{
    PollCycle::Environment environment;
    environment.settings = [this] { return m_settings ? m_settings() : LiveSettings(); };
    if (overrides.internetConnected) {
        environment.internetConnected = std::move(overrides.internetConnected);
    } else {
        // One check shared with the connection watcher: its fresh answer is
        // the one the cycle it starts then sees.
        m_connection = std::make_shared<RecentInternetCheck>();
        environment.internetConnected = [connection = m_connection] { return (*connection)(); };
    }
    if (overrides.probe) {
        environment.probe = std::move(overrides.probe);
        environment.abortProbe = std::move(overrides.abortProbe);
    } else {
        m_prober = new Prober(nullptr, this);
        environment.probe = [this](const ServiceTarget &target, const QString &pattern,
                                   const ProbeSettings &settings, std::function<bool()> abortRequested) {
            return m_prober->run(target, pattern, settings, std::move(abortRequested));
        };
        environment.abortProbe = [this] { m_prober->abort(); };
    }
    m_cycle = new PollCycle(m_context, *this, *this, environment, this);
    m_cycle->setServiceListProvider([this] { return m_services ? m_services() : QStringList(); });
    connect(m_cycle, &PollCycle::cycleFinished, this, [this] {
        const QStringList now = m_cycle->onErrorList();
        if (now != m_lastOnError) {
            m_lastOnError = now;
            emit onErrorListChanged(now);
        }
        emit cycleFinished();
    });
    if (overrides.watchConnection && m_connection) {
        m_watcher = new ConnectionWatcher([connection = m_connection] { return connection->refresh(); }, this);
        connect(m_watcher, &ConnectionWatcher::connected, m_cycle, &PollCycle::connectionRestored);
    }
}

Monitor::~Monitor() = default;

void Monitor::setSettingsSource(std::function<LiveSettings()> settings)
{
    m_settings = std::move(settings);
}

void Monitor::setServiceListProvider(std::function<QStringList()> services)
{
    m_services = std::move(services);
}

void Monitor::setAlertActions(AlertActions *alerts)
{
    m_alerts = alerts;
}

void Monitor::setEventPump(std::function<void()> pump)
{
    m_pump = std::move(pump);
}

void Monitor::pollNow()
{
    if (m_exiting || m_cycle->isRunning())
        return;
    m_cycle->run(m_services ? m_services() : QStringList());
}

void Monitor::abort()
{
    if (m_cycle->isRunning())
        m_cycle->abort();
}

void Monitor::toggleTimer()
{
    m_cycle->toggleTimerSwitch();
}

void Monitor::setPollInterval(int minutes)
{
    m_cycle->setPollInterval(minutes);
}

void Monitor::requestExit()
{
    if (m_exiting)
        return;
    m_exiting = true;
    // A running probe returns at once and closes its own connection; the
    // cycle then ends on its own while the event loops unwind.
    abort();
    // Nothing held back for the e-mail starts now.
    m_cycle->holdStarts(true);
    emit exitRequested();
    // Quitting ends every event loop, the one an e-mail waits in too, which
    // would cut its dialogue off mid-command and lose the alert: the end
    // comes when the message is through (its waits are bounded).
    if (!m_mailInFlight)
        emit exitReady();
}

void Monitor::setMailInFlight(bool sending)
{
    m_mailInFlight = sending;
    if (m_exiting) {
        if (!sending)
            QMetaObject::invokeMethod(this, &Monitor::exitReady, Qt::QueuedConnection);
        return;
    }
    m_cycle->holdStarts(sending);
}

bool Monitor::isPolling() const
{
    return m_cycle->isRunning();
}

bool Monitor::timerOn() const
{
    return m_cycle->timerSwitchOn();
}

QStringList Monitor::onErrorList() const
{
    return m_cycle->onErrorList();
}

QString Monitor::lastPollFinished() const
{
    return m_cycle->lastFinished();
}

int Monitor::pollsHandled() const
{
    return m_cycle->pollsHandled();
}

IntervalTimer *Monitor::sessionTimer() const
{
    return m_cycle->sessionTimer();
}

AlertFailures *Monitor::alertFailures() const
{
    return m_cycle->alertFailures();
}

void Monitor::processEvents()
{
    if (m_pump)
        m_pump();
}

QString Monitor::playAlertSound(const QString &serviceName, bool onError)
{
    return m_alerts ? m_alerts->playAlertSound(serviceName, onError) : QString();
}

void Monitor::launchProgram(const QString &commandLine)
{
    if (m_alerts)
        m_alerts->launchProgram(commandLine);
}

MailOutcome Monitor::sendAlertMail(const QString &serviceName, const QString &templatePath,
                                   const QString &recipients)
{
    if (!m_alerts)
        return {false, QStringLiteral("No way to send e-mail is set up")};
    return m_alerts->sendAlertMail(serviceName, templatePath, recipients);
}

void Monitor::reportError(const QString &message)
{
    if (m_alerts)
        m_alerts->reportError(message);
}
