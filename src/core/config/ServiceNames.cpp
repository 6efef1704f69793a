#include "ServiceNames.h"

QStringList ServiceNames::types()
{
    return {QStringLiteral("HTTP"), QStringLiteral("HTTPS"), QStringLiteral("FTP"),
            QStringLiteral("POP3"), QStringLiteral("SMTP"), QStringLiteral("TCP")};
}

int ServiceNames::defaultPort(const QString &type)
{
    const QString t = type.toLower();
    if (t == QLatin1String("http"))
        return 80;
    if (t == QLatin1String("https"))
        return 443;
    if (t == QLatin1String("ftp"))
        return 21;
    if (t == QLatin1String("pop3"))
        return 110;
    if (t == QLatin1String("smtp"))
        return 25;
    return 0;
}

bool ServiceNames::isHttp(const QString &type)
{
    const QString t = type.toLower();
    return t == QLatin1String("http") || t == QLatin1String("https");
}

bool ServiceNames::isHttps(const QString &type)
{
    return type.toLower() == QLatin1String("https");
}

bool ServiceNames::isTcp(const QString &type)
{
    return type.toLower() == QLatin1String("tcp");
}

QString ServiceNames::normalizeHost(const QString &type, const QString &text)
{
    QString host = text;
    const qsizetype scheme = host.indexOf(QLatin1String("://"));
    if (scheme >= 0)
        host = host.mid(scheme + 3);
    if (!isHttp(type)) {
        const qsizetype slash = host.indexOf(QLatin1Char('/'));
        if (slash >= 0)
            host = host.left(slash);
    }
    host.remove(QLatin1Char('\\'));
    host.remove(QLatin1Char(':'));
    // A control character never belongs in a host or path, and would end up
    // in the settings key and on the wire.
    QString cleaned;
    cleaned.reserve(host.size());
    for (const QChar c : std::as_const(host)) {
        if (c.unicode() >= 0x20 && c.unicode() != 0x7f)
            cleaned += c;
    }
    return cleaned.trimmed();
}

QString ServiceNames::build(const QString &type, const QString &host, int port)
{
    return type + QLatin1Char(' ') + host + QLatin1Char(' ') + QString::number(port);
}

int ServiceNames::indexOfIgnoringCase(const QStringList &names, const QString &name, int except)
{
    for (int i = 0; i < names.size(); ++i) {
        if (i != except && names.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}
