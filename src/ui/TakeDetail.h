#pragma once

#include "model/Take.h"

#include <QStackedWidget>
#include <memory>

namespace reelbox {
class SoundSystem;
class TakeEditorModel;
class TakeLibrary;
class UndoRegistry;
} // namespace reelbox

namespace reelbox::ui {

class EditorScreen;
class OverdubPlaceholder;

// The detail of one selected take: its own editor model, heard through the app's sound
// system, with edits registered for undo; the editor screen, or the overdub screen while the
// model overdubs. Going away tears the model down.
class TakeDetail : public QStackedWidget {
    Q_OBJECT
public:
    TakeDetail(const Take& take, TakeLibrary& library, SoundSystem* sound, UndoRegistry* undo,
               QWidget* parent = nullptr);
    ~TakeDetail() override;

    const QString& folder() const { return m_folder; }
    TakeEditorModel& model() const { return *m_model; }
    EditorScreen& editor() const { return *m_editor; }
    // Where the overdub screen goes (the placeholder until then).
    QWidget* overdubView() const;

private:
    void showMode();

    QString m_folder;
    std::unique_ptr<TakeEditorModel> m_model;
    EditorScreen* m_editor;
    OverdubPlaceholder* m_overdub;
};

} // namespace reelbox::ui
