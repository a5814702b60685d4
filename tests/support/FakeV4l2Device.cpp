#include "support/FakeV4l2Device.h"

#include "platform/camera/internal/UniqueFd.h"

#include <QBuffer>

#include <cerrno>
#include <cstring>
#include <deque>
#include <linux/videodev2.h>
#include <mutex>
#include <stdexcept>
#include <sys/eventfd.h>

namespace reelbox::v4l2 {

namespace {

constexpr std::int64_t offsetStep = 1 << 20; // buffer i is mapped at offset i × step

int fail(int errorNumber) {
    errno = errorNumber;
    return -1;
}

} // namespace

struct FakeV4l2Device::State {
    QString path;
    QString card;
    std::vector<PixelFormat> table;
    mutable std::mutex mutex;
    int refusal = 0;
    bool gone = false;
    UniqueFd fd; // an eventfd: readable while a frame waits
    v4l2_pix_format format{};
    std::vector<QByteArray> buffers;
    std::vector<v4l2_buffer> records;
    std::deque<std::uint32_t> queued, done;
    bool streaming = false;
    int requested = 0;
    int dequeueError = 0;
    int dequeueFailures = 0; // −1: without end

    const PixelFormat* find(std::uint32_t code) const {
        for (const PixelFormat& f : table)
            if (f.fourcc == code)
                return &f;
        return nullptr;
    }
    int handle(unsigned long request, void* argument);
    void signal() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd.get(), &one, sizeof one);
    }
    void drain() {
        std::uint64_t count;
        [[maybe_unused]] const ssize_t n = ::read(fd.get(), &count, sizeof count);
    }
};

FakeV4l2Device::FakeV4l2Device(const QString& path, const QString& card,
                               std::vector<PixelFormat> table)
    : d(std::make_unique<State>()) {
    d->path = path;
    d->card = card;
    d->table = std::move(table);
}

FakeV4l2Device::~FakeV4l2Device() = default;

void FakeV4l2Device::refuseOpen(int errorNumber) {
    std::lock_guard lock(d->mutex);
    d->refusal = errorNumber;
}

