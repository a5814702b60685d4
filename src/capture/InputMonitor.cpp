#include "capture/InputMonitor.h"

#include "capture/CaptureEngine.h"
#include "model/UserSettings.h"
#include "platform/AssignAndNotify.h"

namespace reelbox {

namespace {

constexpr int meterIntervalMs = 50;
constexpr float clipThresholdDb = -0.5f;

} // namespace

InputMonitor::InputMonitor(CaptureEngine& engine, QObject* parent)
    : QObject(parent), m_engine(engine) {
    m_meterTimer.setInterval(meterIntervalMs);
    connect(&m_meterTimer, &QTimer::timeout, this, &InputMonitor::updateMeters);
}

void InputMonitor::applyDevices(const CameraInfo* camera, const SoundDevice* microphone,
                                bool force) {
    const std::optional<QString> cameraID = camera ? std::optional(camera->id) : std::nullopt;
    const std::optional<QString> micID = microphone ? std::optional(microphone->id) : std::nullopt;
    if (!force && m_engine.isRunning() && cameraID == m_cameraID && micID == m_micID)
        return;
    m_engine.configure(camera ? std::optional(*camera) : std::nullopt,
                       microphone ? std::optional(*microphone) : std::nullopt);
    const bool otherMic = micID != m_micID;
    setConfigured(cameraID, micID);
    if (otherMic) {
        m_levels.clear();
        emit levelsChanged();
        assignChannels({}, false); // the next reading loads the new microphone's mix
        setClipped({});
    }
}

void InputMonitor::start() {
    m_meterTimer.start();
}

void InputMonitor::stop() {
    m_meterTimer.stop();
    m_engine.stopSession();
    setConfigured(std::nullopt, std::nullopt);
}

void InputMonitor::setConfigured(const std::optional<QString>& camera,
                                 const std::optional<QString>& mic) {
    assignAndNotify(this, m_cameraID, camera, &InputMonitor::configuredCameraIDChanged);
    assignAndNotify(this, m_micID, mic, &InputMonitor::configuredMicIDChanged);
}

void InputMonitor::setChannels(const std::vector<ChannelMix>& channels) {
    assignChannels(channels, true);
}

void InputMonitor::toggleChannel(int index) {
    if (index < 0 || index >= int(m_channels.size()))
        return;
    std::vector<ChannelMix> channels = m_channels;
    channels[size_t(index)].enabled = !channels[size_t(index)].enabled;
    assignChannels(channels, true);
}

void InputMonitor::assignChannels(const std::vector<ChannelMix>& channels, bool remember) {
    if (remember && m_micID && !channels.empty())
        UserSettings::setChannelMix(*m_micID, channels);
    assignAndNotify(this, m_channels, channels, &InputMonitor::channelsChanged);
}

void InputMonitor::resetClipLights() {
    setClipped(std::vector<bool>(m_clipped.size(), false));
}

void InputMonitor::setClipped(const std::vector<bool>& clipped) {
    assignAndNotify(this, m_clipped, clipped, &InputMonitor::clippedChanged);
}

void InputMonitor::latchClips(std::vector<bool>& clipped,
                              const std::vector<LevelMeter::Level>& levels) {
    for (size_t i = 0; i < levels.size() && i < clipped.size(); ++i)
        if (levels[i].peak > clipThresholdDb)
            clipped[i] = true;
}

void InputMonitor::updateMeters() {
    m_levels = m_engine.audioLevels();
    emit levelsChanged();
    const size_t count = m_levels.size();
    if (m_channels.size() != count) {
        // The mix remembered for this microphone when it has as many channels, else every
        // channel on at 0 dB, centred.
        std::vector<ChannelMix> mix(count, ChannelMix{true, 0, 0});
        if (m_micID)
            if (auto stored = UserSettings::channelMix(*m_micID); stored && stored->size() == count)
                mix = std::move(*stored);
        assignChannels(mix, false);
    }
    std::vector<bool> clipped = m_clipped;
    if (clipped.size() != count)
        clipped.assign(count, false);
    latchClips(clipped, m_levels);
    setClipped(clipped);
}

} // namespace reelbox
