#include "platform/camera/internal/V4l2CameraStream.h"

#include "platform/HostClock.h"
#include "platform/camera/CameraFrameConverter.h"
#include "platform/camera/V4l2FormatTable.h"
#include "platform/camera/V4l2FrameClock.h"
#include "platform/camera/internal/PicturePool.h"
#include "platform/camera/internal/UniqueFd.h"
#include "platform/camera/internal/V4l2Device.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <atomic>
#include <chrono>
#include <cmath>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>

namespace reelbox {

namespace {

Q_LOGGING_CATEGORY(v4l2Log, "reelbox.camera")

constexpr std::uint32_t bufferCount = 8;
// Dequeues failing with EIO in a row before the queue counts as broken: a passing glitch fails
// one or two, a queue stuck in its error state fails every one.
constexpr int eioLimit = 8;
// How long a camera may send only pictures that can't be read before the stream ends.
constexpr qint64 unusableLimitNs = 2'000'000'000;

// One mapped driver buffer.
class Mapping {
public:
    Mapping(v4l2::Io& io, void* data, std::size_t length)
        : m_io(&io), m_data(data), m_length(length) {}
    ~Mapping() {
        if (m_data)
            m_io->unmap(m_data, m_length);
    }
    Mapping(Mapping&& other) noexcept
        : m_io(other.m_io), m_data(std::exchange(other.m_data, nullptr)), m_length(other.m_length) {
    }
    Mapping& operator=(Mapping&&) = delete;
    Mapping(const Mapping&) = delete;
    const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(m_data); }
    std::size_t length() const { return m_length; }

private:
    v4l2::Io* m_io;
    void* m_data;
    std::size_t m_length;
};

YuvPicture::Matrix matrixOf(const v4l2_pix_format& format) {
    if (format.ycbcr_enc == V4L2_YCBCR_ENC_709)
        return YuvPicture::Matrix::bt709;
    if (format.ycbcr_enc == V4L2_YCBCR_ENC_DEFAULT && format.colorspace == V4L2_COLORSPACE_REC709)
        return YuvPicture::Matrix::bt709;
    return YuvPicture::Matrix::bt601; // sRGB, JPEG and SMPTE 170M default to BT.601
}

class V4l2CameraStream final : public CameraStream {
public:
    V4l2CameraStream(std::shared_ptr<v4l2::Io> io, const QString& path, const CameraFormat& format,
                     double frameRate);
    ~V4l2CameraStream() override { stop(); }

    void start(FrameHandler onFrame, ErrorHandler onError) override;
    void stop() override;

    QString name() const override { return m_name; }
    QSize size() const override { return m_size; }
    double frameRate() const override { return m_frameRate; }
    qint64 deliveredFrames() const override { return m_delivered.load(); }
    qint64 droppedFrames() const override { return m_dropped.load(); }

private:
    CameraError failure(int errorNumber, const char* what) const {
        return CameraError::fromErrno(errorNumber, m_name, QString::fromLatin1(what));
    }
    void run(FrameHandler onFrame, ErrorHandler onError);
    // Returns false when the device failed; `error` says how.
    bool handleFrame(const FrameHandler& onFrame, bool pollError,
                     std::optional<CameraError>& error);

