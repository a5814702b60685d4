#include "ui/ReelboxApp.h"

#include "capture/DeviceManager.h"
#include "capture/RecorderModel.h"
#include "model/TakeLibrary.h"

namespace reelbox::ui {

ReelboxApp::ReelboxApp(const QString& root, QObject* parent)
    : QObject(parent),
      m_library(root.isEmpty() ? new TakeLibrary(this) : new TakeLibrary(root, {}, this)),
      m_recorder(new RecorderModel(new DeviceManager, this)) {}

ReelboxApp::~ReelboxApp() = default;

DeviceManager& ReelboxApp::devices() const {
    return m_recorder->devices();
}

} // namespace reelbox::ui
