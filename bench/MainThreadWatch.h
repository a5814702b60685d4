#pragma once

#include <QCoreApplication>
#include <QObject>
#include <algorithm>
#include <chrono>
#include <ctime>
#include <pthread.h>
#include <thread>

namespace reelbox::bench {

// How long the main thread is kept from its event loop: a watchdog thread posts a ping every
// 2 ms and notes the main thread's CPU clock; when the ping is handled, the main thread's CPU
// time spent in between is the work that held it up (preemption by other processes doesn't
// count, so the figure holds on a loaded machine).
class MainThreadWatch {
public:
    MainThreadWatch() {
        pthread_getcpuclockid(pthread_self(), &m_mainClock);
        m_thread = std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested()) {
                const double sentAt = cpuMs(m_mainClock);
                QMetaObject::invokeMethod(
                    &m_receiver,
                    [this, sentAt] { m_worst = std::max(m_worst, cpuMs(m_mainClock) - sentAt); },
                    Qt::QueuedConnection);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    ~MainThreadWatch() {
        m_thread.request_stop();
        m_thread.join();
        QCoreApplication::processEvents();
    }
    double worstMs() const { return m_worst; }

private:
    static double cpuMs(clockid_t clock) {
        timespec t{};
        clock_gettime(clock, &t);
        return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
    }
    QObject m_receiver;
    clockid_t m_mainClock{};
    double m_worst = 0;
    std::jthread m_thread;
};

} // namespace reelbox::bench
