#include "MetricsExport.h"

#include "base/Subs.h"
#include "base/TimeStamp.h"
#include "metrics/ListenAddress.h"
#include "metrics/MetricsCollector.h"
#include "metrics/MetricsFile.h"
#include "metrics/MetricsListener.h"
#include "metrics/PrometheusText.h"

MetricsExport::MetricsExport(Monitor *monitor, const ProgramContext &context,
                             std::function<QDateTime()> now, QObject *parent)
    : QObject(parent), m_context(context), m_now(std::move(now)),
      m_collector(new MetricsCollector(monitor, context, m_now, this)),
      m_listener(new MetricsListener(this))
{
    connect(m_collector, &MetricsCollector::pollCollected, this, &MetricsExport::publish);
}

MetricsExport::~MetricsExport() = default;

void MetricsExport::setFolderSource(std::function<QString()> folder)
{
    m_folder = std::move(folder);
}

QByteArray MetricsExport::text() const
{
    return PrometheusText::format(m_collector->snapshot());
}

QString MetricsExport::listenOn(const QString &setting)
{
    const ListenAddress address = ListenAddress::parse(setting);
    if (address.isOff()) {
        m_listener->close();
        return {};
    }
    if (!address.isValid()) {
        // The setting now says something else than what was served: as at
        // the next start, nothing is served.
        m_listener->close();
        return address.error;
    }
    if (m_listener->isListening() && m_listener->address().address == address.address &&
        m_listener->address().port == address.port)
        return {};
    // Before the first poll it serves what is known: the program's figures
    // and the stored failure counts.
    if (!m_published)
        m_listener->setBody(text());
    return m_listener->listen(address);
}

void MetricsExport::publish()
{
    const QString folder =
        MetricsFile::resolveFolder(m_folder ? m_folder() : QString(), m_context.programFolder);
    // With both off, a poll costs nothing here; an endpoint started later
    // serves what is known then (see listenOn).
    if (folder.isEmpty() && !m_listener->isListening()) {
        m_published = false;
        return;
    }
    const QByteArray metrics = text();
    m_published = true;
    m_listener->setBody(metrics);
    if (folder.isEmpty())
        return;
    const QString failure = MetricsFile::write(folder, metrics);
    if (failure.isEmpty()) {
        m_lastProblem.clear();
    } else if (failure != m_lastProblem) {
        m_lastProblem = failure;
        report(failure);
    }
}

void MetricsExport::report(const QString &text)
{
    const QDateTime at = m_now ? m_now() : QDateTime::currentDateTime();
    AppendLine(m_context.errorLogPath,
               TimeStamp::format(at) + QStringLiteral(": ") + text + QStringLiteral("\r\n"));
    emit problem(text);
}
