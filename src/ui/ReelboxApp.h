#pragma once

#include <QObject>
#include <QString>

#include <memory>

namespace reelbox {
class CaptureServices;
class DeviceManager;
class RecorderModel;
class SoundSystem;
class TakeLibrary;
} // namespace reelbox

namespace reelbox::ui {

// What the application owns for the life of the process: the one sound system and the device
// lists on it, the take library and the recorder. Every screen reaches these same instances.
// Main thread.
class ReelboxApp : public QObject {
    Q_OBJECT
public:
    // `root`: the take library's folder; empty: the standard one (Videos/Reelbox).
    explicit ReelboxApp(const QString& root = {}, QObject* parent = nullptr);
    ~ReelboxApp() override;

    TakeLibrary& library() const { return *m_library; }
    SoundSystem& sound() const;
    DeviceManager& devices() const;
    RecorderModel& recorder() const { return *m_recorder; }

private:
    std::unique_ptr<CaptureServices> m_services;
    TakeLibrary* m_library;                    // a child
    std::unique_ptr<RecorderModel> m_recorder; // gone before the services it uses
};

} // namespace reelbox::ui
