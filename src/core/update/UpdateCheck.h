#pragma once

#include "engine/net/InputBounds.h"

#include <QString>

// Asking the maker's web site whether a newer version of the program exists.
// The site publishes a plain text version list: one line per product, the
// product's name followed by its latest version ("Quellmark 1.9.0").

// Stands for a version that could not be found.
inline const QString UnknownVersion = QStringLiteral("unknown");

struct UpdateCheckResult {
    bool newer = false;
    QString latest; // the version found, or UnknownVersion
};

// Bounds of one download, so a broken or hostile server can neither hang the
// check nor fill the disk.
struct DownloadLimits {
    qint64 maxBytes = InputBounds::Download;
    int timeoutMs = 30000;
};

// site + "/upgrades.txt"
QString VersionListAddress(const QString &makerSite);
// site + "/quellmark/whatsnew.shtml"
QString WhatsNewAddress(const QString &makerSite);

// The version text of a caption such as "Version 1.0.0.1": what follows the
// first blank, trimmed; empty when there is no blank.
QString CurrentVersionFromCaption(const QString &caption);

// The latest version the list gives for applicationName: the rest, trimmed,
// of the first non-blank line that (trimmed, in any case) begins with the
// name. A product whose name begins with ours must therefore be listed after
// ours. UnknownVersion when no line matches or the matching line names no
// version.
QString LatestVersionIn(const QString &versionList, const QString &applicationName);

// Compares dotted versions part by part, for as many parts as latest has; a
// missing or non-numeric part counts as 0. False for an empty or unknown
// latest version and for an empty current one. So 1.9 is newer than
// 1.8.0.158, and 1.8 is not (only two parts are compared).
bool IsVersionNewer(const QString &latest, const QString &currentVersion);

// HTTP GET of address into fileName (created or truncated), directly and never
// through a proxy, waiting in an event loop so the user interface stays
// responsive. True only when the server answered with status 200 and the whole
// body was written. Any other HTTP status gives false. Throws UpdateError when
// no answer came (connection refused, name not found, the time limit passed),
// when the body exceeds the size limit, or when the file cannot be written.
bool GetUrl(const QString &address, const QString &fileName, const DownloadLimits &limits = {});

// Downloads the version list into tempFile, finds the latest version of
// applicationName and compares it with currentVersion. The temporary file is
// gone afterwards, also when GetUrl throws (the error is passed on). A
// download that did not succeed counts as a list without the product.
UpdateCheckResult IsNewCurrentVersion(const QString &applicationName, const QString &currentVersion,
                                      const QString &versionListAddress, const QString &tempFile,
                                      const DownloadLimits &limits = {});
