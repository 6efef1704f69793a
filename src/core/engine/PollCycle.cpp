#include "PollCycle.h"

#include "alerts/MessageTemplate.h"
#include "alerts/ProgramLauncher.h"
#include "base/Subs.h"
#include "base/TimeStamp.h"
#include "config/Registry.h"
#include "config/RegistryStore.h"
#include "config/Settings.h"
#include "engine/AlertFailures.h"
#include "engine/IntervalTimer.h"
#include "engine/InOrderProbes.h"
#include "engine/ProbeRules.h"
#include "engine/ServiceLog.h"
#include "engine/ServiceTarget.h"
#include "stats/ResponseHistory.h"

#include <climits>
#include <unordered_map>

namespace {
const QString NoInternet = QStringLiteral("NoInternetConnection");
// 64-bit: the pages accept up to 99999 minutes, beyond what an int of
// milliseconds holds.
constexpr qint64 MsPerMinute = 60000;

IntervalTimer *makeTimer(QObject *parent, const PollCycle::Environment &env)
{
    return new IntervalTimer(parent, env.steadyClockMs,
                             env.timerMaxShotMs > 0 ? env.timerMaxShotMs : IntervalTimer::DefaultMaxShotMs);
}

bool isMultiple(int n, int of)
{
    // Thresholds below 1 exist only through hand-edited settings; they never fire.
    return of >= 1 && n % of == 0;
}
} // namespace

// The per-service values read at the start of the service's turn; the
// defaults come from the settings table.
struct PollCycle::ServiceValues {
    QString name;
    QString key;
    QString logPath;
    int actualFailures = 0;
    bool actualFailuresStored = false;
    bool soundAlert = false;
    bool launchApplication = false;
    int failuresBeforeLaunch = 0;
    bool repeatLaunch = false;
    QString progName;
    QString progNameOff;
    bool sendEmail = false;
    int failuresBeforeEmail = 0;
    bool repeatEmail = false;
    QString onErrorEmail;
    QString onErrorEmailTo;
    QString offErrorEmail;
    QString offErrorEmailTo;
    QString pattern;
    int slowAfterMs = 0;
    bool desktopNotification = true;
    bool acknowledged = false;
    AlertHoldState hold;
    QString outageStart;
};

PollCycle::PollCycle(const ProgramContext &context, PollView &view, AlertActions &alerts,
                     Environment environment, QObject *parent)
    : QObject(parent), m_context(context), m_settings(m_context), m_view(view), m_alerts(alerts),
      m_env(std::move(environment)), m_sessionTimer(makeTimer(this, m_env)),
      m_problemTimer(makeTimer(this, m_env)),
      m_alertFailures(new AlertFailures(
          context.errorLogPath, [this] { return stamp(); }, this))
{
    m_systemClock = !m_env.now;
    if (!m_env.now)
        m_env.now = [] { return QDateTime::currentDateTime(); };
    if (!m_env.settings)
        m_env.settings = [] { return LiveSettings(); };
    connect(m_sessionTimer, &IntervalTimer::timeout, this, [this] {
        if (m_services)
            run(m_services());
    });
    connect(m_problemTimer, &IntervalTimer::timeout, this, [this] {
        if (m_running && !m_abortRequested)
            abort();
    });
}

PollCycle::~PollCycle() = default;

void PollCycle::setServiceListProvider(std::function<QStringList()> provider)
{
    m_services = std::move(provider);
}

QString PollCycle::stamp() const
{
    return TimeStamp::format(m_env.now(), m_env.locale);
}

void PollCycle::connectionRestored()
{
    if (m_timerOn && !m_running && m_services && m_onErrorList.contains(NoInternet))
        run(m_services());
}

void PollCycle::abort()
{
    m_abortRequested = true;
    m_view.setAbortEnabled(false);
    if (m_env.abortProbe)
        m_env.abortProbe();
    // Every probe in flight ends now, not at its next look at the request.
    if (m_ordered)
        m_ordered->abortAll();
}

