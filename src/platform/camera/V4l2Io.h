#pragma once

#include "platform/camera/CameraDevices.h"
#include "platform/camera/CameraStream.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace reelbox::v4l2 {

// The system calls the camera code makes on a device node. The system's own are used unless
// a stand-in device (the tests') takes their place.
class Io {
public:
    virtual ~Io() = default;
    // Opens read-write, non-blocking. Returns a descriptor that poll() can wait on for frames,
    // or -1 with errno set.
    virtual int open(const QString& path) = 0;
    virtual void close(int fd) = 0;
    // Returns -1 with errno set on failure.
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    // Maps a driver buffer; nullptr with errno set on failure.
    virtual void* map(int fd, std::size_t length, std::int64_t offset) = 0;
    virtual void unmap(void* address, std::size_t length) = 0;
};

std::shared_ptr<Io> systemIo();

// listV4l2Cameras and CameraStream::open through `io`.
std::vector<CameraInfo> listCameras(const QString& deviceDirectory, const std::shared_ptr<Io>& io);
std::unique_ptr<CameraStream> openCamera(const QString& path, const CameraFormat& format,
                                         double frameRate, std::shared_ptr<Io> io);

} // namespace reelbox::v4l2
