#pragma once

#include <QWidget>

class QLabel;

namespace reelbox::ui {

// A picture with its caption pill (white on a half-black rounded pill) in the top-left corner;
// the content fills the pane and is clipped to it.
class VideoPane : public QWidget {
    Q_OBJECT
public:
    VideoPane(const QString& caption, QWidget* content, QWidget* parent = nullptr);

    void setCaption(const QString& caption);
    QString caption() const;
    QWidget* content() const { return m_content; }

private:
    QWidget* m_content;
    QLabel* m_caption;
};

} // namespace reelbox::ui
