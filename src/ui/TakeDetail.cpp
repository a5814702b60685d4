#include "ui/TakeDetail.h"

#include "capture/OverdubModel.h"
#include "edit/TakeEditorModel.h"
#include "ui/EditorScreen.h"
#include "ui/OverdubScreen.h"

namespace reelbox::ui {

TakeDetail::TakeDetail(const Take& take, TakeLibrary& library, SoundSystem& sound,
                       DeviceManager& devices, UndoRegistry* undo, QWidget* parent)
    : QStackedWidget(parent), m_folder(take.folder), m_sound(sound), m_devices(devices),
      m_model(std::make_unique<TakeEditorModel>(take, &library, sound)),
      m_editor(new EditorScreen(*m_model)) {
    m_model->setUndoRegistry(undo);
    addWidget(m_editor);
    connect(m_model.get(), &TakeEditorModel::isOverdubbingChanged, this, &TakeDetail::showMode);
    showMode();
}

TakeDetail::~TakeDetail() {
    // The screens read the models: they go first, the overdub's model before the editor's.
    delete m_overdub;
    delete m_overdubModel;
    m_model->setUndoRegistry(nullptr);
    m_model->tearDown();
    delete m_editor;
}

void TakeDetail::showMode() {
    if (m_model->isOverdubbing())
        openOverdub();
    else
        closeOverdub();
}

void TakeDetail::openOverdub() {
    if (m_overdub)
        return;
    m_overdubModel = new OverdubModel(*m_model, m_devices, m_sound, this);
    m_overdub = new OverdubScreen(*m_overdubModel, *m_model);
    addWidget(m_overdub);
    setCurrentWidget(m_overdub);
}

// The screen may be the one asking to leave: both go once the current event is handled, the
// screen before its model.
void TakeDetail::closeOverdub() {
    setCurrentWidget(m_editor);
    if (!m_overdub)
        return;
    removeWidget(m_overdub);
    m_overdub->hide();
    std::exchange(m_overdub, nullptr)->deleteLater();
    std::exchange(m_overdubModel, nullptr)->deleteLater();
}

} // namespace reelbox::ui
