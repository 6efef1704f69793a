#include "TestPki.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

// Our own configuration, so the system's openssl.cnf adds nothing.
QByteArray configuration(const QString &folder)
{
    return QStringLiteral(R"([ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = placeholder
[ authority ]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[ server_secure ]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:%2
authorityKeyIdentifier = keyid
[ server_issued ]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:%2, DNS:localhost, IP:127.0.0.1
authorityKeyIdentifier = keyid
[ server_other ]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:%3
authorityKeyIdentifier = keyid
[ ca ]
default_ca = signer
[ signer ]
database = %1/index.txt
new_certs_dir = %1/issued
serial = %1/serial
default_md = sha256
policy = any_name
unique_subject = no
email_in_dn = no
[ any_name ]
commonName = supplied
)")
        .arg(folder, TestPki::hostName(), TestPki::otherHostName())
        .toUtf8();
}

QString generalizedTime(const QDateTime &moment)
{
    return moment.toUTC().toString(QStringLiteral("yyyyMMddHHmmss")) + QLatin1Char('Z');
}

bool writeFile(const QString &filePath, const QByteArray &bytes)
{
    QFile file(filePath);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

} // namespace

bool TestPki::openssl(const QStringList &arguments)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (program.isEmpty()) {
        m_error = QStringLiteral("the openssl command is not installed");
        return false;
    }
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        m_error = QStringLiteral("openssl %1 failed: %2")
                      .arg(arguments.join(QLatin1Char(' ')),
                           QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    return true;
}

bool TestPki::makeAuthority(const QString &name, const QString &subject)
{
    return openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-config"),
                    path(QStringLiteral("pki.cnf")), QStringLiteral("-extensions"),
                    QStringLiteral("authority"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                    QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                    QStringLiteral("-nodes"), QStringLiteral("-keyout"), path(name + ".key"),
                    QStringLiteral("-out"), path(name + ".pem"), QStringLiteral("-days"),
                    QStringLiteral("3650"), QStringLiteral("-subj"), subject});
}

bool TestPki::makeServer(const QString &name, const QString &authority, const QString &extensions,
                         const QString &subject, const QString &start, const QString &end)
{
    return openssl({QStringLiteral("req"), QStringLiteral("-new"), QStringLiteral("-config"),
                    path(QStringLiteral("pki.cnf")), QStringLiteral("-newkey"),
                    QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                    QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                    QStringLiteral("-keyout"), path(name + ".key"), QStringLiteral("-out"),
                    path(name + ".csr"), QStringLiteral("-subj"), subject}) &&
           openssl({QStringLiteral("ca"), QStringLiteral("-batch"), QStringLiteral("-notext"),
                    QStringLiteral("-config"), path(QStringLiteral("pki.cnf")),
                    QStringLiteral("-cert"), path(authority + ".pem"), QStringLiteral("-keyfile"),
                    path(authority + ".key"), QStringLiteral("-extensions"), extensions,
                    QStringLiteral("-startdate"), start, QStringLiteral("-enddate"), end,
                    QStringLiteral("-in"), path(name + ".csr"), QStringLiteral("-out"),
                    path(name + ".pem")});
}

bool TestPki::create()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    if (!QDir(m_dir.path()).mkpath(QStringLiteral("issued")) ||
        !writeFile(path(QStringLiteral("pki.cnf")), configuration(m_dir.path())) ||
        !writeFile(path(QStringLiteral("index.txt")), QByteArray()) ||
        !writeFile(path(QStringLiteral("serial")), "1000\n")) {
        m_error = QStringLiteral("cannot write the openssl files");
        return false;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString from = generalizedTime(now.addDays(-1));
    const QString until = generalizedTime(now.addDays(30));
    const QString secure = QStringLiteral("/CN=") + hostName();
    return makeAuthority(QStringLiteral("ca"), QStringLiteral("/CN=Quellmark Test CA")) &&
           makeAuthority(QStringLiteral("rogue"), QStringLiteral("/CN=Untrusted Test CA")) &&
           makeServer(QStringLiteral("valid"), QStringLiteral("ca"),
                      QStringLiteral("server_secure"), secure, from, until) &&
           makeServer(QStringLiteral("expired"), QStringLiteral("ca"),
                      QStringLiteral("server_secure"), secure, QStringLiteral("20200101000000Z"),
                      QStringLiteral("20200201000000Z")) &&
           makeServer(QStringLiteral("wronghost"), QStringLiteral("ca"),
                      QStringLiteral("server_other"), QStringLiteral("/CN=") + otherHostName(),
                      from, until) &&
           makeServer(QStringLiteral("untrusted"), QStringLiteral("rogue"),
                      QStringLiteral("server_secure"), secure, from, until);
}

TestPki::Identity TestPki::issue(const QString &name, const QDateTime &notBefore,
                                 const QDateTime &notAfter)
{
    // Names of our own making only: they become file names in the folder.
    static const QRegularExpression plain(QStringLiteral("^[a-z0-9_-]+$"));
    if (!plain.match(name).hasMatch() || name == QLatin1String("ca") ||
        name == QLatin1String("rogue")) {
        m_error = QStringLiteral("not a name for a certificate: ") + name;
        return {};
    }
    if (!makeServer(name, QStringLiteral("ca"), QStringLiteral("server_issued"),
                    QStringLiteral("/CN=") + hostName(), generalizedTime(notBefore),
                    generalizedTime(notAfter)))
        return {};
    return {path(name + QStringLiteral(".pem")), path(name + QStringLiteral(".key"))};
}

QString TestPki::caFile() const
{
    return path(QStringLiteral("ca.pem"));
}

TestPki::Identity TestPki::valid() const
{
    return {path(QStringLiteral("valid.pem")), path(QStringLiteral("valid.key"))};
}

TestPki::Identity TestPki::expired() const
{
    return {path(QStringLiteral("expired.pem")), path(QStringLiteral("expired.key"))};
}

TestPki::Identity TestPki::wrongHost() const
{
    return {path(QStringLiteral("wronghost.pem")), path(QStringLiteral("wronghost.key"))};
}

TestPki::Identity TestPki::untrusted() const
{
    return {path(QStringLiteral("untrusted.pem")), path(QStringLiteral("untrusted.key"))};
}
