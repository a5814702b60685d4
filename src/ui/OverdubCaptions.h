#pragma once

#include "capture/RecorderModel.h"

#include <QString>
#include <optional>

namespace reelbox::ui {

// What the overdub screen shows beside the take's picture.
enum class OverdubPane { camera, noCamera, soundOnly };
OverdubPane overdubPane(bool recordVideo, bool hasCamera);

// The caption pills: "Take" over the take's picture; the camera's name (or "Camera") over the
// live picture; "Sound only" when no video is recorded.
QString takeCaption();
QString cameraCaption(const std::optional<QString>& cameraName);
QString soundOnlyCaption();

// The line under the screen's title, from the overdub's state: empty while idle.
QString overdubSubtitle(const RecorderState& state);

} // namespace reelbox::ui
