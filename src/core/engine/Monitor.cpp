#include "Monitor.h"

#include "alerts/ProgramLauncher.h"
#include "engine/AlertFailures.h"
#include "engine/IntervalTimer.h"
#include "engine/ProbeFleet.h"
#include "engine/Prober.h"
#include "config/Registry.h"
#include "platform/ConnectionWatcher.h"
#include "platform/DesktopId.h"
#include "platform/DesktopNotifier.h"
#include "platform/NetworkState.h"
#include "base/Subs.h"
#include "base/TimeStamp.h"
#include "stats/ResponseHistory.h"

Monitor::Monitor(const ProgramContext &context, QObject *parent) : Monitor(context, Overrides(), parent) {}

Monitor::Monitor(const ProgramContext &context, Overrides overrides, QObject *parent)
    : QObject(parent), m_context(context)
{
    PollCycle::Environment environment;
    environment.settings = [this] { return m_settings ? m_settings() : LiveSettings(); };
    if (overrides.now)
        environment.now = overrides.now;
    m_hold = new AlertHold(m_context, overrides.now, this);
    environment.hold = m_hold;
    m_notifier = overrides.notifier ? overrides.notifier : new DesktopNotifier(m_context.title, desktopId(), this);
    connect(m_notifier, &DesktopNotifier::actionInvoked, this, &Monitor::notificationAction);
    connect(m_hold, &AlertHold::changed, this, [this] {
        m_cycle->holdsChanged();
        emit holdChanged();
    });
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
        environment.probes = overrides.probes;
    } else {
        m_fleet = std::make_unique<ProbeFleet>();
        environment.probes = m_fleet.get();
        m_prober = new Prober(nullptr, this);
        environment.probe = [this](const ServiceTarget &target, const QString &pattern,
                                   const ProbeSettings &settings, std::function<bool()> abortRequested) {
            return m_prober->run(target, pattern, settings, std::move(abortRequested));
        };
        environment.abortProbe = [this] { m_prober->abort(); };
    }
    // The response time history: its problems go to the error log and the
    // status pane, never into the way of a poll.
    m_history = std::make_unique<ResponseHistory>(
        overrides.historyPath.isEmpty() ? ResponseHistory::pathIn(m_context.programFolder) : overrides.historyPath,
        ResponseHistory::Mode::ReadWrite, ResponseHistory::Limits(),
        [this, now = environment.now](const QString &text) {
            const QDateTime at = now ? now() : QDateTime::currentDateTime();
            AppendLine(m_context.errorLogPath, TimeStamp::format(at) + QStringLiteral(": ") + text +
                                                   QStringLiteral("\r\n"));
            emit statusLine(text);
        });
    environment.history = m_history.get();
    m_cycle = new PollCycle(m_context, *this, *this, environment, this);
    connect(m_cycle, &PollCycle::serviceChecked, this, &Monitor::serviceChecked);
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

Monitor::~Monitor()
{
    // Results that still wait (a cycle cut short) are kept.
    if (m_history)
        m_history->flush();
}

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

void Monitor::notifyDesktop(const DesktopNotice &notice)
{
    DesktopNotifier::Notice n;
    n.service = notice.serviceName;
    n.critical = notice.onError;
    n.holdActions = notice.onError;
    n.summary = notice.serviceName + (!notice.onError         ? QStringLiteral(" came off error")
                                      : notice.stillOnError ? QStringLiteral(" is still on error")
                                                            : QStringLiteral(" went on error"));
    n.body = notice.statusLine + QLatin1Char('\n') + notice.time;
    if (!notice.onError && !notice.downtime.isEmpty())
        n.body += QStringLiteral("\nDown for ") + notice.downtime;
    m_notifier->show(n);
}

namespace {
// A certificate notice is a notification of its own: it neither replaces the
// service's outage notification nor is replaced by it.
const QString CertificateNoticePrefix = QStringLiteral("certificate\n");
} // namespace

QStringList Monitor::certificatesExpiring() const
{
    return m_cycle->certificatesExpiring();
}

MailOutcome Monitor::sendCertificateMail(const QString &serviceName, const QString &templatePath,
                                         const QString &recipients, const QString &certExpiry)
{
    if (!m_alerts)
        return {false, QStringLiteral("No way to send e-mail is set up")};
    return m_alerts->sendCertificateMail(serviceName, templatePath, recipients, certExpiry);
}

void Monitor::notifyCertificate(const CertificateNotice &notice)
{
    DesktopNotifier::Notice n;
    n.service = CertificateNoticePrefix + notice.serviceName;
    n.summary = notice.serviceName + QStringLiteral(": certificate ") + notice.when;
    n.body = QStringLiteral("Expires ") + notice.expires + QStringLiteral("\nSubject: ") + notice.subject +
             QStringLiteral("\nIssuer: ") + notice.issuer + QLatin1Char('\n') + notice.time;
    m_notifier->show(n);
}

