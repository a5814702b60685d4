#include "edit/EditorPlayback.h"

#include "model/TimeMap.h"
#include "platform/AssignAndNotify.h"

#include <QPointer>
#include <QTimer>
#include <cmath>

namespace reelbox {

namespace {
constexpr double playheadStep = 0.0005;
constexpr double endTolerance = 0.05;
} // namespace

EditorPlayback::EditorPlayback(SoundSystem& sound, const QString& outputId, Callbacks callbacks,
                               QObject* parent)
    : QObject(parent), m_callbacks(std::move(callbacks)),
      m_player(std::make_unique<Player>(&sound, outputId)) {
    connect(m_player.get(), &Player::timeChanged, this, &EditorPlayback::playerTimeChanged);
    connect(m_player.get(), &Player::playingChanged, this, [this](bool playing) {
        // A preview being replaced while it played still counts as playing.
        assignAndNotify(this, m_isPlaying, playing || m_resumeAfterLoad,
                        &EditorPlayback::isPlayingChanged);
    });
    connect(m_player.get(), &Player::framePresented, this, [this] { ++m_framesSinceLoad; });
    connect(m_player.get(), &Player::statusChanged, this, &EditorPlayback::playerStatusChanged);
}

EditorPlayback::~EditorPlayback() = default;

void EditorPlayback::setPlayhead(double seconds) {
    assignAndNotify(this, m_playhead, seconds, &EditorPlayback::playheadChanged);
}

void EditorPlayback::playerStatusChanged(Player::Status status) {
    if (status == Player::Status::ready) {
        const int load = m_load;
        seek(m_playhead); // the position in source time survives the new edit
        if (std::exchange(m_resumeAfterLoad, false))
            m_player->play();
        if (load == m_load)
            releaseFreezeFrame();
    } else if (status == Player::Status::failed) {
        m_resumeAfterLoad = false;
        assignAndNotify(this, m_isPlaying, false, &EditorPlayback::isPlayingChanged);
        assignAndNotify(this, m_freezeFrame, std::optional<QImage>(),
                        &EditorPlayback::freezeFrameChanged);
        const QString why = m_player->errorString();
        m_callbacks.failed(QStringLiteral("The preview couldn't be shown: ") +
                           (why.isEmpty() ? QStringLiteral("unknown error") : why));
    }
}

void EditorPlayback::load(const TakeComposer::Result& composed, const SpanList& spans,
                          Player::MixInMemory inMemory) {
    // The picture settings may have changed while the run worked: they are taken as they are
    // now.
    const TakeInfo& info = m_callbacks.take().info;
    TakeComposer::Result result = composed;
    if (result.videoComposition && !result.videoSources.empty()) {
        TakeComposer::Picture picture =
            TakeComposer::picture(result.videoSources, info, result.canvasSource,
                                  info.exportSettings, result.composition.duration());
        result.placements = std::move(picture.placements);
        result.renderSize = picture.videoComposition.renderSize;
        result.videoComposition = std::move(picture.videoComposition);
    }
    m_resumeAfterLoad = m_isPlaying;
    if (m_player->hasItem() && !m_player->lastFrame().isNull())
        assignAndNotify(this, m_freezeFrame, std::optional(m_player->lastFrame()),
                        &EditorPlayback::freezeFrameChanged);
    m_seekInFlight = false;
    m_pendingSeek.reset();
    ++m_load;
    ++m_release; // a release still waiting belongs to the old item
    m_framesSinceLoad = 0;
    assignAndNotify(this, m_playerSpans, spans, &EditorPlayback::playerSpansChanged);
    assignAndNotify(this, m_renderSize, result.renderSize, &EditorPlayback::renderSizeChanged);
    assignAndNotify(this, m_placements, result.placements, &EditorPlayback::placementsChanged);
    assignAndNotify(this, m_canvasSource, result.canvasSource,
                    &EditorPlayback::canvasSourceChanged);
    m_videoSources = result.videoSources;
    writeLayout();
    m_player->load(result, m_liveLayout, std::move(inMemory));
}

void EditorPlayback::writeLayout() {
    m_liveLayout->replace(TakeComposer::liveSnapshot(
        m_renderSize, m_placements, m_callbacks.take().info.exportSettings.mirror));
}

void EditorPlayback::refreshPicture() {
    if (!m_player->hasItem() || m_videoSources.empty()) {
        m_callbacks.rebuildPicture();
        return;
    }
    const TakeInfo& info = m_callbacks.take().info;
    const auto picture = TakeComposer::picture(m_videoSources, info, m_canvasSource,
                                               info.exportSettings, toTicks(m_player->duration()));
    assignAndNotify(this, m_placements, picture.placements, &EditorPlayback::placementsChanged);
    assignAndNotify(this, m_renderSize, picture.videoComposition.renderSize,
                    &EditorPlayback::renderSizeChanged);
    writeLayout();
    if (!m_isPlaying)
        m_player->redraw();
}

void EditorPlayback::playerTimeChanged(double seconds) {
    if (m_seekInFlight || !std::isfinite(seconds) || m_player->status() != Player::Status::ready)
        return;
    const double source = TimeMap{m_playerSpans}.sourceTime(seconds);
    if (std::fabs(source - m_playhead) > playheadStep)
        setPlayhead(source);
}

void EditorPlayback::seek(double sourceSeconds) {
    const double t = std::clamp(sourceSeconds, 0.0, m_callbacks.sourceDuration());
    setPlayhead(t);
    chaseSeek(TimeMap{m_playerSpans}.outputTime(t));
}

void EditorPlayback::chaseSeek(double outputSeconds) {
    if (m_seekInFlight) {
        m_pendingSeek = outputSeconds; // the last request wins
        return;
    }
    m_seekInFlight = true;
    QPointer<EditorPlayback> self(this);
    m_player->seek(outputSeconds, [self](bool) {
        if (!self)
            return;
        self->m_seekInFlight = false;
        if (auto next = std::exchange(self->m_pendingSeek, std::nullopt))
            self->chaseSeek(*next);
    });
}

void EditorPlayback::jumpToStart() {
    const SpanList spans = m_callbacks.take().info.edit.keptSpans(m_callbacks.sourceDuration());
    seek(spans.empty() ? 0 : spans.front().start);
}

bool EditorPlayback::atEnd() const {
    const double total = TimeMap{m_playerSpans}.totalLength();
    if (m_playerSpans.empty() || !(total > 0))
        return false;
    return m_player->currentTime() >= total - endTolerance;
}

double EditorPlayback::outputTime() const {
    return TimeMap{m_playerSpans}.outputTime(m_playhead);
}

void EditorPlayback::play() {
    if (m_player->status() != Player::Status::ready) {
        // Waiting to play counts as playing: it starts once the preview is ready.
        if (m_stopped || m_player->status() == Player::Status::failed)
            return;
        m_resumeAfterLoad = true;
        assignAndNotify(this, m_isPlaying, true, &EditorPlayback::isPlayingChanged);
        return;
    }
    if (atEnd())
        jumpToStart();
    m_player->play();
}

void EditorPlayback::pause() {
    if (std::exchange(m_resumeAfterLoad, false) && !m_player->isPlaying())
        assignAndNotify(this, m_isPlaying, false, &EditorPlayback::isPlayingChanged);
    m_player->pause();
}

void EditorPlayback::stop() {
    m_stopped = true;
    m_player->pause();
    m_player->clear();
}

void EditorPlayback::releaseFreezeFrame() {
    pollFirstFrame(++m_release, 0);
}

void EditorPlayback::pollFirstFrame(int release, int tries) {
    // Up to 25 polls of 20 ms for the new item's first picture, then 50 ms more.
    if (release != m_release)
        return;
    if (m_framesSinceLoad == 0 && tries < 25) {
        QTimer::singleShot(20, this,
                           [this, release, tries] { pollFirstFrame(release, tries + 1); });
        return;
    }
    QTimer::singleShot(50, this, [this, release] {
        if (release == m_release)
            assignAndNotify(this, m_freezeFrame, std::optional<QImage>(),
                            &EditorPlayback::freezeFrameChanged);
    });
}

} // namespace reelbox
