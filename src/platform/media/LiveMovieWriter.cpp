#include "platform/media/LiveMovieWriter.h"

#include "platform/Error.h"
#include "platform/HostClock.h"

#include <chrono>

namespace reelbox {

LiveMovieWriter::LiveMovieWriter(const QString& path, const MovieWriterSettings& settings,
                                 double maxPictureAgeSeconds)
    : m_channels(settings.audioChannels), m_maxAge(maxPictureAgeSeconds) {
    // Opening the encoder takes a good part of a second; it happens on the writer's thread so
    // the caller goes on taking pictures, which wait in the queue meanwhile.
    m_thread = std::jthread([this, path, settings](std::stop_token stop) {
        try {
            m_writer = std::make_unique<MovieWriter>(path, settings);
        } catch (const std::exception& e) {
            fail(QString::fromUtf8(e.what()));
        }
        {
            std::lock_guard lock(m_mutex);
            m_opening = false;
        }
        run(stop);
    });
}

LiveMovieWriter::~LiveMovieWriter() {
    m_thread.request_stop();
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool LiveMovieWriter::addPicture(const YuvPicture& picture, double ptsSeconds) {
    {
        std::lock_guard lock(m_mutex);
        if (m_closed || m_failed.load())
            return false;
        if (m_opening && m_protected >= openingQueue) {
            ++m_dropped;
            return false;
        }
        Item item;
        item.kind = Item::Kind::picture;
        item.picture = picture;
        item.seconds = ptsSeconds;
        m_items.push_back(std::move(item));
        // While the encoder opens, and until what it queued meanwhile is written, pictures
        // are kept (up to a few seconds): the take's start loses none on a machine that keeps
        // up. Then the newest count.
        const bool catchingUp =
            m_protected > 0 && m_protected == m_items.size() - 1 && m_protected < openingQueue;
        if (m_opening || !m_firstPictureQueued || catchingUp) {
            m_protected = m_items.size();
            m_firstPictureQueued = true;
        }
        // Pictures that waited too long behind this one go: the oldest first.
        while (m_items.size() > m_protected + 1 &&
               ptsSeconds - m_items[m_protected].seconds > m_maxAge) {
            m_items.erase(m_items.begin() + std::ptrdiff_t(m_protected));
            ++m_dropped;
        }
    }
    m_wake.notify_one();
    return true;
}

void LiveMovieWriter::addAudio(const float* interleaved, qint64 frames, qint64 position) {
    if (frames <= 0 || m_channels <= 0)
        return;
    Item item;
    item.kind = Item::Kind::audio;
    item.samples.assign(interleaved, interleaved + frames * m_channels);
    item.frames = frames;
    item.position = position;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed || m_failed.load())
            return;
        m_sound.push_back(std::move(item));
    }
    m_wake.notify_one();
}

void LiveMovieWriter::finish(double endSeconds) {
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        m_closed = true;
        Item item;
        item.kind = Item::Kind::finish;
        item.seconds = endSeconds;
        m_items.push_back(std::move(item));
    }
    m_wake.notify_one();
}

QString LiveMovieWriter::failure() const {
    std::lock_guard lock(m_mutex);
    return m_failure;
}

void LiveMovieWriter::fail(const QString& message) {
    std::lock_guard lock(m_mutex);
    if (m_failure.isEmpty())
        m_failure = message;
    m_failed = true;
    m_items.clear(); // a finish asked for is answered now
    m_sound.clear();
    if (m_closed)
        m_done = true;
}

void LiveMovieWriter::run(std::stop_token stop) {
    for (;;) {
        Item item;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, stop, [&] { return !m_items.empty() || !m_sound.empty(); });
            if (stop.stop_requested())
                return;
            std::deque<Item>& queue = m_sound.empty() ? m_items : m_sound;
            item = std::move(queue.front());
            queue.pop_front();
            if (&queue == &m_items && item.kind == Item::Kind::picture && m_protected > 0)
                --m_protected;
        }
        if (m_failed.load()) {
            if (item.kind == Item::Kind::finish)
                m_done = true;
            continue;
        }
        try {
            switch (item.kind) {
            case Item::Kind::picture:
                if (m_writer->writeVideoPicture(item.picture, item.seconds)) {
                    if (m_written.fetch_add(1) == 0)
                        m_firstWrittenNs = hostNowNs();
                } else {
                    ++m_dropped;
                }
                break;
            case Item::Kind::audio:
                m_writer->writeAudioAt(item.samples.data(), item.frames, item.position);
                break;
            case Item::Kind::finish:
                m_writer->finish(item.seconds);
                m_done = true;
                break;
            }
        } catch (const std::exception& e) {
            fail(QString::fromUtf8(e.what()));
            if (item.kind == Item::Kind::finish)
                m_done = true;
        }
    }
}

} // namespace reelbox
