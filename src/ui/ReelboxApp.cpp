#include "ui/ReelboxApp.h"

#include "capture/CaptureServices.h"
#include "capture/RecorderModel.h"
#include "model/TakeLibrary.h"

namespace reelbox::ui {

ReelboxApp::ReelboxApp(const QString& root, QObject* parent)
    : QObject(parent), m_services(std::make_unique<CaptureServices>()),
      m_library(new TakeLibrary(root.isEmpty() ? TakeLibrary::defaultRoot() : root, {}, this,
                                TakeLibrary::Read::later)),
      m_recorder(std::make_unique<RecorderModel>(m_services->devices(), m_services->sound())) {
    // A large library is read while the window is built; the list fills in when it is read.
    m_library->readInBackground();
}

ReelboxApp::~ReelboxApp() = default;

SoundSystem& ReelboxApp::sound() const {
    return m_services->sound();
}

DeviceManager& ReelboxApp::devices() const {
    return m_services->devices();
}

} // namespace reelbox::ui
