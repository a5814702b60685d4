#pragma once

#include "ui/ValueAccessible.h"

#include <QPointF>
#include <QWidget>
#include <optional>

namespace reelbox::ui {

// A track's pan, −1 (left) … 1 (right): a 22-point dial turned by pan × 135 degrees with its
// label below ("C", "L40", "R100"). A drag turns it (right and up turn right, 100 points a
// side) and writes (`committed`) when it ends; a double-click centres it; the arrow keys step
// it. Screen readers read the pan and its label.
class PanKnob : public QWidget, public ValueControl {
    Q_OBJECT
public:
    explicit PanKnob(QWidget* parent = nullptr);

    // The model's pan; shown unless a drag is under way.
    void setPan(double pan);
    double pan() const { return m_pan; }
    std::optional<double> draft() const { return m_draft; }
    double shownPan() const { return m_draft.value_or(m_pan); }
    QSize sizeHint() const override;

    double accessibleValue() const override { return shownPan(); }
    double accessibleMinimum() const override { return -1; }
    double accessibleMaximum() const override { return 1; }
    double accessibleStep() const override { return 0.01; }
    QString accessibleValueText() const override;
    void setAccessibleValue(double value) override;
    QAccessible::Role accessibleRole() const override { return QAccessible::Dial; }

signals:
    void committed(double pan);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void commit(double pan);

    double m_pan = 0;
    std::optional<double> m_dragStart; // the pan when the button went down
    std::optional<QPointF> m_pressAt;
    std::optional<double> m_draft;
};

} // namespace reelbox::ui
