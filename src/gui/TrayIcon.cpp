#include "TrayIcon.h"

#include "AppIcons.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

TrayIcon::TrayIcon(const QString &toolTip, QWidget *window)
    : QObject(window), m_menu(new QMenu(window)), m_cycle(new QTimer(this))
{
    m_menu->setObjectName(QStringLiteral("TrayMenuRight"));
    connect(m_menu->addAction(QStringLiteral("Help")), &QAction::triggered, this,
            &TrayIcon::helpRequested);
    m_menu->addSeparator();
    connect(m_menu->addAction(QStringLiteral("Restore")), &QAction::triggered, this,
            &TrayIcon::restoreRequested);
    m_urlsOnError = m_menu->addAction(QStringLiteral("Show services on error"));
    m_urlsOnError->setCheckable(true);
    connect(m_urlsOnError, &QAction::triggered, this, [this] {
        m_urlsOnError->setChecked(!m_urlsOnError->isChecked());
        emit urlsOnErrorRequested();
    });
    m_menu->addSeparator();
    QAction *pollNow = m_menu->addAction(QStringLiteral("Poll now"));
    pollNow->setObjectName(QStringLiteral("mnuPollNow"));
    connect(pollNow, &QAction::triggered, this, &TrayIcon::pollNowRequested);
    m_timer = m_menu->addAction(QStringLiteral("Timer ON"));
    m_timer->setCheckable(true);
    connect(m_timer, &QAction::triggered, this, &TrayIcon::timerRequested);
    m_menu->addSeparator();
    QAction *snoozeAll = m_menu->addAction(QStringLiteral("Snooze all alerts for 1 hour"));
    snoozeAll->setObjectName(QStringLiteral("mnuSnoozeAll"));
    connect(snoozeAll, &QAction::triggered, this, &TrayIcon::snoozeAllRequested);
    QAction *resumeAll = m_menu->addAction(QStringLiteral("Resume alerts"));
    resumeAll->setObjectName(QStringLiteral("mnuResumeAll"));
    connect(resumeAll, &QAction::triggered, this, &TrayIcon::resumeAllRequested);
    m_menu->addSeparator();
    connect(m_menu->addAction(QStringLiteral("Stats")), &QAction::triggered, this,
            &TrayIcon::statsRequested);
    m_menu->addSeparator();
    QAction *exit = m_menu->addAction(QStringLiteral("Exit"));
    exit->setObjectName(QStringLiteral("mnuExit"));
    connect(exit, &QAction::triggered, this, &TrayIcon::exitRequested);

    m_cycle->setInterval(1000);
    connect(m_cycle, &QTimer::timeout, this, &TrayIcon::advanceImage);

    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_icon = new QSystemTrayIcon(AppIcons::trayImage(PollView::TrayIcons::Normal, 0), this);
    m_icon->setToolTip(toolTip);
    m_icon->setContextMenu(m_menu);
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick)
                    emit restoreRequested();
            });
    m_icon->show();
}

void TrayIcon::hide()
{
    if (m_icon)
        m_icon->hide();
}

void TrayIcon::setToolTip(const QString &text)
{
    if (m_icon)
        m_icon->setToolTip(text);
}

void TrayIcon::setImages(PollView::TrayIcons set, bool cycling)
{
    m_set = set;
    m_image = 0;
    if (m_icon)
        m_icon->setIcon(AppIcons::trayImage(set, 0));
    if (cycling)
        m_cycle->start();
    else
        m_cycle->stop();
}

void TrayIcon::advanceImage()
{
    m_image = (m_image + 1) % AppIcons::trayImageCount(m_set);
    if (m_icon)
        m_icon->setIcon(AppIcons::trayImage(m_set, m_image));
}
