#pragma once

#include <QWidget>

class QToolButton;
class QVariantAnimation;

namespace reelbox::ui {

class Popover;
class SwitchSection;

// One rack of the master controls: a label button (title and icon) that opens the rack's
// popover, and for a rack that can be switched off a power button before it. The rack is lit
// while it has no switch or its switch is on; its background follows (eased over 0.12 s). The
// popover (300 wide) shows the title, the switch, and the rack's controls, disabled and faint
// while switched off.
class RackButton : public QWidget {
    Q_OBJECT
public:
    RackButton(const QString& title, const QString& icon, bool switchable,
               QWidget* parent = nullptr);

    // The popover's body, to add the rack's controls to.
    SwitchSection* body() const { return m_body; }
    Popover* popover() const { return m_popover; }
    QToolButton* labelButton() const { return m_label; }
    // The power button, or null for a rack without a switch.
    QToolButton* powerButton() const { return m_power; }

    void setOn(bool on);
    bool isOn() const { return m_on; }
    bool isLit() const { return !m_power || m_on; }
    void openPopover();

signals:
    // The user switched the rack on or off.
    void switched(bool on);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void flip(bool on);
    void showLit(bool animated);

    QString m_title;
    QToolButton* m_power = nullptr;
    QToolButton* m_label;
    Popover* m_popover;
    SwitchSection* m_body;
    QVariantAnimation* m_background;
    bool m_on = true;
};

} // namespace reelbox::ui
