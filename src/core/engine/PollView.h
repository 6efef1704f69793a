#pragma once

#include <QString>

// What a poll cycle shows. The main window implements it; tests record it.
class PollView {
public:
    enum class Image { None, Ok, Error };
    enum class TrayIcons { Normal, Polling };

    virtual ~PollView() = default;

    virtual void statusAppend(const QString &line) = 0;
    virtual void statusClear() = 0;
    // Status bar panel 0 (progress) and panel 1 (sites on error).
    virtual void setProgressText(const QString &text) = 0;
    virtual void setErrorPanel(const QString &text, Image image) = 0;
    virtual void setTrayHint(const QString &text) = 0;
    // Shows the first image of a set; cycling shows one image a second.
    virtual void setTrayIcon(TrayIcons set, bool cycling) = 0;
    // "Go" and the service editing buttons off, "Abort" on, while running.
    virtual void setCycleRunning(bool running) = 0;
    virtual void setAbortEnabled(bool enabled) = 0;
    // The timer switch's look (button colour, hint, menu check).
    virtual void setTimerSwitchShown(bool on) = 0;

    // The services-on-error window.
    virtual void errorWindowSetText(const QString &text) = 0;
    virtual void errorWindowSetBordered(bool bordered) = 0;
    virtual void errorWindowSetWordWrap(bool on) = 0;
    virtual void errorWindowShow() = 0;
    virtual void errorWindowHide() = 0;
    virtual void setShowOnErrorChecked(bool checked) = 0;

    // Lets the window handle what is pending, so it stays usable.
    virtual void processEvents() = 0;
};
