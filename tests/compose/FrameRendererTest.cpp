#include "compose/FrameRenderer.h"
#include "compose/TakeComposer.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>

using namespace reelbox;

namespace {

const QRgb red = qRgb(255, 0, 0);
const QRgb green = qRgb(0, 255, 0);
const QRgb blue = qRgb(0, 0, 255);
const QRgb white = qRgb(255, 255, 255);
const QRgb black = qRgb(0, 0, 0);

constexpr std::int32_t mainID = 1;
constexpr std::int32_t overdubID = 2;

QImage solid(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Left half one colour, right half another.
QImage halves(int width, int height, QRgb left, QRgb right) {
    QImage image = solid(width, height, left);
    QPainter(&image).fillRect(width / 2, 0, width - width / 2, height, QColor(right));
    return image;
}

QImage quadrants(int width, int height, QRgb tl, QRgb tr, QRgb bl, QRgb br) {
    QImage image = halves(width, height, tl, tr);
    QPainter(&image).drawImage(0, height / 2, halves(width, height - height / 2, bl, br));
    return image;
}

struct Frames {
    std::map<std::int32_t, QImage> images;

    FrameLookup lookup() const {
        return [this](std::int32_t id) -> const QImage* {
            auto it = images.find(id);
            return it == images.end() ? nullptr : &it->second;
        };
    }
};

// A red main and a blue overdub, 64 × 36.
Frames redAndBlue() {
    return {{{mainID, solid(64, 36, red)}, {overdubID, solid(64, 36, blue)}}};
}

LiveSnapshot::Layer layer(std::int32_t id, RectD tile, RectD crop) {
    return {id, tile, crop, {64, 36}};
}

// Two 64 × 36 sources side by side on a 64 × 36 canvas, each showing its middle.
LiveSnapshot split() {
    return {{64, 36},
            {layer(mainID, {0, 0, 32, 36}, {16, 0, 32, 36}),
             layer(overdubID, {32, 0, 32, 36}, {16, 0, 32, 36})},
            false};
}

// The main on the whole canvas, the overdub small in the bottom-right corner.
LiveSnapshot pip() {
    return {{64, 36},
            {layer(mainID, {0, 0, 64, 36}, {0, 0, 64, 36}),
             layer(overdubID, {44, 24, 16, 9}, {0, 0, 64, 36})},
            false};
}

// Every pixel of `area` has `colour` (alpha ignored); reports the first that does not.
::testing::AssertionResult filled(const QImage& image, QRect area, QRgb colour) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if ((image.pixel(x, y) | 0xff000000u) != (colour | 0xff000000u))
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") is " << std::hex << image.pixel(x, y)
                       << ", not " << colour;
    return ::testing::AssertionSuccess();
}

void expectSameOps(const std::vector<DrawOp>& actual, const std::vector<DrawOp>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        const RectD a = actual[i].destination, e = expected[i].destination;
        const bool near = std::abs(a.x - e.x) < 1e-9 && std::abs(a.y - e.y) < 1e-9 &&
                          std::abs(a.width - e.width) < 1e-9 &&
                          std::abs(a.height - e.height) < 1e-9;
        EXPECT_TRUE(near && actual[i].trackID == expected[i].trackID &&
                    actual[i].crop == expected[i].crop && actual[i].mirror == expected[i].mirror)
            << "op " << i << ": " << actual[i] << " vs " << expected[i];
    }
}

} // namespace

