#pragma once

#include "engine/PollView.h"

#include <QObject>

class QWidget;

// The alert actions as the running program performs them: programs are
// started by the launcher, failures the user must see pop up without
// stopping the cycle that hit them.
class GuiAlertActions : public QObject, public AlertActions {
    Q_OBJECT
public:
    explicit GuiAlertActions(QWidget *window);

    void playAlertSound(const QString &serviceName, bool onError) override;
    void launchProgram(const QString &commandLine) override;
    void sendAlertMail(const QString &serviceName, const QString &templatePath,
                       const QString &recipients) override;
    void reportError(const QString &message) override;

private:
    QWidget *m_window;
};
