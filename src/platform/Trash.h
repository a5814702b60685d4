#pragma once

#include <QString>

namespace reelbox {

// Moves a file or folder to the user's freedesktop.org Trash. Returns false when it could not.
bool moveToTrash(const QString& path);

} // namespace reelbox