bool FakeV4l2Device::deliver(const QByteArray& bytes, std::uint32_t sequence, qint64 timestampNs,
                             bool monotonic, std::uint32_t flags) {
    std::lock_guard lock(d->mutex);
    if (!d->streaming || d->queued.empty() || d->gone)
        return false;
    const std::uint32_t index = d->queued.front();
    d->queued.pop_front();
    QByteArray& buffer = d->buffers[index];
    const qsizetype used = std::min(bytes.size(), buffer.size());
    std::memcpy(buffer.data(), bytes.constData(), std::size_t(used));
    v4l2_buffer& record = d->records[index];
    record.bytesused = std::uint32_t(used);
    record.sequence = sequence;
    record.flags =
        (monotonic ? V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC : V4L2_BUF_FLAG_TIMESTAMP_UNKNOWN) | flags;
    record.timestamp.tv_sec = timestampNs / 1'000'000'000;
    record.timestamp.tv_usec = (timestampNs % 1'000'000'000) / 1000;
    d->done.push_back(index);
    d->signal();
    return true;
}

void FakeV4l2Device::failDequeues(int errorNumber, int count) {
    std::lock_guard lock(d->mutex);
    d->dequeueError = errorNumber;
    d->dequeueFailures = count;
    if (d->fd.valid())
        d->signal();
}

void FakeV4l2Device::unplug() {
    std::lock_guard lock(d->mutex);
    d->gone = true;
    if (d->fd.valid())
        d->signal();
}

FakeV4l2Device::Buffers FakeV4l2Device::buffers() const {
    std::lock_guard lock(d->mutex);
    return {d->streaming, d->requested, int(d->queued.size())};
}

int FakeV4l2Device::open(const QString& path) {
    std::lock_guard lock(d->mutex);
    if (path != d->path || d->gone)
        return fail(ENOENT);
    if (d->refusal)
        return fail(d->refusal);
    d->fd = UniqueFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    return d->fd.get();
}

void FakeV4l2Device::close(int fd) {
    std::lock_guard lock(d->mutex);
    if (fd == d->fd.get()) {
        d->fd.reset();
        d->streaming = false;
        d->buffers.clear();
        d->records.clear();
        d->queued.clear();
        d->done.clear();
    }
}

void* FakeV4l2Device::map(int, std::size_t, std::int64_t offset) {
    std::lock_guard lock(d->mutex);
    return d->buffers.at(std::size_t(offset / offsetStep)).data();
}

void FakeV4l2Device::unmap(void*, std::size_t) {}

int FakeV4l2Device::ioctl(int fd, unsigned long request, void* argument) {
    std::lock_guard lock(d->mutex);
    if (fd != d->fd.get())
        return fail(EBADF);
    if (d->gone)
        return fail(ENODEV);
    return d->handle(request, argument);
}

int FakeV4l2Device::State::handle(unsigned long request, void* argument) {
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto* cap = static_cast<v4l2_capability*>(argument);
        *cap = {};
        std::strncpy(reinterpret_cast<char*>(cap->card), card.toUtf8().constData(),
                     sizeof cap->card - 1);
        cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
        cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto* desc = static_cast<v4l2_fmtdesc*>(argument);
        if (desc->index >= table.size())
            return fail(EINVAL);
        desc->pixelformat = table[desc->index].fourcc;
        desc->flags = table[desc->index].flags;
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto* e = static_cast<v4l2_frmsizeenum*>(argument);
        const PixelFormat* f = find(e->pixel_format);
        if (!f || e->index >= f->sizes.size())
            return fail(EINVAL);
        e->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        e->discrete = {f->sizes[e->index].width, f->sizes[e->index].height};
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto* e = static_cast<v4l2_frmivalenum*>(argument);
        const PixelFormat* f = find(e->pixel_format);
        if (!f)
            return fail(EINVAL);
        for (const FrameSize& size : f->sizes) {
            if (size.width != e->width || size.height != e->height)
                continue;
            if (e->index >= size.intervals.size())
                return fail(EINVAL);
            const Fraction& interval = size.intervals[e->index].discrete;
            e->type = V4L2_FRMIVAL_TYPE_DISCRETE;
            e->discrete = {interval.numerator, interval.denominator};
            return 0;
        }
        return fail(EINVAL);
    }
    case VIDIOC_S_FMT: {
        auto* fmt = static_cast<v4l2_format*>(argument);
        v4l2_pix_format& pix = fmt->fmt.pix;
        const PixelFormat* f = find(pix.pixelformat);
        if (!f)
            f = &table.front(); // drivers fall back to a format of their own
        pix.pixelformat = f->fourcc;
        const bool packed = f->fourcc == fourcc('Y', 'U', 'Y', 'V');
        const bool compressed = f->fourcc == fourcc('M', 'J', 'P', 'G');
        pix.bytesperline = compressed ? 0 : pix.width * (packed ? 2 : 1);
        pix.sizeimage = pix.width * pix.height * 2;
        format = pix;
        return 0;
    }
    case VIDIOC_REQBUFS: {
        auto* request = static_cast<v4l2_requestbuffers*>(argument);
        requested = int(request->count);
        request->count = std::min<std::uint32_t>(request->count, 32);
        buffers.assign(request->count, QByteArray(qsizetype(format.sizeimage), '\0'));
        records.assign(request->count, v4l2_buffer{});
        for (std::uint32_t i = 0; i < request->count; ++i) {
            records[i].index = i;
            records[i].type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            records[i].memory = V4L2_MEMORY_MMAP;
            records[i].length = format.sizeimage;
            records[i].m.offset = std::uint32_t(i * offsetStep);
        }
        queued.clear();
        done.clear();
        return 0;
    }
    case VIDIOC_QUERYBUF:
    case VIDIOC_QBUF: {
        auto* buffer = static_cast<v4l2_buffer*>(argument);
        if (request == VIDIOC_QUERYBUF) {
            *buffer = records[buffer->index];
            return 0;
        }
        queued.push_back(buffer->index);
        return 0;
    }
    case VIDIOC_DQBUF: {
        auto* buffer = static_cast<v4l2_buffer*>(argument);
        if (dequeueFailures != 0) {
            if (dequeueFailures > 0 && --dequeueFailures == 0 && done.empty())
                drain();
            return fail(dequeueError);
        }
        if (done.empty())
            return fail(EAGAIN);
        *buffer = records[done.front()];
        done.pop_front();
        if (done.empty())
            drain();
        return 0;
    }
    case VIDIOC_STREAMON:
        streaming = true;
        return 0;
    case VIDIOC_STREAMOFF:
        streaming = false; // every buffer goes back to the caller
        queued.clear();
        done.clear();
        return 0;
    default:
        return fail(ENOTTY);
    }
}

QByteArray jpegFrame(const QImage& image) {
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPG", 95))
        throw std::runtime_error("Qt's JPEG writer is missing");
    return jpeg;
}

} // namespace reelbox::v4l2
