#include "ui/TakeRowDelegate.h"

#include "ui/Icons.h"
#include "ui/SidebarModel.h"
#include "ui/Style.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

namespace reelbox::ui {

namespace {
constexpr int thumbWidth = 56, thumbHeight = 36, thumbRadius = 4;
constexpr int spacing = 10, lineSpacing = 2, captionSpacing = 4, padding = 2, inset = 8;

SidebarModel::RowKind kindOf(const QModelIndex& index) {
    return SidebarModel::RowKind(index.data(SidebarModel::KindRole).toInt());
}

QFont smaller(QFont font, qreal factor) {
    font.setPointSizeF(font.pointSizeF() * factor);
    return font;
}
} // namespace

QSize TakeRowDelegate::sizeHint(const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const int line = option.fontMetrics.height();
    switch (kindOf(index)) {
    case SidebarModel::RowKind::take:
        return {200, thumbHeight + 2 * padding + 8};
    case SidebarModel::RowKind::heading:
        return {200, line + 14};
    case SidebarModel::RowKind::empty:
        return {200, 2 * line + 16};
    default:
        return {200, line + 16};
    }
}

void TakeRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    const SidebarModel::RowKind kind = kindOf(index);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = option.palette;
    const bool selected = option.state & QStyle::State_Selected;
    if (selected) {
        QPainterPath back;
        back.addRoundedRect(QRectF(option.rect).adjusted(4, 1, -4, -1), 6, 6);
        painter->fillPath(back, palette.color(QPalette::Highlight));
    }
    const QColor text = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const QColor secondary = selected ? text : QColor(colors::secondaryText);
    const QRect area = option.rect.adjusted(inset + 4, 0, -inset, 0);
    const QString label = index.data(Qt::DisplayRole).toString();

    switch (kind) {
    case SidebarModel::RowKind::recorder: {
        const int size = 16;
        const QRect icon(area.left(), area.center().y() - size / 2 + 1, size, size);
        painter->drawPixmap(icon,
                            tintedPixmap(QStringLiteral("media-record"), QColor(colors::recordRed),
                                         size, painter->device()->devicePixelRatioF()));
        painter->setPen(text);
        painter->drawText(area.adjusted(size + 8, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                          label);
        break;
    }
    case SidebarModel::RowKind::heading: {
        QFont font = smaller(option.font, 0.85);
        font.setBold(true);
        painter->setFont(font);
        painter->setPen(QColor(colors::secondaryText));
        painter->drawText(area, Qt::AlignBottom | Qt::AlignLeft, label);
        break;
    }
    case SidebarModel::RowKind::empty:
        painter->setFont(smaller(option.font, 0.92));
        painter->setPen(QColor(colors::secondaryText));
        painter->drawText(area, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextWordWrap, label);
        break;
    case SidebarModel::RowKind::take: {
        const QRect thumb(area.left(), area.center().y() - thumbHeight / 2 + 1, thumbWidth,
                          thumbHeight);
        QPainterPath clip;
        clip.addRoundedRect(QRectF(thumb), thumbRadius, thumbRadius);
        const QImage image = index.data(SidebarModel::ThumbnailRole).value<QImage>();
        if (image.isNull()) {
            painter->fillPath(clip, QColor(255, 255, 255, 26));
        } else {
            painter->save();
            painter->setClipPath(clip);
            // Fill the frame, cropping the longer side.
            const QSizeF scaled =
                QSizeF(image.size()).scaled(thumb.size(), Qt::KeepAspectRatioByExpanding);
            QRectF target(QPointF(), scaled);
            target.moveCenter(QRectF(thumb).center());
            painter->setRenderHint(QPainter::SmoothPixmapTransform);
            painter->drawImage(target, image);
            painter->restore();
        }
        const int x = thumb.right() + 1 + spacing;
        const QFontMetrics nameMetrics(option.font);
        const QFont captionFont = smaller(option.font, 0.85);
        const QFontMetrics captionMetrics(captionFont);
        const int total = nameMetrics.height() + lineSpacing + captionMetrics.height();
        int y = area.center().y() - total / 2 + 1;
        painter->setPen(text);
        painter->setFont(option.font);
        const int width = area.right() - x;
        painter->drawText(QRect(x, y, width, nameMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          nameMetrics.elidedText(label, Qt::ElideRight, width));
        y += nameMetrics.height() + lineSpacing;
        painter->setFont(captionFont);
        painter->setPen(secondary);
        int cx = x;
        const QString duration = index.data(SidebarModel::DurationRole).toString();
        painter->drawText(QRect(cx, y, width, captionMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter, duration);
        cx += captionMetrics.horizontalAdvance(duration) + captionSpacing;
        if (index.data(SidebarModel::EditedRole).toBool()) {
            const int size = captionMetrics.height() - 2;
            painter->drawPixmap(QRect(cx, y + 1, size, size),
                                tintedPixmap(QStringLiteral("edit-cut"), secondary, size,
                                             painter->device()->devicePixelRatioF()));
            cx += size + captionSpacing;
        }
        painter->drawText(
            QRect(cx, y, area.right() - cx, captionMetrics.height()),
            Qt::AlignLeft | Qt::AlignVCenter,
            captionMetrics.elidedText(index.data(SidebarModel::CreatedRole).toString(),
                                      Qt::ElideRight, area.right() - cx));
        break;
    }
    }
    if (option.state & QStyle::State_HasFocus && !selected) {
        painter->setPen(QPen(palette.color(QPalette::Highlight), 1));
        painter->drawRoundedRect(QRectF(option.rect).adjusted(4.5, 1.5, -4.5, -1.5), 6, 6);
    }
    painter->restore();
}

} // namespace reelbox::ui
