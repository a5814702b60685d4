#pragma once

#include "model/ExportSettings.h"

#include <QObject>
#include <QPointer>
#include <functional>

class QWidget;

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

class ExportHud;
class ExportToast;

// Saving and sharing the open take as a file, with the progress in the HUD and the outcome in
// the toast; a failure is the model's error message (shown as "Problem"), and a file already at
// the destination stays until the new one replaces it.
class ExportFlow : public QObject {
    Q_OBJECT
public:
    // Asks where to save: the window, the suggested path (start folder / name) and the file
    // filter; an empty answer cancels.
    using SaveChooser =
        std::function<QString(QWidget* window, const QString& suggested, const QString& filter)>;
    // Shows a file in the file manager; false when nothing could.
    using Revealer = std::function<bool(const QString& path)>;

    ExportFlow(TakeEditorModel& model, QWidget* window, ExportHud& hud, ExportToast& toast);

    void setSaveChooser(SaveChooser chooser) { m_chooser = std::move(chooser); }
    void setRevealer(Revealer revealer) { m_reveal = std::move(revealer); }

    // "Save…": asks where, then exports there; "Saved NAME" when done.
    void save();
    // "Share…": exports to the share folder, puts the file on the clipboard and shows it in the
    // file manager; "Ready to share: NAME (copied)".
    void share();
    void reveal(const QString& path);

private:
    void showProgress();

    TakeEditorModel& m_model;
    QPointer<QWidget> m_window;
    ExportHud& m_hud;
    ExportToast& m_toast;
    SaveChooser m_chooser;
    Revealer m_reveal;
};

// The save dialog's filter for a format.
QString saveFilter(ExportSettings::Format format);
// Where the save dialog starts: the desktop folder, or home when there is none.
QString saveStartFolder();

} // namespace reelbox::ui
