#include "ui/ExportPopover.h"

#include "edit/TakeEditorModel.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace reelbox::ui {

namespace {
const char* const formatNames[] = {"Video", "Smaller video", "Audio only"};
const char* const formatCaptions[] = {
    "MP4 that plays everywhere: WhatsApp, Signal, Instagram, Android.",
    "About half the size. Best for sending to Apple devices.",
    "Just the sound, as M4A.",
};
} // namespace

QString formatCaption(int formatIndex, bool rendering) {
    if (rendering)
        return QStringLiteral("Updating preview…");
    if (formatIndex < 0 || formatIndex >= 3)
        return {};
    return QString::fromUtf8(formatCaptions[formatIndex]);
}

ExportPopover::ExportPopover(TakeEditorModel& model, QWidget* parent)
    : Popover(260, parent), m_model(model), m_caption(new QLabel) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(14);
    auto* group = new QButtonGroup(this);
    auto* formats = new QVBoxLayout;
    formats->setSpacing(4);
    for (int i = 0; i < 3; ++i) {
        m_formats[i] = new QRadioButton(QString::fromUtf8(formatNames[i]));
        m_formats[i]->setAccessibleDescription(QString::fromUtf8(formatCaptions[i]));
        group->addButton(m_formats[i], i);
        formats->addWidget(m_formats[i]);
    }
    layout->addLayout(formats);
    m_caption->setWordWrap(true);
    QFont small = m_caption->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    m_caption->setFont(small);
    m_caption->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(m_caption);
    auto* buttons = new QHBoxLayout;
    auto* share = new QPushButton(QStringLiteral("Share…"));
    auto* save = new QPushButton(QStringLiteral("Save…"));
    share->setAutoDefault(false);
    save->setDefault(true);
    save->setAutoDefault(true);
    buttons->addWidget(share);
    buttons->addStretch();
    buttons->addWidget(save);
    layout->addLayout(buttons);

    connect(group, &QButtonGroup::idClicked, this, [this](int id) {
        ExportSettings settings = m_model.exportSettings();
        settings.format = allFormats.at(size_t(id));
        m_model.setExportSettings(settings);
    });
    connect(share, &QPushButton::clicked, this, [this] {
        hide();
        emit shareRequested();
    });
    connect(save, &QPushButton::clicked, this, [this] {
        hide();
        emit saveRequested();
    });
    connect(&model, &TakeEditorModel::takeChanged, this, &ExportPopover::showSettings);
    connect(&model, &TakeEditorModel::isRenderingChanged, this, &ExportPopover::showSettings);
    showSettings();
}

void ExportPopover::keyPressEvent(QKeyEvent* event) {
    // Return is "Save…", the default action.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        hide();
        emit saveRequested();
        return;
    }
    Popover::keyPressEvent(event);
}

void ExportPopover::showSettings() {
    const auto format = m_model.exportSettings().format;
    int index = 0;
    for (size_t i = 0; i < allFormats.size(); ++i)
        if (allFormats[i] == format)
            index = int(i);
    m_formats[index]->setChecked(true);
    m_caption->setText(formatCaption(index, m_model.isRendering()));
}

} // namespace reelbox::ui
