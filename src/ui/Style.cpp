#include "ui/Style.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace reelbox::ui {

void applyStyle(QApplication& app) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette p;
    const QColor window(0x1e1e20), base(0x161618), text(0xececf0), button(0x303034);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, QColor(0x303034));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, QColor(colors::secondaryText));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(colors::recordRed));
    p.setColor(QPalette::Highlight, QColor(0x0a64d8));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x4c9bff));
    p.setColor(QPalette::Mid, QColor(0x48484c));
    p.setColor(QPalette::Dark, QColor(0x121214));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(0x6a6a70));
    app.setPalette(p);
}

} // namespace reelbox::ui
