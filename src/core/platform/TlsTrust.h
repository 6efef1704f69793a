#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>

// The client side of TLS as the probes and the mail client use it: TLS 1.2
// or newer, the peer's certificate chain and host name verified, against
// the certificate authorities an OpenSSL-based program would trust here.
//
// Trusted authorities, looked up at each use (and kept while their source
// is unchanged):
// - SSL_CERT_FILE set and not empty: the certificates in that file only;
// - else SSL_CERT_DIR set and not empty: the certificates in the files of
//   those folders (a ":" separated list, as OpenSSL reads it);
// - else the system's own certificate store.
// A source that holds no certificate trusts nothing; it never falls back to
// the system's store, so a private authority stays private.
class TlsTrust {
public:
    // Whether Qt could load a TLS backend.
    static bool available();
    // Why TLS cannot be used, in plain words, for a log entry.
    static QString unavailableText();

    static QList<QSslCertificate> caCertificates();
    // The configuration every TLS client connection starts from.
    static QSslConfiguration clientConfiguration();

    // What went wrong in a handshake, in plain words: the verification
    // errors ("The certificate has expired (valid from 2020-01-01 00:00:00
    // UTC until 2020-02-01 00:00:00 UTC)"), else the socket's error text,
    // with a hint where the cause is plain (no TLS spoken on the port).
    static QString failureReason(const QList<QSslError> &errors, const QString &socketError);
};
