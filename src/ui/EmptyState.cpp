#include "ui/EmptyState.h"

#include "ui/Icons.h"

#include <QLabel>
#include <QVBoxLayout>

namespace reelbox::ui {

EmptyState::EmptyState(const QString& icon, const QString& title, const QString& description,
                       const QColor& color, QWidget* parent)
    : QWidget(parent), m_icon(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(6);
    layout->addStretch();
    m_icon->setPixmap(tintedPixmap(icon, color, 44, devicePixelRatioF()));
    m_icon->setAlignment(Qt::AlignCenter);
    m_icon->setAccessibleName(title);
    layout->addWidget(m_icon);
    auto* heading = new QLabel(title, this);
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() * 1.5);
    font.setBold(true);
    heading->setFont(font);
    heading->setAlignment(Qt::AlignCenter);
    heading->setStyleSheet(QStringLiteral("color: %1").arg(color.name()));
    layout->addWidget(heading);
    if (!description.isEmpty()) {
        auto* text = new QLabel(description, this);
        text->setAlignment(Qt::AlignCenter);
        text->setWordWrap(true);
        text->setStyleSheet(QStringLiteral("color: %1").arg(color.darker(130).name()));
        layout->addWidget(text);
    }
    layout->addStretch();
}

} // namespace reelbox::ui
