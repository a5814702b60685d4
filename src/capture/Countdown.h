#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

namespace reelbox {

// The countdown before a recording: from start(n), `step` hears n − 1, n − 2, … 1 and then
// `done` runs, each a whole second after the start on the monotonic clock, so a late timer
// doesn't push the later steps back.
class Countdown {
public:
    Countdown(std::function<void(int remaining)> step, std::function<void()> done);

    void start(int seconds);
    void stop() { m_timer.stop(); }
    bool isRunning() const { return m_timer.isActive(); }

private:
    void tick();

    std::function<void(int)> m_step;
    std::function<void()> m_done;
    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_length = 0;
    int m_remaining = 0;
};

} // namespace reelbox
