#include "SmtpSink.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <unistd.h>

SmtpSink::SmtpSink() = default;

SmtpSink::~SmtpSink()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

QString SmtpSink::executable()
{
    QString sink = QStandardPaths::findExecutable(QStringLiteral("smtp-sink"));
    if (sink.isEmpty())
        sink = QStandardPaths::findExecutable(QStringLiteral("smtp-sink"),
                                              {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/lib/postfix/sbin")});
    return sink;
}

bool SmtpSink::start()
{
    const QString sink = executable();
    if (sink.isEmpty() || !m_dumps.isValid())
        return false;
    // The sink drops its privileges and must still write here.
    QFile::setPermissions(m_dumps.path(), QFileDevice::Permissions(0x7777));
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return false;
    m_port = probe.serverPort();
    probe.close();
    QStringList arguments;
    if (geteuid() == 0)
        arguments << QStringLiteral("-u") << QStringLiteral("nobody");
    arguments << QStringLiteral("-d") << m_dumps.path() + QStringLiteral("/%H%M%S.")
              << QStringLiteral("127.0.0.1:%1").arg(m_port) << QStringLiteral("10");
    m_process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_process.start(sink, arguments);
    if (!m_process.waitForStarted())
        return false;
    return QTest::qWaitFor(
        [&] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            return socket.waitForConnected(200);
        },
        5000);
}

QList<QByteArray> SmtpSink::messages() const
{
    QList<QByteArray> result;
    const QDir dir(m_dumps.path());
    for (const QString &name : dir.entryList(QDir::Files, QDir::Time | QDir::Reversed)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            result << file.readAll();
    }
    return result;
}

bool SmtpSink::waitForMessages(int count, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return messages().size() >= count; }, timeoutMs);
}
