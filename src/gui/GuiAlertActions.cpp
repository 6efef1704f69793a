#include "GuiAlertActions.h"

#include "Dialogs.h"
#include "SoundPlayer.h"

#include "alerts/AlertSound.h"
#include "alerts/ProgramLauncher.h"
#include "base/FileError.h"
#include "config/RegistryStore.h"
#include "engine/AlertFailures.h"

#include <QWidget>

GuiAlertActions::GuiAlertActions(QWidget *window, const ProgramContext &context,
                                 std::function<SmtpSettings()> smtpSettings)
    : QObject(window), m_window(window), m_context(context), m_smtpSettings(std::move(smtpSettings)),
      m_sound(new SoundPlayer(this))
{
    connect(m_sound, &SoundPlayer::playFailed, this, [this](const QString &path) {
        if (m_failures && !m_soundService.isEmpty() && path == m_soundPath)
            m_failures->failed(AlertFailures::Kind::Sound, m_soundService,
                               m_soundOnError ? QStringLiteral("on-error sound") : QStringLiteral("off-error sound"),
                               QStringLiteral("File \"%1\" could not be played.").arg(path));
    });
}

QString GuiAlertActions::busyText()
{
    return QStringLiteral("An e-mail is being sent. Try again when it has gone.");
}

QString GuiAlertActions::playAlertSound(const QString &serviceName, bool onError)
{
    const QString before = m_sound->lastFile();
    const QString problem =
        PlayAlertSound(m_context.servicesKey, serviceName, onError, m_context.programFolder, *m_sound);
    // Only a file this alert started is reported against it when it fails.
    m_soundService = serviceName;
    m_soundOnError = onError;
    m_soundPath = m_sound->lastFile() != before || problem.isEmpty() ? m_sound->lastFile() : QString();
    return problem;
}

void GuiAlertActions::launchProgram(const QString &commandLine)
{
    LaunchProgram(commandLine);
}

QString GuiAlertActions::sendMailNow(const QString &serviceName, const QString &templatePath,
                                     const QString &recipients, bool *accepted, const QString &certExpiry)
{
    if (m_sending) {
        if (accepted)
            *accepted = false;
        return busyText();
    }
    struct Sending {
        GuiAlertActions *self;
        explicit Sending(GuiAlertActions *s) : self(s)
        {
            self->m_sending = true;
            emit self->sendingChanged(true);
        }
        ~Sending()
        {
            self->m_sending = false;
            emit self->sendingChanged(false);
        }
    } sending(this);
    return SendAlertMail(m_context.servicesKey, serviceName, templatePath, recipients, m_smtpSettings(),
                         AlertMailEnvironment(), accepted, certExpiry);
}

MailOutcome GuiAlertActions::sendAlertMail(const QString &serviceName, const QString &templatePath,
                                           const QString &recipients)
{
    return sendForCycle(serviceName, templatePath, recipients, QString());
}

MailOutcome GuiAlertActions::sendCertificateMail(const QString &serviceName, const QString &templatePath,
                                                 const QString &recipients, const QString &certExpiry)
{
    return sendForCycle(serviceName, templatePath, recipients, certExpiry);
}

MailOutcome GuiAlertActions::sendForCycle(const QString &serviceName, const QString &templatePath,
                                          const QString &recipients, const QString &certExpiry)
{
    // A template that cannot be read is shown, and the cycle goes on; every
    // message that did not go is told back to the cycle with its reason.
    MailOutcome outcome;
    try {
        const QString reply = sendMailNow(serviceName, templatePath, recipients, &outcome.sent, certExpiry);
        if (!outcome.sent) {
            const SmtpSettings smtp = m_smtpSettings();
            outcome.problem = reply.isEmpty() ? QStringLiteral("No answer from the SMTP server \"%1\" on port %2")
                                                    .arg(smtp.server)
                                                    .arg(smtp.port)
                                              : QStringLiteral("Last reply: ") + reply;
        }
    } catch (const FileError &error) {
        outcome.problem = error.message();
        reportError(error.message());
    } catch (const RegistryError &error) {
        outcome.problem = error.message();
        reportError(error.message());
    }
    return outcome;
}

void GuiAlertActions::reportError(const QString &message)
{
    // Not modal: an unattended monitor must not stall until someone clicks.
    Dialogs::errorLater(m_window, message);
}
