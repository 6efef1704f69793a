#include "Promtool.h"

#include <QProcess>
#include <QStandardPaths>

QString Promtool::path()
{
    return QStandardPaths::findExecutable(QStringLiteral("promtool"));
}

QString Promtool::checkMetrics(const QByteArray &text)
{
    QProcess promtool;
    promtool.setProcessChannelMode(QProcess::MergedChannels);
    promtool.start(path(), {QStringLiteral("check"), QStringLiteral("metrics")});
    if (!promtool.waitForStarted(10000))
        return QStringLiteral("promtool did not start");
    promtool.write(text);
    promtool.closeWriteChannel();
    if (!promtool.waitForFinished(30000)) {
        promtool.kill();
        promtool.waitForFinished(5000);
        return QStringLiteral("promtool did not finish");
    }
    const QString output = QString::fromUtf8(promtool.readAll());
    if (promtool.exitStatus() != QProcess::NormalExit || promtool.exitCode() != 0)
        return QStringLiteral("promtool exit %1: %2").arg(promtool.exitCode()).arg(output);
    return {};
}
