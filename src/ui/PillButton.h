#pragma once

#include <QAbstractButton>
#include <QColor>

namespace reelbox::ui {

// A small capsule button with one tinted symbol: filled with its "on" colour (the symbol then
// drawn in the "on" text colour) while on, faint while off. A checkable pill is on while
// checked (Mute, Solo); a plain one while `setLit` says so (Effects while its popover shows).
class PillButton : public QAbstractButton {
    Q_OBJECT
public:
    PillButton(const QString& icon, QColor onColor, QColor onText, QWidget* parent = nullptr);

    void setLit(bool lit);
    bool isOn() const { return isCheckable() ? isChecked() : m_lit; }
    QSize sizeHint() const override { return {30, 22}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_icon;
    QColor m_onColor;
    QColor m_onText;
    bool m_lit = false;
};

} // namespace reelbox::ui
