#pragma once

#include <QByteArray>
#include <QList>

// One HTTP exchange over loopback with the exact bytes a test gives, waited
// for in the event loop (so a server in the test's own thread keeps
// running), until the server closes the connection or the time is up.
class RawHttp {
public:
    struct Answer {
        bool connected = false;
        bool closedByServer = false;
        QByteArray bytes;
        QByteArray statusLine() const;
        QByteArray header(const QByteArray &name) const; // first value, case-insensitive name
        QByteArray body() const;
    };
    static Answer exchange(quint16 port, const QByteArray &request, int timeoutMs = 10000);
    // GET path with HTTP/1.1 and Host: the body of a 200 answer, empty otherwise.
    static QByteArray get(quint16 port, const QByteArray &path, int timeoutMs = 10000);
};
