// The frame renderer on 1080p: one 1920 × 1080 output from two 1920 × 1080 layers, against
// QPainter's smooth transform drawing the same picture.
#include "compose/FrameRenderer.h"

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <map>

using namespace reelbox;

namespace {

// A busy picture so nothing is flat: a diagonal colour ramp with a fine grid.
QImage source(int width, int height, int seed) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = (x % 16 == 0 || y % 16 == 0)
                         ? qRgb(255, 255, 255)
                         : qRgb((x + seed) & 255, (y * 2 + seed) & 255, (x + y) & 255);
    }
    return image;
}

struct Case {
    QSize output;
    std::vector<DrawOp> ops;
    std::map<std::int32_t, QImage> frames;
};

// Each 960 × 1080 middle of a 1080p source, 1:1, side by side.
Case sideBySide(bool mirror) {
    return {{1920, 1080},
            {{1, {480, 0, 960, 1080}, {0, 0, 960, 1080}, mirror},
             {2, {480, 0, 960, 1080}, {960, 0, 960, 1080}, mirror}},
            {{1, source(1920, 1080, 0)}, {2, source(1920, 1080, 77)}}};
}

// The main 1:1 on the whole output and the overdub shrunk into a corner tile.
Case pictureInPicture(RectD tile) {
    return {
        {1920, 1080},
        {{1, {0, 0, 1920, 1080}, {0, 0, 1920, 1080}, false}, {2, {0, 0, 1920, 1080}, tile, false}},
        {{1, source(1920, 1080, 0)}, {2, source(1920, 1080, 77)}}};
}

// 720p sources enlarged to 1080p, side by side: the bilinear path on every pixel.
Case enlarged() {
    return {{1920, 1080},
            {{1, {320, 0, 640, 720}, {0, 0, 960, 1080}, false},
             {2, {320, 0, 640, 720}, {960, 0, 960, 1080}, false}},
            {{1, source(1280, 720, 0)}, {2, source(1280, 720, 77)}}};
}

// The preview of a portrait canvas (606 × 1080) split in two, in a 1280 × 720 player.
Case portraitPreview() {
    const LiveSnapshot snapshot{{606, 1080},
                                {{1, {0, 0, 606, 540}, {657, 0, 606, 1080}, {1920, 1080}},
                                 {2, {0, 540, 606, 540}, {657, 0, 606, 1080}, {1920, 1080}}},
                                false};
    return {{1280, 720},
            drawOps(snapshot, {1280, 720}),
            {{1, source(1920, 1080, 0)}, {2, source(1920, 1080, 77)}}};
}

void runRenderer(benchmark::State& state, const Case& c) {
    QImage output(c.output, QImage::Format_RGB32);
    const FrameLookup lookup = [&](std::int32_t id) { return &c.frames.at(id); };
    for (auto _ : state) {
        renderFrame(output, c.ops, lookup);
        benchmark::DoNotOptimize(output.constBits());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void runPainter(benchmark::State& state, const Case& c) {
    QImage output(c.output, QImage::Format_RGB32);
    for (auto _ : state) {
        output.fill(Qt::black);
        QPainter painter(&output);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        for (const DrawOp& op : c.ops) {
            const RectD& d = op.destination;
            const RectD& s = op.crop;
            painter.save();
            if (op.mirror) {
                painter.translate(d.x + d.width, 0);
                painter.scale(-1, 1);
                painter.translate(-d.x, 0);
            }
            painter.drawImage(QRectF(d.x, d.y, d.width, d.height), c.frames.at(op.trackID),
                              QRectF(s.x, s.y, s.width, s.height));
            painter.restore();
        }
        painter.end();
        benchmark::DoNotOptimize(output.constBits());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void registerCase(const char* name, Case c) {
    auto shared = std::make_shared<Case>(std::move(c));
    benchmark::RegisterBenchmark((std::string("Renderer/") + name).c_str(),
                                 [shared](benchmark::State& s) { runRenderer(s, *shared); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("QPainter/") + name).c_str(),
                                 [shared](benchmark::State& s) { runPainter(s, *shared); })
        ->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv) {
    registerCase("SideBySide", sideBySide(false));
    registerCase("SideBySideMirrored", sideBySide(true));
    // The pip layout's 576 × 324 tile (3.33×) and an exact 4× shrink.
    registerCase("PictureInPicture", pictureInPicture({1302, 714, 576, 324}));
    registerCase("PictureInPicture4x", pictureInPicture({1398, 768, 480, 270}));
    registerCase("Enlarged720p", enlarged());
    registerCase("PortraitPreview720p", portraitPreview());

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
