#pragma once

#include "engine/PollView.h"

#include <QIcon>

// The program's icons, drawn at run time so no image files need shipping.
class AppIcons {
public:
    // The usual tray and window icon: a green signal dot.
    static QIcon application();
    // The tray's image sets. The normal set's first image is the resting
    // icon; while services are on error the set is cycled once a second,
    // alternating with the alarm image. The polling set shows during a cycle.
    static QIcon trayImage(PollView::TrayIcons set, int index);
    static int trayImageCount(PollView::TrayIcons set);
    // Small images for the status bar's error panel.
    static QPixmap statusOk();
    static QPixmap statusError();
};