void PollCycle::toggleTimerSwitch()
{
    const int normal = m_env.settings().normalFreqMins;
    if (!m_timerOn && normal > 0) {
        m_timerOn = true;
        m_sessionTimer->setInterval(qint64(normal) * MsPerMinute);
        m_sessionTimer->setEnabled(true);
    } else {
        m_timerOn = false;
        m_sessionTimer->setInterval(0);
        m_sessionTimer->setEnabled(false);
    }
    m_view.setTimerSwitchShown(m_timerOn);
}

void PollCycle::setPollInterval(int minutes)
{
    m_sessionTimer->setInterval(qint64(qMax(0, minutes)) * MsPerMinute);
}

void PollCycle::holdStarts(bool hold)
{
    m_startsHeld = hold;
    if (hold || !m_heldStart)
        return;
    // Started from the event loop, not from inside whatever released it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_startsHeld || !m_heldStart)
                return;
            const QStringList services = *m_heldStart;
            m_heldStart.reset();
            run(services);
        },
        Qt::QueuedConnection);
}

void PollCycle::run(const QStringList &services)
{
    if (m_running)
        return;
    if (m_startsHeld) {
        m_heldStart = services;
        return;
    }
    m_running = true;
    try {
        if (!m_env.internetConnected || m_env.internetConnected()) {
            startCycle();
            const int atOnce = qBound(Settings::ParallelChecks.minimum, m_env.settings().parallelChecks,
                                      Settings::ParallelChecks.maximum);
            if (atOnce > 1 && m_env.probes)
                walkParallel(services, atOnce);
            else
                walk(services);
            endCycle();
        } else {
            startWithoutConnection();
        }
    } catch (const RegistryError &error) {
        // A setting that cannot be read or written stops the cycle; the
        // window is put back to its idle state.
        m_alerts.reportError(error.message());
        endCycle();
    }
    m_running = false;
    ++m_pollsHandled;
    emit cycleFinished();
}

bool PollCycle::startWithoutConnection()
{
    const LiveSettings live = m_env.settings();
    const int c = m_settings.readInteger(Settings::NoConnActualFailures) + 1;
    m_settings.writeInteger(Settings::NoConnActualFailures, c);
    m_view.statusAppend(stamp() + QStringLiteral(": no internet connection"));

    if (!live.noConnProgName.trimmed().isEmpty()) {
        const bool fire = (live.noConnAppLaunch && live.noConnRepeatLaunch)
                              ? isMultiple(c, live.noConnFailures)
                              : (live.noConnAppLaunch && c == live.noConnFailures);
        if (fire)
            launch(QStringLiteral("no internet connection"), QStringLiteral("no-connection program"),
                   live.noConnProgName);
    }

    if (!m_onErrorList.contains(NoInternet)) {
        m_view.errorWindowSetBordered(true);
        m_onErrorList.append(NoInternet);
        m_view.errorWindowSetText(NoInternet);
        ServiceLog::appendConnectionLost(m_context.errorLogPath, stamp());
        if (live.visualAlert)
            m_view.errorWindowShow();
        m_view.processEvents();
        setPollInterval(live.errorFreqMins);
        m_view.setTrayIcon(PollView::TrayIcons::Normal, true);
    }
    return false;
}

void PollCycle::startCycle()
{
    const LiveSettings live = m_env.settings();
    if (m_onErrorList.removeAll(NoInternet) > 0) {
        const QString line = stamp() + QStringLiteral(": internet connection restored");
        m_view.statusAppend(line);
        ServiceLog::appendConnectionBack(m_context.errorLogPath, stamp());
        if (m_onErrorList.isEmpty())
            m_view.errorWindowHide();
    }
    m_view.setTrayIcon(PollView::TrayIcons::Normal, false);
    m_abortRequested = false;
    m_noConnCountCleared = false;
    m_view.setCycleRunning(true);
    m_problemTimer->setInterval(qint64(qMax(0, live.pollTimeoutMins)) * MsPerMinute);
    m_problemTimer->setEnabled(true);
    m_view.statusClear();
    m_view.processEvents();
    m_view.errorWindowSetBordered(true);
    m_overallError = false;
    m_errorSummary.clear();
    m_view.errorWindowSetWordWrap(true);
    m_sessionTimer->setInterval(0);
    m_view.statusAppend(QStringLiteral("Poll started at: ") + stamp());
    m_view.setTrayIcon(PollView::TrayIcons::Polling, false);
    m_sitesOnError = 0;
    m_view.setErrorPanel(QString(), PollView::Image::None);
}

