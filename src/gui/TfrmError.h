#pragma once

#include <QWidget>

#include <memory>

class Monitor;
class QTimer;
namespace Ui {
class TfrmError;
}

// The visual alert: a small always-on-top window in the top-left corner of
// the work area listing the services on error in bold text that blinks
// between red on white and white on red once a second.
class TfrmError : public QWidget {
    Q_OBJECT
public:
    static constexpr int LabelWidth = 177;

    explicit TfrmError(QWidget *parent = nullptr);
    ~TfrmError() override;

    QString text() const;
    void setText(const QString &text);
    bool wordWrap() const;
    void setWordWrap(bool on);
    // With a border the window has a caption bar without buttons; without one
    // it is a bare frameless box.
    void setBordered(bool bordered);
    bool isBordered() const { return m_bordered; }

    // Colours of the moment, for checks.
    QColor textColor() const;
    QColor backgroundColor() const;

    // Shows what the monitor reports of the services on error: text,
    // border, wrapping, shown or hidden. Follows one monitor at a time.
    void follow(Monitor *monitor);

    // One tick of the blink timer.
    void blink();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void applyColours(const QColor &text, const QColor &background);
    void fitToLabel();

    std::unique_ptr<Ui::TfrmError> ui;
    QTimer *m_blinkTimer = nullptr;
    bool m_bordered = true;
    Monitor *m_followed = nullptr;
};
