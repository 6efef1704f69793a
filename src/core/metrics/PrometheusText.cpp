#include "PrometheusText.h"

#include <functional>
#include <optional>

namespace {

QByteArray seconds(qint64 ms)
{
    // Milliseconds as seconds with three decimals, exactly: no rounding
    // through a double.
    const bool negative = ms < 0;
    const qint64 magnitude = negative ? -ms : ms;
    QByteArray text = QByteArray::number(magnitude / 1000) + '.' +
                      QByteArray::number(magnitude % 1000).rightJustified(3, '0');
    return negative ? '-' + text : text;
}

QByteArray serviceLabels(const ServiceMetrics &s)
{
    const auto label = [](const char *name, const QString &value) {
        return QByteArray(name) + "=\"" + PrometheusText::escapeLabelValue(value).toUtf8() + '"';
    };
    return '{' + label("service", s.service) + ',' + label("type", s.type) + ',' +
           label("host", s.host) + ',' + label("port", QString::number(s.port)) + '}';
}

class Writer {
public:
    // One family: its samples come from `value`, which gives nothing for a
    // service without one.
    void
    serviceFamily(const QList<ServiceMetrics> &services, const char *name, const char *help,
                  const std::function<std::optional<QByteArray>(const ServiceMetrics &)> &value)
    {
        QByteArray samples;
        for (const ServiceMetrics &s : services) {
            if (const std::optional<QByteArray> v = value(s))
                samples += name + serviceLabels(s) + ' ' + *v + '\n';
        }
        add(name, help, "gauge", samples);
    }

    void add(const char *name, const char *help, const char *type, const QByteArray &samples)
    {
        if (samples.isEmpty())
            return;
        m_text += QByteArray("# HELP ") + name + ' ' + help + '\n';
        m_text += QByteArray("# TYPE ") + name + ' ' + type + '\n';
        m_text += samples;
    }

    void single(const char *name, const char *help, const char *type,
                const std::optional<QByteArray> &value, const QByteArray &labels = {})
    {
        if (value)
            add(name, help, type, name + labels + ' ' + *value + '\n');
    }

    QByteArray text() const { return m_text; }

private:
    QByteArray m_text;
};

template <typename T, typename F>
std::optional<QByteArray> mapped(const std::optional<T> &value, F f)
{
    if (!value)
        return std::nullopt;
    return f(*value);
}

} // namespace

QString PrometheusText::escapeLabelValue(const QString &value)
{
    QString escaped;
    escaped.reserve(value.size());
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            escaped += QStringLiteral("\\\\");
        else if (c == QLatin1Char('"'))
            escaped += QStringLiteral("\\\"");
        else if (c == QLatin1Char('\n'))
            escaped += QStringLiteral("\\n");
        else
            escaped += c;
    }
    return escaped;
}

QByteArray PrometheusText::format(const MetricsSnapshot &snapshot)
{
    Writer w;
    const QList<ServiceMetrics> &services = snapshot.services;
    const auto number = [](qint64 n) { return QByteArray::number(n); };
    w.serviceFamily(services, "quellmark_service_up",
                    "1 when the last check of the service succeeded, 0 when it failed.",
                    [](const ServiceMetrics &s) {
                        return mapped(s.up, [](bool up) { return QByteArray(up ? "1" : "0"); });
                    });
    w.serviceFamily(services, "quellmark_service_actual_failures",
                    "Failed checks of the service in a row; 0 while it answers.",
                    [&](const ServiceMetrics &s) { return mapped(s.actualFailures, number); });
    w.serviceFamily(services, "quellmark_service_last_check_timestamp_seconds",
                    "When the service was last checked, in seconds since the epoch.",
                    [](const ServiceMetrics &s) { return mapped(s.lastCheckMs, seconds); });
    w.serviceFamily(services, "quellmark_service_response_seconds",
                    "Time from the start of the last check to the service's complete answer.",
                    [](const ServiceMetrics &s) {
                        return mapped(s.responseMs, [](int ms) { return seconds(ms); });
                    });
    w.serviceFamily(
        services, "quellmark_certificate_expiry_timestamp_seconds",
        "When the certificate last seen on the HTTPS service expires, in seconds since the epoch.",
        [](const ServiceMetrics &s) { return mapped(s.certificateExpiryMs, seconds); });
    w.single("quellmark_last_poll_timestamp_seconds",
             "When the last poll ended, in seconds since the epoch.", "gauge",
             mapped(snapshot.lastPollMs, seconds));
    w.single("quellmark_polls_total",
             "Polls handled since the program started, also those without a connection.", "counter",
             number(snapshot.pollsTotal));
    w.single(
        "quellmark_internet_connected",
        "1 when the last poll found an internet connection, 0 when not.", "gauge",
        mapped(snapshot.internetConnected, [](bool on) { return QByteArray(on ? "1" : "0"); }));
    w.single("quellmark_build_info", "The program's version; always 1.", "gauge", QByteArray("1"),
             "{version=\"" + escapeLabelValue(snapshot.version).toUtf8() + "\"}");
    return w.text();
}
