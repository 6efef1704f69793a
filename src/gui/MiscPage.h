#pragma once

#include "config/ProgramContext.h"

#include <QWidget>

#include <memory>

class SettingsBinder;
class TKBackup;
struct LiveSettings;
struct SmtpSettings;

namespace Ui {
class MiscPage;
}

// The Misc page: the HTTP proxy for the probes, the SMTP server alert
// e-mails go through, and the backup frame.
class MiscPage : public QWidget {
    Q_OBJECT
public:
    explicit MiscPage(const ProgramContext &context, QWidget *parent = nullptr);
    ~MiscPage() override;

    // Ties the page's values to the store, in the order start-up loads them.
    void bindSettings(SettingsBinder &binder);
    // The proxy values the poll cycle reads, as shown now.
    void fillLive(LiveSettings &live) const;
    SmtpSettings smtpSettings() const;
    TKBackup *backupFrame() const { return m_backup; }
    // The metrics settings as shown now.
    QString metricsFolder() const;
    QString metricsListen() const;

signals:
    // The user finished editing the metrics address (Return or leaving
    // the field).
    void metricsListenEdited(const QString &address);

private:
    // The enabling rules the binder runs when their boxes change.
    void UseHttpProxyClick(bool on);
    void chkReqSmtpAuthClick(bool on);
    QString butBrowseMetricsClick();

    std::unique_ptr<Ui::MiscPage> ui;
    TKBackup *m_backup = nullptr;
    QString m_lastListenEdited;
};
