#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Runs the real program binary (path from QUELLMARK_APP) on the offscreen
// platform with the caller's environment (a TestSandbox's XDG folders) and
// waits until it reports that its windows are up.
class AppProcess {
public:
    explicit AppProcess(const QStringList &arguments = {});
    ~AppProcess();

    // Starts the program; true once it is up (ready file written).
    bool start(int timeoutMs = 20000);
    // Sends SIGTERM and waits for the end; true when it ended by itself.
    bool terminate(int timeoutMs = 20000);
    bool waitForFinished(int timeoutMs);
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    QProcess &process() { return m_process; }

    static QString programPath();

private:
    QStringList m_arguments;
    QString m_readyFile;
    QProcess m_process;
};
