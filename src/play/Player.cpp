#include "play/Player.h"

#include "platform/Background.h"
#include "platform/Error.h"
#include "platform/HostClock.h"
#include "platform/MediaTime.h"
#include "platform/SampleRate.h"
#include "platform/media/AudioFile.h"
#include "platform/sound/SoundSystem.h"
#include "play/MixPlayback.h"
#include "play/PictureWorker.h"

#include <chrono>
#include <cmath>

namespace reelbox {

namespace {

// The preview is drawn at most this large; the window scales it.
constexpr QSize largestPicture{960, 540};

QSize pictureSize(SizeD canvas) {
    if (!(canvas.width > 0 && canvas.height > 0))
        return {};
    const double scale = std::min(
        {1.0, largestPicture.width() / canvas.width, largestPicture.height() / canvas.height});
    return {std::max(2, 2 * int(canvas.width * scale / 2)),
            std::max(2, 2 * int(canvas.height * scale / 2))};
}

// The item's sound when it is the mix in memory alone, from its start: those samples, cut
// to the item's length (what lies past them plays as silence).
std::shared_ptr<MixSamples> heldSound(const Composition& composition,
                                      const Player::MixInMemory& held) {
    const auto tracks = composition.tracks(CompositionTrack::Kind::audio);
    if (!held.samples || tracks.size() != 1 || tracks.front()->segments.size() != 1)
        return nullptr;
    const CompositionSegment& segment = tracks.front()->segments.front();
    if (segment.sourcePath != held.path || segment.start != 0 || segment.sourceStart != 0)
        return nullptr;
    const qint64 frames = std::min({ticksToFrames(segment.duration),
                                    ticksToFrames(composition.duration()), held.samples->frames()});
    held.samples->samples.resize(size_t(std::max<qint64>(0, frames)) * 2);
    return held.samples;
}

// The item's sound: every audio segment of the composition read into place, stereo.
std::shared_ptr<MixSamples> readSound(const Composition& composition) {
    auto sound = std::make_shared<MixSamples>();
    const auto tracks = composition.tracks(CompositionTrack::Kind::audio);
    if (tracks.empty())
        return nullptr;
    const qint64 total = ticksToFrames(composition.duration());
    sound->samples.assign(size_t(std::max<qint64>(0, total)) * 2, 0.0f);
    std::vector<float> chunk;
    for (const CompositionTrack* track : tracks)
        for (const CompositionSegment& segment : track->segments) {
            AudioFileReader reader(segment.sourcePath);
            const int channels = reader.channels();
            const qint64 from = ticksToFrames(segment.sourceStart);
            const qint64 at = ticksToFrames(segment.start);
            qint64 left = std::min(ticksToFrames(segment.duration), total - at);
            reader.seek(std::clamp<qint64>(from, 0, reader.frames()));
            qint64 out = at;
            chunk.resize(size_t(4096 * channels));
            while (left > 0) {
                const qint64 got = reader.read(chunk.data(), std::min<qint64>(4096, left));
                if (got <= 0)
                    break;
                for (qint64 i = 0; i < got; ++i) {
                    const float l = chunk[size_t(i * channels)];
                    const float r = channels > 1 ? chunk[size_t(i * channels + 1)] : l;
                    sound->samples[size_t(2 * (out + i))] += l;
                    sound->samples[size_t(2 * (out + i) + 1)] += r;
                }
                out += got;
                left -= got;
            }
        }
    return sound;
}

} // namespace

Player::Player(SoundSystem* sound, const QString& outputId, QObject* parent)
    : QObject(parent), m_sound(std::make_unique<MixPlayback>()) {
    setOutput(sound, outputId);
    m_loader.setMaxThreadCount(1);
    m_timer.setInterval(1000 / 60);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Player::tick);
}

void Player::setOutput(SoundSystem* sound, const QString& outputId) {
    pause();
    m_output.reset(); // no callback reads the sound after this
    m_outputProblem.clear();
    if (!sound) {
        m_outputProblem = QStringLiteral("No sound output.");
        return;
    }
    QString chosen = outputId.isEmpty() ? sound->defaultOutputId() : outputId;
    if (chosen.isEmpty() && !sound->outputs().empty())
        chosen = sound->outputs().front().id;
    const int generation = ++m_outputGeneration;
    try {
        MixPlayback* playback = m_sound.get();
        m_output = sound->openOutput(
            chosen,
            [playback](float* out, int frames, int channels, qint64 hostNs) {
                playback->render(out, frames, channels, hostNs);
            },
            [this, generation](const QString& message) {
                QMetaObject::invokeMethod(
                    this,
                    [this, generation, message] {
                        if (generation == m_outputGeneration)
                            m_outputProblem = message;
                    },
                    Qt::QueuedConnection);
            });
    } catch (const Error& e) {
        m_outputProblem = e.message();
    }
}

