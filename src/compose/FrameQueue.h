#pragma once

#include <QImage>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <stop_token>

namespace reelbox {

// A bounded hand-over of rendered frames from the drawing thread to the encoding one, with a
// pool of images that go back and forth so steady work allocates nothing.
class FrameQueue {
public:
    FrameQueue(int capacity, QSize size, QImage::Format format) {
        for (int i = 0; i < capacity; ++i)
            m_free.emplace_back(size, format);
    }

    // A free image to draw into; none once stopped.
    std::optional<QImage> takeFree(const std::stop_token& token) {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait(lock, token, [&] { return !m_free.empty() || m_closed; }) || m_closed)
            return std::nullopt;
        QImage image = std::move(m_free.front());
        m_free.pop_front();
        return image;
    }

    void push(QImage frame) {
        std::lock_guard lock(m_mutex);
        m_filled.push_back(std::move(frame));
        m_changed.notify_all();
    }

    // The next drawn frame; none when the producer has finished and everything was taken.
    std::optional<QImage> pop() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !m_filled.empty() || m_finished; });
        if (m_filled.empty())
            return std::nullopt;
        QImage image = std::move(m_filled.front());
        m_filled.pop_front();
        return image;
    }

    void giveBack(QImage image) {
        std::lock_guard lock(m_mutex);
        m_free.push_back(std::move(image));
        m_changed.notify_all();
    }

    // The producer is done (normally or not).
    void finish() {
        std::lock_guard lock(m_mutex);
        m_finished = true;
        m_changed.notify_all();
    }

    // The consumer gives up; the producer stops waiting.
    void close() {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::deque<QImage> m_free;
    std::deque<QImage> m_filled;
    bool m_finished = false;
    bool m_closed = false;
};

} // namespace reelbox