// The export puts its first layer on top, the preview its last; every layout, mirrored or not,
// sources of several sizes cropped to each aspect, slid by their positions.
TEST(DrawOps, ExportMatchesThePreviewAtCanvasSize) {
    using Layout = ExportSettings::VideoLayout;
    TakeInfo info;
    std::vector<TakeComposer::VideoSource> sources{{mainID, Lane::mainVideo(), {64, 36}}};
    for (const auto& [id, size] : {std::pair{overdubID, SizeD{48, 36}}, {3, SizeD{32, 18}}}) {
        Overdub o;
        o.id = QUuid::createUuid();
        info.overdubs.push_back(o);
        sources.push_back({id, Lane::overdubVideo(o.id), size});
    }
    const Frames frames = {{{mainID, halves(64, 36, red, green)},
                            {overdubID, quadrants(48, 36, blue, white, green, red)},
                            {3, halves(32, 18, white, blue)}}};
    for (const Layout style : {Layout::split, Layout::pip, Layout::main})
        for (const bool mirror : {false, true})
            for (const auto aspect :
                 {ExportSettings::Aspect::original, ExportSettings::Aspect::square,
                  ExportSettings::Aspect::portrait}) {
                SCOPED_TRACE(::testing::Message() << "layout " << int(style) << " mirror " << mirror
                                                  << " aspect " << int(aspect));
                ExportSettings settings;
                settings.layout = style;
                settings.mirror = mirror;
                settings.aspect = aspect;
                settings.positions[sources[0].lane.key()] = {1, 0};
                settings.positions[sources[1].lane.key()] = {-0.5, 0.5};
                const auto picture = TakeComposer::picture(sources, info, {64, 36}, settings, 600);
                const SizeD canvas = picture.videoComposition.renderSize;
                const QSize size(int(canvas.width), int(canvas.height));
                const LiveSnapshot snapshot =
                    TakeComposer::liveSnapshot(canvas, picture.placements, mirror);
                ASSERT_EQ(snapshot.layers.size(), style == Layout::main ? 1u : 3u);
                // The same ops (their order differs beyond two layers) and the same picture.
                std::vector<DrawOp> exported = drawOps(picture.videoComposition),
                                    previewed = drawOps(snapshot, size);
                EXPECT_EQ(renderFrame(size, exported, frames.lookup()),
                          renderFrame(size, previewed, frames.lookup()));
                const auto byTrack = [](const DrawOp& a, const DrawOp& b) {
                    return a.trackID < b.trackID;
                };
                std::sort(exported.begin(), exported.end(), byTrack);
                std::sort(previewed.begin(), previewed.end(), byTrack);
                expectSameOps(exported, previewed);
            }
}

// Layouts, black bars, larger outputs, mirroring in each tile, missing frames, snapped edges.
TEST(FrameRenderer, EachRegionShowsItsLayersColour) {
    struct Case {
        std::string what;
        QSize output;
        std::vector<DrawOp> ops;
        Frames frames;
        std::vector<std::pair<QRect, QRgb>> regions;
    };
    const Frames rb = redAndBlue();
    Frames onlyMain = rb, nullOverdub = rb, onlyOverdub = rb;
    onlyMain.images.erase(overdubID);
    nullOverdub.images[overdubID] = QImage(); // a null frame counts as none
    onlyOverdub.images.erase(mainID);
    // The main red | green, the overdub blue | white.
    const Frames halved = {
        {{mainID, halves(64, 36, red, green)}, {overdubID, halves(64, 36, blue, white)}}};
    auto one = [](SizeD canvas, RectD tile, RectD crop) {
        return LiveSnapshot{canvas, {layer(mainID, tile, crop)}, false};
    };
    const LiveSnapshot halfSplit{{32, 18},
                                 {layer(mainID, {0, 0, 16, 18}, {24, 0, 16, 18}),
                                  layer(overdubID, {16, 0, 16, 18}, {24, 0, 16, 18})},
                                 false};
    const QSize size(64, 36);
    // clang-format off
    std::vector<Case> cases{
        {"side by side", size, drawOps(split(), size), rb,
         {{{0, 0, 32, 36}, red}, {{32, 0, 32, 36}, blue}}},
        {"picture in picture", size, drawOps(pip(), size), rb,
         {{{44, 24, 16, 9}, blue}, {{0, 0, 64, 24}, red}, {{0, 24, 44, 12}, red},
          {{60, 24, 4, 12}, red}, {{44, 33, 16, 3}, red}}},
        {"main only", size, drawOps(one({64, 36}, {0, 0, 64, 36}, {0, 0, 64, 36}), size), rb,
         {{{0, 0, 64, 36}, red}}},
        // A portrait canvas 20 × 36 in a 64 × 36 output: scale 1, x 22 … 41.
        {"portrait canvas", size, drawOps(one({20, 36}, {0, 0, 20, 36}, {22, 0, 20, 36}), size),
         rb, {{{0, 0, 22, 36}, black}, {{22, 0, 20, 36}, red}, {{42, 0, 22, 36}, black}}},
        {"landscape canvas", {32, 40},
         drawOps(one({32, 18}, {0, 0, 32, 18}, {0, 0, 64, 36}), {32, 40}), rb,
         {{{0, 0, 32, 11}, black}, {{0, 11, 32, 18}, red}, {{0, 29, 32, 11}, black}}},
        // Canvas 32 × 18 split in two, in an output twice as high and wider still.
        {"larger output", {80, 36}, drawOps(halfSplit, {80, 36}), rb,
         {{{0, 0, 8, 36}, black}, {{8, 0, 32, 36}, red}, {{40, 0, 32, 36}, blue},
          {{72, 0, 8, 36}, black}}},
        {"not mirrored", size, drawOps(split(), size), halved,
         {{{0, 0, 16, 36}, red}, {{16, 0, 16, 36}, green}, {{32, 0, 16, 36}, blue},
          {{48, 0, 16, 36}, white}}},
        {"overdub missing", size, drawOps(pip(), size), onlyMain, {{{0, 0, 64, 36}, red}}},
        {"overdub null", size, drawOps(pip(), size), nullOverdub, {{{0, 0, 64, 36}, red}}},
        {"main missing", size, drawOps(pip(), size), onlyOverdub,
         {{{44, 24, 16, 9}, blue}, {{0, 0, 64, 24}, black}, {{0, 24, 44, 12}, black}}},
        // Edges at 10.4 and 20.6 cover pixels 10 … 20; tiles sharing an edge at 31.5 meet there.
        {"edges snap", size,
         {{mainID, {0, 0, 64, 36}, {10.4, 2.5, 10.2, 4.49}, false},
          {overdubID, {0, 0, 64, 36}, {0, 10, 31.5, 4}, false},
          {mainID, {0, 0, 64, 36}, {31.5, 10, 32.5, 4}, false}}, rb,
         {{{10, 3, 11, 4}, red}, {{9, 2, 13, 1}, black}, {{9, 7, 13, 1}, black},
          {{9, 3, 1, 4}, black}, {{21, 3, 1, 4}, black}, {{0, 10, 32, 4}, blue},
          {{32, 10, 32, 4}, red}}}};
    // Mirrored, each layer flips within its own tile, at any output size.
    LiveSnapshot mirrored = split();
    mirrored.mirror = true;
    for (QSize out : {QSize(64, 36), QSize(128, 72), QSize(48, 27)}) {
        const int q = out.width() / 4, h = out.height();
        cases.push_back({"mirrored " + std::to_string(out.width()), out, drawOps(mirrored, out),
                         halved, {{{0, 0, q - 1, h}, green}, {{q + 1, 0, q - 1, h}, red},
                                  {{2 * q, 0, q - 1, h}, white}, {{3 * q + 1, 0, q - 1, h}, blue}}});
    }
    // clang-format on
    for (const Case& c : cases) {
        const QImage image = renderFrame(c.output, c.ops, c.frames.lookup());
        for (const auto& [area, colour] : c.regions)
            EXPECT_TRUE(filled(image, area, colour)) << c.what;
    }
}

