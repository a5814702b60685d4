#pragma once

#include "model/Take.h"

#include <QStackedWidget>
#include <memory>

namespace reelbox {
class DeviceManager;
class OverdubModel;
class SoundSystem;
class TakeEditorModel;
class TakeLibrary;
class UndoRegistry;
} // namespace reelbox

namespace reelbox::ui {

class EditorScreen;
class OverdubScreen;

// The detail of one selected take: its own editor model, heard through the app's sound
// system, with edits registered for undo; the editor screen, or the overdub screen while the
// model overdubs. Going away tears the model down.
class TakeDetail : public QStackedWidget {
    Q_OBJECT
public:
    // `sound` and `devices` are the app's; the take's overdubs are recorded with them.
    TakeDetail(const Take& take, TakeLibrary& library, SoundSystem& sound, DeviceManager& devices,
               UndoRegistry* undo, QWidget* parent = nullptr);
    ~TakeDetail() override;

    const QString& folder() const { return m_folder; }
    TakeEditorModel& model() const { return *m_model; }
    EditorScreen& editor() const { return *m_editor; }
    // The overdub screen while the model overdubs, else null.
    OverdubScreen* overdubScreen() const { return m_overdub; }

private:
    void showMode();

    void openOverdub();
    void closeOverdub();

    QString m_folder;
    SoundSystem& m_sound;
    DeviceManager& m_devices;
    std::unique_ptr<TakeEditorModel> m_model;
    EditorScreen* m_editor;
    OverdubModel* m_overdubModel = nullptr; // made for each overdub screen, let go with it
    OverdubScreen* m_overdub = nullptr;
};

} // namespace reelbox::ui
