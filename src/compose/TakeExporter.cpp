#include "compose/TakeExporter.h"

#include "compose/CompositionFrameSource.h"
#include "compose/CompositionSound.h"
#include "compose/FrameQueue.h"
#include "compose/FrameRenderer.h"
#include "platform/Cancellation.h"
#include "platform/CaptureError.h"
#include "platform/MediaTime.h"
#include "platform/media/Mp4Writer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRectF>
#include <QUuid>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace reelbox::TakeExporter {

namespace {

constexpr qint64 audioChunk = 4096;
constexpr int queuedFrames = 4;
constexpr auto progressInterval = std::chrono::milliseconds(100);

// The share of the progress bar the encoding takes; draining the encoders and moving the
// index to the front take the rest.
constexpr double encodingShare = 0.9;

// Hands the latest fraction to the callback every 0.1 s from a thread of its own, so the
// reports keep coming while one step of the work takes long. No call comes after destruction.
class Progress {
public:
    explicit Progress(const std::function<void(double)>& callback) : m_callback(callback) {
        if (m_callback)
            m_ticker = std::jthread([this](std::stop_token stop) { tick(stop); });
    }

    // Fractions only grow; below 1, as 1.0 means done.
    void report(double fraction) {
        const double f = std::clamp(fraction, 0.0, 0.999);
        double seen = m_fraction.load();
        while (f > seen && !m_fraction.compare_exchange_weak(seen, f)) {
        }
    }

private:
    void tick(const std::stop_token& stop) {
        std::unique_lock lock(m_mutex);
        while (!m_wake.wait_for(lock, stop, progressInterval, [] { return false; })) {
            if (stop.stop_requested())
                return;
            if (const double f = m_fraction.load(); f >= 0)
                m_callback(f);
        }
    }