TEST(FrameRenderer, NothingToDrawIsBlack) {
    const Frames frames = redAndBlue();
    const std::vector<std::vector<DrawOp>> nothing{
        {},
        {{mainID, {0, 0, 64, 36}, {64, 0, 10, 10}, false}}, // entirely outside the output
        drawOps(LiveSnapshot{{0, 36}, pip().layers, false}, {64, 36})}; // an empty canvas
    for (const auto& ops : nothing) {
        QImage image = solid(64, 36, white);
        renderFrame(image, ops, frames.lookup());
        EXPECT_TRUE(filled(image, {0, 0, 64, 36}, black)) << ops.size();
    }

    // Another output format is turned into a 32-bit one.
    QImage other(64, 36, QImage::Format_RGB888);
    other.fill(white);
    renderFrame(other, drawOps(split(), {64, 36}), frames.lookup());
    EXPECT_TRUE(filled(other, {0, 0, 32, 36}, red));
}

TEST(FrameRenderer, LayersAreOpaqueWhateverTheirAlpha) {
    QImage clear(64, 36, QImage::Format_ARGB32);
    clear.fill(qRgba(255, 0, 0, 0)); // red with alpha 0, not premultiplied
    const Frames frames = {{{mainID, clear}}};
    QImage output(64, 36, QImage::Format_ARGB32);
    output.fill(Qt::transparent);
    // One layer copied 1:1, one scaled.
    renderFrame(output,
                {{mainID, {0, 0, 32, 36}, {0, 0, 32, 36}, false},
                 {mainID, {0, 0, 64, 36}, {32, 0, 32, 36}, false}},
                frames.lookup());
    for (int y = 0; y < 36; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(output.pixel(x, y), qRgba(255, 0, 0, 255)) << x << ", " << y;
}

TEST(FrameRenderer, TheCropSelectsThePartOfTheSource) {
    const Frames frames = {{{mainID, quadrants(64, 36, red, green, blue, white)}}};
    auto show = [&](RectD crop, QSize output) {
        return renderFrame(
            output,
            {{mainID, crop, {0, 0, double(output.width()), double(output.height())}, false}},
            frames.lookup());
    };
    EXPECT_TRUE(filled(show({32, 18, 32, 18}, {32, 18}), {0, 0, 32, 18}, white));
    // Scaled up or down, nothing from outside the crop bleeds in, even at its edges.
    EXPECT_TRUE(filled(show({32, 0, 32, 18}, {96, 54}), {0, 0, 96, 54}, green));
    EXPECT_TRUE(filled(show({0, 0, 32, 18}, {7, 5}), {0, 0, 7, 5}, red));
    EXPECT_TRUE(filled(show({0, 0, 32, 18}, {20, 11}), {0, 0, 20, 11}, red));

    // A crop hanging off the source repeats the edge instead of reading past it.
    const Frames odd = {{{mainID, solid(19, 22, qRgb(18, 22, 128))}}};
    const QImage edge = renderFrame(
        QSize(64, 36), {{mainID, {18.5, 10.25, 32, 22}, {0, 0, 64, 36}, false}}, odd.lookup());
    EXPECT_TRUE(filled(edge, {0, 0, 64, 36}, qRgb(18, 22, 128)));

    // The source's own format does not matter.
    Frames other = {{{mainID, frames.images.at(mainID).convertToFormat(QImage::Format_RGB888)}}};
    EXPECT_TRUE(
        filled(renderFrame(QSize(32, 18), {{mainID, {32, 18, 32, 18}, {0, 0, 32, 18}, false}},
                           other.lookup()),
               {0, 0, 32, 18}, white));
}

TEST(FrameRenderer, EnlargingIsBilinear) {
    // Red rises 5 a pixel across, green 6 a pixel down; enlarged 2× both stay straight lines,
    // within 1 (the nearest source pixel would be 1.25 off).
    QImage ramp(48, 27, QImage::Format_RGB32);
    for (int y = 0; y < 27; ++y)
        for (int x = 0; x < 48; ++x)
            ramp.setPixel(x, y, qRgb(10 + 5 * x, 20 + 6 * y, 77));
    const Frames frames = {{{mainID, ramp}}};
    for (bool mirror : {false, true}) {
        const QImage image = renderFrame(
            QSize(96, 54), {{mainID, {0, 0, 48, 27}, {0, 0, 96, 54}, mirror}}, frames.lookup());
        // Output pixel i samples source position i / 2 - 0.25, held at the edge pixels.
        auto exact = [](int i, int last, double base, double step) {
            return base + step * std::clamp(i / 2.0 - 0.25, 0.0, double(last));
        };
        for (int y = 0; y < 54; ++y)
            for (int x = 0; x < 96; ++x) {
                const QRgb p = image.pixel(x, y);
                const int sx = mirror ? 95 - x : x;
                ASSERT_LE(std::abs(qRed(p) - exact(sx, 47, 10, 5)), 1) << x << ", " << y;
                ASSERT_LE(std::abs(qGreen(p) - exact(y, 26, 20, 6)), 1) << x << ", " << y;
                ASSERT_EQ(qBlue(p), 77);
            }
    }
}

TEST(FrameRenderer, ShrinkingAveragesInsteadOfPicking) {
    // Columns white, black, black repeating: shrunk 3× every pixel is their mean, 85; picking
    // pixels would give 0 or 255.
    QImage stripes(96, 54, QImage::Format_RGB32);
    for (int x = 0; x < 96; ++x)
        for (int y = 0; y < 54; ++y)
            stripes.setPixel(x, y, x % 3 == 0 ? white : black);
    // And a fine checkerboard, shrunk 4× both ways, is flat grey.
    QImage checks(96, 56, QImage::Format_RGB32);
    for (int x = 0; x < 96; ++x)
        for (int y = 0; y < 56; ++y)
            checks.setPixel(x, y, (x + y) % 2 ? white : black);
    const Frames frames = {{{mainID, stripes}, {overdubID, checks}}};

    const QImage thirds = renderFrame(
        QSize(32, 18), {{mainID, {0, 0, 96, 54}, {0, 0, 32, 18}, false}}, frames.lookup());
    const QImage grey = renderFrame(
        QSize(24, 14), {{overdubID, {0, 0, 96, 56}, {0, 0, 24, 14}, false}}, frames.lookup());
    for (int y = 0; y < 18; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_NEAR(qGreen(thirds.pixel(x, y)), 85, 1) << x << ", " << y;
    for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 24; ++x)
            ASSERT_NEAR(qGreen(grey.pixel(x, y)), 128, 1) << x << ", " << y;
}
