#include "capture/CaptureEngine.h"

#include "platform/HostClock.h"
#include "platform/Log.h"

#include "capture/CaptureFeeds.h"
#include "capture/ClockMapping.h"
#include "platform/CaptureError.h"
#include "platform/SampleRate.h"
#include "platform/media/LiveMovieWriter.h"
#include "platform/sound/SoundSystem.h"

#include <QFile>
#include <QPromise>
#include <chrono>
#include <cmath>
#include <deque>
#include <functional>
#include <mutex>
#include <semaphore>
#include <thread>

namespace reelbox {

namespace {

constexpr double minimumFrameRate = 29.9;
constexpr double preferredFrameRate = 30;
// How long a picture may wait for the encoder behind the newest one before it is dropped: what
// reaches the disk stays this close to now, so a crash loses little.
constexpr double maxPictureAgeSeconds = 0.3;
// Seconds of sound the ring between the audio thread and the data thread holds.
constexpr int soundRingSeconds = 4;
// How long a stop waits, at most, for the data thread to take the
// pictures taken before the stop action and the sound to reach the end of the last of them.
constexpr qint64 stopWaitNs = 1'000'000'000;
// Interleaved 32-bit float as a sample format's flags are usually given (float, packed).
constexpr unsigned floatPackedFlags = 0x1 | 0x8;

bool reaches(const CameraFormat& format, double fps) {
    return std::any_of(format.frameRates.begin(), format.frameRates.end(),
                       [&](const FrameRateRange& r) { return r.maxFps >= fps; });
}

CameraFormatChoice withFrameRate(const CameraFormat& format) {
    for (const FrameRateRange& range : format.frameRates)
        if (range.minFps <= preferredFrameRate && range.maxFps >= preferredFrameRate)
            return {format, preferredFrameRate};
    // The format's own rate: the fastest it offers.
    double fastest = 0;
    for (const FrameRateRange& range : format.frameRates)
        fastest = std::max(fastest, range.maxFps);
    return {format, fastest};
}

} // namespace

// Everything the data thread owns, and the queue that reaches it.
struct CaptureEngine::Data {
    CaptureEngine* engine = nullptr;
    std::counting_semaphore<1 << 30> wake{0};
    std::mutex commandsMutex;
    std::deque<std::function<void()>> commands;
    std::jthread thread;

    mutable std::mutex previewMutex;
    CameraFrame preview;

    // Inputs, as last configured.
    std::shared_ptr<AudioFeed> audioFeed;
    std::shared_ptr<VideoFeed> videoFeed;
    bool hasAudioInput = false;
    int audioChannels = 0; // of the newest buffer; 0 until one came
    double cameraRate = preferredFrameRate;
    ClockMapping clock;
    std::vector<float> samples;

    // The recording.
    std::optional<QString> pendingPath;
    bool includeVideo = true;
    qint64 requestedAtNs = 0;
    std::unique_ptr<LiveMovieWriter> writer;
    // Opened when the recording is armed, so that the encoder is ready (and the file's header
    // on disk) by the first sample; it becomes `writer` then.
    std::unique_ptr<LiveMovieWriter> armed;
    MovieWriterSettings armedSettings;
    QString armedPath;
    QString path;
    qint64 startHostNs = 0;
    double origin = 0;      // sample position of the file's start
    qint64 originFrame = 0; // the same, whole
    double lastEnd = -1;    // seconds: end of the last picture (sound-only: sound)
    double lastPts = -1;
    qint64 audioEnd = 0; // frames written, on the file's time line
    qint64 lastSequence = -1;
    qint64 dropped = 0;
    qint64 videoFeedDroppedAtStart = 0;
    qint64 soundLostAtStart = 0; // the sound ring's loss count when the file started
    int recordedChannels = 0;
    bool failureReported = false;
    bool cameraLost = false;     // the camera ended during the recording
    bool microphoneLost = false; // the microphone did

