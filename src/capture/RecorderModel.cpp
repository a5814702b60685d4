#include "capture/RecorderModel.h"
#include "capture/CameraPreview.h"

#include "capture/RecordingRecovery.h"
#include "model/TakeInfoCodec.h"
#include "model/TakeLibrary.h"
#include "model/UserSettings.h"
#include "platform/AssignAndNotify.h"
#include "platform/CaptureError.h"
#include "platform/camera/CameraError.h"
#include "platform/media/MovieInfo.h"

#include <QDir>
#include <QFutureWatcher>
#include <QLocale>
#include <cmath>

namespace reelbox {

namespace {

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

RecorderModel::RecorderModel(DeviceManager& devices, SoundSystem& sound, QObject* parent)
    : QObject(parent), m_devices(devices), m_engine(new CaptureEngine(&sound, this)),
      m_inputs(new InputMonitor(*m_engine, this)),
      m_countdownSeconds(UserSettings::countdownSeconds()),
      m_mirrorPreview(UserSettings::mirrorPreview()) {
    connect(m_inputs, &InputMonitor::levelsChanged, this, &RecorderModel::levelsChanged);
    connect(m_inputs, &InputMonitor::clippedChanged, this, &RecorderModel::clippedChanged);
    connect(m_inputs, &InputMonitor::channelsChanged, this, &RecorderModel::channelsChanged);
    connect(m_inputs, &InputMonitor::configuredCameraIDChanged, this,
            &RecorderModel::configuredCameraIDChanged);
    connect(m_inputs, &InputMonitor::configuredMicIDChanged, this,
            &RecorderModel::configuredMicIDChanged);
    connect(m_engine, &CaptureEngine::recordingFailed, this, &RecorderModel::onWriteFailed);
    connect(m_engine, &CaptureEngine::deviceLost, this, &RecorderModel::onDeviceLost);
}

RecorderModel::~RecorderModel() = default;

void RecorderModel::setState(const RecorderState& state) {
    assignAndNotify(this, m_state, state, &RecorderModel::stateChanged);
}

void RecorderModel::setRecordingFolder(const std::optional<QString>& folder) {
    assignAndNotify(this, m_recordingFolder, folder, &RecorderModel::recordingFolderChanged);
}

void RecorderModel::setPreferredVideoSize(const QSize& size) {
    m_engine->setPreferredSize(size);
}

void RecorderModel::setPermissionDenied(bool denied) {
    assignAndNotify(this, m_permissionDenied, denied, &RecorderModel::permissionDeniedChanged);
}

void RecorderModel::setVideoInfo(const std::optional<QString>& info) {
    assignAndNotify(this, m_videoInfo, info, &RecorderModel::videoInfoChanged);
}

void RecorderModel::setErrorMessage(const std::optional<QString>& message) {
    assignAndNotify(this, m_errorMessage, message, &RecorderModel::errorMessageChanged);
}

void RecorderModel::clearErrorMessage() {
    setErrorMessage(std::nullopt);
}

void RecorderModel::setCountdownSeconds(int seconds) {
    UserSettings::setCountdownSeconds(seconds);
    assignAndNotify(this, m_countdownSeconds, seconds, &RecorderModel::countdownSecondsChanged);
}

void RecorderModel::useCountdownSeconds(int seconds) {
    assignAndNotify(this, m_countdownSeconds, seconds, &RecorderModel::countdownSecondsChanged);
}

void RecorderModel::setMirrorPreview(bool mirror) {
    UserSettings::setMirrorPreview(mirror);
    assignAndNotify(this, m_mirrorPreview, mirror, &RecorderModel::mirrorPreviewChanged);
}

void RecorderModel::setChannels(const std::vector<ChannelMix>& channels) {
    m_inputs->setChannels(channels);
}

void RecorderModel::activate(TakeLibrary* library) {
    if (library && m_state.kind != RecorderState::Kind::recording) {
        m_library = library;
        RecordingRecovery::recoverAll(*library);
    }
    const DeviceManager::Access access = DeviceManager::requestAccess();
    setPermissionDenied(!(access.video && access.audio));
    applyDevices();
    m_inputs->start();
}

void RecorderModel::deactivate() {
    cancelCountdown();
    if (m_state.kind == RecorderState::Kind::recording)
        return;
    m_inputs->stop();
}

void RecorderModel::applyDevices() {
    if (m_state.kind == RecorderState::Kind::recording)
        return;
    try {
        m_inputs->applyDevices(m_devices.camera(), m_devices.microphone(), false);
    } catch (const CameraError& e) {
        if (e.permissionDenied())
            setPermissionDenied(true);
        setErrorMessage(e.message());
        return;
    } catch (const Error& e) {
        setErrorMessage(e.message());
        return;
    }
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
    m_inputs->toggleChannel(index);
}

void RecorderModel::resetClipLights() {
    m_inputs->resetClipLights();
}

QString RecorderModel::defaultName(const QDateTime& when) {
    return QStringLiteral("Take ") +
           QLocale().toString(when.toLocalTime(), QStringLiteral("ddd d MMM, HH:mm"));
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
    m_inputs->resetClipLights();
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
    if (const CameraInfo* camera = m_devices.camera())
        info.cameraName = camera->name;
    if (const SoundDevice* microphone = m_devices.microphone())
        info.audioDeviceName = microphone->name;
    info.tracks = TakeInfo::tracksFrom(channels(), TrackEffects());
    try {
        RecordingRecovery::writeRecord(folder, info);
    } catch (const Error& e) {
        QDir(folder).removeRecursively();
        setErrorMessage(e.message());
        return;
    }
    m_recordingLock = std::move(lock);
    setRecordingFolder(folder);
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
    setRecordingFolder(std::nullopt);
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
        int(channels().size()) == result->audioChannelCount
            ? channels()
            : std::vector<ChannelMix>(size_t(result->audioChannelCount), ChannelMix{true, 0, 0});
    Take take;
    take.folder = folder;
    TakeInfo& info = take.info;
    info.name = defaultName(QDateTime::currentDateTime());
    info.createdAt = nowInWholeSeconds();
    info.duration = result->duration;
    if (const CameraInfo* camera = m_devices.camera())
        info.cameraName = camera->name;
    if (const SoundDevice* microphone = m_devices.microphone())
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
