#include "ListenAddress.h"

namespace {
ListenAddress failed(const QString &text, const QString &why)
{
    ListenAddress a;
    a.error =
        QStringLiteral("The metrics address \"%1\" cannot be used: %2. Give host:port, such as "
                       "127.0.0.1:9101, or leave it empty.")
            .arg(text.left(ListenAddress::MaxLength), why);
    return a;
}

bool allDigits(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}
} // namespace

ListenAddress ListenAddress::parse(const QString &input)
{
    const QString text = input.trimmed();
    if (text.isEmpty())
        return {};
    if (text.size() > MaxLength)
        return failed(text, QStringLiteral("it is too long"));

    QString host;
    QString port;
    if (allDigits(text)) {
        host = QStringLiteral("127.0.0.1");
        port = text;
    } else if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QStringLiteral("]:"));
        if (close < 0)
            return failed(text,
                          QStringLiteral("an IPv6 address in brackets must be followed by :port"));
        host = text.mid(1, close - 1);
        port = text.mid(close + 2);
    } else {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon < 0)
            return failed(text, QStringLiteral("the port is missing"));
        host = text.left(colon);
        port = text.mid(colon + 1);
        if (host.contains(QLatin1Char(':')))
            return failed(text, QStringLiteral("an IPv6 address must be written in brackets"));
    }

    bool numeric = allDigits(port) && port.size() <= 5;
    const int number = numeric ? port.toInt() : 0;
    if (!numeric || number < 1 || number > 65535)
        return failed(text, QStringLiteral("the port must be a number from 1 to 65535"));

    ListenAddress a;
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        a.address = QHostAddress(QHostAddress::LocalHost);
    else if (!a.address.setAddress(host) || host.contains(QLatin1Char('%')))
        return failed(text, QStringLiteral("the host must be an IP address or localhost"));
    a.port = quint16(number);
    return a;
}

QString ListenAddress::text() const
{
    if (!isValid())
        return {};
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return host + QLatin1Char(':') + QString::number(port);
}
