#include "ui/TakePlaceholder.h"

#include "audio/Filmstrip.h"
#include "platform/Background.h"

#include <QLabel>
#include <QThreadPool>
#include <QVBoxLayout>

namespace reelbox::ui {

TakePlaceholder::TakePlaceholder(const Take& take, QWidget* parent)
    : QWidget(parent), m_take(take), m_picture(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setMinimumSize(240, 136);
    m_picture->setAccessibleName(QStringLiteral("Thumbnail"));
    layout->addWidget(m_picture);
    auto* name = new QLabel(take.info.name, this);
    QFont font = name->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setBold(true);
    name->setFont(font);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);
    layout->addStretch();
    runInBackground(
        QThreadPool::globalInstance(), this,
        [take] {
            try {
                return Filmstrip::ensureThumbnail(take).value_or(QImage());
            } catch (...) {
                return QImage();
            }
        },
        [this](QImage image) {
            if (!image.isNull())
                m_picture->setPixmap(QPixmap::fromImage(
                    image.scaled(480, 270, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        });
}

} // namespace reelbox::ui
