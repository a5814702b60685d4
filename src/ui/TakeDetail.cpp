#include "ui/TakeDetail.h"

#include "edit/TakeEditorModel.h"
#include "ui/EditorScreen.h"
#include "ui/OverdubPlaceholder.h"

namespace reelbox::ui {

TakeDetail::TakeDetail(const Take& take, TakeLibrary& library, SoundSystem* sound,
                       UndoRegistry* undo, QWidget* parent)
    : QStackedWidget(parent), m_folder(take.folder),
      m_model(std::make_unique<TakeEditorModel>(take, &library, sound)),
      m_editor(new EditorScreen(*m_model)), m_overdub(new OverdubPlaceholder(*m_model)) {
    m_model->setUndoRegistry(undo);
    addWidget(m_editor);
    addWidget(m_overdub);
    connect(m_model.get(), &TakeEditorModel::isOverdubbingChanged, this, &TakeDetail::showMode);
    showMode();
}

TakeDetail::~TakeDetail() {
    m_model->setUndoRegistry(nullptr);
    m_model->tearDown();
    // The screens read the model: they go first.
    delete m_editor;
    delete m_overdub;
}

QWidget* TakeDetail::overdubView() const {
    return m_overdub;
}

void TakeDetail::showMode() {
    setCurrentWidget(m_model->isOverdubbing() ? static_cast<QWidget*>(m_overdub) : m_editor);
}

} // namespace reelbox::ui
