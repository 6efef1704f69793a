#include "GuiAlertActions.h"

#include "Dialogs.h"
#include "SoundPlayer.h"

#include "alerts/AlertSound.h"
#include "alerts/ProgramLauncher.h"
#include "config/FileError.h"
#include "config/RegistryStore.h"

#include <QWidget>

GuiAlertActions::GuiAlertActions(QWidget *window, const ProgramContext &context,
                                 std::function<SmtpSettings()> smtpSettings)
    : QObject(window), m_window(window), m_context(context), m_smtpSettings(std::move(smtpSettings)),
      m_sound(new SoundPlayer(this))
{
}

void GuiAlertActions::playAlertSound(const QString &serviceName, bool onError)
{
    PlayAlertSound(m_context.servicesKey, serviceName, onError, m_context.programFolder, *m_sound);
}

void GuiAlertActions::launchProgram(const QString &commandLine)
{
    LaunchProgram(commandLine);
}

QString GuiAlertActions::sendMailNow(const QString &serviceName, const QString &templatePath,
                                     const QString &recipients)
{
    return SendAlertMail(m_context.servicesKey, serviceName, templatePath, recipients, m_smtpSettings());
}

void GuiAlertActions::sendAlertMail(const QString &serviceName, const QString &templatePath,
                                    const QString &recipients)
{
    // The cycle does not use the reply; a template that cannot be read is
    // shown, and the cycle goes on.
    try {
        sendMailNow(serviceName, templatePath, recipients);
    } catch (const FileError &error) {
        reportError(error.message());
    } catch (const RegistryError &error) {
        reportError(error.message());
    }
}

void GuiAlertActions::reportError(const QString &message)
{
    // Not modal: an unattended monitor must not stall until someone clicks.
    Dialogs::errorLater(m_window, message);
}
