#pragma once

#include "model/Track.h"
#include "platform/camera/CameraDevices.h"
#include "platform/sound/LevelMeter.h"
#include "platform/sound/SoundDevice.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>
#include <vector>

namespace reelbox {

class CaptureEngine;

// What the recorder and the overdub screens show of their inputs: the devices configured into
// the capture engine, level meters with latched clip lights, and the channel mix remembered per
// microphone under "mix.<id>". Main thread only; its signals arrive on the main thread.
class InputMonitor : public QObject {
    Q_OBJECT
public:
    // `engine` must outlive the monitor.
    explicit InputMonitor(CaptureEngine& engine, QObject* parent = nullptr);

    const std::vector<LevelMeter::Level>& levels() const { return m_levels; }
    const std::vector<bool>& clipped() const { return m_clipped; }
    const std::vector<ChannelMix>& channels() const { return m_channels; }
    const std::optional<QString>& configuredCameraID() const { return m_cameraID; }
    const std::optional<QString>& configuredMicID() const { return m_micID; }

    // Configures these devices into the engine unless they already run there (always with
    // `force`); another microphone starts with its remembered mix at the next meter reading.
    // Throws reelbox::Error (a CameraError for a camera) when the engine can't open them.
    void applyDevices(const CameraInfo* camera, const SoundDevice* microphone, bool force);
    // Meters read every 50 ms while started.
    void start();
    // Meters stopped, the session closed, nothing configured.
    void stop();

    // Remembered for the configured microphone.
    void setChannels(const std::vector<ChannelMix>& channels);
    void toggleChannel(int index);
    void resetClipLights();

    // Latches the clip flag of every channel whose peak is above −0.5 dBFS.
    static void latchClips(std::vector<bool>& clipped,
                           const std::vector<LevelMeter::Level>& levels);

signals:
    void levelsChanged(); // every meter reading
    void clippedChanged();
    void channelsChanged();
    void configuredCameraIDChanged();
    void configuredMicIDChanged();

private:
    void updateMeters();
    void assignChannels(const std::vector<ChannelMix>& channels, bool remember);
    void setClipped(const std::vector<bool>& clipped);
    void setConfigured(const std::optional<QString>& camera, const std::optional<QString>& mic);

    CaptureEngine& m_engine;
    QTimer m_meterTimer;
    std::vector<LevelMeter::Level> m_levels;
    std::vector<bool> m_clipped;
    std::vector<ChannelMix> m_channels;
    std::optional<QString> m_cameraID;
    std::optional<QString> m_micID;
};

} // namespace reelbox
