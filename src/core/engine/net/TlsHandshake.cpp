#include "TlsHandshake.h"

#include "platform/TlsTrust.h"

#include <QSslSocket>

TlsHandshake::TlsHandshake(QSslSocket &socket, const QString &peerName,
                           std::function<void()> changed)
    : m_socket(socket)
{
    m_onEncrypted = QObject::connect(&socket, &QSslSocket::encrypted, [this, changed] {
        m_encrypted = true;
        changed();
    });
    // Not ignored: Qt then ends the handshake with an error of its own.
    m_onErrors = QObject::connect(&socket, &QSslSocket::sslErrors,
                                  [this, changed](const QList<QSslError> &errors) {
                                      m_errors += errors;
                                      changed();
                                  });
    socket.setSslConfiguration(TlsTrust::clientConfiguration());
    // Also when the connection goes to an address or through a proxy.
    socket.setPeerVerifyName(peerName);
    socket.startClientEncryption();
}

TlsHandshake::~TlsHandshake()
{
    QObject::disconnect(m_onEncrypted);
    QObject::disconnect(m_onErrors);
}

bool TlsHandshake::closedByPeer() const
{
    return m_errors.isEmpty() && m_socket.error() == QAbstractSocket::RemoteHostClosedError;
}

QString TlsHandshake::failureReason() const
{
    return TlsTrust::failureReason(m_errors, m_socket.errorString());
}
