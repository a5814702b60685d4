#pragma once

#include <QFrame>
#include <QPointer>

namespace reelbox::ui {

// A frameless pop-up panel shown under the control that opens it: a click outside or Escape
// closes it. Its content is laid out by the owner (`setLayout`); the width is fixed.
class Popover : public QFrame {
    Q_OBJECT
public:
    explicit Popover(int width, QWidget* parent = nullptr);

    // Shows the popover with its top left under `anchor`'s bottom left, kept on the anchor's
    // screen; a second call while it is open closes it (a toggle, as the button that opens it).
    void toggleUnder(QWidget* anchor);
    void showUnder(QWidget* anchor);

signals:
    void closed();

protected:
    void hideEvent(QHideEvent* event) override;
};

} // namespace reelbox::ui
