#include "capture/Countdown.h"

#include <algorithm>

namespace reelbox {

Countdown::Countdown(std::function<void(int)> step, std::function<void()> done)
    : m_step(std::move(step)), m_done(std::move(done)) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
}

void Countdown::start(int seconds) {
    m_length = m_remaining = seconds;
    m_clock.start();
    m_timer.start(1000);
}

void Countdown::tick() {
    if (--m_remaining >= 1) {
        m_step(m_remaining);
        const qint64 next = qint64(m_length - m_remaining + 1) * 1000;
        m_timer.start(int(std::max<qint64>(0, next - m_clock.elapsed())));
        return;
    }
    m_done();
}

} // namespace reelbox
