#pragma once

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

// A throw-away public key infrastructure made with the openssl command in a
// temporary folder: a test certificate authority, a second one that nobody
// trusts, and server certificates for the test host name. Trust it for one
// test process only by pointing SSL_CERT_FILE at caFile().
class TestPki {
public:
    // The name the server certificates are made out to; a test resolver
    // maps it to 127.0.0.1.
    static QString hostName() { return QStringLiteral("secure.test"); }
    static QString otherHostName() { return QStringLiteral("other.test"); }

    struct Identity {
        QString certificateFile; // PEM
        QString keyFile;         // PEM, unencrypted
    };

    // Makes every file; false with the reason in error() when openssl is
    // missing or fails.
    bool create();
    QString error() const { return m_error; }

    QString folder() const { return m_dir.path(); }
    // The trusted authority's certificate.
    QString caFile() const;

    Identity valid() const;     // hostName(), trusted, valid now
    Identity expired() const;   // hostName(), trusted, ended long ago
    Identity wrongHost() const; // otherHostName() only, trusted, valid now
    Identity untrusted() const; // hostName(), valid now, issued by the other authority

    // After create(): one more certificate from the trusted authority, for
    // hostName(), "localhost" and 127.0.0.1, valid from notBefore until
    // notAfter (whole seconds), in files named after `name` (lower-case
    // letters, digits, "-" and "_"). Empty files with the reason in error()
    // when it cannot be made.
    Identity issue(const QString &name, const QDateTime &notBefore, const QDateTime &notAfter);

private:
    bool openssl(const QStringList &arguments);
    bool makeAuthority(const QString &name, const QString &subject);
    bool makeServer(const QString &name, const QString &authority, const QString &extensions,
                    const QString &subject, const QString &start, const QString &end);
    QString path(const QString &file) const { return m_dir.filePath(file); }

    QTemporaryDir m_dir;
    QString m_error;
};
