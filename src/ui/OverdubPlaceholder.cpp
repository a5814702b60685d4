#include "ui/OverdubPlaceholder.h"

#include "edit/TakeEditorModel.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace reelbox::ui {

OverdubPlaceholder::OverdubPlaceholder(TakeEditorModel& model, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    auto* title = new QLabel(QStringLiteral("Overdub"));
    QFont font = title->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setBold(true);
    title->setFont(font);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    auto* back = new QPushButton(QStringLiteral("Back to Editor"));
    back->setToolTip(QStringLiteral("Back to Editor"));
    layout->addWidget(back, 0, Qt::AlignHCenter);
    layout->addStretch();
    connect(back, &QPushButton::clicked, &model, [&model] { model.setOverdubbing(false); });
}

} // namespace reelbox::ui
