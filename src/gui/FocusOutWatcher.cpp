#include "FocusOutWatcher.h"

#include <QEvent>
#include <QWidget>

FocusOutWatcher::FocusOutWatcher(QWidget *widget, std::function<void()> onLeave)
    : QObject(widget), m_onLeave(std::move(onLeave))
{
    widget->installEventFilter(this);
}

void FocusOutWatcher::watch(QWidget *widget, std::function<void()> onLeave)
{
    new FocusOutWatcher(widget, std::move(onLeave));
}

bool FocusOutWatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut && m_onLeave)
        m_onLeave();
    return QObject::eventFilter(watched, event);
}
