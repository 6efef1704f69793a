#pragma once

#include <QObject>

#include <functional>

class QWidget;

// Runs a function every time a widget loses the keyboard focus, changed or not
// (QLineEdit::editingFinished only fires when the text changed).
class FocusOutWatcher : public QObject {
    Q_OBJECT
public:
    static void watch(QWidget *widget, std::function<void()> onLeave);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    FocusOutWatcher(QWidget *widget, std::function<void()> onLeave);
    std::function<void()> m_onLeave;
};
