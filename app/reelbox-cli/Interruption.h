#pragma once

#include <atomic>
#include <stop_token>
#include <thread>

namespace reelbox::cli {

// SIGINT, SIGTERM and SIGHUP as a stop request for the command's work. The signals are blocked in
// every thread and read from a signalfd by a watcher thread, so nothing runs inside a signal
// handler. A second signal ends the process at once. Construct it before any thread starts.
class Interruption {
public:
    Interruption();
    ~Interruption();
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;

    std::stop_token token() const { return m_stop.get_token(); }
    int signal() const { return m_signal.load(); } // 0 while none has come
    int exitStatus() const { return 128 + signal(); }

private:
    void watch();

    std::stop_source m_stop;
    std::atomic<int> m_signal{0};
    int m_signalFd = -1;
    int m_wakeFd = -1; // an eventfd that ends the watcher
    std::thread m_watcher;
};

} // namespace reelbox::cli
