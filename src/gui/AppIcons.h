#pragma once

#include <QIcon>

// The program's icons, drawn at run time so no image files need shipping.
class AppIcons {
public:
    // The usual tray and window icon: a green signal dot.
    static QIcon application();
    // The tray icon's frames while services are on error (cycled once a second).
    static QIcon errorFrame(int frame);
    static int errorFrameCount() { return 2; }
    // Small images for the status bar's error panel.
    static QPixmap statusOk();
    static QPixmap statusError();
};
