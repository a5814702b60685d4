#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QThreadPool>
#include <QTimer>
#include <memory>

namespace reelbox {

class CaptureEngine;
class PictureConverter;

// The live camera picture for a view: the engine's newest frame converted to RGB and scaled
// (aspect kept) into the device-pixel size the view asks for, on a worker. One frame is in
// work at a time and only the newest is taken, so a slow view drops frames instead of
// queueing them; nothing is converted while no view asks (an empty size).
// Main thread; frameReady arrives on the main thread.
class CameraPreview : public QObject {
    Q_OBJECT
public:
    explicit CameraPreview(CaptureEngine& engine, QObject* parent = nullptr);
    ~CameraPreview() override;

    // The size a view paints at, in device pixels; empty: no view.
    void setTargetSize(QSize size);
    QSize targetSize() const { return m_target; }

    // The largest even size with the frame's aspect that fits into `target`.
    static QSize fittedSize(QSize frame, QSize target);

signals:
    void frameReady(const QImage& image);

private:
    void poll();

    CaptureEngine& m_engine;
    QSize m_target;
    QTimer m_poll;
    QThreadPool m_pool;
    std::shared_ptr<PictureConverter> m_converter; // used by one job at a time
    qint64 m_lastFrameNs = -1;
    bool m_busy = false;
};

} // namespace reelbox
