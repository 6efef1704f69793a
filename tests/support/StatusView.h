#pragma once

#include "engine/PollView.h"

#include <QStringList>

// A poll cycle's view that keeps the status pane's lines and shows nothing
// else, for tests that look at what a cycle says.
class StatusView : public PollView {
public:
    QStringList status;
    void statusAppend(const QString &line) override { status << line; }
    void statusClear() override { status.clear(); }
    void setProgressText(const QString &) override {}
    void setErrorPanel(const QString &, Image) override {}
    void setTrayHint(const QString &) override {}
    void setTrayIcon(TrayIcons, bool) override {}
    void setCycleRunning(bool) override {}
    void setAbortEnabled(bool) override {}
    void setTimerSwitchShown(bool) override {}
    void errorWindowSetText(const QString &) override {}
    void errorWindowSetBordered(bool) override {}
    void errorWindowSetWordWrap(bool) override {}
    void errorWindowShow() override {}
    void errorWindowHide() override {}
    void setShowOnErrorChecked(bool) override {}
    void processEvents() override {}
};