const PollCycle::KnownService &PollCycle::knownService(const QString &name)
{
    // Names come and go with the list; forget them all now and then rather
    // than keep every name ever polled.
    if (m_known.size() > 4 * 1024 && !m_known.contains(name))
        m_known.clear();
    auto found = m_known.find(name);
    if (found == m_known.end()) {
        KnownService known;
        known.target = ServiceTarget::parse(name);
        known.key = Settings::serviceKey(m_context.servicesKey, name);
        known.logPath = ServiceLog::logPath(m_context.programFolder, name);
        if (known.target) {
            known.trayHint = QStringLiteral("Polling ") + known.target->normalizedName;
            known.progressText = QStringLiteral("Polling: ") + known.target->displayName;
        }
        found = m_known.insert(name, known);
    }
    return *found;
}

const PollCycle::KnownService &PollCycle::loadServiceValues(const QString &name, ServiceValues &v)
{
    v.name = name;
    const KnownService &known = knownService(v.name);
    v.key = known.key;
    v.logPath = known.logPath;
    const RegKeyValues stored(v.key);
    using namespace Settings;
    v.actualFailures = SettingsAccess::readInteger(stored, ActualFailures);
    v.actualFailuresStored = stored.contains(ActualFailures.name());
    v.soundAlert = SettingsAccess::readBool(stored, SoundAlert);
    v.launchApplication = SettingsAccess::readBool(stored, LaunchApplication);
    v.failuresBeforeLaunch = SettingsAccess::readInteger(stored, FailuresBeforeLaunch);
    v.repeatLaunch = SettingsAccess::readBool(stored, RepeatLaunchApplication);
    v.progName = m_settings.readString(stored, ProgName);
    v.progNameOff = m_settings.readString(stored, ProgNameOff);
    v.sendEmail = SettingsAccess::readBool(stored, SendEmail);
    v.failuresBeforeEmail = SettingsAccess::readInteger(stored, FailuresBeforeEmail);
    v.repeatEmail = SettingsAccess::readBool(stored, RepeatEmail);
    v.onErrorEmail = m_settings.readString(stored, OnErrorEmail);
    v.onErrorEmailTo = m_settings.readString(stored, OnErrorEmailTo);
    v.offErrorEmail = m_settings.readString(stored, OffErrorEmail);
    v.offErrorEmailTo = m_settings.readString(stored, OffErrorEmailTo);

    if (!known.target)
        return known;
    v.pattern = m_settings.readString(stored, Pattern);
    v.slowAfterMs = SettingsAccess::readInteger(stored, SlowAfterMs);
    v.desktopNotification = SettingsAccess::readBool(stored, DesktopNotification);
    v.acknowledged = SettingsAccess::readBool(stored, Acknowledged);
    v.outageStart = stored.readString(OutageStart.name(), QString());
    if (m_env.hold) {
        const QDateTime nowUtc = m_env.hold->nowUtc();
        v.hold = AlertHold::judge(stored, nowUtc);
        // A snooze that has run out is no longer kept.
        if (AlertHold::snoozeRunOut(stored, nowUtc))
            RegWriteString(v.key, SnoozedUntil.name(), QString());
    }
    return known;
}

