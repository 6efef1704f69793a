#pragma once

#include "engine/PollView.h"

#include <QStatusBar>

class QLabel;

// The main window's status bar: the progress text, the count of services
// on error with its image, and, while some did not go through, the failed
// alerts.
class MainStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit MainStatusBar(QWidget *parent = nullptr);

    void setProgress(const QString &text);
    void setErrors(const QString &text, PollView::Image image);
    // Empty hides the panel.
    void setAlertFailures(const QString &summary);

private:
    static constexpr int AlertPanelWidth = 280;
    QLabel *m_progress = nullptr;
    QLabel *m_errors = nullptr;
    QLabel *m_errorsImage = nullptr;
    QLabel *m_alerts = nullptr;
};
