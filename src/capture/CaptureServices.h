#pragma once

#include <memory>

namespace reelbox {

class DeviceManager;
class SoundSystem;

// The process's one sound system and the device lists on it, made together and kept for the
// life of the process: every model that records or plays is handed these. Main thread.
class CaptureServices {
public:
    CaptureServices();
    ~CaptureServices();
    CaptureServices(const CaptureServices&) = delete;
    CaptureServices& operator=(const CaptureServices&) = delete;

    SoundSystem& sound() const { return *m_sound; }
    DeviceManager& devices() const { return *m_devices; }

private:
    std::unique_ptr<SoundSystem> m_sound;
    std::unique_ptr<DeviceManager> m_devices; // goes first: it listens to the sound system
};

} // namespace reelbox
