#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class TKAboutBox;
}

// The about frame: program name, version, description and legal notice, and
// the button that asks the maker's site for a newer version.
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

signals:
    void checkForUpdatesRequested();

private:
    std::unique_ptr<Ui::TKAboutBox> ui;
};
