#pragma once

#include <QFrame>

namespace reelbox::ui {

// Shown when a camera or a sound device can't be opened for lack of rights.
class PermissionHint : public QFrame {
    Q_OBJECT
public:
    explicit PermissionHint(QWidget* parent = nullptr);
};

} // namespace reelbox::ui
