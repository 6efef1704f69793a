#pragma once

#include <QHostAddress>
#include <QString>

// Where the metrics endpoint listens, read from the setting's text:
// "host:port" with an IP address or "localhost" as host ("[::1]:9101" for
// IPv6), or a port alone, which means 127.0.0.1. Names other than
// localhost are refused rather than looked up: the endpoint listens on an
// address of this machine the user chose, loopback unless they typed
// another.
struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;
    QString error; // why the text is not an address; empty when it is

    static constexpr qsizetype MaxLength = 100;

    // Empty text (or blanks) gives an address that is off and no error.
    static ListenAddress parse(const QString &text);
    bool isOff() const { return error.isEmpty() && port == 0; }
    bool isValid() const { return error.isEmpty() && port != 0; }
    // "127.0.0.1:9101", "[::1]:9101".
    QString text() const;
};
