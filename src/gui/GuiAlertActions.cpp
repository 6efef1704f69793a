#include "GuiAlertActions.h"

#include "Dialogs.h"

#include "alerts/ProgramLauncher.h"

#include <QWidget>

GuiAlertActions::GuiAlertActions(QWidget *window) : QObject(window), m_window(window) {}

void GuiAlertActions::playAlertSound(const QString &serviceName, bool onError)
{
    Q_UNUSED(serviceName);
    Q_UNUSED(onError);
}

void GuiAlertActions::launchProgram(const QString &commandLine)
{
    LaunchProgram(commandLine);
}

void GuiAlertActions::sendAlertMail(const QString &serviceName, const QString &templatePath,
                                    const QString &recipients)
{
    Q_UNUSED(serviceName);
    Q_UNUSED(templatePath);
    Q_UNUSED(recipients);
}

void GuiAlertActions::reportError(const QString &message)
{
    // Not modal: an unattended monitor must not stall until someone clicks.
    Dialogs::errorLater(m_window, message);
}
