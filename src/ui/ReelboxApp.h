#pragma once

#include <QObject>
#include <QString>

namespace reelbox {
class TakeLibrary;
class DeviceManager;
class RecorderModel;
} // namespace reelbox

namespace reelbox::ui {

// What the application owns for the life of the process: the take library, the device lists
// and the recorder (whose capture engine and sound system come with it). Every screen reaches
// these same instances. Main thread.
class ReelboxApp : public QObject {
    Q_OBJECT
public:
    // `root`: the take library's folder; empty: the standard one (Videos/Reelbox).
    explicit ReelboxApp(const QString& root = {}, QObject* parent = nullptr);
    ~ReelboxApp() override;

    TakeLibrary& library() const { return *m_library; }
    DeviceManager& devices() const;
    RecorderModel& recorder() const { return *m_recorder; }

private:
    TakeLibrary* m_library;    // a child
    RecorderModel* m_recorder; // a child; owns the device manager
};

} // namespace reelbox::ui
