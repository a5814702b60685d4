#pragma once

#include <QtGlobal>
#include <atomic>
#include <limits>

namespace reelbox::mix {

// How far one thread has come through a buffer it fills, for another that trails it. The
// filler publishes its frame count now and then (each publication may wake the reader, so not
// after every small block); the reader waits until the frames it needs are there.
class BlockProgress {
public:
    // Filler: frames [0, done) are filled.
    void publish(qint64 done) {
        m_done.store(done, std::memory_order_release);
        m_done.notify_all();
    }
    // Filler: nothing more will come; the reader stops waiting and is told so.
    void fail() {
        m_failed.store(true);
        publish(std::numeric_limits<qint64>::max());
    }
    // Reader: waits until frames [0, frame) are filled; false when the filler failed.
    bool waitFor(qint64 frame) const {
        for (qint64 done = m_done.load(std::memory_order_acquire); done < frame;
             done = m_done.load(std::memory_order_acquire))
            m_done.wait(done);
        return !m_failed.load();
    }

private:
    std::atomic<qint64> m_done{0};
    std::atomic<bool> m_failed{false};
};

} // namespace reelbox::mix
