#pragma once

#include <QString>

// The name the desktop knows the program by: its desktop entry
// (<id>.desktop), its icon in the icon theme and its AppStream id.
inline QString desktopId()
{
    return QStringLiteral("org.kestrin.Quellmark");
}
