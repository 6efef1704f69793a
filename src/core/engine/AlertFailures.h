#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <functional>

// Alerts that did not reach anyone: an e-mail the SMTP server refused or
// never took, a program that did not start, a sound that could not play.
// Each is written to the error log at once and stays on show (status bar,
// tray hint) until the next alert of the same kind goes through, so a user
// never believes alerting works while alerts are being lost.
class AlertFailures : public QObject {
    Q_OBJECT
public:
    enum class Kind { Mail, Program, Sound };

    // stamp gives the time stamp of an error log entry.
    AlertFailures(QString errorLogPath, std::function<QString()> stamp, QObject *parent = nullptr);

    // serviceName names the service (or the no-connection rule), which says
    // which of its alerts ("on-error message"...), detail why it failed.
    void failed(Kind kind, const QString &serviceName, const QString &which, const QString &detail);
    void succeeded(Kind kind);

    // One line for the status bar and the tray hint; empty while every kind
    // of alert last went through.
    QString summary() const;
    bool any() const { return !summary().isEmpty(); }

signals:
    void changed();

private:
    QString m_errorLog;
    std::function<QString()> m_stamp;
    std::array<QString, 3> m_shown;
};