void PollCycle::walk(const QStringList &services)
{
    m_certificates.retain(services);
    const int count = services.size();
    for (int i = 0; i < count; ++i) {
        if (m_env.internetConnected && !m_env.internetConnected()) {
            connectionLost();
            return;
        }
        // The connection is there: the count of polls without one starts
        // over. Once per cycle is enough; nothing else counts it meanwhile.
        if (!m_noConnCountCleared) {
            m_settings.writeInteger(Settings::NoConnActualFailures, 0);
            m_noConnCountCleared = true;
        }

        ServiceValues v;
        const KnownService &known = loadServiceValues(services.at(i), v);
        if (!known.target)
            continue;
        const ServiceTarget &target = *known.target;

        m_view.setTrayHint(known.trayHint);
        ServiceLog::ensureLogStarted(v.logPath, [this] { return stamp(); });
        m_view.setProgressText(known.progressText);
        m_view.processEvents();
        if (m_abortRequested)
            return;

        const ProbeSettings settings = probeSettings(m_env.settings());
        ProbeResult result = m_env.probe(target, v.pattern, settings, [this] { return m_abortRequested; });
        if (result.aborted || m_abortRequested)
            return;
        m_view.processEvents();
        if (m_abortRequested)
            return;
        if (result.resultCode.isEmpty())
            result.resultCode = QStringLiteral("timeout");
        // Too slow an answer fails like a wrong one, with its own code.
        judgeSlowAnswer(result, v.slowAfterMs);
        handOver(target, v, result);
    }
}

void PollCycle::handOver(const ServiceTarget &target, const ServiceValues &v, const ProbeResult &result)
{
    // Response time history: kept in memory, written with the cycle's
    // other results at its end.
    recordResult(v.name, result);

    if (result.connected && result.success)
        handleSuccess(target, v, result.resultCode);
    else
        handleFailure(target, v, result);
    if (result.certificate)
        certificateSeen(v, *result.certificate);
}

ProbeSettings PollCycle::probeSettings(const LiveSettings &live)
{
    ProbeSettings settings;
    settings.connectionTimeoutSecs = live.connectionTimeoutSecs;
    settings.proxy.use = live.useProxy;
    settings.proxy.host = live.proxyHost;
    settings.proxy.port = live.proxyPort;
    return settings;
}

// Several services at once: each probe starts as soon as a place is free,
// its service's values read then; the results are taken in list order, each
// after the connection check that would have come before its probe, and go
// through the same steps as one at a time.
void PollCycle::walkParallel(const QStringList &services, int atOnce)
{
    m_certificates.retain(services);
    const int count = services.size();
    struct Entry {
        ServiceValues values;
        KnownService known;
    };
    // The entries prepared and not yet taken; an entry stays where it is
    // while others come and go.
    std::unordered_map<int, Entry> entries;
    const ProbeSettings settings = probeSettings(m_env.settings());
    InOrderProbes probes(
        *m_env.probes, atOnce, count,
        [&](int index) -> std::optional<InOrderProbes::Job> {
            Entry entry;
            entry.known = loadServiceValues(services.at(index), entry.values);
            std::optional<InOrderProbes::Job> job;
            if (entry.known.target)
                job = InOrderProbes::Job{*entry.known.target, entry.values.pattern, settings};
            entries.insert_or_assign(index, std::move(entry));
            return job;
        },
        [&](int index, ProbeResult &result) {
            if (result.resultCode.isEmpty())
                result.resultCode = QStringLiteral("timeout");
            const auto entry = entries.find(index);
            judgeSlowAnswer(result, entry == entries.end() ? 0 : entry->second.values.slowAfterMs);
            // A success's answer is never looked at again: it need not
            // wait for its turn in memory.
            if (result.connected && result.success)
                result.response.clear();
        });
    m_ordered = &probes;
    struct Unset {
        InOrderProbes *&ordered;
        ~Unset() { ordered = nullptr; }
    } unset{m_ordered};

    for (int i = 0; i < count; ++i) {
        if (m_env.internetConnected && !m_env.internetConnected()) {
            // What is still running started before the connection went.
            probes.abortAll();
            connectionLost();
            return;
        }
        if (!m_noConnCountCleared) {
            m_settings.writeInteger(Settings::NoConnActualFailures, 0);
            m_noConnCountCleared = true;
        }
        probes.prepareThrough(i);
        const auto found = entries.find(i);
        if (m_abortRequested || found == entries.end())
            return;
        // Kept in the table until its result is in: the result's own
        // judgement reads it.
        const Entry &entry = found->second;
        if (!entry.known.target) {
            entries.erase(found);
            continue;
        }
        const ServiceTarget &target = *entry.known.target;
        const ServiceValues &v = entry.values;

        m_view.setTrayHint(entry.known.trayHint);
        ServiceLog::ensureLogStarted(v.logPath, [this] { return stamp(); });
        m_view.setProgressText(entry.known.progressText);
        m_view.processEvents();
        if (m_abortRequested)
            return;

        std::optional<ProbeResult> result = probes.take(i, [this] { return m_abortRequested; });
        if (!result || result->aborted || m_abortRequested)
            return;
        m_view.processEvents();
        if (m_abortRequested)
            return;
        handOver(target, v, *result);
        entries.erase(i);
    }
}

