#include "Interruption.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace reelbox::cli {

namespace {

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP); // a closed terminal stops the work as Ctrl+C does
    return set;
}

} // namespace

Interruption::Interruption() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr); // threads started from here on inherit it
    m_signalFd = signalfd(-1, &set, SFD_CLOEXEC);
    m_wakeFd = eventfd(0, EFD_CLOEXEC);
    if (m_signalFd < 0 || m_wakeFd < 0) {
        // Without the watcher the signals keep their default action.
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    m_watcher = std::thread([this] { watch(); });
}

Interruption::~Interruption() {
    if (m_watcher.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(m_wakeFd, &one, sizeof one);
        m_watcher.join();
    }
    if (m_signalFd >= 0)
        ::close(m_signalFd);
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void Interruption::watch() {
    pollfd fds[2] = {{m_signalFd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        signalfd_siginfo info{};
        if (::read(m_signalFd, &info, sizeof info) != sizeof info)
            continue;
        const int number = int(info.ssi_signo);
        int none = 0;
        if (!m_signal.compare_exchange_strong(none, number))
            ::_exit(128 + m_signal.load()); // asked twice: no more waiting for the cleanup
        m_stop.request_stop();
    }
}

} // namespace reelbox::cli