    QString m_name;
    v4l2::Device m_device;
    UniqueFd m_wake;
    QSize m_size;
    int m_bytesPerLine = 0;
    double m_frameRate = 0;
    std::vector<Mapping> m_buffers;
    std::unique_ptr<CameraFrameConverter> m_converter;
    std::unique_ptr<PicturePool> m_pool;
    std::thread m_thread;
    bool m_streaming = false;
    std::atomic<qint64> m_delivered{0};
    std::atomic<qint64> m_dropped{0};
    v4l2::FrameClock m_clock;
    int m_eioInARow = 0;
    qint64 m_unusableSinceNs = 0; // steady clock; 0 while pictures can be read
};

V4l2CameraStream::V4l2CameraStream(std::shared_ptr<v4l2::Io> io, const QString& path,
                                   const CameraFormat& format, double frameRate)
    : m_name(v4l2DisplayName(path)), m_device(std::move(io), path) {
    if (!m_device.valid())
        throw failure(errno, "open");
    const v4l2::Device& device = m_device;

    v4l2_capability cap{};
    if (device.ioctl(VIDIOC_QUERYCAP, &cap) != 0)
        throw failure(errno, "query");
    const std::uint32_t caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING))
        throw CameraError(CameraError::Kind::unsupportedFormat,
                          QStringLiteral("%1 isn't a camera Reelbox can record from.").arg(m_name));

    const std::uint32_t pixelFormat = v4l2::fourccCode(format.pixelFormat);
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    fmt.fmt.pix.width = std::uint32_t(format.width);
    fmt.fmt.pix.height = std::uint32_t(format.height);
    fmt.fmt.pix.pixelformat = pixelFormat;
    fmt.fmt.pix.field = V4L2_FIELD_NONE;
    if (device.ioctl(VIDIOC_S_FMT, &fmt) != 0)
        throw failure(errno, "set the picture format of");
    if (fmt.fmt.pix.pixelformat != pixelFormat)
        throw CameraError(
            CameraError::Kind::unsupportedFormat,
            QStringLiteral("%1 doesn't offer the %2 format.").arg(m_name, format.pixelFormat));
    m_size = QSize(int(fmt.fmt.pix.width), int(fmt.fmt.pix.height));
    m_bytesPerLine = int(fmt.fmt.pix.bytesperline);

    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (frameRate > 0 && device.ioctl(VIDIOC_G_PARM, &parm) == 0 &&
        (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) {
        parm.parm.capture.timeperframe.numerator = 1000;
        parm.parm.capture.timeperframe.denominator = std::uint32_t(std::lround(frameRate * 1000));
        if (device.ioctl(VIDIOC_S_PARM, &parm) != 0)
            qCWarning(v4l2Log) << "Can't set the frame rate of" << m_name;
    }
    parm = {};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device.ioctl(VIDIOC_G_PARM, &parm) == 0 && parm.parm.capture.timeperframe.numerator != 0)
        m_frameRate = double(parm.parm.capture.timeperframe.denominator) /
                      parm.parm.capture.timeperframe.numerator;
    else
        m_frameRate = frameRate;

    m_converter = std::make_unique<CameraFrameConverter>(format.pixelFormat, m_size);
    m_pool = std::make_unique<PicturePool>(m_size, matrixOf(fmt.fmt.pix));

    v4l2_requestbuffers request{};
    request.count = bufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (device.ioctl(VIDIOC_REQBUFS, &request) != 0)
        throw failure(errno, "get buffers from");
    if (request.count < 2)
        throw CameraError(CameraError::Kind::failed,
                          QStringLiteral("%1 gave too few buffers.").arg(m_name));
    for (std::uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (device.ioctl(VIDIOC_QUERYBUF, &buffer) != 0)
            throw failure(errno, "get buffers from");
        void* data = device.io().map(device.fd(), buffer.length, buffer.m.offset);
        if (!data)
            throw failure(errno, "map the buffers of");
        m_buffers.emplace_back(device.io(), data, buffer.length);
    }

    m_wake = UniqueFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!m_wake.valid())
        throw failure(errno, "set up");
}

void V4l2CameraStream::start(FrameHandler onFrame, ErrorHandler onError) {
    if (m_thread.joinable() || m_streaming)
        return;
    for (std::uint32_t i = 0; i < m_buffers.size(); ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (m_device.ioctl(VIDIOC_QBUF, &buffer) != 0)
            throw failure(errno, "start");
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (m_device.ioctl(VIDIOC_STREAMON, &type) != 0)
        throw failure(errno, "start");
    m_streaming = true;
    m_thread = std::thread(&V4l2CameraStream::run, this, std::move(onFrame), std::move(onError));
}

void V4l2CameraStream::stop() {
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_wake.get(), &one, sizeof one);
        m_thread.join();
    }
    if (m_streaming) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        m_device.ioctl(VIDIOC_STREAMOFF, &type); // fails harmlessly on an unplugged device
        m_streaming = false;
    }
}

