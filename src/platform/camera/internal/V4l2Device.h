#pragma once

// An open V4L2 device node. Internal to reelbox_platform.

#include "platform/camera/V4l2Io.h"

#include <cerrno>
#include <utility>

namespace reelbox::v4l2 {

class Device {
public:
    Device() = default;
    // Check valid() and errno afterwards.
    Device(std::shared_ptr<Io> io, const QString& path) : m_io(std::move(io)) {
        m_fd = m_io->open(path);
    }
    ~Device() {
        if (m_fd >= 0)
            m_io->close(m_fd);
    }
    Device(Device&& other) noexcept
        : m_io(std::move(other.m_io)), m_fd(std::exchange(other.m_fd, -1)) {}
    Device& operator=(Device&&) = delete;
    Device(const Device&) = delete;

    bool valid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    Io& io() const { return *m_io; }

    // Repeated when a signal interrupts it. Returns -1 with errno set on failure.
    template <typename T> int ioctl(unsigned long request, T* argument) const {
        int result;
        do {
            result = m_io->ioctl(m_fd, request, argument);
        } while (result == -1 && errno == EINTR);
        return result;
    }

private:
    std::shared_ptr<Io> m_io;
    int m_fd = -1;
};

} // namespace reelbox::v4l2
