#pragma once

#include "config/ProgramContext.h"

#include <QWidget>

#include <memory>

class QPlainTextEdit;
class SettingsBinder;
struct LiveSettings;

namespace Ui {
class GeneralPage;
}

// The General page: poll frequencies and time-outs, the program for "no
// internet connection", the start-up switches, the visual alert and the
// status pane the poll cycle writes to.
class GeneralPage : public QWidget {
    Q_OBJECT
public:
    explicit GeneralPage(const ProgramContext &context, QWidget *parent = nullptr);
    ~GeneralPage() override;

    // Ties the page's values to the store, in the order start-up loads them.
    void bindSettings(SettingsBinder &binder);
    // What the poll cycle reads from this page, as shown now.
    void fillLive(LiveSettings &live) const;

    QPlainTextEdit *statusPane() const;
    bool timerOnAtStart() const;
    bool startMinimized() const;
    bool visualAlert() const;
    int normalFrequency() const;

signals:
    // "Visual alert" was clicked; its state is stored already.
    void visualAlertClicked(bool on);

private:
    // The handlers the binder calls: the enabling rule of the no-connection
    // program, its file picker, the log-on entry and the visual alert.
    void chkNoConnAppLaunchClick(bool on);
    QString butBrowse7Click();
    void chkLaunchClick();
    void chkVisualAlertClick();

    ProgramContext m_context;
    std::unique_ptr<Ui::GeneralPage> ui;
};
