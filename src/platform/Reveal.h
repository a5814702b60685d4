#pragma once

#include <QString>

namespace reelbox {

// Shows a file in the desktop's file manager: org.freedesktop.FileManager1.ShowItems on the
// session bus, else the folder holding it opened by the desktop. False when neither worked.
bool revealInFileManager(const QString& path);

} // namespace reelbox