Player::~Player() {
    m_timer.stop();
    // The output goes first, so no callback reads the sound after it.
    m_output.reset();
}

qint64 Player::hostNow() const {
    return hostNowNs();
}

qint64 Player::outputLatencyNs() const {
    return m_output && !m_output->failed() ? m_output->latencyNs() : 0;
}

bool Player::usesDeviceClock() const {
    return m_output && !m_output->failed();
}

qint64 Player::firstHeardHostNs() const {
    if (usesDeviceClock())
        return m_sound->firstHeardHostNs();
    return m_playing ? m_hostStartNs.value_or(m_hostAnchorNs) : 0;
}

void Player::setOutputTap(std::shared_ptr<SampleRing> ring) {
    m_sound->setTap(ring.get());
    m_tap = std::move(ring);
}

bool Player::hasVideo() const {
    return m_pictures != nullptr;
}

void Player::load(const TakeComposer::Result& result, std::shared_ptr<const LiveLayout> layout,
                  MixInMemory inMemory) {
    ++m_generation;
    const int item = ++m_item;
    setPlaying(false);
    if (m_seekDone)
        std::exchange(m_seekDone, {})(false);
    discard(m_sound->setItem(nullptr, 0));
    discard(std::move(m_pictures));
    m_hostAnchorSeconds = 0;
    m_hostStartNs.reset();
    m_durationSeconds = toSeconds(result.composition.duration());
    m_status = Status::loading;
    m_error.clear();
    emit statusChanged(m_status);

    if (result.videoComposition && !result.videoSources.empty()) {
        const QSize size = pictureSize(result.renderSize);
        if (!size.isEmpty())
            m_pictures = std::make_unique<PictureWorker>(result.composition, std::move(layout),
                                                         size, m_durationSeconds);
    }
    m_timer.start();

    // The sound is read off the main thread; the item is ready once it is in memory.
    struct Loaded {
        std::shared_ptr<MixSamples> samples;
        QString problem;
    };
    runInBackground(
        &m_loader, this,
        [composition = result.composition, inMemory = std::move(inMemory)] {
            Loaded loaded;
            loaded.problem = failureOf([&] {
                                 loaded.samples = heldSound(composition, inMemory);
                                 if (!loaded.samples)
                                     loaded.samples = readSound(composition);
                             }).value_or(QString());
            return loaded;
        },
        [this, item](Loaded loaded) {
            if (item != m_item)
                return;
            if (!loaded.problem.isEmpty()) {
                m_status = Status::failed;
                m_error = loaded.problem;
            } else {
                discard(m_sound->setItem(loaded.samples, framesRounded(m_durationSeconds)));
                m_status = Status::ready;
                if (m_pictures)
                    m_pictures->start(0, m_generation, false);
            }
            emit statusChanged(m_status);
        });
}

void Player::discard(std::vector<std::shared_ptr<const MixSamples>> released) {
    if (!released.empty())
        m_loader.start([released = std::move(released)]() mutable { released.clear(); });
}

void Player::discard(std::unique_ptr<PictureWorker> worker) {
    if (worker)
        m_loader.start([worker = std::shared_ptr<PictureWorker>(std::move(worker))]() mutable {
            worker.reset();
        });
}

void Player::clear() {
    ++m_generation;
    ++m_item;
    setPlaying(false);
    if (m_seekDone)
        std::exchange(m_seekDone, {})(false);
    discard(m_sound->setItem(nullptr, 0));
    discard(std::move(m_pictures));
    m_timer.stop();
    m_durationSeconds = 0;
    m_hostAnchorSeconds = 0;
    if (m_status != Status::empty) {
        m_status = Status::empty;
        emit statusChanged(m_status);
    }
}

double Player::currentTime() const {
    if (!m_playing)
        return m_hostAnchorSeconds;
    if (usesDeviceClock()) {
        // Until the first sample is heard the player stands where it starts.
        const qint64 first = m_sound->firstHeardHostNs();
        const qint64 now = hostNow();
        if (first == 0 || now < first)
            return m_hostAnchorSeconds;
        return m_sound->positionAt(now) / MixPlayback::sampleRate;
    }
    const qint64 now = hostNow();
    if (m_hostStartNs && now < *m_hostStartNs)
        return m_hostAnchorSeconds;
    const qint64 from = m_hostStartNs.value_or(m_hostAnchorNs);
    return std::min(m_durationSeconds, m_hostAnchorSeconds + double(now - from) / 1e9);
}

