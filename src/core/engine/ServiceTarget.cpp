#include "ServiceTarget.h"

#include "config/ServiceNames.h"
#include "base/Subs.h"

#include <QStringList>

namespace {

// A plain decimal number (no sign, no blanks) that fits an int.
std::optional<int> decimalPort(const QString &word)
{
    if (word.isEmpty())
        return std::nullopt;
    for (const QChar c : word) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const int value = word.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

int ServiceTarget::defaultPort(const QString &protocol)
{
    return ServiceNames::defaultPort(protocol);
}

std::optional<ServiceTarget> ServiceTarget::parse(const QString &serviceName)
{
    ServiceTarget t;
    t.normalizedName = NormalizeBlanks(serviceName).trimmed().toLower();
    // Other white space at the ends (a stray CR or LF) goes as well.
    if (t.normalizedName.isEmpty())
        return std::nullopt;

    const QStringList words = t.normalizedName.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() == 1) {
        t.protocol = QStringLiteral("http");
        t.probeTarget = words.at(0);
    } else {
        t.protocol = words.at(0);
        t.probeTarget = words.at(1);
    }
    std::optional<int> givenPort;
    if (words.size() == 3)
        givenPort = decimalPort(words.at(2));

    if (t.probeTarget.endsWith(QLatin1Char('/')))
        t.probeTarget.chop(1);

    t.logName = t.probeTarget;
    for (const char c : {'/', '\\', ':', '?', '&', '%'})
        t.logName.replace(QLatin1Char(c), QLatin1Char('_'));

    if (ServiceNames::isHttp(t.protocol)) {
        const qsizetype slash = t.probeTarget.indexOf(QLatin1Char('/'));
        if (slash < 0) {
            t.host = t.probeTarget;
            t.path = QStringLiteral("/");
        } else {
            t.host = t.probeTarget.left(slash);
            t.path = t.probeTarget.mid(slash);
        }
    } else {
        t.host = t.probeTarget;
    }

    const int standard = defaultPort(t.protocol);
    t.hasPort = givenPort.has_value();
    t.port = givenPort.value_or(standard);
    if (t.hasPort && t.port != standard)
        t.portSuffix = QLatin1Char(':') + QString::number(t.port);

    t.serviceTag = t.protocol + QLatin1Char(':') + t.host + t.path;
    t.displayName = t.protocol + QStringLiteral(": ") + t.host + t.portSuffix + t.path;
    return t;
}
