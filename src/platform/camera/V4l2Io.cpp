#include "platform/camera/V4l2Io.h"

#include <QFile>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace reelbox::v4l2 {

namespace {

class SystemIo final : public Io {
public:
    int open(const QString& path) override {
        return ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
    void close(int fd) override { ::close(fd); }
    int ioctl(int fd, unsigned long request, void* argument) override {
        return ::ioctl(fd, request, argument);
    }
    void* map(int fd, std::size_t length, std::int64_t offset) override {
        void* address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
        return address == MAP_FAILED ? nullptr : address;
    }
    void unmap(void* address, std::size_t length) override { ::munmap(address, length); }
};

} // namespace

std::shared_ptr<Io> systemIo() {
    return std::make_shared<SystemIo>();
}

} // namespace reelbox::v4l2