    const std::function<void(double)>& m_callback;
    std::atomic<double> m_fraction{-1};
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::jthread m_ticker; // last: stopped and joined first
};

// Removes the temporary file on every way out but success.
struct TemporaryFile {
    QString path;
    bool kept = false;
    ~TemporaryFile() {
        if (!kept && !path.isEmpty())
            QFile::remove(path);
    }
};

Error destinationError(const QString& destination, const QString& reason) {
    return Error(QStringLiteral("Can't save “%1”: %2").arg(destination, reason));
}

// A new, empty file beside the destination under a name of its own, after checking that the
// destination can be written at all. Throws Error naming the destination.
QString reserveTemporary(const QString& destination) {
    const QFileInfo info(destination);
    if (destination.isEmpty() || info.fileName().isEmpty())
        throw destinationError(destination, QStringLiteral("it has no file name."));
    if (info.isDir())
        throw destinationError(destination, QStringLiteral("it is a folder."));
    const QFileInfo folder(info.absolutePath());
    if (!folder.exists())
        throw destinationError(
            destination, QStringLiteral("the folder “%1” doesn't exist.").arg(folder.filePath()));
    if (!folder.isDir())
        throw destinationError(destination,
                               QStringLiteral("“%1” is not a folder.").arg(folder.filePath()));
    const QString unique = QUuid::createUuid().toString(QUuid::Id128).left(12);
    QFile file(info.absoluteFilePath() + u'.' + unique + QStringLiteral(".partial"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw destinationError(destination, file.errorString() + u'.');
    return file.fileName();
}

int evenDown(double x) {
    return std::max(2, int(x) / 2 * 2);
}

void writeAudioUpTo(Mp4Writer& writer, CompositionSound& audio, qint64& written, qint64 until,
                    std::vector<float>& buffer) {
    while (written < until) {
        const qint64 n = std::min(audioChunk, until - written);
        audio.read(buffer.data(), written, n);
        writer.writeAudio(buffer.data(), n);
        written += n;
    }
}

// A frame on its way to the encoder: a 4:2:0 picture put together straight from the decoded
// ones when the layout allows it, otherwise the renderer's image.
struct DrawnFrame {
    QImage image;
    YuvPicture yuv;
    bool isYuv = false;
};

// One layer as a plain copy between 4:2:0 pictures.
struct YuvCopy {
    std::int32_t trackID = 0;
    QRect crop;
    QPoint at;
    bool mirror = false;
};

bool isEvenWhole(double v) {
    return std::isfinite(v) && v == std::floor(v) && std::fmod(v, 2.0) == 0.0;
}

// The picture's layers as copies, when every one is drawn 1:1 on whole, even pixels (side by
// side and single layouts of same-sized sources are), so the renderer's picture is exactly
// the decoded pixels moved about. None when a layer is scaled or off that grid.
std::optional<std::vector<YuvCopy>> yuvCopies(const std::vector<DrawOp>& ops) {
    std::vector<YuvCopy> copies;
    for (const DrawOp& op : ops) {
        const RectD& c = op.crop;
        const RectD& d = op.destination;
        if (!isEvenWhole(c.x) || !isEvenWhole(c.y) || !isEvenWhole(c.width) ||
            !isEvenWhole(c.height) || c.width <= 0 || c.height <= 0 || !std::isfinite(d.x) ||
            !std::isfinite(d.y) || !std::isfinite(d.width) || !std::isfinite(d.height))
            return std::nullopt;
        // The renderer's edges: e goes to the pixel boundary floor(e + 0.5).
        const double x0 = std::floor(d.x + 0.5), x1 = std::floor(d.maxX() + 0.5);
        const double y0 = std::floor(d.y + 0.5), y1 = std::floor(d.maxY() + 0.5);
        if (x1 - x0 != c.width || y1 - y0 != c.height || !isEvenWhole(x0) || !isEvenWhole(y0) ||
            std::abs(x0) > 1e6 || std::abs(y0) > 1e6)
            return std::nullopt;
        copies.push_back({op.trackID, QRect(int(c.x), int(c.y), int(c.width), int(c.height)),
                          QPoint(int(x0), int(y0)), op.mirror});
    }
    return copies;
}

// Puts the picture together from the decoded 4:2:0 frames; false when one of them can't be
// copied as it is (another colour matrix, or the crop reaching outside it).
bool composeYuv(YuvPicture& output, const std::vector<YuvCopy>& copies,
                const std::map<std::int32_t, YuvPicture>& frames) {
    for (const auto& [id, frame] : frames) {
        if (frame.matrix() != output.matrix())
            return false;
    }
    for (const YuvCopy& copy : copies) {
        const auto it = frames.find(copy.trackID);
        if (it != frames.end() && !QRect(QPoint(0, 0), it->second.size()).contains(copy.crop))
            return false;
    }
    output.fillBlack();
    for (const YuvCopy& copy : copies) {
        const auto it = frames.find(copy.trackID);
        if (it != frames.end()) // a layer without a frame is left out, as the renderer does
            output.copyFrom(it->second, copy.crop, copy.at, copy.mirror);
    }
    return true;
}

using Report = std::function<void(double)>;

void exportWithVideo(Mp4Writer& writer, const TakeComposer::Result& result, QSize size,
                     CompositionSound* audio, const Report& progress,
                     const std::stop_token& token) {
    const Ticks duration = result.composition.duration();
    const VideoComposition& video = *result.videoComposition;
    const qint64 frameCount = (duration + video.frameDuration - 1) / video.frameDuration;
    const qint64 audioFrames = ticksToFrames(duration);
    const std::vector<DrawOp> ops = drawOps(video);
    const std::optional<std::vector<YuvCopy>> copies = yuvCopies(ops);
    const YuvPicture::Matrix matrix = writer.colourMatrix();

    FrameQueue<DrawnFrame> queue(queuedFrames);
    std::exception_ptr failure;
    // Decoding and drawing on one thread, encoding on this one (the encoders thread too).
    std::jthread drawing([&](std::stop_token stop) {
        try {
            CompositionFrameSource frames(result.composition);
            frames.limitTo(drawnRegions(ops));
            for (qint64 i = 0; i < frameCount && !stop.stop_requested(); ++i) {
                auto frame = queue.takeFree(stop);
                if (!frame)
                    break;
                const Ticks time = i * video.frameDuration;
                frame->isYuv = false;
                if (copies) {
                    if (const auto decoded = frames.yuvFramesAt(time)) {
                        if (frame->yuv.isNull())
                            frame->yuv = YuvPicture(size, matrix);
                        frame->isYuv = composeYuv(frame->yuv, *copies, *decoded);
                    }
                }
                if (!frame->isYuv) {
                    if (frame->image.isNull())
                        frame->image = QImage(size, QImage::Format_RGB32);
                    const auto decoded = frames.framesAt(time);
                    renderFrame(frame->image, ops, [&](std::int32_t id) -> const QImage* {
                        auto it = decoded.find(id);
                        return it == decoded.end() ? nullptr : &it->second;
                    });
                }
                queue.push(std::move(*frame));
            }
        } catch (...) {
            failure = std::current_exception();
        }
        queue.finish();
    });
    std::stop_callback cancelDrawing(token, [&] { drawing.request_stop(); });

    std::vector<float> buffer(size_t(audioChunk * 2));
    qint64 audioWritten = 0;
    try {
        for (qint64 i = 0; i < frameCount; ++i) {
            throwIfCancelled(token);
            auto frame = queue.pop();
            if (!frame)
                break;
            if (audio)
                writeAudioUpTo(writer, *audio, audioWritten,
                               std::min(audioFrames, ticksToFrames((i + 1) * video.frameDuration)),
                               buffer);
            if (frame->isYuv)
                writer.writeVideoFrame(frame->yuv, i);
            else
                writer.writeVideoFrame(frame->image, i);
            queue.giveBack(std::move(*frame));
            progress(double((i + 1) * video.frameDuration) / double(duration));
        }
    } catch (...) {
        queue.close();
        drawing.request_stop();
        throw;
    }
    drawing.join();
    if (failure)
        std::rethrow_exception(failure);
    throwIfCancelled(token);
    if (audio)
        writeAudioUpTo(writer, *audio, audioWritten, audioFrames, buffer);
}

void exportAudioOnly(Mp4Writer& writer, const TakeComposer::Result& result, CompositionSound& audio,
                     const Report& progress, const std::stop_token& token) {
    const qint64 total = ticksToFrames(result.composition.duration());
    std::vector<float> buffer(size_t(audioChunk * 2));
    for (qint64 written = 0; written < total;) {
        throwIfCancelled(token);
        writeAudioUpTo(writer, audio, written, std::min(total, written + audioChunk * 16), buffer);
        progress(double(written) / double(total));
    }
}

} // namespace

void checkDestination(const QString& destination) {
    QFile::remove(reserveTemporary(destination));
}

void exportTake(const TakeComposer::Result& result, ExportSettings::Format format,
                const QString& destination, const std::function<void(double)>& progress,
                const std::stop_token& token) {
    CompositionSound audio(result.composition);
    const bool hasAudio = !audio.isEmpty();
    const bool audioOnly = format == ExportSettings::Format::audio;
    const bool withVideo =
        !audioOnly && result.videoComposition.has_value() && result.composition.duration() > 0;
    if (!withVideo && !hasAudio)
        throw Error(QStringLiteral("There is nothing to export."));

    Mp4WriterSettings settings;
    settings.video = !withVideo                               ? Mp4WriterSettings::Video::none
                     : format == ExportSettings::Format::hevc ? Mp4WriterSettings::Video::hevc
                                                              : Mp4WriterSettings::Video::h264;
    const QSize size(evenDown(result.renderSize.width), evenDown(result.renderSize.height));
    settings.videoSize = size;
    settings.bt709 = true; // as Reelbox records, so its pictures pass through unconverted
    settings.audio = hasAudio;
    settings.m4a = audioOnly;

    // An existing file at the destination stays until the finished one replaces it.
    TemporaryFile temporary{reserveTemporary(destination)};
    try {
        Progress reporter(progress);
        std::unique_ptr<Mp4Writer> writer;
        try {
            writer = std::make_unique<Mp4Writer>(temporary.path, settings);
        } catch (const EncoderUnavailable&) {
            throw CaptureError::writerFailed(QStringLiteral("export isn't available"));
        }
        const auto encoding = [&](double f) { reporter.report(encodingShare * f); };
        if (withVideo)
            exportWithVideo(*writer, result, size, hasAudio ? &audio : nullptr, encoding, token);
        else
            exportAudioOnly(*writer, result, audio, encoding, token);
        throwIfCancelled(token);
        writer->finish([&](double f) { reporter.report(encodingShare + (1 - encodingShare) * f); },
                       token);
    } catch (const CaptureError&) {
        throw;
    } catch (const Error& e) {
        // Name the file the user asked for, not the temporary one.
        const QString temporaryName = QFileInfo(temporary.path).fileName();
        if (!e.message().contains(temporaryName))
            throw;
        throw Error(e.message().replace(temporaryName, destination));
    }
    throwIfCancelled(token);
    // Replaces the destination in one step; it is never missing on the way.
    std::error_code failed;
    std::filesystem::rename(QFile::encodeName(temporary.path).toStdString(),
                            QFile::encodeName(destination).toStdString(), failed);
    if (failed)
        throw destinationError(destination, QString::fromStdString(failed.message()) + u'.');
    temporary.kept = true;
    if (progress)
        progress(1.0);
}

QString suggestedFileName(const TakeInfo& info) {
    QString name = info.name;
    name.replace(u'/', u'-').replace(u':', u'.');
    return name + (info.exportSettings.format == ExportSettings::Format::audio
                       ? QStringLiteral(".m4a")
                       : QStringLiteral(".mp4"));
}

} // namespace reelbox::TakeExporter
