#include "platform/virtual/TestCamera.h"

#include "platform/HostClock.h"
#include "platform/camera/internal/PicturePool.h"
#include "platform/virtual/TestCameraPattern.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace reelbox {

namespace {

constexpr int frameRate = 30;
constexpr qint64 queuedFrames = 8;

class TestCameraStream final : public CameraStream {
public:
    explicit TestCameraStream(QSize size)
        : m_size(size), m_pool(size, size.height() >= 720 ? YuvPicture::Matrix::bt709
                                                          : YuvPicture::Matrix::bt601) {}
    ~TestCameraStream() override { stop(); }

    void start(FrameHandler onFrame, ErrorHandler) override {
        if (m_thread.joinable())
            return;
        m_thread = std::jthread(
            [this, onFrame = std::move(onFrame)](std::stop_token stop) { run(stop, onFrame); });
    }

    void stop() override {
        if (!m_thread.joinable())
            return;
        m_thread.request_stop();
        m_wake.notify_all();
        m_thread.join();
    }

    QString name() const override { return testCameraName(); }
    QSize size() const override { return m_size; }
    double frameRate() const override { return ::reelbox::frameRate; }
    qint64 deliveredFrames() const override { return m_delivered.load(); }
    qint64 droppedFrames() const override { return m_dropped.load(); }

private:
    void run(std::stop_token stop, const FrameHandler& onFrame) {
        qint64 k = testCameraFrameAtOrAfter(hostNowNs());
        std::mutex mutex;
        while (!stop.stop_requested()) {
            const qint64 due = testCameraFrameTimeNs(k);
            CameraFrame frame{m_pool.acquire(), due, k};
            TestCameraPattern::renderInto(frame.picture, k, ::reelbox::frameRate);
            {
                // Delivered at, never before, the instant it stands for.
                std::unique_lock lock(mutex);
                const HostClock::time_point deadline{std::chrono::nanoseconds(due)};
                m_wake.wait_until(lock, stop, deadline, [] { return false; });
            }
            if (stop.stop_requested())
                break;
            ++m_delivered;
            if (onFrame)
                onFrame(frame);
            // Like a driver with a ring of buffers, frames wait while the handler is busy;
            // those that fall more than the ring behind are lost.
            const qint64 next =
                std::max(k + 1, testCameraFrameAtOrAfter(hostNowNs()) - queuedFrames);
            m_dropped += next - k - 1;
            k = next;
        }
    }

    QSize m_size;
    PicturePool m_pool;
    std::condition_variable_any m_wake;
    std::atomic<qint64> m_delivered{0};
    std::atomic<qint64> m_dropped{0};
    std::jthread m_thread;
};

} // namespace

qint64 testCameraFrameTimeNs(qint64 frameIndex) {
    // Rounded to the nearest nanosecond; exact on every whole second.
    return (frameIndex * nsPerSecond + frameRate / 2) / frameRate;
}

qint64 testCameraFrameAtOrAfter(qint64 hostTimeNs) {
    qint64 k =
        hostTimeNs / nsPerSecond * frameRate + (hostTimeNs % nsPerSecond) * frameRate / nsPerSecond;
    while (testCameraFrameTimeNs(k) < hostTimeNs)
        ++k;
    while (k > 0 && testCameraFrameTimeNs(k - 1) >= hostTimeNs)
        --k;
    return k;
}

std::unique_ptr<CameraStream> openTestCamera(const CameraFormat& format) {
    const QSize size(format.width, format.height);
    if (size.isEmpty() || size.width() % 2 || size.height() % 2)
        throw CameraError(CameraError::Kind::unsupportedFormat,
                          QStringLiteral("The Test Camera can't make pictures of %1 × %2 pixels.")
                              .arg(size.width())
                              .arg(size.height()));
    return std::make_unique<TestCameraStream>(size);
}

} // namespace reelbox