void PollCycle::connectionLost()
{
    m_overallError = true;
    if (!m_onErrorList.contains(NoInternet))
        m_onErrorList.append(NoInternet);
    m_view.errorWindowSetText(NoInternet);
    ServiceLog::appendConnectionLost(m_context.errorLogPath, stamp());
    m_view.processEvents();
}

void PollCycle::handleFailure(const ServiceTarget &target, const ServiceValues &v, const ProbeResult &result)
{
    const bool unreachable = !result.connected;
    ++m_sitesOnError;
    m_view.setErrorPanel(QString::number(m_sitesOnError) + QStringLiteral(" sites on error"),
                         PollView::Image::Error);
    const int n = v.actualFailures + 1;
    RegWriteInteger(v.key, Settings::ActualFailures.name(), n);
    m_errorSummary.append({target.serviceTag, v.name, v.hold});

    const QString codePart = unreachable ? QString() : QStringLiteral(" (") + result.resultCode + QLatin1Char(')');
    const QString wentLine = QStringLiteral("Failed: ") + target.displayName + codePart +
                             QStringLiteral(" went on error") + marker();
    const QString stillLine = QStringLiteral("Failed: ") + target.displayName + codePart +
                              QStringLiteral(" still on error") + marker();
    const QString &logPath = v.logPath;

    if (!m_onErrorList.contains(target.serviceTag)) {
        if (n == 1)
            noteOutageStart(v);
        if (unreachable) {
            RegWriteString(v.key, Settings::FailureTime.name(), stamp());
            if (n == 1) {
                m_view.statusAppend(wentLine);
                ServiceLog::appendWentOnError(logPath, stamp());
            } else {
                m_view.statusAppend(stillLine);
            }
            ServiceLog::appendServiceFailed(m_context.errorLogPath, stamp(), target.host + target.path,
                                            target.protocol, std::nullopt);
        } else {
            if (n == 1) {
                RegWriteString(v.key, Settings::FailureTime.name(), stamp());
                m_view.statusAppend(wentLine);
                ServiceLog::appendWentOnError(logPath, stamp());
            } else {
                m_view.statusAppend(stillLine);
            }
            ServiceLog::appendServiceFailed(m_context.errorLogPath, stamp(), target.host + target.path,
                                            target.protocol, result.response);
        }
        firstFailureAlerts(target, v, n, n == 1 ? wentLine : stillLine);
    } else {
        listedFailureRules(target, v, n, stillLine);
        m_view.statusAppend(stillLine);
    }
    if (unreachable)
        m_view.processEvents();
    m_overallError = true;
}

QString PollCycle::utcStamp() const
{
    return m_env.now().toUTC().toString(Qt::ISODate);
}

void PollCycle::noteOutageStart(const ServiceValues &v)
{
    RegWriteString(v.key, Settings::OutageStart.name(), utcStamp());
    RegWriteString(v.key, Settings::OutageEnd.name(), QString());
}

QStringList PollCycle::certificatesExpiring() const
{
    if (!m_services)
        return {};
    return m_certificates.expiring(m_services(), m_env.now(), m_env.settings().certWarnDays);
}

