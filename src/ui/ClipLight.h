#pragma once

#include <QAbstractButton>

namespace reelbox::ui {

// A small circle, red while its input has clipped; clicking it resets the clip lights.
class ClipLight : public QAbstractButton {
    Q_OBJECT
public:
    explicit ClipLight(QWidget* parent = nullptr);
    void setOn(bool on);
    bool isOn() const { return m_on; }
    QSize sizeHint() const override { return {14, 14}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_on = false;
};

} // namespace reelbox::ui
