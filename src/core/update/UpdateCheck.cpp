#include "update/UpdateCheck.h"

#include "config/ProgramContext.h"
#include "engine/net/EventWait.h"
#include "update/UpdateError.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringList>
#include <QUrl>

static QString withoutTrailingSlash(const QString &site)
{
    QString result = site;
    while (result.endsWith(QLatin1Char('/')))
        result.chop(1);
    return result;
}

QString VersionListAddress(const QString &makerSite)
{
    return withoutTrailingSlash(makerSite) + QStringLiteral("/upgrades.txt");
}

QString WhatsNewAddress(const QString &makerSite)
{
    return withoutTrailingSlash(makerSite) + QStringLiteral("/quellmark/whatsnew.shtml");
}

QString CurrentVersionFromCaption(const QString &caption)
{
    const qsizetype blank = caption.indexOf(QLatin1Char(' '));
    if (blank < 0)
        return {};
    return caption.mid(blank + 1).trimmed();
}

QString LatestVersionIn(const QString &versionList, const QString &applicationName)
{
    if (applicationName.isEmpty())
        return UnknownVersion;
    const QStringList lines = versionList.split(QLatin1Char('\n'));
    for (const QString &rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || !line.startsWith(applicationName, Qt::CaseInsensitive))
            continue;
        // A line with the name alone tells nothing; saying "You already have
        // the latest version" on the strength of it would be wrong.
        const QString version = line.mid(applicationName.size()).trimmed();
        return version.isEmpty() ? UnknownVersion : version;
    }
    return UnknownVersion;
}

static qlonglong versionPart(const QStringList &parts, qsizetype index)
{
    if (index >= parts.size())
        return 0;
    bool ok = false;
    const qlonglong number = parts.at(index).trimmed().toLongLong(&ok);
    return ok ? number : 0;
}

bool IsVersionNewer(const QString &latest, const QString &currentVersion)
{
    if (latest.isEmpty() || latest == UnknownVersion || currentVersion.isEmpty())
        return false;
    const QStringList latestParts = latest.split(QLatin1Char('.'));
    const QStringList currentParts = currentVersion.split(QLatin1Char('.'));
    for (qsizetype i = 0; i < latestParts.size(); ++i) {
        const qlonglong a = versionPart(latestParts, i);
        const qlonglong b = versionPart(currentParts, i);
        if (a != b)
            return a > b;
    }
    return false;
}

static QString durationText(int ms)
{
    if (ms % 1000 != 0)
        return QString::number(ms) + QStringLiteral(" ms");
    return ms == 1000 ? QStringLiteral("1 second")
                      : QString::number(ms / 1000) + QStringLiteral(" seconds");
}

static UpdateError downloadError(const QString &reason)
{
    return UpdateError(QStringLiteral("Unable to check for updates: ") + reason);
}

bool GetUrl(const QString &address, const QString &fileName, const DownloadLimits &limits)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw downloadError(QStringLiteral("cannot write \"%1\".").arg(fileName));

    QNetworkAccessManager manager;
    // The monitor's proxy settings are for the monitored services only.
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request{QUrl(address)};
    request.setHeader(QNetworkRequest::UserAgentHeader, ProgramContext::applicationTitle() +
                                                            QLatin1Char('/') +
                                                            ProgramContext::buildVersion());
    QNetworkReply *reply = manager.get(request);
    // Small read buffer: the body is checked against the limit as it comes.
    reply->setReadBufferSize(64 * 1024);

    qint64 received = 0;
    bool tooLarge = false;
    bool writeFailed = false;
    bool timedOut = false;
    const auto takeBody = [&] {
        while (!tooLarge && !writeFailed && reply->bytesAvailable() > 0) {
            const QByteArray chunk = reply->read(64 * 1024);
            received += chunk.size();
            if (received > limits.maxBytes) {
                tooLarge = true;
                reply->abort();
            } else if (file.write(chunk) != chunk.size()) {
                writeFailed = true;
                reply->abort();
            }
        }
    };

    EventWait wait;
    // The wait also ends when the application quits: the download is dropped.
    wait.setEndWhenLoopEnds(true);
    // Goes before everything its handlers touch, taking the handlers along.
    QObject receiver;
    QObject::connect(reply, &QNetworkReply::readyRead, &receiver, takeBody);
    QObject::connect(reply, &QNetworkReply::finished, &receiver, [&wait] { wait.wake(); });
    if (wait.until([reply] { return reply->isFinished(); }, QDeadlineTimer(limits.timeoutMs)) ==
        EventWait::End::TimedOut) {
        timedOut = true;
        reply->abort();
    }
    const bool completed = reply->isFinished() && !timedOut;
    if (!reply->isFinished())
        reply->abort();
    if (completed)
        takeBody();
    file.close();

    if (tooLarge) {
        throw downloadError(QStringLiteral("the answer from %1 is larger than %2 bytes.")
                                .arg(address)
                                .arg(limits.maxBytes));
    }
    if (timedOut) {
        throw downloadError(QStringLiteral("no answer from %1 within %2.")
                                .arg(address, durationText(limits.timeoutMs)));
    }
    if (writeFailed)
        throw downloadError(QStringLiteral("cannot write \"%1\".").arg(fileName));
    if (!completed)
        return false;

    // A server that answered at all gave an HTTP-level result: only 200 counts.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid())
        return status.toInt() == 200 && reply->error() == QNetworkReply::NoError;
    if (reply->error() != QNetworkReply::NoError)
        throw downloadError(reply->errorString());
    return false;
}

UpdateCheckResult IsNewCurrentVersion(const QString &applicationName, const QString &currentVersion,
                                      const QString &versionListAddress, const QString &tempFile,
                                      const DownloadLimits &limits)
{
    bool downloaded = false;
    try {
        downloaded = GetUrl(versionListAddress, tempFile, limits);
    } catch (...) {
        QFile::remove(tempFile);
        throw;
    }
    QString versionList;
    QFile file(tempFile);
    // An error page must not be read as a version list.
    if (downloaded && file.open(QIODevice::ReadOnly))
        versionList = QString::fromUtf8(file.read(limits.maxBytes));
    file.close();
    QFile::remove(tempFile);

    UpdateCheckResult result;
    result.latest = LatestVersionIn(versionList, applicationName);
    result.newer = IsVersionNewer(result.latest, currentVersion);
    return result;
}
