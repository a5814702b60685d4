#pragma once

#include "ui/MixerStyle.h"

#include <QWidget>

class QCheckBox;
class QGraphicsOpacityEffect;
class QVBoxLayout;

namespace reelbox::ui {

// A titled vertical stack of controls, optionally with a switch beside the title: while it is
// switched off the controls below are disabled and drawn faint.
class SwitchSection : public QWidget {
    Q_OBJECT
public:
    struct Look {
        TextStyle title = TextStyle::subheadline;
        int spacing = 8;
        double offOpacity = 0.45;
    };
    SwitchSection(const QString& title, bool switchable, Look look, QWidget* parent = nullptr);

    void addWidget(QWidget* widget);
    void setOn(bool on);
    bool isOn() const { return m_on; }
    // The switch, or null.
    QCheckBox* toggle() const { return m_switch; }

signals:
    // The user flipped the switch.
    void switched(bool on);

private:
    void showOn();

    Look m_look;
    QCheckBox* m_switch = nullptr;
    QWidget* m_content;
    QVBoxLayout* m_items;
    QGraphicsOpacityEffect* m_fade;
    bool m_on = true;
};

} // namespace reelbox::ui
