#include "capture/CaptureServices.h"

#include "capture/DeviceManager.h"
#include "platform/sound/SoundSystem.h"

namespace reelbox {

CaptureServices::CaptureServices()
    : m_sound(std::make_unique<SoundSystem>()),
      m_devices(std::make_unique<DeviceManager>(*m_sound)) {}

CaptureServices::~CaptureServices() = default;

} // namespace reelbox
