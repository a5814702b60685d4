#include "ui/VideoPane.h"

#include <QGridLayout>
#include <QLabel>

namespace reelbox::ui {

namespace {
constexpr int captionInset = 10;
}

VideoPane::VideoPane(const QString& caption, QWidget* content, QWidget* parent)
    : QWidget(parent), m_content(content), m_caption(new QLabel(caption)) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    m_caption->setStyleSheet(QStringLiteral("QLabel { color: white; background: rgba(0, 0, 0, 128);"
                                            " border-radius: 10px; padding: 3px 8px; }"));
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content, 0, 0);
    auto* corner = new QVBoxLayout;
    corner->setContentsMargins(captionInset, captionInset, captionInset, captionInset);
    corner->addWidget(m_caption, 0, Qt::AlignLeft | Qt::AlignTop);
    corner->addStretch();
    layout->addLayout(corner, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    m_caption->raise();
    // A pane gives way to its neighbour instead of asking for its content's size.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
}

void VideoPane::setCaption(const QString& caption) {
    m_caption->setText(caption);
}

QString VideoPane::caption() const {
    return m_caption->text();
}

} // namespace reelbox::ui