void PollCycle::certificateSeen(const ServiceValues &v, const PeerCertificate &certificate)
{
    m_certificates.seen(v.name, certificate);
    const QDateTime now = m_env.now();
    if (!CertificateWatch::withinWarning(certificate.notAfter, now, m_env.settings().certWarnDays))
        return;
    // Once a day for one certificate, also across restarts; a new one is
    // told at once.
    const std::optional<QString> mark = CertificateWatch::nextWarnedMark(
        RegReadString(v.key, Settings::CertWarnedOn.name(), QString()), now, certificate.digest);
    if (!mark)
        return;
    RegWriteString(v.key, Settings::CertWarnedOn.name(), *mark);
    AppendLine(m_context.errorLogPath, CertificateWatch::errorLogEntry(stamp(), v.name, certificate, now));
    if (v.hold.held())
        return;
    if (v.desktopNotification && m_env.settings().desktopNotifications) {
        CertificateNotice notice;
        notice.serviceName = v.name;
        notice.subject = certificate.subject;
        notice.issuer = certificate.issuer;
        notice.when = CertificateWatch::whenText(certificate.notAfter, now);
        notice.expires = CertificateWatch::utcText(certificate.notAfter);
        notice.time = stamp();
        m_alerts.notifyCertificate(notice);
    }
    if (v.sendEmail && !v.onErrorEmail.trimmed().isEmpty() && !v.onErrorEmailTo.isEmpty()) {
        const MailOutcome outcome = m_alerts.sendCertificateMail(
            v.name, v.onErrorEmail, v.onErrorEmailTo, CertificateWatch::expiryDate(certificate.notAfter));
        if (outcome.sent)
            m_alertFailures->succeeded(AlertFailures::Kind::Mail);
        else
            m_alertFailures->failed(AlertFailures::Kind::Mail, v.name, QStringLiteral("certificate message"),
                                    outcome.problem);
    }
}

void PollCycle::errorSummaryToWindow()
{
    QStringList lines;
    lines.reserve(m_errorSummary.size());
    for (const SummaryEntry &entry : std::as_const(m_errorSummary))
        lines << (entry.hold.held() ? entry.tag + QLatin1Char(' ') + entry.hold.mark() : entry.tag);
    m_view.errorWindowSetText(lines.join(QStringLiteral("\r\n")));
}

bool PollCycle::anythingUnheld() const
{
    if (m_onErrorList.contains(NoInternet))
        return true;
    for (const SummaryEntry &entry : m_errorSummary)
        if (!entry.hold.held())
            return true;
    return false;
}

void PollCycle::holdsChanged()
{
    if (m_running || !m_env.hold || m_errorSummary.isEmpty())
        return;
    for (SummaryEntry &entry : m_errorSummary) {
        try {
            entry.hold = m_env.hold->state(entry.name);
        } catch (const RegistryError &) {
            // Shown as it was; the next cycle reads it again.
        }
    }
    errorSummaryToWindow();
    if (!m_env.settings().visualAlert)
        return;
    const bool show = anythingUnheld();
    if (show)
        m_view.errorWindowShow();
    else
        m_view.errorWindowHide();
    m_view.setShowOnErrorChecked(show);
}

void PollCycle::notifyDesktop(const ServiceValues &v, bool onError, const QString &line, bool still)
{
    if (!v.desktopNotification || !m_env.settings().desktopNotifications)
        return;
    DesktopNotice notice;
    notice.serviceName = v.name;
    notice.onError = onError;
    notice.stillOnError = onError && still;
    notice.statusLine = line.endsWith(marker()) ? line.chopped(marker().size()) : line;
    notice.time = stamp();
    if (!onError) {
        const QDateTime start = QDateTime::fromString(v.outageStart, Qt::ISODate);
        if (start.isValid())
            notice.downtime = DowntimeText(start.secsTo(m_env.now()));
    }
    m_alerts.notifyDesktop(notice);
}

