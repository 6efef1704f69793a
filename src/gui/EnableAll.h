#pragma once

#include <QWidget>

#include <initializer_list>

// Enables or disables a group of controls that one check box governs.
inline void setAllEnabled(std::initializer_list<QWidget *> widgets, bool on)
{
    for (QWidget *w : widgets)
        w->setEnabled(on);
}
