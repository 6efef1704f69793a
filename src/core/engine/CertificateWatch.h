#pragma once

#include "engine/Prober.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

class QSslCertificate;

// The certificates of https services and when they end. The poll cycle
// hands it each certificate a probe saw; it says whether a warning is due
// and keeps the last certificate of each service, so that whoever asks can
// learn which of them end soon. Texts are made here, so the error log, the
// notification, the e-mail and the bus say the same.
class CertificateWatch {
public:
    // Longest subject or issuer text taken from a certificate.
    static constexpr qsizetype MaxNameLength = 512;

    // What a probe keeps of the peer's leaf certificate; nothing for a null
    // one. Subject and issuer are one line each, bounded.
    static std::optional<PeerCertificate> describe(const QSslCertificate &certificate);

    // The certificate ends within warnDays of now (or has ended); never when
    // warnDays is 0 or less.
    static bool withinWarning(const QDateTime &notAfter, const QDateTime &now, int warnDays);
    // Certificates warned about on one day, at most: enough for a service
    // whose servers take turns with certificates of their own.
    static constexpr int MaxWarnedPerDay = 8;
    // CertWarnedOn keeps the local day of the last warnings and the
    // certificates (SHA-256 in hex) warned about that day:
    // "2026-12-09 <hex> [<hex>...]". The value it is to take when a warning
    // about this certificate is given now; nothing when one was given today.
    // A value that cannot be read counts as none.
    static std::optional<QString> nextWarnedMark(const QString &stored, const QDateTime &now,
                                                 const QByteArray &digest);
    // The UTC date, ISO 8601 ("2026-12-22"): the bus list and {CertExpiry}.
    static QString expiryDate(const QDateTime &notAfter);
    // "2026-12-22 10:00:00 UTC".
    static QString utcText(const QDateTime &moment);
    // "expires in 13 days", "expires tomorrow", "expires today", "has
    // expired", counted in days of the local calendar.
    static QString whenText(const QDateTime &notAfter, const QDateTime &now);
    // The error log entry, without the empty line that follows it.
    static QString errorLogEntry(const QString &stamp, const QString &serviceName,
                                 const PeerCertificate &certificate, const QDateTime &now);

    // Notes the certificate a probe of the service saw last.
    void seen(const QString &serviceName, const PeerCertificate &certificate);
    // Forgets the services that are not in the list.
    void retain(const QStringList &services);
    // "<service>\t<expiry date>" for each of the services whose last seen
    // certificate ends within warnDays of now, in the order of the list.
    QStringList expiring(const QStringList &services, const QDateTime &now, int warnDays) const;
    // When the certificate last seen on the service ends; nothing when none
    // was seen.
    std::optional<QDateTime> notAfter(const QString &serviceName) const;

private:
    QHash<QString, QDateTime> m_notAfter;
};
