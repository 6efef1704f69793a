#pragma once

#include <QString>

#include <optional>

// What a probe needs to know about a service, read from its name
// ("<protocol> <host[/path]> <port>"). Everything is lower case, the request
// path included.
struct ServiceTarget {
    QString normalizedName; // blanks collapsed, trimmed, lower case
    QString protocol;       // "http", "https", "ftp", "pop3", "smtp", "tcp" or any other word
    QString probeTarget;    // host, for http(s) optionally with "/path"; no trailing "/"
    bool hasPort = false;   // the name carried a usable port word
    int port = 0;           // the port used: the given one or the protocol's default
    QString portSuffix;     // ":" + port when given and not the default, else empty
    QString host;
    QString path;        // http(s): always begins with "/"; empty for other protocols
    QString logName;     // probe target with / \ : ? & % replaced by "_"
    QString serviceTag;  // protocol + ":" + host + path
    QString displayName; // protocol + ": " + host + port suffix + path

    // nullopt when nothing but blanks is left, meaning the entry is skipped.
    // A one-word name is an http target. Only a name of exactly three words
    // carries a port; a third word that is not a plain decimal number is
    // treated as no port at all (the protocol's default is used), since the
    // editor never writes one. A number outside 1..65535 is kept as given;
    // the probe then cannot connect.
    static std::optional<ServiceTarget> parse(const QString &serviceName);

    // http 80, https 443, ftp 21, smtp 25, pop3 110; any other protocol 0.
    static int defaultPort(const QString &protocol);
};