void Monitor::notificationAction(const QString &service, const QString &key)
{
    if (service.startsWith(CertificateNoticePrefix)) {
        if (key == DesktopNotifier::openKey())
            emit openServiceRequested(service.mid(CertificateNoticePrefix.size()));
        return;
    }
    if (key == DesktopNotifier::openKey()) {
        emit openServiceRequested(service);
        return;
    }
    HoldOutcome outcome = HoldOutcome::Done;
    if (key == DesktopNotifier::snoozeKey())
        outcome = snooze(service, 60);
    else if (key == DesktopNotifier::ackKey())
        outcome = acknowledge(service);
    if (outcome == HoldOutcome::StoreFailed)
        reportError(QStringLiteral("The alerts of \"%1\" could not be held back: the settings cannot be written.")
                        .arg(service));
}

QString Monitor::findService(const QString &service) const
{
    if (!m_services)
        return QString();
    for (const QString &name : m_services()) {
        if (name.compare(service, Qt::CaseInsensitive) == 0)
            return name;
    }
    return QString();
}

Monitor::HoldOutcome Monitor::changeHold(const QString &service,
                                         const std::function<void(const QString &)> &change)
{
    const QString name = findService(service);
    if (name.isEmpty())
        return HoldOutcome::UnknownService;
    try {
        change(name);
    } catch (const RegistryError &) {
        return HoldOutcome::StoreFailed;
    }
    return HoldOutcome::Done;
}

Monitor::HoldOutcome Monitor::snooze(const QString &service, int minutes)
{
    if (minutes < 1 || minutes > AlertHold::MaxSnoozeMinutes)
        return HoldOutcome::BadMinutes;
    return changeHold(service, [&](const QString &name) {
        m_hold->snooze(name, minutes);
        m_notifier->close(name);
    });
}

Monitor::HoldOutcome Monitor::acknowledge(const QString &service)
{
    const QString name = findService(service);
    if (name.isEmpty())
        return HoldOutcome::UnknownService;
    try {
        if (m_hold->state(name).kind == AlertHoldState::Kind::Acknowledged)
            return HoldOutcome::Done;
        SettingsAccess settings(m_context);
        if (settings.readInteger(Settings::ActualFailures, name) <= 0)
            return HoldOutcome::NotOnError;
        m_hold->acknowledge(name);
        m_notifier->close(name);
    } catch (const RegistryError &) {
        return HoldOutcome::StoreFailed;
    }
    return HoldOutcome::Done;
}

Monitor::HoldOutcome Monitor::resume(const QString &service)
{
    return changeHold(service, [this](const QString &name) { m_hold->resume(name); });
}

void Monitor::snoozeAll(int minutes)
{
    const QStringList services = m_services ? m_services() : QStringList();
    const QSignalBlocker quiet(m_hold);
    bool failed = false;
    for (const QString &name : services) {
        try {
            m_hold->snooze(name, minutes);
            m_notifier->close(name);
        } catch (const RegistryError &) {
            failed = true;
        }
    }
    m_cycle->holdsChanged();
    emit holdChanged();
    if (failed)
        reportError(QStringLiteral("Not every service could be snoozed: the settings cannot be written."));
}

void Monitor::resumeAll()
{
    const QStringList services = m_services ? m_services() : QStringList();
    const QSignalBlocker quiet(m_hold);
    bool failed = false;
    for (const QString &name : services) {
        try {
            const AlertHoldState state = m_hold->state(name);
            if (state.held() || !SettingsAccess(m_context).readString(Settings::SnoozedUntil, name).isEmpty())
                m_hold->resume(name);
        } catch (const RegistryError &) {
            failed = true;
        }
    }
    m_cycle->holdsChanged();
    emit holdChanged();
    if (failed)
        reportError(QStringLiteral("Not every service could be resumed: the settings cannot be written."));
}

QStringList Monitor::heldBack() const
{
    const QStringList services = m_services ? m_services() : QStringList();
    const QList<AlertHoldState> holds = holdStates(services);
    QStringList held;
    for (qsizetype i = 0; i < services.size(); ++i)
        if (holds.at(i).held())
            held << services.at(i);
    return held;
}

QList<AlertHoldState> Monitor::holdStates(const QStringList &services) const
{
    try {
        QList<AlertHoldState> holds = m_hold->states(services);
        // A name with a backslash is a key further down: read on its own.
        for (qsizetype i = 0; i < services.size(); ++i)
            if (services.at(i).contains(QLatin1Char('\\')))
                holds[i] = holdState(services.at(i));
        return holds;
    } catch (const RegistryError &) {
        return QList<AlertHoldState>(services.size());
    }
}

AlertHoldState Monitor::holdState(const QString &service) const
{
    try {
        return m_hold->state(service);
    } catch (const RegistryError &) {
        return {};
    }
}
