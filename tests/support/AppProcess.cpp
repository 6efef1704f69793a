#include "AppProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <csignal>

AppProcess::AppProcess(const QStringList &arguments) : m_arguments(arguments) {}

AppProcess::~AppProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    if (!m_readyFile.isEmpty())
        QFile::remove(m_readyFile);
}

QString AppProcess::programPath()
{
    return qEnvironmentVariable("QUELLMARK_APP");
}

bool AppProcess::start(int timeoutMs)
{
    m_readyFile = QDir::tempPath() + QStringLiteral("/quellmark-ready-") +
                  QUuid::createUuid().toString(QUuid::WithoutBraces);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUELLMARK_READY_FILE"), m_readyFile);
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(programPath(), m_arguments);
    if (!m_process.waitForStarted(timeoutMs))
        return false;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (QFile::exists(m_readyFile))
            return true;
        if (m_process.state() == QProcess::NotRunning)
            return false;
        QTest::qWait(20);
    }
    return false;
}

bool AppProcess::terminate(int timeoutMs)
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
    return waitForFinished(timeoutMs);
}

bool AppProcess::waitForFinished(int timeoutMs)
{
    return m_process.waitForFinished(timeoutMs);
}
