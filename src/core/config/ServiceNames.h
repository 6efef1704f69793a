#pragma once

#include <QString>
#include <QStringList>

// The service editor's rules for the name of a service: "<type> <host> <port>",
// the type one of the list below, the host (for HTTP with a path) cleaned as
// the host field does it.
class ServiceNames {
public:
    // The editor's type list, in its order.
    static QStringList types();
    // HTTP 80, HTTPS 443, FTP 21, POP3 110, SMTP 25; 0 for anything else,
    // TCP included: a TCP service always names its port.
    static int defaultPort(const QString &type);
    // HTTP or HTTPS, in any case: the types whose host carries a path and
    // which take a pattern.
    static bool isHttp(const QString &type);
    // HTTPS alone, in any case.
    static bool isHttps(const QString &type);
    // TCP, in any case: a bare connect to a port the user names.
    static bool isTcp(const QString &type);

    // What the host field becomes when it is left: the part after the first
    // "://"; for types other than HTTP and HTTPS only what stands before the
    // first "/"; every "\" and ":" removed; control characters removed;
    // blanks trimmed at both ends.
    static QString normalizeHost(const QString &type, const QString &text);

    static QString build(const QString &type, const QString &host, int port);

    // Index of the entry equal to `name` without regard to case, -1 if none;
    // `except` is skipped (the entry being edited).
    static int indexOfIgnoringCase(const QStringList &names, const QString &name, int except = -1);
};