void Player::setPlaying(bool playing) {
    if (m_playing == playing)
        return;
    m_playing = playing;
    emit playingChanged(playing);
}

void Player::play() {
    if (m_status != Status::ready || m_playing)
        return;
    const double at = m_hostAnchorSeconds;
    m_hostAnchorNs = hostNow();
    m_hostStartNs.reset();
    m_sound->play(framesRounded(at));
    setPlaying(true);
    startPictures(at);
}

void Player::pause() {
    if (!m_playing)
        return;
    const double at = currentTime();
    m_sound->pause(framesRounded(at));
    m_hostAnchorSeconds = at;
    m_hostStartNs.reset();
    setPlaying(false);
    startPictures(at);
}

void Player::startPictures(double seconds) {
    if (m_pictures)
        m_pictures->start(seconds, ++m_generation, m_playing);
    else
        ++m_generation;
}

void Player::seek(double seconds, std::function<void(bool)> done) {
    const double at = std::clamp(seconds, 0.0, m_durationSeconds);
    if (m_seekDone)
        std::exchange(m_seekDone, {})(false);
    m_hostAnchorSeconds = at;
    m_hostAnchorNs = hostNow();
    m_hostStartNs.reset();
    if (m_playing)
        m_sound->play(framesRounded(at));
    else
        m_sound->pause(framesRounded(at));
    m_seekTarget = at;
    m_seekDone = done ? std::move(done) : [](bool) {};
    startPictures(at);
    if (!m_pictures || m_status != Status::ready) {
        // Nothing to draw: the sound is in place at once.
        QPointer<Player> self(this);
        const int generation = m_generation;
        QMetaObject::invokeMethod(
            this,
            [self, generation] {
                if (self && generation == self->m_generation && self->m_seekDone)
                    std::exchange(self->m_seekDone, {})(true);
            },
            Qt::QueuedConnection);
    }
    emit timeChanged(at);
}

void Player::step(int frames) {
    pause();
    const double frame = std::round(currentTime() * PictureWorker::frameRate) + frames;
    seek(frame / PictureWorker::frameRate);
}

void Player::preroll(double seconds, std::function<void(bool)> done) {
    pause();
    seek(seconds, std::move(done));
}

void Player::playAt(double seconds, qint64 hostTimeNs) {
    if (m_status != Status::ready)
        return;
    const double at = std::clamp(seconds, 0.0, m_durationSeconds);
    const qint64 when = std::max(hostTimeNs, hostNow());
    m_hostAnchorSeconds = at;
    m_hostAnchorNs = when;
    m_hostStartNs = when;
    m_sound->play(framesRounded(at), when);
    setPlaying(true);
    startPictures(at);
}

void Player::redraw() {
    if (!m_playing && m_pictures && m_status == Status::ready)
        startPictures(m_hostAnchorSeconds);
}

void Player::finishSeekIfReady() {
    if (!m_seekDone || !m_pictures)
        return;
    if (auto picture = m_pictures->takeFirst()) {
        m_lastFrame = picture->image;
        m_lastPresented = picture->seconds;
        emit framePresented(m_lastFrame, picture->seconds);
        std::exchange(m_seekDone, {})(true);
    }
}

void Player::present(bool force) {
    if (!m_pictures)
        return;
    const double now = force ? m_durationSeconds : currentTime();
    if (auto picture = m_pictures->takeDue(now)) {
        m_lastFrame = picture->image;
        m_lastPresented = picture->seconds;
        emit framePresented(m_lastFrame, picture->seconds);
    }
}

void Player::tick() {
    discard(m_sound->collect());
    if (m_playing) {
        const bool ended =
            usesDeviceClock() ? m_sound->reachedEnd() : currentTime() >= m_durationSeconds;
        if (ended) {
            // Pause at the end of the item.
            m_hostAnchorSeconds = m_durationSeconds;
            m_hostStartNs.reset();
            m_sound->pause(framesRounded(m_durationSeconds));
            setPlaying(false);
            emit timeChanged(m_durationSeconds);
            return;
        }
    }
    if (m_seekDone) {
        finishSeekIfReady();
        return;
    }
    present(false);
    if (m_playing)
        emit timeChanged(currentTime());
}

} // namespace reelbox