void V4l2CameraStream::run(FrameHandler onFrame, ErrorHandler onError) {
    std::optional<CameraError> error;
    for (;;) {
        pollfd fds[2] = {{m_device.fd(), POLLIN, 0}, {m_wake.get(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            error = failure(errno, "read from");
            break;
        }
        if (fds[1].revents)
            return; // stop() asked
        if (fds[0].revents & POLLNVAL) {
            error = failure(ENODEV, "read from");
            break;
        }
        if (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) {
            if (!handleFrame(onFrame, fds[0].revents & (POLLERR | POLLHUP), error))
                break;
        }
    }
    if (error && onError)
        onError(*error);
}

bool V4l2CameraStream::handleFrame(const FrameHandler& onFrame, bool pollError,
                                   std::optional<CameraError>& error) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (m_device.ioctl(VIDIOC_DQBUF, &buffer) != 0) {
        if (errno == EAGAIN && !pollError)
            return true;
        // EIO can be a passing glitch, whose frame the gap in the sequence numbers counts; a
        // queue that reports an error with it, or fails again and again, is stuck.
        if (errno == EIO && !pollError && ++m_eioInARow < eioLimit)
            return true;
        if (errno == EIO) {
            error = CameraError(CameraError::Kind::failed,
                                QStringLiteral("%1 stopped sending pictures.").arg(m_name));
            return false;
        }
        // Nothing to take after the device reported an error: it has gone.
        error = failure(errno == EAGAIN ? ENODEV : errno, "read from");
        return false;
    }
    m_eioInARow = 0;
    const v4l2::BufferStamp stamp{buffer.sequence, buffer.flags, buffer.timestamp.tv_sec,
                                  buffer.timestamp.tv_usec};
    m_dropped += m_clock.account(stamp);
    const qint64 sequence = buffer.sequence;
    const qint64 hostTimeNs = v4l2::FrameClock::hostTimeNs(stamp, hostNowNs());

    CameraFrame frame;
    bool usable = !(buffer.flags & V4L2_BUF_FLAG_ERROR) && buffer.bytesused > 0 &&
                  buffer.index < m_buffers.size();
    if (usable) {
        frame.picture = m_pool->acquire();
        const Mapping& mapping = m_buffers[buffer.index];
        usable = m_converter->convert(mapping.data(),
                                      std::min<std::size_t>(buffer.bytesused, mapping.length()),
                                      m_bytesPerLine, frame.picture);
    }
    if (m_device.ioctl(VIDIOC_QBUF, &buffer) != 0) {
        error = failure(errno, "read from");
        return false;
    }
    if (!usable) {
        ++m_dropped;
        const qint64 now = hostNowNs();
        if (m_unusableSinceNs == 0)
            m_unusableSinceNs = now;
        if (now - m_unusableSinceNs < unusableLimitNs)
            return true;
        error = CameraError(CameraError::Kind::failed,
                            QStringLiteral("%1 sends pictures Reelbox can't read.").arg(m_name));
        return false;
    }
    m_unusableSinceNs = 0;
    frame.hostTimeNs = hostTimeNs;
    frame.sequence = sequence;
    ++m_delivered;
    if (onFrame)
        onFrame(frame);
    return true;
}

} // namespace

std::unique_ptr<CameraStream> v4l2::openCamera(const QString& path, const CameraFormat& format,
                                               double frameRate, std::shared_ptr<Io> io) {
    return std::make_unique<V4l2CameraStream>(std::move(io), path, format, frameRate);
}

QString v4l2DisplayName(const QString& path) {
    const QString node = QFileInfo(QFileInfo(path).canonicalFilePath()).fileName();
    if (!node.isEmpty()) {
        QFile file(QStringLiteral("/sys/class/video4linux/%1/name").arg(node));
        if (file.open(QIODevice::ReadOnly)) {
            const QString name = QString::fromUtf8(file.readAll()).trimmed();
            if (!name.isEmpty())
                return QStringLiteral("“%1”").arg(name);
        }
    }
    return QStringLiteral("“%1”").arg(path);
}

} // namespace reelbox
