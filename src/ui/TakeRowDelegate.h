#pragma once

#include <QStyledItemDelegate>

namespace reelbox::ui {

// Paints the sidebar's rows: "New Recording" with its red record icon, the "Takes" heading, the
// empty-list note, and take rows: a 56 × 36 thumbnail (radius 4; a placeholder until loaded),
// the name, and a caption with the kept duration, a scissors icon when edited and the date.
class TakeRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace reelbox::ui
