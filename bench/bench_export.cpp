// The export alone: a take's composition (all overdub videos) over a mix made beforehand,
// written by TakeExporter as the editor does, without the stems and the mix.
//
//   bench-export TAKE_DIR MIX.caf OUT [--format h264|hevc|audio] [--stages]
//
// Prints the wall time of the export. With --stages it first times the stages on their
// own, one after the other on this thread: decoding every frame the export draws as it was
// decoded (4:2:0) and converted to BGRA (only the parts drawn), and decoding and drawing with
// the renderer, so a slow export can be traced to its stage. bench/compare-export.sh runs it.

#include "compose/CompositionFrameSource.h"
#include "compose/FrameRenderer.h"
#include "compose/TakeComposer.h"
#include "compose/TakeExporter.h"
#include "model/TakeLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

using namespace reelbox;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void timeStages(const TakeComposer::Result& result) {
    const VideoComposition& video = *result.videoComposition;
    const Ticks duration = result.composition.duration();
    const qint64 frames = (duration + video.frameDuration - 1) / video.frameDuration;
    const std::vector<DrawOp> ops = drawOps(video);
    const QSize size(int(result.renderSize.width) / 2 * 2, int(result.renderSize.height) / 2 * 2);

    {
        CompositionFrameSource source(result.composition);
        source.limitTo(drawnRegions(ops));
        const auto start = Clock::now();
        qint64 unconverted = 0;
        for (qint64 i = 0; i < frames; ++i)
            unconverted += source.yuvFramesAt(i * video.frameDuration).has_value();
        const double seconds = since(start);
        std::printf("decode 4:2:0:  %.3f s (%.2f ms a frame; %lld of %lld frames as decoded)\n",
                    seconds, 1e3 * seconds / frames, static_cast<long long>(unconverted),
                    static_cast<long long>(frames));
    }
    {
        CompositionFrameSource source(result.composition);
        source.limitTo(drawnRegions(ops));
        const auto start = Clock::now();
        for (qint64 i = 0; i < frames; ++i)
            source.framesAt(i * video.frameDuration);
        const double seconds = since(start);
        std::printf("decode BGRA:   %.3f s (%.2f ms a frame)\n", seconds, 1e3 * seconds / frames);
    }
    {
        CompositionFrameSource source(result.composition);
        source.limitTo(drawnRegions(ops));
        QImage output(size, QImage::Format_RGB32);
        const auto start = Clock::now();
        for (qint64 i = 0; i < frames; ++i) {
            const auto decoded = source.framesAt(i * video.frameDuration);
            renderFrame(output, ops, [&](std::int32_t id) -> const QImage* {
                auto it = decoded.find(id);
                return it == decoded.end() ? nullptr : &it->second;
            });
        }
        const double seconds = since(start);
        std::printf("decode+render: %.3f s (%.2f ms a frame)\n", seconds, 1e3 * seconds / frames);
    }
    std::fflush(stdout);
}

int usage() {
    std::fprintf(
        stderr, "usage: bench-export TAKE_DIR MIX.caf OUT [--format h264|hevc|audio] [--stages]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 4)
        return usage();
    ExportSettings::Format format = ExportSettings::Format::h264;
    bool stages = false;
    for (int i = 4; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--stages")) {
            stages = true;
        } else if (!std::strcmp(argv[i], "--format") && i + 1 < argc) {
            const QString name = QString::fromLocal8Bit(argv[++i]);
            if (name == u"h264")
                format = ExportSettings::Format::h264;
            else if (name == u"hevc")
                format = ExportSettings::Format::hevc;
            else if (name == u"audio")
                format = ExportSettings::Format::audio;
            else
                return usage();
        } else {
            return usage();
        }
    }
    try {
        const auto take =
            TakeLibrary::readTake(QDir(QString::fromLocal8Bit(argv[1])).absolutePath());
        if (!take) {
            std::fprintf(stderr, "%s is not a readable take\n", argv[1]);
            return 1;
        }
        const SpanList spans = take->info.edit.keptSpans(take->info.timelineDuration());
        ExportSettings settings = take->info.exportSettings;
        settings.format = format;
        const QString mix = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
        const TakeComposer::Result result = TakeComposer::build(*take, spans, mix, settings, true);
        if (stages && result.videoComposition)
            timeStages(result);

        const auto start = Clock::now();
        TakeExporter::exportTake(result, format, QString::fromLocal8Bit(argv[3]));
        std::printf("export:        %.3f s\n", since(start));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench-export: %s\n", error.what());
        return 1;
    }
    return 0;
}
