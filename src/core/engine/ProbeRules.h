#pragma once

#include "engine/Prober.h"
#include "engine/ServiceTarget.h"

#include <QByteArray>
#include <QString>

// The bytes a probe sends and how it judges what came back. Pure functions.

// Success and the short code shown in parentheses: the status or greeting
// code, or "pattern fail". An empty code is left for the caller to word.
struct Judgement {
    bool success = false;
    QString resultCode;
};

// HEAD (GET with a pattern) of the target's path with the fixed header
// lines, ending in an empty line; CR LF everywhere. Through a proxy the
// request names the absolute URI.
QByteArray buildHttpRequest(const ServiceTarget &target, bool withPattern, bool viaProxy,
                            const QString &userAgent, const QString &makerHost);

// Up means "HTTP/" followed, after the first blank, by a 1xx to 4xx status.
// A non-empty pattern must also occur in the body, ignoring case.
Judgement judgeHttp(const QByteArray &answer, const QString &pattern);

// ftp and smtp want "220", pop3 "+OK" (case matters). Other protocols fail.
Judgement judgeGreeting(const QString &protocol, const QByteArray &answer);

// A success whose answer took longer than slowAfterMs (0 or less: off) -
// more than that many milliseconds to the microsecond - becomes the failure
// "slow"; the response then begins with a line that says so, followed by
// the answer as it came. True when it did.
bool judgeSlowAnswer(ProbeResult &result, int slowAfterMs);

// The host named in our User-Agent comment and Referer header.
QString makerHost();
// "Quellmark/<version> (<maker host>)"
QString userAgentText();
