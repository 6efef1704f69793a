#pragma once

#include "update/UpdateCheck.h"

#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class TKAboutBox;
}

// The about frame: program name, version, description and legal notice, and
// the button that asks the maker's site for a newer version. The check runs
// only when the user asks for it.
class TKAboutBox : public QWidget {
    Q_OBJECT
public:
    explicit TKAboutBox(QWidget *parent = nullptr);
    ~TKAboutBox() override;

    // Start-up fills these from the build's version information.
    void setApplication(const QString &name, const QString &versionText, const QString &description,
                        const QString &legalNotice);
    QString applicationName() const;
    QString versionCaption() const;

    // Where the version list is downloaded to ("temp.txt" in it); the
    // program folder of the run (the default program folder until set).
    void setProgramFolder(const QString &folder);
    // The maker's site (ProgramContext::makerSite() until set).
    void setMakerSite(const QString &site);
    QString makerSite() const { return m_makerSite; }
    void setDownloadLimits(const DownloadLimits &limits);
    // Opens the what's-new page; OpenWithShell until replaced.
    void setShellOpener(std::function<bool(const QString &target)> opener);

    // The whole "Check for updates" dialogue.
    void butUpdatesClick();
    // Downloads the version list and compares it with the version shown.
    // Throws UpdateError when the site cannot be asked.
    UpdateCheckResult IsNewCurrentVersion(const QString &applicationName);

private:
    std::unique_ptr<Ui::TKAboutBox> ui;
    QString m_programFolder;
    QString m_makerSite;
    DownloadLimits m_limits;
    std::function<bool(const QString &)> m_shellOpener;
};
