#include "MainStatusBar.h"

#include "AppIcons.h"

#include <QHBoxLayout>
#include <QLabel>

MainStatusBar::MainStatusBar(QWidget *parent) : QStatusBar(parent)
{
    setSizeGripEnabled(false);
    m_progress = new QLabel(this);
    m_progress->setObjectName(QStringLiteral("panelProgress"));
    auto *errors = new QWidget(this);
    // 100 pixels, or what "No sites on error" and a count need in this font.
    const QFontMetrics metrics(errors->font());
    errors->setFixedWidth(qMax(100, 16 + 12 + qMax(metrics.horizontalAdvance(QStringLiteral("No sites on error")),
                                                   metrics.horizontalAdvance(QStringLiteral("999 sites on error")))));
    auto *errorsLayout = new QHBoxLayout(errors);
    errorsLayout->setContentsMargins(2, 0, 2, 0);
    errorsLayout->setSpacing(4);
    m_errorsImage = new QLabel(errors);
    m_errorsImage->setFixedSize(16, 16);
    m_errors = new QLabel(errors);
    m_errors->setObjectName(QStringLiteral("panelErrors"));
    errorsLayout->addWidget(m_errorsImage);
    errorsLayout->addWidget(m_errors, 1);
    // Alerts that did not go through; hidden while all went.
    m_alerts = new QLabel(this);
    m_alerts->setObjectName(QStringLiteral("panelAlerts"));
    m_alerts->setMaximumWidth(AlertPanelWidth);
    m_alerts->setStyleSheet(QStringLiteral("QLabel { color: #b00000; }"));
    m_alerts->hide();
    addWidget(m_progress, 1);
    addPermanentWidget(m_alerts);
    addPermanentWidget(errors);
}

void MainStatusBar::setProgress(const QString &text)
{
    m_progress->setText(text);
}

void MainStatusBar::setErrors(const QString &text, PollView::Image image)
{
    m_errors->setText(text);
    switch (image) {
    case PollView::Image::None:
        m_errorsImage->clear();
        break;
    case PollView::Image::Ok:
        m_errorsImage->setPixmap(AppIcons::statusOk());
        break;
    case PollView::Image::Error:
        m_errorsImage->setPixmap(AppIcons::statusError());
        break;
    }
}

void MainStatusBar::setAlertFailures(const QString &summary)
{
    m_alerts->setToolTip(summary);
    m_alerts->setText(m_alerts->fontMetrics().elidedText(summary, Qt::ElideRight, AlertPanelWidth - 4));
    m_alerts->setVisible(!summary.isEmpty());
}
