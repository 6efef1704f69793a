#include "PrivateBus.h"

#include <QFile>
#include <QStandardPaths>

namespace {
// A session bus as dbus-daemon's own session configuration makes it, less
// the folders of services it would start on demand.
const char *const Config = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
} // namespace

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

bool PrivateBus::writeConfig(const QString &path, const QString &listen)
{
    QFile file(path);
    const QByteArray text = QString::fromLatin1(Config).arg(listen.toHtmlEscaped()).toUtf8();
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

bool PrivateBus::start()
{
    if (!m_configDir.isValid())
        return false;
    const QString config = m_configDir.filePath(QStringLiteral("session.conf"));
    if (!writeConfig(config, QStringLiteral("unix:tmpdir=/tmp")))
        return false;
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                    QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
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
