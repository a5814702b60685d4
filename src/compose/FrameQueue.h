#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>

namespace reelbox {

// A bounded hand-over of drawn frames from the drawing thread to the encoding one, with a
// pool of frames that go back and forth so steady work allocates nothing.
template <class Frame> class FrameQueue {
public:
    explicit FrameQueue(
        int capacity, const std::function<Frame()>& make = [] { return Frame(); }) {
        for (int i = 0; i < capacity; ++i)
            m_free.push_back(make());
    }

    // A free frame to draw into; none once the consumer has given up (or `token` stops).
    std::optional<Frame> takeFree(const std::stop_token& token) {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait(lock, token, [&] { return !m_free.empty() || m_closed; }) || m_closed)
            return std::nullopt;
        Frame frame = std::move(m_free.front());
        m_free.pop_front();
        return frame;
    }

    void push(Frame frame) {
        std::lock_guard lock(m_mutex);
        m_filled.push_back(std::move(frame));
        m_changed.notify_all();
    }

    // The next drawn frame; none when the producer has finished and everything was taken.
    std::optional<Frame> pop() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !m_filled.empty() || m_finished; });
        if (m_filled.empty())
            return std::nullopt;
        Frame frame = std::move(m_filled.front());
        m_filled.pop_front();
        return frame;
    }

    void giveBack(Frame frame) {
        std::lock_guard lock(m_mutex);
        m_free.push_back(std::move(frame));
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
    std::deque<Frame> m_free;
    std::deque<Frame> m_filled;
    bool m_finished = false;
    bool m_closed = false;
};

} // namespace reelbox
