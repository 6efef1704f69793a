#include "NodeExporter.h"

#include "RawHttp.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

NodeExporter::~NodeExporter()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
}

QString NodeExporter::path()
{
    QString found = QStandardPaths::findExecutable(QStringLiteral("prometheus-node-exporter"));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(QStringLiteral("node_exporter"));
    return found;
}

bool NodeExporter::start(const QString &textfileFolder)
{
    // A port the system just handed out and took back is free for a moment.
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) {
            m_error = QStringLiteral("no free port");
            return false;
        }
        m_port = probe.serverPort();
    }
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(path(), {QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(m_port),
                             QStringLiteral("--collector.disable-defaults"),
                             QStringLiteral("--collector.textfile"),
                             QStringLiteral("--collector.textfile.directory=") + textfileFolder});
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("the node exporter did not start");
        return false;
    }
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (m_process.state() == QProcess::NotRunning) {
            m_error = QStringLiteral("the node exporter ended: ") +
                      QString::fromUtf8(m_process.readAll());
            return false;
        }
        if (RawHttp::exchange(
                m_port, "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
                2000)
                .connected)
            return true;
        QTest::qWait(100);
    }
    m_error = QStringLiteral("the node exporter did not answer: ") +
              QString::fromUtf8(m_process.readAll());
    return false;
}

QByteArray NodeExporter::scrape()
{
    return RawHttp::get(m_port, "/metrics");
}
