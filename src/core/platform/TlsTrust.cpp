#include "platform/TlsTrust.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QSslSocket>
#include <QStringList>

namespace {

// The system's store is large; it is read again after this long so an
// update of the store reaches a program that runs for weeks.
constexpr qint64 SystemStoreRefreshMs = 60 * 60 * 1000;

QString fileStamp(const QFileInfo &info)
{
    return info.absoluteFilePath() + QLatin1Char('|') +
           QString::number(info.lastModified().toMSecsSinceEpoch()) + QLatin1Char('|') +
           QString::number(info.size()) + QLatin1Char('\n');
}

QStringList certificateFolders(const QString &dirList)
{
    return dirList.split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

QFileInfoList folderFiles(const QString &folder)
{
    return QDir(folder).entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
}

// Identifies the contents of the current source without reading them.
QString sourceStamp()
{
    const QString file = qEnvironmentVariable("SSL_CERT_FILE");
    if (!file.isEmpty())
        return QStringLiteral("file:") + fileStamp(QFileInfo(file));
    const QString dirs = qEnvironmentVariable("SSL_CERT_DIR");
    if (!dirs.isEmpty()) {
        QString stamp = QStringLiteral("dir:") + dirs + QLatin1Char('\n');
        for (const QString &folder : certificateFolders(dirs)) {
            for (const QFileInfo &info : folderFiles(folder))
                stamp += fileStamp(info);
        }
        return stamp;
    }
    return QStringLiteral("system");
}

QList<QSslCertificate> loadCertificates()
{
    const QString file = qEnvironmentVariable("SSL_CERT_FILE");
    if (!file.isEmpty())
        return QSslCertificate::fromPath(file, QSsl::Pem,
                                         QSslCertificate::PatternSyntax::FixedString);
    const QString dirs = qEnvironmentVariable("SSL_CERT_DIR");
    if (!dirs.isEmpty()) {
        // A hashed folder links each certificate under several names.
        QList<QSslCertificate> all;
        QSet<QByteArray> seen;
        for (const QString &folder : certificateFolders(dirs)) {
            for (const QFileInfo &info : folderFiles(folder)) {
                const QList<QSslCertificate> found =
                    QSslCertificate::fromPath(info.absoluteFilePath(), QSsl::Pem,
                                              QSslCertificate::PatternSyntax::FixedString);
                for (const QSslCertificate &certificate : found) {
                    const QByteArray digest = certificate.digest(QCryptographicHash::Sha256);
                    if (!seen.contains(digest)) {
                        seen.insert(digest);
                        all.append(certificate);
                    }
                }
            }
        }
        return all;
    }
    return QSslConfiguration::systemCaCertificates();
}

} // namespace

bool TlsTrust::available()
{
    return QSslSocket::supportsSsl();
}

QString TlsTrust::unavailableText()
{
    return QStringLiteral("TLS is not available: Qt could not load a TLS backend "
                          "(is the OpenSSL 3 library installed?)");
}

QList<QSslCertificate> TlsTrust::caCertificates()
{
    static QMutex mutex;
    static QString cachedStamp;
    static QList<QSslCertificate> cached;
    static QDeadlineTimer refresh;

    const QMutexLocker lock(&mutex);
    const QString stamp = sourceStamp();
    if (stamp != cachedStamp || refresh.hasExpired()) {
        cached = loadCertificates();
        cachedStamp = stamp;
        refresh.setRemainingTime(stamp == QLatin1String("system") ? SystemStoreRefreshMs : -1);
    }
    return cached;
}

QSslConfiguration TlsTrust::clientConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    // Set explicitly: Qt's own lookup of the system store ignores the
    // SSL_CERT_FILE and SSL_CERT_DIR variables.
    configuration.setCaCertificates(caCertificates());
    return configuration;
}

QString TlsTrust::failureReason(const QList<QSslError> &errors, const QString &socketError)
{
    QStringList reasons;
    for (const QSslError &error : errors) {
        QString text = error.errorString();
        // A certificate outside its validity says when it is valid, so the
        // reader sees at once whether it ended or the clock is wrong.
        const QSslCertificate certificate = error.certificate();
        if ((error.error() == QSslError::CertificateExpired ||
             error.error() == QSslError::CertificateNotYetValid) &&
            !certificate.isNull()) {
            const auto utc = [](const QDateTime &moment) {
                return moment.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                       QStringLiteral(" UTC");
            };
            text += QStringLiteral(" (valid from %1 until %2)")
                        .arg(utc(certificate.effectiveDate()), utc(certificate.expiryDate()));
        }
        if (!reasons.contains(text))
            reasons.append(text);
    }
    if (!reasons.isEmpty())
        return reasons.join(QStringLiteral("; "));

    QString reason =
        socketError.isEmpty() ? QStringLiteral("The TLS handshake failed") : socketError;
    // OpenSSL's words for an answer that is no TLS record at all.
    if (socketError.contains(QLatin1String("wrong version number")) ||
        socketError.contains(QLatin1String("packet length too long")) ||
        socketError.contains(QLatin1String("record layer failure")))
        reason = QStringLiteral("The server does not speak TLS on this port (") + socketError +
                 QLatin1Char(')');
    return reason;
}