void PollCycle::firstFailureAlerts(const ServiceTarget &target, const ServiceValues &v, int n, const QString &line)
{
    m_onErrorList.append(target.serviceTag);
    errorSummaryToWindow();
    if (v.hold.held()) {
        // Counted, logged and listed like any other; nobody is alerted.
        m_withheld.insert(target.serviceTag);
        m_view.processEvents();
        return;
    }
    if (m_env.settings().visualAlert)
        m_view.errorWindowShow();
    m_view.processEvents();
    if (v.soundAlert)
        playSound(v.name, true);
    notifyDesktop(v, true, line);
    if (!v.progName.trimmed().isEmpty() && v.launchApplication && n >= v.failuresBeforeLaunch)
        launch(v.name, QStringLiteral("on-error program"), v.progName);
    if (!v.onErrorEmail.trimmed().isEmpty() && !v.onErrorEmailTo.isEmpty() && v.sendEmail &&
        n >= v.failuresBeforeEmail)
        sendMail(v, true);
}

void PollCycle::listedFailureRules(const ServiceTarget &target, const ServiceValues &v, int n, const QString &line)
{
    if (v.hold.held()) {
        // When the hold ends with the service still on error, that is told.
        m_withheld.insert(target.serviceTag);
        return;
    }
    if (m_withheld.remove(target.serviceTag)) {
        // The hold ended while the service stayed on error: what it held
        // back of the outage's start is told now.
        if (v.soundAlert)
            playSound(v.name, true);
        notifyDesktop(v, true, line, true);
    }
    if (!v.progName.trimmed().isEmpty()) {
        const bool fire = (v.launchApplication && v.repeatLaunch) ? isMultiple(n, v.failuresBeforeLaunch)
                                                                   : (v.launchApplication && n == v.failuresBeforeLaunch);
        if (fire)
            launch(v.name, QStringLiteral("on-error program"), v.progName);
    }
    if (!v.onErrorEmail.trimmed().isEmpty() && !v.onErrorEmailTo.isEmpty()) {
        const bool fire = (v.sendEmail && v.repeatEmail) ? isMultiple(n, v.failuresBeforeEmail)
                                                         : (v.sendEmail && n == v.failuresBeforeEmail);
        if (fire)
            sendMail(v, true);
    }
}

void PollCycle::handleSuccess(const ServiceTarget &target, const ServiceValues &v, const QString &code)
{
    const int n = v.actualFailures;
    const bool listed = m_onErrorList.contains(target.serviceTag);
    const QString line = QStringLiteral("Success: ") + target.displayName + QStringLiteral(" (") + code +
                         QLatin1Char(')');
    if (!listed && n == 0) {
        m_view.statusAppend(line);
    } else {
        RegWriteString(v.key, Settings::RecoveryTime.name(), stamp());
        RegWriteString(v.key, Settings::OutageEnd.name(), utcStamp());
        const QString offLine = line + QStringLiteral(" came off error.");
        m_view.statusAppend(offLine);
        ServiceLog::appendCameOffError(v.logPath, stamp());
        m_onErrorList.removeAll(target.serviceTag);
        m_withheld.remove(target.serviceTag);
        // An acknowledgement lasts as long as the outage: the recovery is
        // told. A snooze lasts until its time, recovery or not.
        if (v.acknowledged)
            RegWriteBool(v.key, Settings::Acknowledged.name(), false);
        if (v.hold.kind != AlertHoldState::Kind::Snoozed) {
            if (v.soundAlert)
                playSound(v.name, false);
            notifyDesktop(v, false, offLine);
            if (!v.progNameOff.trimmed().isEmpty() && v.launchApplication && n >= v.failuresBeforeLaunch)
                launch(v.name, QStringLiteral("off-error program"), v.progNameOff);
            if (!v.offErrorEmail.trimmed().isEmpty() && !v.offErrorEmailTo.isEmpty() && v.sendEmail &&
                n >= v.failuresBeforeEmail)
                sendMail(v, false);
        }
        if (m_onErrorList.isEmpty())
            m_view.errorWindowHide();
    }
    // A zero read from the store a moment ago need not be written again.
    if (!(v.actualFailuresStored && n == 0))
        RegWriteInteger(v.key, Settings::ActualFailures.name(), 0);
}

