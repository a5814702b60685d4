#include "capture/RecorderModel.h"
#include "capture/CameraPreview.h"
#include "capture/ChannelMixMemory.h"

#include "capture/RecordingRecovery.h"
#include "model/TakeInfoCodec.h"
#include "model/TakeLibrary.h"
#include "platform/CaptureError.h"
#include "platform/camera/CameraError.h"
#include "platform/media/MovieInfo.h"

#include <QDir>
#include <QFutureWatcher>
#include <QLocale>
#include <QSettings>
#include <cmath>

namespace reelbox {

namespace {

constexpr int meterIntervalMs = 50;
constexpr float clipThresholdDb = -0.5f;

QSettings userDefaults() {
    return QSettings(QStringLiteral("Reelbox"), QStringLiteral("Reelbox"));
}

// The sound channels of a movie; 0 when it has no sound or can't be read.
int movieChannels(const QString& movie) {
    try {
        const MovieInfo info = probeMovie(movie);
        return info.audio.empty() ? 0 : info.audio.front().channelCount;
    } catch (const Error&) {
        return 0;
    }
}

QDateTime nowInWholeSeconds() {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return now.addMSecs(-now.time().msec());
}

} // namespace

RecorderModel::RecorderModel(QObject* parent) : RecorderModel(nullptr, parent) {}

RecorderModel::RecorderModel(DeviceManager* devices, QObject* parent)
    : QObject(parent), m_devices(devices ? devices : new DeviceManager(this)),
      m_engine(new CaptureEngine(this)) {
    m_devices->setParent(this);
    QSettings settings = userDefaults();
    bool ok = false;
    const QVariant countdown = settings.value(QStringLiteral("countdown"));
    const int stored = countdown.toInt(&ok);
    m_countdownSeconds = ok && countdown.typeId() != QMetaType::Bool ? stored : 3;
    const QVariant mirror = settings.value(QStringLiteral("mirrorPreview"));
    const bool isBool = mirror.typeId() == QMetaType::Bool || mirror.toString() == u"true" ||
                        mirror.toString() == u"false";
    m_mirrorPreview = isBool ? mirror.toBool() : true;

    m_meterTimer.setInterval(meterIntervalMs);
    connect(&m_meterTimer, &QTimer::timeout, this, &RecorderModel::updateMeters);
    connect(m_engine, &CaptureEngine::recordingFailed, this, &RecorderModel::onWriteFailed);
    connect(m_engine, &CaptureEngine::deviceLost, this, &RecorderModel::onDeviceLost);
}

RecorderModel::~RecorderModel() = default;

void RecorderModel::setState(const RecorderState& state) {
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged();
}

void RecorderModel::setLevels(const std::vector<LevelMeter::Level>& levels) {
    m_levels = levels;
    emit levelsChanged(); // new readings every tick
}

void RecorderModel::setClipped(const std::vector<bool>& clipped) {
    if (clipped == m_clipped)
        return;
    m_clipped = clipped;
    emit clippedChanged();
}

void RecorderModel::setPermissionDenied(bool denied) {
    if (denied == m_permissionDenied)
        return;
    m_permissionDenied = denied;
    emit permissionDeniedChanged();
}

void RecorderModel::setVideoInfo(const std::optional<QString>& info) {
    if (info == m_videoInfo)
        return;
    m_videoInfo = info;
    emit videoInfoChanged();
}

void RecorderModel::setErrorMessage(const std::optional<QString>& message) {
    if (message == m_errorMessage)
        return;
    m_errorMessage = message;
    emit errorMessageChanged();
}

void RecorderModel::clearErrorMessage() {
    setErrorMessage(std::nullopt);
}

void RecorderModel::setCountdownSeconds(int seconds) {
    userDefaults().setValue(QStringLiteral("countdown"), seconds);
    if (seconds == m_countdownSeconds)
        return;
    m_countdownSeconds = seconds;
    emit countdownSecondsChanged();
}

void RecorderModel::useCountdownSeconds(int seconds) {
    if (seconds == m_countdownSeconds)
        return;
    m_countdownSeconds = seconds;
    emit countdownSecondsChanged();
}

void RecorderModel::setMirrorPreview(bool mirror) {
    userDefaults().setValue(QStringLiteral("mirrorPreview"), mirror);
    if (mirror == m_mirrorPreview)
        return;
    m_mirrorPreview = mirror;
    emit mirrorPreviewChanged();
}

void RecorderModel::setChannels(const std::vector<ChannelMix>& channels) {
    assignChannels(channels);
}

void RecorderModel::assignChannels(const std::vector<ChannelMix>& channels) {
    const bool changed = channels != m_channels;
    m_channels = channels;
    saveMix();
    if (changed)
        emit channelsChanged();
}

void RecorderModel::activate(TakeLibrary* library) {
    if (library && m_state.kind != RecorderState::Kind::recording) {
        m_library = library;
        RecordingRecovery::recoverAll(*library);
    }
    const DeviceManager::Access access = DeviceManager::requestAccess();
    setPermissionDenied(!(access.video && access.audio));
    applyDevices();
    startMeters();
}

void RecorderModel::deactivate() {
    cancelCountdown();
    if (m_state.kind == RecorderState::Kind::recording)
        return;
    m_meterTimer.stop();
    m_engine->stopSession();
    m_configuredCameraID.reset();
    m_configuredMicID.reset();
}

void RecorderModel::applyDevices() {
    if (m_state.kind == RecorderState::Kind::recording)
        return;
    const CameraInfo* camera = m_devices->camera();
    const SoundDevice* microphone = m_devices->microphone();
    const std::optional<QString> cameraID = camera ? std::optional(camera->id) : std::nullopt;
    const std::optional<QString> micID = microphone ? std::optional(microphone->id) : std::nullopt;
    if (cameraID == m_configuredCameraID && micID == m_configuredMicID)
        return;
    try {
        m_engine->configure(camera ? std::optional(*camera) : std::nullopt,
                            microphone ? std::optional(*microphone) : std::nullopt);
    } catch (const CameraError& e) {
        if (e.permissionDenied())
            setPermissionDenied(true);
        setErrorMessage(e.message());
        return;
    } catch (const Error& e) {
        setErrorMessage(e.message());
        return;
    }
    m_configuredCameraID = cameraID;
    m_configuredMicID = micID;
    setLevels({});
    assignChannels({});
    setClipped({});

    std::optional<QString> info;
    if (const std::optional<QSize> size = m_engine->videoSize()) {
        QString text = QStringLiteral("%1 × %2").arg(size->width()).arg(size->height());
        const double rate = m_engine->frameRate();
        if (rate > 0 && std::isfinite(rate))
            text += QStringLiteral(" · %1 fps").arg(std::lround(rate));
        info = text;
    }
    setVideoInfo(info);
}

void RecorderModel::toggleChannel(int index) {
    if (index < 0 || index >= int(m_channels.size()))
        return;
    std::vector<ChannelMix> channels = m_channels;
    channels[size_t(index)].enabled = !channels[size_t(index)].enabled;
    assignChannels(channels);
}

void RecorderModel::resetClipLights() {
    setClipped(std::vector<bool>(m_clipped.size(), false));
}

void RecorderModel::latchClips(std::vector<bool>& clipped,
                               const std::vector<LevelMeter::Level>& levels) {
    for (size_t i = 0; i < levels.size() && i < clipped.size(); ++i)
        if (levels[i].peak > clipThresholdDb)
            clipped[i] = true;
}

QString RecorderModel::defaultName(const QDateTime& when) {
    return QStringLiteral("Take ") +
           QLocale().toString(when.toLocalTime(), QStringLiteral("ddd d MMM, HH:mm"));
}

void RecorderModel::startMeters() {
    m_meterTimer.start();
}

void RecorderModel::updateMeters() {
    const std::vector<LevelMeter::Level> raw = m_engine->audioLevels();
    setLevels(raw);
    if (m_channels.size() != raw.size())
        assignChannels(loadMix(int(raw.size())));
    std::vector<bool> clipped = m_clipped;
    if (clipped.size() != raw.size())
        clipped.assign(raw.size(), false);
    latchClips(clipped, raw);
    setClipped(clipped);
}

void RecorderModel::saveMix() {
    if (m_configuredMicID && !m_channels.empty())
        rememberChannelMix(*m_configuredMicID, m_channels);
}

std::vector<ChannelMix> RecorderModel::loadMix(int channelCount) const {
    if (!m_configuredMicID)
        return std::vector<ChannelMix>(size_t(channelCount), ChannelMix{true, 0, 0});
    return rememberedChannelMix(*m_configuredMicID, channelCount);
}

void RecorderModel::toggleRecording(TakeLibrary& library) {
    switch (m_state.kind) {
    case RecorderState::Kind::idle:
        m_library = &library;
        if (m_countdownSeconds < 1) {
            startNow(library);
            return;
        }
        setState(RecorderState::countdown(m_countdownSeconds));
        m_countdown.start(m_countdownSeconds);
        return;
    case RecorderState::Kind::countdown:
        cancelCountdown();
        return;
    case RecorderState::Kind::recording:
        stop(library);
        return;
    case RecorderState::Kind::finishing:
        return;
    }
}

void RecorderModel::countdownFinished() {
    setState(RecorderState::idle());
    if (m_library)
        startNow(*m_library);
}

void RecorderModel::cancelCountdown() {
    m_countdown.stop();
    if (m_state.kind == RecorderState::Kind::countdown)
        setState(RecorderState::idle());
}

void RecorderModel::startNow(TakeLibrary& library) {
    setClipped(std::vector<bool>(m_clipped.size(), false));
    QString folder;
    try {
        folder = library.makeNewTakeFolder();
    } catch (const Error& e) {
        setErrorMessage(e.message());
        return;
    }
    // The record of the take as stopping would write it, in case the process dies first.
    auto lock = std::make_unique<QLockFile>(RecordingRecovery::lockPath(folder));
    lock->setStaleLockTime(0);
    lock->tryLock(0);
    const QDateTime startedAt = nowInWholeSeconds();
    TakeInfo info;
    info.name = defaultName(startedAt);
    info.createdAt = startedAt;
    if (const CameraInfo* camera = m_devices->camera())
        info.cameraName = camera->name;
    if (const SoundDevice* microphone = m_devices->microphone())
        info.audioDeviceName = microphone->name;
    info.tracks = TakeInfo::tracksFrom(m_channels, TrackEffects());
    try {
        RecordingRecovery::writeRecord(folder, info);
    } catch (const Error& e) {
        QDir(folder).removeRecursively();
        setErrorMessage(e.message());
        return;
    }
    m_recordingLock = std::move(lock);
    m_recordingFolder = folder;
    m_writeFailure.reset();
    m_engine->startRecording(QDir(folder).filePath(QStringLiteral("take.mov")), true);
    setState(RecorderState::recording(QDateTime::currentDateTime()));
}

void RecorderModel::onWriteFailed(const QString& message) {
    if (m_state.kind != RecorderState::Kind::recording || !m_library)
        return;
    m_writeFailure = message;
    stop(*m_library);
}

void RecorderModel::onDeviceLost(const QString& device) {
    if (m_state.kind != RecorderState::Kind::recording || !m_library)
        return;
    m_deviceLoss = device + QStringLiteral(" was disconnected.");
    stop(*m_library);
}

void RecorderModel::stop(TakeLibrary& library) {
    setState(RecorderState::finishing());
    if (!m_recordingFolder) {
        setState(RecorderState::idle());
        return;
    }
    const QString folder = *m_recordingFolder;
    m_recordingFolder.reset();
    QPointer<TakeLibrary> target(&library);
    m_engine->stopRecording().then(this, [this, folder, target](QFuture<RecordingResult> done) {
        std::optional<RecordingResult> result;
        QString failure;
        bool written = true; // something may be in the file
        try {
            result = done.result();
        } catch (const CaptureError& e) {
            failure = e.message();
            written = e.kind() != CaptureError::Kind::notRecording;
        } catch (const Error& e) {
            failure = e.message();
        } catch (const std::exception& e) {
            failure = QString::fromUtf8(e.what());
        }
        if (!target) {
            setState(RecorderState::idle());
            return;
        }
        finishStop(*target, folder, result, failure, written);
    });
}

void RecorderModel::finishStop(TakeLibrary& library, const QString& folder,
                               const std::optional<RecordingResult>& result, const QString& failure,
                               bool written) {
    m_recordingLock.reset();
    m_lastResult = result.value_or(RecordingResult{});
    // A disk that gave out while recording, or a file that failed to finish, leaves a movie to
    // finish as `recover` does; a lost device stops the recording as a stop would.
    const bool writeFailed = m_writeFailure.has_value() || (!result && written);
    std::optional<QString> problem;
    if (m_deviceLoss)
        problem = CaptureError::writerFailed(*m_deviceLoss).message();
    else if (m_writeFailure)
        problem = CaptureError::writerFailed(*m_writeFailure).message();
    else if (!result && written)
        problem = failure;
    m_deviceLoss.reset();
    m_writeFailure.reset();
    if (writeFailed) {
        // The disk gave out, or finishing the file failed: keep what the movie holds.
        try {
            Take take = RecordingRecovery::finishFromMovie(library, folder, QString());
            if (!result)
                m_lastResult.audioChannelCount = movieChannels(take.moviePath());
            library.reload();
            setErrorMessage(*problem);
            setState(RecorderState::idle());
            emit takeFinished(take);
        } catch (const RecordingRecovery::NothingRecorded&) {
            QDir(folder).removeRecursively();
            setErrorMessage(*problem);
            setState(RecorderState::idle());
            emit recordingAbandoned();
        } catch (const Error& e) {
            // Kept with its recording.json: the next start (or `recover`) finishes it.
            setErrorMessage(*problem + QStringLiteral(" ") + e.message());
            setState(RecorderState::idle());
            emit recordingAbandoned();
        }
        return;
    }
    if (!result) {
        QDir(folder).removeRecursively(); // nothing was written
        setErrorMessage(failure);
        setState(RecorderState::idle());
        emit recordingAbandoned();
        return;
    }
    const std::vector<ChannelMix> mix =
        int(m_channels.size()) == result->audioChannelCount
            ? m_channels
            : std::vector<ChannelMix>(size_t(result->audioChannelCount), ChannelMix{true, 0, 0});
    Take take;
    take.folder = folder;
    TakeInfo& info = take.info;
    info.name = defaultName(QDateTime::currentDateTime());
    info.createdAt = nowInWholeSeconds();
    info.duration = result->duration;
    if (const CameraInfo* camera = m_devices->camera())
        info.cameraName = camera->name;
    if (const SoundDevice* microphone = m_devices->microphone())
        info.audioDeviceName = microphone->name;
    info.tracks = TakeInfo::tracksFrom(mix, TrackEffects());
    info.master = MasterSettings{0, true};
    try {
        library.save(take);
    } catch (const Error& e) {
        // The movie is complete; its recording.json lets the next start (or `recover`)
        // make the take once there is room.
        setErrorMessage(problem ? *problem + QStringLiteral(" ") + e.message() : e.message());
        setState(RecorderState::idle());
        emit recordingAbandoned();
        return;
    }
    RecordingRecovery::removeRecord(folder);
    library.reload();
    if (problem)
        setErrorMessage(*problem);
    setState(RecorderState::idle());
    emit takeFinished(take);
}

CameraPreview& RecorderModel::cameraPreview() {
    if (!m_cameraPreview)
        m_cameraPreview = new CameraPreview(*m_engine, this);
    return *m_cameraPreview;
}

} // namespace reelbox
