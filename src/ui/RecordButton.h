#pragma once

#include "capture/RecorderModel.h"

#include <QAbstractButton>

class QVariantAnimation;

namespace reelbox::ui {

// The painted record button: a ring 72 across, inside it a red circle (58, radius 29) while
// idle that springs to a rounded square (28, radius 6) while counting down or recording; drawn
// faint while the take is being finished. Named for what a press does now.
class RecordButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit RecordButton(QWidget* parent = nullptr);
    void setState(const RecorderState& state);
    QSize sizeHint() const override { return {76, 76}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    RecorderState m_state;
    QVariantAnimation* m_shape; // 0: idle circle, 1: square
};

} // namespace reelbox::ui
