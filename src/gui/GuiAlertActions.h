#pragma once

#include "alerts/AlertActions.h"
#include "alerts/AlertMail.h"
#include "config/ProgramContext.h"

#include <QObject>

#include <functional>

class AlertFailures;
class QWidget;
class SoundPlayer;

// The alert actions as the running program performs them: sounds through
// the sound player, programs through the launcher, e-mail through the SMTP
// settings the Misc page shows, failures popping up without stopping the
// cycle that hit them.
//
// One e-mail is sent at a time. Sending waits in an event loop of its own;
// while it does, isSending() is true and sendingChanged tells the window,
// which holds back what would interrupt the dialogue (a poll, a second
// "Test", the end of the program).
class GuiAlertActions : public QObject, public AlertActions {
    Q_OBJECT
public:
    GuiAlertActions(QWidget *window, const ProgramContext &context,
                    std::function<SmtpSettings()> smtpSettings);

    QString playAlertSound(const QString &serviceName, bool onError) override;
    void launchProgram(const QString &commandLine) override;
    MailOutcome sendAlertMail(const QString &serviceName, const QString &templatePath,
                              const QString &recipients) override;
    MailOutcome sendCertificateMail(const QString &serviceName, const QString &templatePath,
                                    const QString &recipients, const QString &certExpiry) override;
    void reportError(const QString &message) override;

    // The e-mail with its reply, for the Sites page's "Test" buttons.
    // Throws FileError or RegistryError as SendAlertMail does. Not to be
    // called while another e-mail is being sent.
    QString sendMailNow(const QString &serviceName, const QString &templatePath, const QString &recipients,
                        bool *accepted = nullptr, const QString &certExpiry = QString());
    bool isSending() const { return m_sending; }
    SoundPlayer *soundPlayer() const { return m_sound; }
    // Where a sound that fails while it plays is reported.
    void setFailureRecord(AlertFailures *failures) { m_failures = failures; }

    // The text a second e-mail gets while one is being sent.
    static QString busyText();

signals:
    void sendingChanged(bool sending);

private:
    MailOutcome sendForCycle(const QString &serviceName, const QString &templatePath, const QString &recipients,
                             const QString &certExpiry);

    QWidget *m_window;
    ProgramContext m_context;
    std::function<SmtpSettings()> m_smtpSettings;
    SoundPlayer *m_sound;
    AlertFailures *m_failures = nullptr;
    bool m_sending = false;
    // The service whose sound plays now, for a failure reported later.
    QString m_soundService;
    bool m_soundOnError = true;
    QString m_soundPath;
};
