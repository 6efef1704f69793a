#include "PrivateBus.h"

#include <QStandardPaths>

PrivateBus::PrivateBus() = default;

PrivateBus::~PrivateBus()
{
    if (!m_address.isEmpty())
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_oldAddress);
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }
}

bool PrivateBus::available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty();
}

bool PrivateBus::start()
{
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                    QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForStarted(5000))
        return false;
    QByteArray line;
    while (!line.contains('\n')) {
        if (!m_daemon.waitForReadyRead(5000))
            return false;
        line += m_daemon.readAllStandardOutput();
    }
    m_address = QString::fromUtf8(line.left(line.indexOf('\n')).trimmed());
    m_oldAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    return !m_address.isEmpty();
}
