#pragma once

#include "engine/PollView.h"

#include <QObject>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QWidget;

// The notification-area icon with its menu: the menu's entries as signals,
// the tool tip, and the image sets with their one-image-a-second cycling
// while services are on error. The menu exists on every desktop; the icon
// only where a system tray is available.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    // The menu belongs to the window, as a popup of its own.
    TrayIcon(const QString &toolTip, QWidget *window);

    // Whether the icon shows in a system tray (none on some desktops and on
    // the offscreen platform).
    bool isPresent() const { return m_icon != nullptr; }
    void hide();
    void setToolTip(const QString &text);
    // Shows the first image of a set; cycling moves on one image a second.
    void setImages(PollView::TrayIcons set, bool cycling);

    QMenu *menu() const { return m_menu; }
    QAction *timerAction() const { return m_timer; }
    QAction *urlsOnErrorAction() const { return m_urlsOnError; }

signals:
    void helpRequested();
    void restoreRequested();
    // "Show services on error": the entry's check mark follows the window,
    // not the click, so the handler sets it.
    void urlsOnErrorRequested();
    void pollNowRequested();
    void timerRequested();
    void snoozeAllRequested();
    void resumeAllRequested();
    void statsRequested();
    void exitRequested();

private:
    void advanceImage();

    QMenu *m_menu;
    QAction *m_urlsOnError;
    QAction *m_timer;
    QSystemTrayIcon *m_icon = nullptr;
    QTimer *m_cycle;
    PollView::TrayIcons m_set = PollView::TrayIcons::Normal;
    int m_image = 0;
};
