#pragma once

#include <QString>

namespace reelbox::cli {

void printLine(const QString& text);
void printError(const QString& text);

} // namespace reelbox::cli
