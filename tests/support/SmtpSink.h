#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Postfix's smtp-sink on a free loopback port, keeping every message it
// receives as a file (envelope as X- headers, dots already un-stuffed).
class SmtpSink {
public:
    SmtpSink();
    ~SmtpSink();

    // Empty when the program is not installed (Debian package postfix).
    static QString executable();
    // Starts it and waits until it listens; false on failure.
    bool start();
    quint16 port() const { return m_port; }
    // The messages received so far, oldest first.
    QList<QByteArray> messages() const;
    // Waits until at least `count` complete messages are there.
    bool waitForMessages(int count, int timeoutMs = 5000) const;

private:
    QTemporaryDir m_dumps;
    QProcess m_process;
    quint16 m_port = 0;
};
