#pragma once

#include <QString>
#include <QStringList>

// The sound "System beep" plays where the desktop has the freedesktop sound
// theme: its bell, else its warning sound, looked for in each data folder
// (sounds/freedesktop/stereo/) in the order given. Empty when the theme is
// not installed.
QString themeBellSound(const QStringList &dataFolders);