void PollCycle::launch(const QString &serviceName, const QString &which, const QString &commandLine)
{
    // A program that cannot be started is reported; the cycle goes on with
    // the remaining services and ends normally.
    try {
        m_alerts.launchProgram(commandLine);
        m_alertFailures->succeeded(AlertFailures::Kind::Program);
    } catch (const LaunchError &error) {
        m_alertFailures->failed(AlertFailures::Kind::Program, serviceName, which, error.message());
        m_alerts.reportError(error.message());
    }
}

void PollCycle::playSound(const QString &serviceName, bool onError)
{
    const QString problem = m_alerts.playAlertSound(serviceName, onError);
    if (problem.isEmpty())
        m_alertFailures->succeeded(AlertFailures::Kind::Sound);
    else
        m_alertFailures->failed(AlertFailures::Kind::Sound, serviceName,
                                onError ? QStringLiteral("on-error sound") : QStringLiteral("off-error sound"),
                                problem);
}

void PollCycle::sendMail(const ServiceValues &v, bool onError)
{
    const MailOutcome outcome = m_alerts.sendAlertMail(v.name, onError ? v.onErrorEmail : v.offErrorEmail,
                                                       onError ? v.onErrorEmailTo : v.offErrorEmailTo);
    if (outcome.sent)
        m_alertFailures->succeeded(AlertFailures::Kind::Mail);
    else
        m_alertFailures->failed(AlertFailures::Kind::Mail, v.name,
                                onError ? QStringLiteral("on-error message") : QStringLiteral("off-error message"),
                                outcome.problem);
}

void PollCycle::recordResult(const QString &service, const ProbeResult &result)
{
    HistoryPoint point;
    // The system clock's UTC milliseconds need no local time conversion.
    point.utcMs = m_systemClock ? QDateTime::currentMSecsSinceEpoch() : m_env.now().toMSecsSinceEpoch();
    point.up = result.connected && result.success;
    const qint64 answerUs = result.connected ? result.timing.answerUs : -1;
    point.responseMs = answerUs >= 0 ? int(qMin<qint64>((answerUs + 500) / 1000, INT_MAX)) : -1;
    if (m_env.history)
        m_env.history->add(service, point);
    emit serviceChecked(service, point);
}

void PollCycle::endCycle()
{
    // One transaction for the whole cycle's response times; a history that
    // cannot be written keeps them for the next cycle and never stops this one.
    if (m_env.history)
        m_env.history->commit(m_env.now().toMSecsSinceEpoch());
    const LiveSettings live = m_env.settings();
    m_lastFinished = stamp();
    const QString finished = QStringLiteral("Poll finished at: ") + m_lastFinished;
    m_view.statusAppend(finished);
    m_view.setProgressText(finished);
    if (m_sitesOnError == 0)
        m_view.setErrorPanel(QStringLiteral("No sites on error"), PollView::Image::Ok);

    if (m_overallError) {
        errorSummaryToWindow();
        m_view.errorWindowSetBordered(true);
        if (live.visualAlert) {
            // Services whose alerts are all held back do not blink at anyone.
            if (anythingUnheld()) {
                m_view.errorWindowShow();
                m_view.setShowOnErrorChecked(true);
            } else {
                m_view.errorWindowHide();
                m_view.setShowOnErrorChecked(false);
            }
        }
        setPollInterval(live.errorFreqMins);
        m_view.setTrayIcon(PollView::TrayIcons::Normal, true);
    } else {
        m_view.errorWindowSetBordered(false);
        m_view.errorWindowHide();
        m_view.setShowOnErrorChecked(false);
        setPollInterval(live.normalFreqMins);
        m_view.setTrayIcon(PollView::TrayIcons::Normal, false);
    }

    if (m_timerOn) {
        const QDateTime next = m_env.now().addMSecs(m_sessionTimer->interval());
        m_view.statusAppend(QStringLiteral("Next poll at: ") + TimeStamp::format(next, m_env.locale));
    }
    m_view.setCycleRunning(false);
    m_view.setAbortEnabled(false);
    m_problemTimer->setInterval(0);
    m_problemTimer->setEnabled(false);
    m_view.setTrayHint(m_context.title);
}
