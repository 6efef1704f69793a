#include "CertificateWatch.h"

#include <QSet>
#include <QSslCertificate>

#include <functional>

namespace {

constexpr qint64 SecondsPerDay = 24 * 60 * 60;

// A name as the certificate holds it may carry anything; it is written into
// logs and mail, one line and of bounded length.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    }
    text = text.trimmed();
    if (text.size() > CertificateWatch::MaxNameLength)
        text = text.left(CertificateWatch::MaxNameLength) + QStringLiteral("...");
    return text;
}

// "CN=secure.test, O=Example", in the order the certificate lists them.
QString distinguishedName(const QList<QByteArray> &attributes,
                          const std::function<QStringList(const QByteArray &)> &values)
{
    QStringList parts;
    for (const QByteArray &attribute : attributes) {
        for (const QString &value : values(attribute))
            parts << QString::fromLatin1(attribute) + QLatin1Char('=') + value;
        if (parts.size() > 64)
            break;
    }
    return oneLine(parts.join(QStringLiteral(", ")));
}

} // namespace

std::optional<PeerCertificate> CertificateWatch::describe(const QSslCertificate &certificate)
{
    if (certificate.isNull())
        return std::nullopt;
    PeerCertificate peer;
    peer.subject = distinguishedName(certificate.subjectInfoAttributes(), [&](const QByteArray &a) {
        return certificate.subjectInfo(a);
    });
    if (peer.subject.isEmpty())
        peer.subject = oneLine(certificate.subjectDisplayName());
    peer.issuer = distinguishedName(certificate.issuerInfoAttributes(), [&](const QByteArray &a) {
        return certificate.issuerInfo(a);
    });
    if (peer.issuer.isEmpty())
        peer.issuer = oneLine(certificate.issuerDisplayName());
    peer.notBefore = certificate.effectiveDate().toUTC();
    peer.notAfter = certificate.expiryDate().toUTC();
    peer.digest = certificate.digest(QCryptographicHash::Sha256);
    return peer;
}

bool CertificateWatch::withinWarning(const QDateTime &notAfter, const QDateTime &now, int warnDays)
{
    if (warnDays <= 0 || !notAfter.isValid() || !now.isValid())
        return false;
    return now.secsTo(notAfter) <= qint64(warnDays) * SecondsPerDay;
}

std::optional<QString> CertificateWatch::nextWarnedMark(const QString &stored, const QDateTime &now,
                                                        const QByteArray &digest)
{
    const QString today = now.toLocalTime().date().toString(Qt::ISODate);
    const QString hex = QString::fromLatin1(digest.toHex());
    QStringList warned;
    // Bounded before it is split: the value may have been edited by hand.
    if (stored.size() <= today.size() + MaxWarnedPerDay * (hex.size() + 1)) {
        QStringList parts = stored.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (!parts.isEmpty() && parts.takeFirst() == today)
            warned = parts;
    }
    if (warned.contains(hex))
        return std::nullopt;
    warned << hex;
    while (warned.size() > MaxWarnedPerDay)
        warned.removeFirst();
    return today + QLatin1Char(' ') + warned.join(QLatin1Char(' '));
}

QString CertificateWatch::expiryDate(const QDateTime &notAfter)
{
    return notAfter.toUTC().date().toString(Qt::ISODate);
}

QString CertificateWatch::utcText(const QDateTime &moment)
{
    return moment.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" UTC");
}

QString CertificateWatch::whenText(const QDateTime &notAfter, const QDateTime &now)
{
    if (notAfter <= now)
        return QStringLiteral("has expired");
    const qint64 days = now.toLocalTime().date().daysTo(notAfter.toLocalTime().date());
    if (days <= 0)
        return QStringLiteral("expires today");
    if (days == 1)
        return QStringLiteral("expires tomorrow");
    return QStringLiteral("expires in %1 days").arg(days);
}

QString CertificateWatch::errorLogEntry(const QString &stamp, const QString &serviceName,
                                        const PeerCertificate &certificate, const QDateTime &now)
{
    return stamp + QStringLiteral(": certificate ") + whenText(certificate.notAfter, now) +
           QStringLiteral(" for ") + oneLine(serviceName) + QStringLiteral("\r\nSubject: ") +
           certificate.subject + QStringLiteral("\r\nIssuer: ") + certificate.issuer +
           QStringLiteral("\r\nExpires: ") + utcText(certificate.notAfter) + QStringLiteral("\r\n");
}

void CertificateWatch::seen(const QString &serviceName, const PeerCertificate &certificate)
{
    m_notAfter.insert(serviceName, certificate.notAfter);
}

void CertificateWatch::retain(const QStringList &services)
{
    if (m_notAfter.isEmpty())
        return; // no https service: nothing to look up in every cycle
    const QSet<QString> listed(services.cbegin(), services.cend());
    for (auto it = m_notAfter.begin(); it != m_notAfter.end();) {
        if (listed.contains(it.key()))
            ++it;
        else
            it = m_notAfter.erase(it);
    }
}

QStringList CertificateWatch::expiring(const QStringList &services, const QDateTime &now,
                                       int warnDays) const
{
    QStringList list;
    for (const QString &service : services) {
        const auto found = m_notAfter.constFind(service);
        if (found != m_notAfter.constEnd() && withinWarning(*found, now, warnDays))
            list << service + QLatin1Char('\t') + expiryDate(*found);
    }
    return list;
}

std::optional<QDateTime> CertificateWatch::notAfter(const QString &serviceName) const
{
    const auto found = m_notAfter.constFind(serviceName);
    if (found == m_notAfter.constEnd())
        return std::nullopt;
    return *found;
}
