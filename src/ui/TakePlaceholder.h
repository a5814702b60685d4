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
    const QString& folder() const { return m_take.folder; }
    // Whether it shows this take as it is now (a rename needs a new view).
    bool shows(const Take& take) const {
        return take.folder == m_take.folder && take.info.name == m_take.info.name;
    }

private:
    Take m_take;
    QLabel* m_picture;
};

} // namespace reelbox::ui
