#pragma once

#include <QString>
#include <functional>

class QAccessibleInterface;
class QObject;

namespace reelbox::test {

// Every accessible element under `root`, depth first, handed to `visit`.
void walkAccessible(QAccessibleInterface* root,
                    const std::function<void(QAccessibleInterface*)>& visit);
// The first shown element of `role` named `name`, or labelled by it.
QAccessibleInterface* findAccessible(QObject* root, int role, const QString& name);

} // namespace reelbox::test