    // Stopping and finishing.
    bool stopping = false;
    qint64 stopAtNs = 0;   // the stop action, on the host clock
    bool pastStop = false; // a picture taken after it has come
    qint64 stopDeadlineNs = 0;
    std::shared_ptr<QPromise<RecordingResult>> stopPromise;
    std::unique_ptr<LiveMovieWriter> finishing;
    RecordingResult finishingResult;

    void post(std::function<void()> command) {
        {
            std::lock_guard lock(commandsMutex);
            commands.push_back(std::move(command));
        }
        wake.release();
    }

    void run(std::stop_token stop);
    void runCommands();
    void takeAudio();
    void takeVideo();
    void handleAudio(const AudioFeed::Block& block);
    void handleVideo(const CameraFrame& frame);
    MovieWriterSettings writerSettings(QSize videoSize, YuvPicture::Matrix matrix) const;
    void arm(const QString& target, QSize videoSize, YuvPicture::Matrix matrix);
    void discardArmed();
    bool beginWriting(QSize videoSize, YuvPicture::Matrix matrix);
    void stopRecording(std::shared_ptr<QPromise<RecordingResult>> promise, qint64 atNs);
    void completeStop();
    void checkWriter();
    void resetWriter();
};

void CaptureEngine::Data::run(std::stop_token stop) {
    while (!stop.stop_requested()) {
        wake.try_acquire_for(std::chrono::milliseconds(10));
        runCommands();
        takeAudio();
        takeVideo();
        checkWriter();
    }
}

void CaptureEngine::Data::runCommands() {
    for (;;) {
        std::function<void()> command;
        {
            std::lock_guard lock(commandsMutex);
            if (commands.empty())
                return;
            command = std::move(commands.front());
            commands.pop_front();
        }
        command();
    }
}

void CaptureEngine::Data::takeAudio() {
    if (!audioFeed)
        return;
    AudioFeed::Block block;
    while (audioFeed->pop(block, samples))
        handleAudio(block);
}

void CaptureEngine::Data::takeVideo() {
    if (!videoFeed)
        return;
    CameraFrame frame;
    while (videoFeed->pop(frame))
        handleVideo(frame);
}

void CaptureEngine::Data::handleAudio(const AudioFeed::Block& block) {
    clock.add(block.hostTimeNs, block.position);
    if (audioChannels == 0)
        qCInfo(reelboxLog, "Reelbox: audio format %.0f Hz, %d ch, flags %u",
               double(audioSampleRate), audioFeed->channels(), floatPackedFlags);
    audioChannels = audioFeed->channels();

    // Only a sample taken after the record action starts the file.
    if (!includeVideo && pendingPath && !writer && block.hostTimeNs >= requestedAtNs) {
        startHostNs = block.hostTimeNs;
        origin = double(block.position);
        originFrame = block.position;
        beginWriting(QSize(), YuvPicture::Matrix::bt709);
    }
    if (!writer || recordedChannels == 0)
        return;
    // A buffer that begins before the file does is left out whole.
    if (block.hostTimeNs < startHostNs)
        return;
    const qint64 at = block.position - originFrame;
    const qint64 skip = std::clamp<qint64>(-at, 0, block.frames);
    writer->addAudio(samples.data() + skip * audioChannels, block.frames - skip, at + skip);
    audioEnd = at + block.frames;
    if (!includeVideo)
        lastEnd = double(audioEnd) / audioSampleRate;
}

void CaptureEngine::Data::handleVideo(const CameraFrame& frame) {
    {
        std::lock_guard lock(previewMutex);
        preview = frame;
    }
    if (!includeVideo)
        return;
    if (pendingPath && !writer) {
        if (frame.hostTimeNs < requestedAtNs)
            return; // taken before the record action
        startHostNs = frame.hostTimeNs;
        if (hasAudioInput && clock.isValid()) {
            origin = clock.positionAt(frame.hostTimeNs);
            originFrame = std::llround(origin);
        }
        if (!beginWriting(frame.picture.size(), frame.picture.matrix()))
            return;
        lastSequence = frame.sequence - 1;
        videoFeedDroppedAtStart = videoFeed->dropped();
    }
    if (!writer)
        return;
    if (stopping && frame.hostTimeNs > stopAtNs) {
        pastStop = true; // everything taken before the stop action is in
        return;
    }

    const bool onSound = recordedChannels > 0;
    const double pts = onSound ? (clock.positionAt(frame.hostTimeNs) - origin) / audioSampleRate
                               : double(frame.hostTimeNs - startHostNs) * 1e-9;
    if (frame.sequence > lastSequence + 1)
        dropped += frame.sequence - lastSequence - 1; // the camera lost them
    lastSequence = frame.sequence;
    if (pts <= lastPts) {
        ++dropped;
        return;
    }
    if (!writer->addPicture(frame.picture, pts))
        return; // counted by the writer
    lastPts = pts;
    const double duration =
        onSound ? clock.samplesPerSecond() / cameraRate / audioSampleRate : 1.0 / cameraRate;
    lastEnd = pts + duration;
}

MovieWriterSettings CaptureEngine::Data::writerSettings(QSize videoSize,
                                                        YuvPicture::Matrix matrix) const {
    MovieWriterSettings settings;
    settings.videoSize = videoSize;
    settings.frameRate = std::max(1, int(std::lround(cameraRate)));
    settings.videoBitRate = qint64(videoSize.width()) * videoSize.height() * 8;
    settings.matrix = matrix;
    settings.audioChannels = hasAudioInput ? audioChannels : 0;
    settings.realTime = true;
    settings.syncToDisk = true;
    return settings;
}

// Opens the file and the encoder now, for the sources as they are: the first sample finds
// them ready.
void CaptureEngine::Data::arm(const QString& target, QSize videoSize, YuvPicture::Matrix matrix) {
    discardArmed();
    MovieWriterSettings settings = writerSettings(includeVideo ? videoSize : QSize(), matrix);
    if (hasAudioInput && audioFeed)
        settings.audioChannels = audioFeed->channels();
    if ((includeVideo && videoSize.isEmpty()) || (!includeVideo && settings.audioChannels == 0))
        return; // no source that could start the file: nothing to open
    try {
        armed = std::make_unique<LiveMovieWriter>(target, settings, maxPictureAgeSeconds);
    } catch (const std::exception& e) {
        qCWarning(reelboxLog) << "Reelbox: failed to start writer:" << e.what();
        return;
    }
    armedSettings = settings;
    armedPath = target;
}

// An armed file that no sample started holds nothing: it goes.
void CaptureEngine::Data::discardArmed() {
    if (!armed)
        return;
    armed.reset();
    QFile::remove(armedPath);
}

bool CaptureEngine::Data::beginWriting(QSize videoSize, YuvPicture::Matrix matrix) {
    // The sound track is described by the first buffer; until one came, wait.
    if (hasAudioInput && audioChannels == 0)
        return false;
    MovieWriterSettings settings = writerSettings(videoSize, matrix);
    const QString target = *pendingPath;
    pendingPath.reset();
    const bool fits = armed && armedPath == target && armedSettings.videoSize == videoSize &&
                      armedSettings.audioChannels == settings.audioChannels;
    if (!fits)
        discardArmed();
    try {
        if (fits)
            writer = std::move(armed);
        else
            writer = std::make_unique<LiveMovieWriter>(target, settings, maxPictureAgeSeconds);
    } catch (const std::exception& e) {
        qCWarning(reelboxLog) << "Reelbox: failed to start writer:" << e.what();
        return false;
    }
    path = target;
    recordedChannels = settings.audioChannels;
    soundLostAtStart = audioFeed ? audioFeed->lostFrames() : 0;
    lastEnd = -1;
    lastPts = -1;
    audioEnd = 0;
    dropped = 0;
    failureReported = false;
    return true;
}

void CaptureEngine::Data::stopRecording(std::shared_ptr<QPromise<RecordingResult>> promise,
                                        qint64 atNs) {
    pendingPath.reset(); // a recording that never started cannot start any more
    discardArmed();
    if (stopping) {
        promise->setException(std::make_exception_ptr(CaptureError::notRecording()));
        promise->finish();
        return;
    }
    if (!writer) {
        resetWriter();
        promise->setException(std::make_exception_ptr(CaptureError::notRecording()));
        promise->finish();
        return;
    }
    stopping = true;
    stopAtNs = atNs;
    pastStop = !includeVideo || !videoFeed;
    stopPromise = std::move(promise);
    stopDeadlineNs = hostNowNs() + stopWaitNs;
    completeStop();
}

// Once the sound has reached the end of the last picture (or waited long enough), the file is
// cut there and the writer finishes it on its own thread.
void CaptureEngine::Data::completeStop() {
    if (cameraLost)
        pastStop = true; // no picture will come
    // After a camera loss the sound went on: the file ends where the sound does.
    const double end = std::max(0.0, cameraLost && recordedChannels > 0
                                         ? std::max(lastEnd, double(audioEnd) / audioSampleRate)
                                         : lastEnd);
    const bool soundBehind = includeVideo && recordedChannels > 0 && !microphoneLost &&
                             double(audioEnd) < end * audioSampleRate;
    if ((soundBehind || !pastStop) && hostNowNs() < stopDeadlineNs && !writer->failed())
        return;
    RecordingResult& result = finishingResult;
    result = RecordingResult{};
    result.url = path;
    result.duration = end;
    result.audioChannelCount = recordedChannels;
    result.startTimeNs = startHostNs;
    result.requestedAtNs = requestedAtNs;
    result.droppedFrames =
        dropped + (videoFeed ? videoFeed->dropped() - videoFeedDroppedAtStart : 0);
    result.lostSoundFrames = audioFeed ? audioFeed->lostFrames() - soundLostAtStart : 0;
    if (result.lostSoundFrames > 0)
        qCWarning(reelboxLog, "Reelbox: %lld sound frames were lost in the capture ring",
                  static_cast<long long>(result.lostSoundFrames));
    writer->finish(end);
    finishing = std::move(writer);
    stopping = false;
}

void CaptureEngine::Data::checkWriter() {
    if (stopping)
        completeStop();
    if (writer && writer->failed() && !failureReported) {
        failureReported = true;
        const QString message = writer->failure();
        QMetaObject::invokeMethod(
            engine, [e = engine, message] { emit e->recordingFailed(message); },
            Qt::QueuedConnection);
    }
    if (finishing && finishing->done()) {
        std::shared_ptr<QPromise<RecordingResult>> promise = std::move(stopPromise);
        RecordingResult result = finishingResult;
        result.droppedFrames += finishing->droppedPictures();
        result.firstFrameWrittenNs = finishing->firstPictureWrittenNs();
        if (finishing->failed()) {
            const QString message = finishing->failure();
            finishing.reset();
            resetWriter();
            promise->setException(std::make_exception_ptr(CaptureError::writerFailed(message)));
        } else {
            finishing.reset();
            resetWriter();
            promise->addResult(result);
        }
        promise->finish();
    }
}

void CaptureEngine::Data::resetWriter() {
    writer.reset();
    recordedChannels = 0;
    stopping = false;
    cameraLost = false;
    microphoneLost = false;
}

CaptureEngine::CaptureEngine(QObject* parent) : QObject(parent), d(std::make_unique<Data>()) {
    d->engine = this;
    d->thread = std::jthread([data = d.get()](std::stop_token stop) { data->run(stop); });
}

CaptureEngine::CaptureEngine(SoundSystem* sound, QObject* parent) : CaptureEngine(parent) {
    m_sharedSound = sound;
}

CaptureEngine::~CaptureEngine() {
    closeCamera();
    closeMicrophone();
    d->thread.request_stop();
    d->wake.release();
    d->thread.join();
}

std::optional<CameraFormatChoice> CaptureEngine::selectBestFormat(const CameraInfo& camera) {
    std::vector<const CameraFormat*> candidates;
    for (const CameraFormat& format : camera.formats)
        if (reaches(format, minimumFrameRate))
            candidates.push_back(&format);
    for (const CameraFormat* format : candidates)
        if (format->width == 1920 && format->height == 1080)
            return withFrameRate(*format);
    const CameraFormat* best = nullptr;
    for (const CameraFormat* format : candidates)
        if (format->width <= 1920 &&
            (!best || qint64(format->width) * format->height > qint64(best->width) * best->height))
            best = format;
    if (!best)
        return std::nullopt;
    return withFrameRate(*best);
}

void CaptureEngine::configure(const std::optional<CameraInfo>& camera,
                              const std::optional<SoundDevice>& microphone) {
    const bool sameCamera = (camera.has_value() == m_cameraInfo.has_value()) &&
                            (!camera || camera->id == m_cameraInfo->id);
    if (!sameCamera) {
        closeCamera();
        if (camera)
            openCamera(*camera);
    }
    const bool sameMicrophone = (microphone.has_value() == m_microphoneInfo.has_value()) &&
                                (!microphone || microphone->id == m_microphoneInfo->id);
    if (!sameMicrophone) {
        closeMicrophone();
        if (microphone)
            openMicrophone(*microphone);
    }
    m_running = true;
}

void CaptureEngine::openCamera(const CameraInfo& camera) {
    std::optional<CameraFormatChoice> choice;
    if (m_preferredSize)
        for (const CameraFormat& format : camera.formats)
            if (QSize(format.width, format.height) == *m_preferredSize &&
                reaches(format, minimumFrameRate)) {
                choice = withFrameRate(format);
                break;
            }
    if (!choice)
        choice = selectBestFormat(camera);
    if (!choice && !camera.formats.empty())
        choice = withFrameRate(camera.formats.front()); // the camera's own format
    if (!choice)
        choice = CameraFormatChoice{CameraFormat{1920, 1080, QString(), {}}, preferredFrameRate};

    std::unique_ptr<CameraStream> stream;
    try {
        stream = CameraStream::open(camera.id, choice->format, choice->frameRate);
    } catch (const CameraError& e) {
        if (e.kind() == CameraError::Kind::busy)
            throw CaptureError::cannotAddInput(camera.name);
        throw;
    }
    auto feed = std::make_shared<VideoFeed>();
    const double rate = stream->frameRate() > 0 ? stream->frameRate() : choice->frameRate;
    d->post([data = d.get(), feed, rate] {
        data->videoFeed = feed;
        data->cameraRate = rate > 0 ? rate : preferredFrameRate;
    });
    Data* data = d.get();
    const QString name = camera.name;
    stream->start(
        [feed, data](const CameraFrame& frame) {
            feed->push(frame);
            data->wake.release();
        },
        [data, name](const CameraError&) {
            data->post([data] { data->cameraLost = data->writer != nullptr; });
            QMetaObject::invokeMethod(
                data->engine, [e = data->engine, name] { emit e->deviceLost(name); },
                Qt::QueuedConnection);
        });
    m_camera = std::move(stream);
    m_cameraInfo = camera;
    m_videoSize = m_camera->size();
    m_frameRate = rate;
}

void CaptureEngine::openMicrophone(const SoundDevice& microphone) {
    if (!m_sound && !m_sharedSound)
        m_sound = std::make_unique<SoundSystem>();
    SoundSystem& sound = m_sharedSound ? *m_sharedSound : *m_sound;
    const int channels = std::max(1, microphone.channels);
    auto feed = std::make_shared<AudioFeed>(channels, qint64(soundRingSeconds) * audioSampleRate);
    Data* data = d.get();
    std::unique_ptr<AudioInputStream> stream = sound.openInput(
        microphone.id,
        [feed, data](const float* interleaved, int frames, int count, qint64 hostTimeNs) {
            if (count == feed->channels())
                feed->push(interleaved, frames, hostTimeNs);
            data->wake.release();
        },
        [data, name = microphone.name](const QString&) {
            data->post([data] { data->microphoneLost = data->writer != nullptr; });
            QMetaObject::invokeMethod(
                data->engine, [e = data->engine, name] { emit e->deviceLost(name); },
                Qt::QueuedConnection);
        });
    if (stream->channels() != channels) {
        // The device opened with another channel count than it was listed with.
        stream.reset();
        feed = std::make_shared<AudioFeed>(channels, 0);
        throw CaptureError::cannotAddInput(microphone.name);
    }
    d->post([data, feed] {
        data->audioFeed = feed;
        data->hasAudioInput = true;
        data->audioChannels = 0; // the next buffer describes the sound again
        data->clock.reset();
    });
    m_microphone = std::move(stream);
    m_microphoneInfo = microphone;
}

void CaptureEngine::closeCamera() {
    if (m_camera)
        m_camera->stop();
    m_camera.reset();
    m_cameraInfo.reset();
    m_videoSize.reset();
    m_frameRate = 0;
    d->post([data = d.get()] { data->videoFeed.reset(); });
}

void CaptureEngine::closeMicrophone() {
    m_microphone.reset(); // no callback runs after this
    m_microphoneInfo.reset();
    d->post([data = d.get()] {
        data->audioFeed.reset();
        data->hasAudioInput = false;
        data->audioChannels = 0;
        data->clock.reset();
    });
}

void CaptureEngine::stopSession() {
    closeCamera();
    closeMicrophone();
    m_running = false;
}

std::optional<QSize> CaptureEngine::videoSize() const {
    return m_videoSize;
}

std::optional<QString> CaptureEngine::cameraID() const {
    return m_cameraInfo ? std::optional(m_cameraInfo->id) : std::nullopt;
}

std::optional<QString> CaptureEngine::microphoneID() const {
    return m_microphoneInfo ? std::optional(m_microphoneInfo->id) : std::nullopt;
}

int CaptureEngine::microphoneChannels() const {
    return m_microphone ? m_microphone->channels() : 0;
}

std::vector<LevelMeter::Level> CaptureEngine::audioLevels() {
    return m_microphone ? m_microphone->readLevels() : std::vector<LevelMeter::Level>{};
}

void CaptureEngine::startRecording(const QString& path, bool includeVideo) {
    const qint64 requested = hostNowNs();
    const QSize size = m_videoSize.value_or(QSize());
    d->post([data = d.get(), path, includeVideo, requested, size] {
        data->includeVideo = includeVideo;
        QFile::remove(path);
        data->pendingPath = path;
        data->requestedAtNs = requested;
        data->lastEnd = -1;
        YuvPicture::Matrix matrix = YuvPicture::Matrix::bt709;
        {
            std::lock_guard lock(data->previewMutex);
            if (!data->preview.picture.isNull())
                matrix = data->preview.picture.matrix();
        }
        data->arm(path, size, matrix);
    });
}

QFuture<RecordingResult> CaptureEngine::stopRecording() {
    auto promise = std::make_shared<QPromise<RecordingResult>>();
    QFuture<RecordingResult> future = promise->future();
    promise->start();
    const qint64 at = hostNowNs();
    d->post([data = d.get(), promise, at] { data->stopRecording(promise, at); });
    return future;
}

CameraFrame CaptureEngine::latestFrame() const {
    std::lock_guard lock(d->previewMutex);
    return d->preview;
}

} // namespace reelbox
