#include "compose/FrameRenderer.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPainter>
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
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height / 2, QColor(tl));
    painter.fillRect(width / 2, 0, width / 2, height / 2, QColor(tr));
    painter.fillRect(0, height / 2, width / 2, height / 2, QColor(bl));
    painter.fillRect(width / 2, height / 2, width / 2, height / 2, QColor(br));
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

QImage render(const LiveSnapshot& snapshot, QSize output, const Frames& frames) {
    return renderFrame(output, drawOps(snapshot, output), frames.lookup());
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

// The export's transform for a crop shown in a tile.
Affine exportTransform(RectD tile, RectD crop, bool mirror) {
    Affine t = Affine::translation(-crop.x, -crop.y);
    if (mirror)
        t = t.then({-1, 0, 0, 1, crop.width, 0});
    return t.then(Affine::scaling(tile.width / crop.width, tile.height / crop.height))
        .then(Affine::translation(tile.x, tile.y));
}

// The video composition of the same placements: drawn sources 1 … n-1, then source 0.
VideoComposition exportOf(const LiveSnapshot& snapshot) {
    VideoComposition composition;
    composition.renderSize = snapshot.canvas;
    auto instruction = [&](const LiveSnapshot::Layer& l) {
        return LayerInstruction{l.trackID, l.crop,
                                exportTransform(l.tile, l.crop, snapshot.mirror)};
    };
    for (std::size_t i = 1; i < snapshot.layers.size(); ++i)
        composition.layers.push_back(instruction(snapshot.layers[i]));
    if (!snapshot.layers.empty())
        composition.layers.push_back(instruction(snapshot.layers.front()));
    return composition;
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

TEST(DrawOps, PreviewFitsTheCanvasCentredWithItsAspect) {
    LiveSnapshot snapshot = pip();
    snapshot.mirror = true;
    // 64 × 36 into 160 × 54: scale 1.5, 96 × 54 centred at x 32.
    const auto ops = drawOps(snapshot, {160, 54});
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_EQ(ops[0], (DrawOp{mainID, {0, 0, 64, 36}, {32, 0, 96, 54}, true}));
    EXPECT_EQ(ops[1], (DrawOp{overdubID, {0, 0, 64, 36}, {32 + 66, 36, 24, 13.5}, true}));

    EXPECT_TRUE(drawOps(LiveSnapshot{{0, 36}, pip().layers, false}, {64, 36}).empty());
    EXPECT_TRUE(drawOps(LiveSnapshot{{64, 36}, {}, false}, {64, 36}).empty());
}

TEST(DrawOps, ExportMatchesThePreviewAtCanvasSize) {
    for (bool mirror : {false, true}) {
        SCOPED_TRACE(mirror ? "mirrored" : "not mirrored");
        for (LiveSnapshot snapshot : {split(), pip()}) {
            snapshot.mirror = mirror;
            const QSize canvas(64, 36);
            const VideoComposition composition = exportOf(snapshot);
            expectSameOps(drawOps(composition), drawOps(snapshot, canvas));

            const Frames frames = {{{mainID, halves(64, 36, red, green)},
                                    {overdubID, quadrants(64, 36, blue, white, green, red)}}};
            EXPECT_EQ(renderFrame(canvas, drawOps(composition), frames.lookup()),
                      render(snapshot, canvas, frames));
        }
    }

    // With more layers the two orders differ, but tiles that do not overlap give one picture.
    const LiveSnapshot three{{96, 54},
                             {layer(mainID, {0, 0, 32, 54}, {10, 0, 32, 54}),
                              layer(overdubID, {32, 0, 32, 54}, {20, 0, 32, 54}),
                              layer(3, {64, 0, 32, 54}, {30, 0, 32, 54})},
                             true};
    Frames frames = {{{mainID, halves(64, 54, red, green)},
                      {overdubID, quadrants(64, 54, blue, white, green, red)},
                      {3, halves(64, 54, white, blue)}}};
    EXPECT_EQ(renderFrame(QSize(96, 54), drawOps(exportOf(three)), frames.lookup()),
              render(three, {96, 54}, frames));
}

TEST(DrawOps, ExportPutsItsFirstLayerOnTop) {
    // Two small tiles overlapping: the export's first instruction (drawn source 1) wins.
    LiveSnapshot snapshot{{64, 36},
                          {layer(mainID, {0, 0, 64, 36}, {0, 0, 64, 36}),
                           layer(overdubID, {20, 10, 20, 10}, {0, 0, 64, 36}),
                           layer(3, {30, 10, 20, 10}, {0, 0, 64, 36})},
                          false};
    Frames frames = redAndBlue();
    frames.images[3] = solid(64, 36, green);
    const QImage exported =
        renderFrame(QSize(64, 36), drawOps(exportOf(snapshot)), frames.lookup());
    EXPECT_TRUE(filled(exported, {30, 10, 10, 10}, blue));
    EXPECT_TRUE(filled(exported, {40, 10, 10, 10}, green));
    EXPECT_TRUE(filled(exported, {0, 0, 20, 36}, red));
    // The preview draws in snapshot order, so the last is on top there.
    EXPECT_TRUE(filled(render(snapshot, {64, 36}, frames), {30, 10, 20, 10}, green));
}

// What each picture shows where: the layouts, a canvas of another aspect between black bars,
// larger outputs, mirroring within each tile, missing frames, destination edges snapped to
// pixels.
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
        drawOps(LiveSnapshot{{64, 36}, {}, false}, {64, 36}),
        drawOps(LiveSnapshot{{0, 0}, split().layers, false}, {64, 36}),
        {{mainID, {0, 0, 64, 36}, {64, 0, 10, 10}, false}}}; // entirely outside the output
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
    EXPECT_TRUE(filled(show({0, 18, 32, 18}, {32, 18}), {0, 0, 32, 18}, blue));
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

TEST(FrameRenderer, DestinationEdgesSnapToTheNearestPixel) {
    const Frames frames = redAndBlue();
    // Edges at 10.4 and 20.6 cover pixels 10 … 20; tiles sharing an edge at 31.5 meet there.
    const QImage image = renderFrame(QSize(64, 36),
                                     {{mainID, {0, 0, 64, 36}, {10.4, 2.5, 10.2, 4.49}, false},
                                      {overdubID, {0, 0, 64, 36}, {0, 10, 31.5, 4}, false},
                                      {mainID, {0, 0, 64, 36}, {31.5, 10, 32.5, 4}, false}},
                                     frames.lookup());
    EXPECT_TRUE(filled(image, {10, 3, 11, 4}, red));
    EXPECT_TRUE(filled(image, {9, 2, 13, 1}, black));
    EXPECT_TRUE(filled(image, {9, 7, 13, 1}, black));
    EXPECT_TRUE(filled(image, {9, 3, 1, 4}, black));
    EXPECT_TRUE(filled(image, {21, 3, 1, 4}, black));
    EXPECT_TRUE(filled(image, {0, 10, 32, 4}, blue));
    EXPECT_TRUE(filled(image, {32, 10, 32, 4}, red));
}

TEST(FrameRenderer, EnlargingIsBilinear) {
    // Red rises 5 a pixel across, green 6 a pixel down; enlarged 2× both stay straight lines.
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
                ASSERT_LE(std::abs(qRed(p) - exact(sx, 47, 10, 5)), 2) << x << ", " << y;
                ASSERT_LE(std::abs(qGreen(p) - exact(y, 26, 20, 6)), 2) << x << ", " << y;
                ASSERT_EQ(qBlue(p), 77);
                if (x > 0) {
                    const int before = qRed(image.pixel(x - 1, y));
                    ASSERT_TRUE(mirror ? qRed(p) <= before : qRed(p) >= before) << x << ", " << y;
                }
                if (y > 0) {
                    ASSERT_GE(qGreen(p), qGreen(image.pixel(x, y - 1))) << x << ", " << y;
                }
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
