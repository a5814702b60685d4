#pragma once

#include <QWidget>

class QLabel;

namespace reelbox::ui {

// A centred "nothing here" view: an icon, a title and an optional description.
class EmptyState : public QWidget {
    Q_OBJECT
public:
    EmptyState(const QString& icon, const QString& title, const QString& description,
               const QColor& color, QWidget* parent = nullptr);

private:
    QLabel* m_icon;
};

} // namespace reelbox::ui
