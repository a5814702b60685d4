#pragma once

#include <QLabel>

class QVariantAnimation;

namespace reelbox::ui {

// The countdown's number, 160 bold white on a black veil of opacity 0.33; each new number
// springs in. Its accessible name is the number.
class CountdownOverlay : public QLabel {
    Q_OBJECT
public:
    explicit CountdownOverlay(QWidget* parent = nullptr);
    void setNumber(int n);

private:
    QVariantAnimation* m_spring;
};

} // namespace reelbox::ui
