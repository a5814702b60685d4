#include "ui/ReelboxApp.h"

#include "capture/CaptureServices.h"
#include "capture/RecorderModel.h"
#include "model/TakeLibrary.h"

namespace reelbox::ui {

ReelboxApp::ReelboxApp(const QString& root, QObject* parent)
    : QObject(parent), m_services(std::make_unique<CaptureServices>()),
      m_library(root.isEmpty() ? new TakeLibrary(this) : new TakeLibrary(root, {}, this)),
      m_recorder(std::make_unique<RecorderModel>(m_services->devices(), m_services->sound())) {}

ReelboxApp::~ReelboxApp() = default;

SoundSystem& ReelboxApp::sound() const {
    return m_services->sound();
}

DeviceManager& ReelboxApp::devices() const {
    return m_services->devices();
}

} // namespace reelbox::ui
