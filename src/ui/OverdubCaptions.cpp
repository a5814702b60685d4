#include "ui/OverdubCaptions.h"

namespace reelbox::ui {

OverdubPane overdubPane(bool recordVideo, bool hasCamera) {
    if (!recordVideo)
        return OverdubPane::soundOnly;
    return hasCamera ? OverdubPane::camera : OverdubPane::noCamera;
}

QString takeCaption() {
    return QStringLiteral("Take");
}

QString cameraCaption(const std::optional<QString>& cameraName) {
    const QString name = cameraName.value_or(QString()).trimmed();
    return name.isEmpty() ? QStringLiteral("Camera") : name;
}

QString soundOnlyCaption() {
    return QStringLiteral("Sound only");
}

QString overdubSubtitle(const RecorderState& state) {
    using Kind = RecorderState::Kind;
    switch (state.kind) {
    case Kind::idle:
        return {};
    case Kind::countdown:
        return QStringLiteral("Starting in %1").arg(state.remaining);
    case Kind::recording:
        return QStringLiteral("Recording");
    case Kind::finishing:
        return QStringLiteral("Saving the overdub…");
    }
    return {};
}

} // namespace reelbox::ui
