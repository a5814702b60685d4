#pragma once

#include "model/Take.h"

#include <QWidget>

class QLabel;

namespace reelbox::ui {

// What a selected take shows until the editor screen exists: its name and its thumbnail.
class TakePlaceholder : public QWidget {
    Q_OBJECT
public:
    explicit TakePlaceholder(const Take& take, QWidget* parent = nullptr);
    const QString& folder() const { return m_folder; }

private:
    QString m_folder;
    QLabel* m_picture;
};

} // namespace reelbox::ui
