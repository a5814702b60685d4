#include "capture/CameraPreview.h"

#include "capture/CaptureEngine.h"
#include "platform/Background.h"
#include "platform/Error.h"
#include "platform/media/PictureConverter.h"

namespace reelbox {

namespace {
constexpr int pollIntervalMs = 8; // a 120 Hz look for a new camera frame
}

CameraPreview::CameraPreview(CaptureEngine& engine, QObject* parent)
    : QObject(parent), m_engine(engine), m_converter(std::make_shared<PictureConverter>()) {
    m_pool.setMaxThreadCount(1);
    m_poll.setInterval(pollIntervalMs);
    connect(&m_poll, &QTimer::timeout, this, &CameraPreview::poll);
}

CameraPreview::~CameraPreview() {
    m_poll.stop();
    m_pool.waitForDone();
}

void CameraPreview::setTargetSize(QSize size) {
    if (size == m_target)
        return;
    m_target = size;
    m_lastFrameNs = -1; // the same frame again at the new size
    if (size.isEmpty())
        m_poll.stop();
    else if (!m_poll.isActive())
        m_poll.start();
}

QSize CameraPreview::fittedSize(QSize frame, QSize target) {
    if (frame.isEmpty() || target.isEmpty())
        return {};
    const qint64 fw = frame.width(), fh = frame.height(), tw = target.width(), th = target.height();
    const bool widthBound = fw * th >= tw * fh;
    const int w = int(widthBound ? tw : fw * th / fh) & ~1;
    const int h = int(widthBound ? fh * tw / fw : th) & ~1;
    return w >= 2 && h >= 2 ? QSize(w, h) : QSize();
}

void CameraPreview::poll() {
    if (m_busy || m_target.isEmpty())
        return;
    const CameraFrame frame = m_engine.latestFrame();
    if (frame.picture.isNull() || frame.hostTimeNs == m_lastFrameNs)
        return;
    const QSize size = fittedSize(frame.picture.size(), m_target);
    if (size.isEmpty())
        return;
    m_lastFrameNs = frame.hostTimeNs;
    m_busy = true;
    runInBackground(
        &m_pool, this,
        [converter = m_converter, picture = frame.picture, size] {
            QImage image(size, QImage::Format_RGB32);
            try {
                converter->convert(picture, image);
            } catch (const Error&) {
                return QImage();
            }
            return image;
        },
        [this](QImage image) {
            m_busy = false;
            if (!image.isNull() && !m_target.isEmpty())
                emit frameReady(image);
        });
}

} // namespace reelbox
