#include "MetricsCollector.h"

#include "config/Registry.h"
#include "config/Settings.h"
#include "engine/Monitor.h"
#include "engine/ServiceTarget.h"

#include <QSet>

namespace {
// The on-error list's entry for a poll that found no connection.
const QString NoInternet = QStringLiteral("NoInternetConnection");
} // namespace

MetricsCollector::MetricsCollector(Monitor *monitor, const ProgramContext &context,
                                   std::function<QDateTime()> now, QObject *parent)
    : QObject(parent), m_monitor(monitor), m_context(context), m_now(std::move(now))
{
    connect(m_monitor, &Monitor::serviceChecked, this,
            [this](const QString &service, const HistoryPoint &point) {
                m_last.insert(service, point);
            });
    connect(m_monitor, &Monitor::cycleFinished, this, &MetricsCollector::cycleFinished);
}

void MetricsCollector::cycleFinished()
{
    m_lastPollMs = (m_now ? m_now() : QDateTime::currentDateTimeUtc()).toMSecsSinceEpoch();
    m_connected = !m_monitor->onErrorList().contains(NoInternet);
    // Results of services no longer listed are not kept.
    const QStringList services = m_monitor->services();
    const QSet<QString> listed(services.cbegin(), services.cend());
    for (auto it = m_last.begin(); it != m_last.end();)
        it = listed.contains(it.key()) ? std::next(it) : m_last.erase(it);
    emit pollCollected();
}

MetricsSnapshot MetricsCollector::snapshot() const
{
    MetricsSnapshot snapshot;
    snapshot.version = m_context.versionText;
    snapshot.pollsTotal = m_monitor->pollsHandled();
    snapshot.lastPollMs = m_lastPollMs;
    snapshot.internetConnected = m_connected;
    const SettingsAccess settings(m_context);
    const CertificateWatch &certificates = m_monitor->cycle()->certificateWatch();
    for (const QString &name : m_monitor->services()) {
        const std::optional<ServiceTarget> target = ServiceTarget::parse(name);
        if (!target)
            continue;
        ServiceMetrics s;
        s.service = name;
        s.type = target->protocol;
        s.host = target->host;
        s.port = target->port;
        const auto last = m_last.constFind(name);
        if (last != m_last.constEnd()) {
            s.up = last->up;
            s.lastCheckMs = last->utcMs;
            if (last->answered())
                s.responseMs = last->responseMs;
        }
        try {
            s.actualFailures = settings.readInteger(Settings::ActualFailures, name);
        } catch (const RegistryError &) {
            // Left out; the next poll reads it again.
        }
        if (const std::optional<QDateTime> ends = certificates.notAfter(name))
            s.certificateExpiryMs = ends->toMSecsSinceEpoch();
        snapshot.services << s;
    }
    return snapshot;
}
