#pragma once

#include <QList>
#include <QMetaObject>
#include <QSslError>
#include <QString>

#include <functional>

class QSslSocket;

// Turns an open connection to TLS as every client here does: the client
// configuration of TlsTrust, the server's name sent for SNI and checked
// against its certificate. It starts at once and watches the socket for as
// long as it lives; `changed` runs on each step (to wake a wait).
class TlsHandshake {
public:
    TlsHandshake(QSslSocket &socket, const QString &peerName, std::function<void()> changed);
    ~TlsHandshake();
    TlsHandshake(const TlsHandshake &) = delete;
    TlsHandshake &operator=(const TlsHandshake &) = delete;

    bool encrypted() const { return m_encrypted; }
    // The peer's certificate failed verification; the handshake ends.
    bool rejected() const { return !m_errors.isEmpty(); }
    // The server ended the connection without a verification error.
    bool closedByPeer() const;
    // What went wrong otherwise, in plain words.
    QString failureReason() const;

private:
    QSslSocket &m_socket;
    bool m_encrypted = false;
    QList<QSslError> m_errors;
    QMetaObject::Connection m_onEncrypted;
    QMetaObject::Connection m_onErrors;
};
