#pragma once

#include "alerts/AlertMail.h"
#include "config/ProgramContext.h"
#include "engine/PollView.h"

#include <QObject>

#include <functional>

class QWidget;
class SoundPlayer;

// The alert actions as the running program performs them: sounds through
// the sound player, programs through the launcher, e-mail through the SMTP
// settings the Misc page shows, failures popping up without stopping the
// cycle that hit them.
class GuiAlertActions : public QObject, public AlertActions {
    Q_OBJECT
public:
    GuiAlertActions(QWidget *window, const ProgramContext &context,
                    std::function<SmtpSettings()> smtpSettings);

    void playAlertSound(const QString &serviceName, bool onError) override;
    void launchProgram(const QString &commandLine) override;
    void sendAlertMail(const QString &serviceName, const QString &templatePath,
                       const QString &recipients) override;
    void reportError(const QString &message) override;

    // The e-mail with its reply, for the Sites page's "Test" buttons.
    // Throws FileError or RegistryError as SendAlertMail does.
    QString sendMailNow(const QString &serviceName, const QString &templatePath, const QString &recipients);
    SoundPlayer *soundPlayer() const { return m_sound; }

private:
    QWidget *m_window;
    ProgramContext m_context;
    std::function<SmtpSettings()> m_smtpSettings;
    SoundPlayer *m_sound;
};
