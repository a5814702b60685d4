#include "capture/OverdubModel.h"

#include "capture/CameraPreview.h"
#include "capture/LatencyCalibration.h"
#include "compose/LiveLayout.h"
#include "compose/TakeComposer.h"
#include "edit/TakeEditorModel.h"
#include "model/TakeInfoCodec.h"
#include "model/UserSettings.h"
#include "model/UuidString.h"
#include "platform/AssignAndNotify.h"
#include "platform/CaptureError.h"
#include "platform/Error.h"
#include "platform/HostClock.h"
#include "platform/camera/CameraError.h"
#include "platform/sound/SoundSystem.h"
#include "play/Player.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QUuid>
#include <algorithm>
#include <chrono>

namespace reelbox {

namespace {

constexpr int readyLookMs = 100;
constexpr int readyLooks = 50;
constexpr qint64 leadNs = 300'000'000; // the player and the capture run before the start
constexpr double endMargin = 0.5;
constexpr double minimumRange = 0.1;

std::shared_ptr<LiveLayout> layoutOf(const TakeComposer::Result& result, bool mirror) {
    auto layout = std::make_shared<LiveLayout>();
    layout->replace(TakeComposer::liveSnapshot(result.renderSize, result.placements, mirror));
    return layout;
}

} // namespace

OverdubModel::OverdubModel(TakeEditorModel& editor, DeviceManager& devices, SoundSystem& sound,
                           QObject* parent)
    : QObject(parent), m_editor(editor), m_devices(devices), m_sound(sound),
      m_engine(std::make_unique<CaptureEngine>(&sound)),
      m_inputs(new InputMonitor(*m_engine, this)), m_recordVideo(UserSettings::overdubVideo()),
      m_mirrorPreview(UserSettings::mirrorPreview()), m_outputID(UserSettings::overdubOutput()) {
    connect(m_inputs, &InputMonitor::levelsChanged, this, &OverdubModel::levelsChanged);
    connect(m_inputs, &InputMonitor::clippedChanged, this, &OverdubModel::clippedChanged);
    connect(m_inputs, &InputMonitor::channelsChanged, this, &OverdubModel::channelsChanged);
    connect(m_inputs, &InputMonitor::configuredCameraIDChanged, this,
            &OverdubModel::configuredCameraIDChanged);
    connect(m_inputs, &InputMonitor::configuredMicIDChanged, this,
            &OverdubModel::configuredMicIDChanged);
    connect(&m_sound, &SoundSystem::devicesChanged, this, [this] {
        if (m_active)
            refreshOutputs();
    });

    // Where the recording starts: the playhead when it is inside the take, else the in point.
    const Range range = startRange();
    const double lower = std::max(0.0, range.lower);
    const double end = m_editor.take().info.edit.outPoint.value_or(m_editor.sourceDuration());
    const double playhead = m_editor.playhead();
    m_startTime = playhead < end - endMargin ? std::clamp(playhead, lower, range.upper) : lower;

    if (m_outputID) {
        const std::vector<AudioOutputDevice> all = AudioOutputDevices::all(m_sound);
        if (std::none_of(all.begin(), all.end(),
                         [&](const AudioOutputDevice& d) { return d.id == *m_outputID; }))
            setOutputID(std::nullopt); // gone: the system output plays
    }
    m_player = std::make_unique<Player>(&m_sound, m_outputID.value_or(QString()));
    // A device lost while recording stops the recording as a stop would; what was recorded
    // is kept.
    connect(m_engine.get(), &CaptureEngine::deviceLost, this, [this](const QString& device) {
        if (m_state.kind != RecorderState::Kind::recording)
            return;
        m_deviceLoss = device + QStringLiteral(" was disconnected.");
        stop();
    });
}

OverdubModel::~OverdubModel() {
    m_player.reset(); // its output stream goes before the sound system
    m_engine.reset();
}

void OverdubModel::setState(const RecorderState& state) {
    assignAndNotify(this, m_state, state, &OverdubModel::stateChanged);
}

void OverdubModel::setErrorMessage(const std::optional<QString>& message) {
    assignAndNotify(this, m_errorMessage, message, &OverdubModel::errorMessageChanged);
}

void OverdubModel::setIsPreviewing(bool previewing) {
    assignAndNotify(this, m_isPreviewing, previewing, &OverdubModel::isPreviewingChanged);
}

CameraPreview& OverdubModel::cameraPreview() {
    if (!m_cameraPreview)
        m_cameraPreview = new CameraPreview(*m_engine, this);
    return *m_cameraPreview;
}

void OverdubModel::setPreferredVideoSize(const QSize& size) {
    m_engine->setPreferredSize(size);
}

QString OverdubModel::outputProblem() const {
    return m_player->outputProblem();
}

int OverdubModel::microphoneChannels() const {
    return m_engine->microphoneChannels();
}

OverdubModel::Range OverdubModel::startRange() const {
    const EditState& edit = m_editor.take().info.edit;
    const double end = edit.outPoint.value_or(m_editor.sourceDuration());
    return {edit.inPoint, std::max(edit.inPoint + minimumRange, end - endMargin)};
}

void OverdubModel::setRecordVideo(bool record, bool remember) {
    if (remember)
        UserSettings::setOverdubVideo(record);
    if (record == m_recordVideo)
        return;
    m_recordVideo = record;
    emit recordVideoChanged();
    QMetaObject::invokeMethod(
        this, [this] { applyDevices(true); }, Qt::QueuedConnection);
}

void OverdubModel::setMirrorPreview(bool mirror) {
    UserSettings::setMirrorPreview(mirror);
    assignAndNotify(this, m_mirrorPreview, mirror, &OverdubModel::mirrorPreviewChanged);
}

void OverdubModel::setOutputID(const std::optional<QString>& id, bool remember) {
    if (remember)
        UserSettings::setOverdubOutput(id);
    if (id == m_outputID)
        return;
    m_outputID = id;
    emit outputIDChanged();
    if (m_player && m_state.kind != RecorderState::Kind::recording) {
        // The same player, views and all, plays through the new output, cued again.
        setIsPreviewing(false);
        m_player->setOutput(&m_sound, m_outputID.value_or(QString()));
        if (m_monitor)
            loadMonitor({});
    }
}

void OverdubModel::setStartTime(double seconds) {
    assignAndNotify(this, m_startTime, seconds, &OverdubModel::startTimeChanged);
    cueStart();
}

void OverdubModel::observePlayerEnd() {
    disconnect(m_endObserver);
    m_endObserver = connect(m_player.get(), &Player::playingChanged, this, [this](bool playing) {
        if (!playing)
            setIsPreviewing(false); // the end of the item, or a pause
    });
}

void OverdubModel::refreshOutputs() {
    assignAndNotify(this, m_outputs, AudioOutputDevices::all(m_sound),
                    &OverdubModel::outputsChanged);
}

// ---- screen --------------------------------------------------------------------------------

void OverdubModel::activate(std::function<void()> done) {
    m_editor.pause();
    m_active = true;
    refreshOutputs();
    DeviceManager::requestAccess();
    applyDevices(false);
    m_inputs->start();
    reloadMonitor(std::move(done));
    observePlayerEnd();
}

void OverdubModel::deactivate() {
    cancelCountdown();
    ++m_run;
    ++m_monitorLoad;
    m_active = false;
    disconnect(m_endObserver);
    m_endObserver = {};
    m_player->pause();
    m_player->clear();
    setIsPreviewing(false);
    m_inputs->stop();
}

bool OverdubModel::applyDevices(bool force) {
    if (m_state.kind != RecorderState::Kind::idle)
        return false;
    try {
        m_inputs->applyDevices(m_recordVideo ? m_devices.camera() : nullptr, m_devices.microphone(),
                               force);
    } catch (const Error& e) {
        setErrorMessage(e.message());
        return false;
    }
    return true;
}

void OverdubModel::toggleChannel(int index) {
    m_inputs->toggleChannel(index);
}

// ---- the player ----------------------------------------------------------------------------

void OverdubModel::reloadMonitor(std::function<void()> done) {
    const int load = ++m_monitorLoad;
    QPointer<OverdubModel> self(this);
    m_editor.monitorComposition(
        [self, load, done](std::optional<TakeComposer::Result> result, QString error) {
            if (!self || load != self->m_monitorLoad)
                return;
            if (!result) {
                self->setErrorMessage(error);
                if (done)
                    done();
                return;
            }
            self->m_monitor = std::make_shared<const TakeComposer::Result>(std::move(*result));
            self->loadMonitor(done);
        });
}

// The monitor mix into the player, cued at the start time once it is ready.
void OverdubModel::loadMonitor(std::function<void()> done) {
    const int load = ++m_monitorLoad;
    m_player->load(*m_monitor, layoutOf(*m_monitor, m_editor.take().info.exportSettings.mirror));
    auto cue = std::make_shared<QMetaObject::Connection>();
    *cue = connect(m_player.get(), &Player::statusChanged, this,
                   [this, load, cue, done](Player::Status status) {
                       if (status == Player::Status::loading)
                           return;
                       disconnect(*cue);
                       if (load != m_monitorLoad || status != Player::Status::ready) {
                           if (done)
                               done();
                           return;
                       }
                       m_player->seek(m_startTime, [done](bool) {
                           if (done)
                               done();
                       });
                   });
}

void OverdubModel::cueStart() {
    if (m_state.kind != RecorderState::Kind::idle)
        return;
    if (m_isPreviewing) {
        m_player->pause();
        setIsPreviewing(false);
    }
    if (m_player->status() == Player::Status::ready)
        m_player->seek(m_startTime);
}

void OverdubModel::togglePreview() {
    if (m_state.kind != RecorderState::Kind::idle)
        return;
    if (m_isPreviewing) {
        m_player->pause();
        setIsPreviewing(false);
        return;
    }
    if (m_player->status() != Player::Status::ready)
        return;
    m_player->seek(m_startTime);
    m_player->play();
    setIsPreviewing(m_player->isPlaying());
}

// ---- recording -----------------------------------------------------------------------------

void OverdubModel::toggleRecording() {
    switch (m_state.kind) {
    case RecorderState::Kind::countdown:
        cancelCountdown();
        return;
    case RecorderState::Kind::recording:
        stop();
        return;
    case RecorderState::Kind::idle: {
        m_player->pause();
        setIsPreviewing(false);
        const int seconds = m_countdownOverride.value_or(UserSettings::countdownSeconds());
        if (seconds < 1) {
            start();
            return;
        }
        setState(RecorderState::countdown(seconds));
        m_countdown.start(seconds);
        return;
    }
    case RecorderState::Kind::finishing:
        return;
    }
}

void OverdubModel::cancelCountdown() {
    m_countdown.stop();
    if (m_state.kind == RecorderState::Kind::countdown) {
        ++m_run; // a start waiting for the player goes no further
        setState(RecorderState::idle());
    }
}

void OverdubModel::waitUntilReady(int run, int looks, std::function<void(bool)> then) {
    if (run != m_run)
        return;
    const Player::Status status = m_player->status();
    if (status == Player::Status::ready || status == Player::Status::failed) {
        then(status == Player::Status::ready);
        return;
    }
    if (looks + 1 >= readyLooks) {
        then(false);
        return;
    }
    QTimer::singleShot(readyLookMs, this, [this, run, looks, then = std::move(then)]() mutable {
        waitUntilReady(run, looks + 1, std::move(then));
    });
}

void OverdubModel::start() {
    m_countdown.stop();
    m_inputs->resetClipLights();
    m_player->pause();
    setIsPreviewing(false);
    m_sourceStart = m_startTime;
    const int run = ++m_run;
    const auto fail = [this](const QString& message) {
        setState(RecorderState::idle());
        setErrorMessage(message);
    };
    waitUntilReady(run, 0, [this, run, fail](bool ready) {
        if (!ready) {
            fail(QStringLiteral("The take isn't ready to play yet. Try again in a moment."));
            return;
        }
        m_player->seek(m_sourceStart, [this, run, fail](bool) {
            if (run != m_run)
                return;
            m_player->preroll(m_sourceStart, [this, run, fail](bool prerolled) {
                if (run != m_run)
                    return;
                if (!prerolled || m_player->status() != Player::Status::ready) {
                    fail(QStringLiteral("Couldn't start playing the take. Try again."));
                    return;
                }
                m_hostStartNs = hostNowNs() + leadNs;
                // A name of its own, so that two overdubs at once never share a file.
                m_engine->startRecording(
                    QDir::temp().filePath(QStringLiteral("Reelbox-overdub-%1.mov")
                                              .arg(uuidString(QUuid::createUuid()))),
                    m_recordVideo && configuredCameraID().has_value());
                m_player->playAt(m_sourceStart, m_hostStartNs);
                setState(RecorderState::recording(QDateTime::currentDateTime().addMSecs(300)));
            });
        });
    });
}

void OverdubModel::stop() {
    setState(RecorderState::finishing());
    m_player->pause();
    QPointer<OverdubModel> self(this);
    m_engine->stopRecording().then(this, [self](QFuture<RecordingResult> done) {
        if (!self)
            return;
        try {
            self->finishStop(done.result());
        } catch (const Error& e) {
            self->m_deviceLoss.reset();
            self->m_lastResult = {};
            self->setErrorMessage(e.message());
            self->setState(RecorderState::idle());
            emit self->recordingEnded(false, Overdub{});
        }
    });
}

void OverdubModel::finishStop(const RecordingResult& result) {
    m_lastResult = result;
    // Both stamps are on the host clock: the take time playing when the first sample was taken.
    const double offset = double(result.startTimeNs - m_hostStartNs) / 1e9;
    const Take& take = m_editor.take();
    const QUuid id = QUuid::createUuid();
    const QString fileName = uuidString(id) + QStringLiteral(".mov");
    const QString folder = take.overdubsFolder();
    const QString destination = QDir(folder).filePath(fileName);
    QString problem;
    if (!QDir().mkpath(folder)) {
        problem = QStringLiteral("Couldn't make the folder %1.").arg(folder);
    } else {
        QFile recording(result.url);
        if (!recording.rename(destination))
            problem = QStringLiteral("Couldn't move the recording into %1: %2. It is still at %3.")
                          .arg(folder, recording.errorString(), result.url);
    }
    if (!problem.isEmpty()) {
        m_deviceLoss.reset();
        setErrorMessage(problem);
        setState(RecorderState::idle());
        emit recordingEnded(false, Overdub{});
        return;
    }

    const std::optional<QString> micID = configuredMicID();
    const double nudge = micID ? UserSettings::overdubNudge(*micID) : 0.0;

    Overdub overdub;
    overdub.id = id;
    overdub.fileName = fileName;
    overdub.createdAt = QDateTime::currentDateTimeUtc();
    overdub.start = m_sourceStart + offset;
    overdub.nudge = nudge;
    overdub.duration = result.duration;
    overdub.hasVideo = m_recordVideo && configuredCameraID().has_value();
    overdub.showVideo = true;
    overdub.audioDeviceID = micID;

    std::vector<int> used;
    const std::vector<ChannelMix>& channels = this->channels();
    for (size_t c = 0; c < channels.size(); ++c)
        if (channels[c].enabled)
            used.push_back(int(c));
    if (used.empty() && result.audioChannelCount > 0)
        used.push_back(0);
    const int number = int(take.info.overdubs.size()) + 1;
    std::vector<Track> tracks;
    for (const int c : used) {
        Track track;
        track.id = QUuid::createUuid();
        track.name = used.size() == 1 ? QStringLiteral("Overdub %1").arg(number)
                                      : QStringLiteral("Overdub %1 · %2").arg(number).arg(c + 1);
        track.source = Track::Source::overdub(id, c);
        tracks.push_back(track);
    }
    m_editor.addOverdub(overdub, tracks);
    if (m_deviceLoss)
        setErrorMessage(CaptureError::writerFailed(*m_deviceLoss).message());
    m_deviceLoss.reset();
    setState(RecorderState::idle());
    emit recordingEnded(true, overdub);
}

} // namespace reelbox
