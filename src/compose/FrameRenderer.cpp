#include "FrameRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace reelbox {

std::ostream& operator<<(std::ostream& out, const DrawOp& op) {
    return out << "{track " << op.trackID << ", crop " << op.crop << ", destination "
               << op.destination << (op.mirror ? ", mirrored}" : "}");
}

std::vector<DrawOp> drawOps(const LiveSnapshot& snapshot, QSize output) {
    const double w = snapshot.canvas.width;
    const double h = snapshot.canvas.height;
    if (!(w > 0 && h > 0) || snapshot.layers.empty() || output.isEmpty())
        return {};
    const double W = output.width();
    const double H = output.height();
    const double scale = std::min(W / w, H / h);
    const double ox = (W - w * scale) / 2;
    const double oy = (H - h * scale) / 2;

    std::vector<DrawOp> ops;
    ops.reserve(snapshot.layers.size());
    for (const auto& layer : snapshot.layers) {
        const RectD& t = layer.tile;
        ops.push_back({layer.trackID,
                       layer.crop,
                       {ox + scale * t.x, oy + scale * t.y, scale * t.width, scale * t.height},
                       snapshot.mirror});
    }
    return ops;
}

std::vector<DrawOp> drawOps(const VideoComposition& composition) {
    if (!(composition.renderSize.width > 0 && composition.renderSize.height > 0))
        return {};
    std::vector<DrawOp> ops;
    ops.reserve(composition.layers.size());
    for (auto it = composition.layers.rbegin(); it != composition.layers.rend(); ++it) {
        const Affine& t = it->transform;
        const RectD& c = it->crop;
        const double xs[] = {t.mapX(c.x, c.y), t.mapX(c.maxX(), c.y), t.mapX(c.x, c.maxY()),
                             t.mapX(c.maxX(), c.maxY())};
        const double ys[] = {t.mapY(c.x, c.y), t.mapY(c.maxX(), c.y), t.mapY(c.x, c.maxY()),
                             t.mapY(c.maxX(), c.maxY())};
        const auto [x0, x1] = std::minmax_element(std::begin(xs), std::end(xs));
        const auto [y0, y1] = std::minmax_element(std::begin(ys), std::end(ys));
        ops.push_back({it->trackID, c, {*x0, *y0, *x1 - *x0, *y1 - *y0}, t.a < 0});
    }
    return ops;
}

namespace {

constexpr std::uint32_t opaque = 0xff000000u;

// Fixed point: weights in 1/16384, the horizontal pass keeps 7 fraction bits (fits int16),
// the vertical pass brings 7 + 14 = 21 bits back to bytes.
constexpr int weightBits = 14;
constexpr int weightOne = 1 << weightBits;
constexpr int rowBits = 7;

// An edge at e goes to the pixel boundary floor(e + 0.5); far-off edges are clamped.
int snap(double e) {
    constexpr double limit = 1 << 28;
    return int(std::floor(std::clamp(e, -limit, limit) + 0.5));
}

bool is32Bit(QImage::Format format) {
    return format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
           format == QImage::Format_ARGB32_Premultiplied;
}

// Read-only BGRA pixels.
struct Plane {
    const uchar* bits = nullptr;
    qsizetype stride = 0;
    int width = 0;
    int height = 0;

    const std::uint32_t* row(int y) const {
        return reinterpret_cast<const std::uint32_t*>(bits + y * stride);
    }
};

// Where each output index along one axis samples: two source indices and the weight of the
// second (the first gets weightOne minus it).
struct Taps {
    std::vector<int> first, second;
    std::vector<std::int32_t> weights; // packed (weightOne - w) | w << 16, as pmaddwd wants
    bool identity = true;              // every sample lands on a whole pixel, no weight

    int weight(std::size_t i) const { return weights[i] >> 16; }
};

// Samples a crop [origin, origin + length) of a source `size` pixels long onto `span` output
// pixels, for output indices [from, to). Pixel centres map to pixel centres; samples are kept
// inside the crop and the source.
void makeTaps(Taps& taps, double origin, double length, int size, int span, int from, int to,
              bool mirror) {
    const auto count = std::size_t(to - from);
    taps.first.resize(count);
    taps.second.resize(count);
    taps.weights.resize(count);
    taps.identity = true;

    const double scale = length / span;
    double lo = origin;
    double hi = origin + length - 1;
    if (hi < lo)
        lo = hi = origin + length / 2 - 0.5;
    lo = std::clamp(lo, 0.0, double(size - 1));
    hi = std::clamp(hi, 0.0, double(size - 1));

    for (std::size_t k = 0; k < count; ++k) {
        const double t = (from + double(k) + 0.5) * scale;
        const double u = std::clamp(mirror ? origin + length - t - 0.5 : origin + t - 0.5, lo, hi);
        int i = int(std::floor(u));
        int w = int(std::lround((u - i) * weightOne));
        if (w == weightOne) {
            ++i;
            w = 0;
        }
        const int j = w == 0 ? i : std::min(i + 1, size - 1);
        if (w != 0)
            taps.identity = false;
        taps.first[k] = i;
        taps.second[k] = j;
        taps.weights[k] = std::int32_t(unsigned(weightOne - w) | unsigned(w) << 16);
    }
}

inline std::uint32_t load32(const std::uint32_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// One source row to `count` pixels of 4 int16 channels, each channel × 128.
void horizontalPass(const std::uint32_t* src, const Taps& taps, std::int16_t* out) {
    const int count = int(taps.first.size());
    const int* first = taps.first.data();
    const int* second = taps.second.data();
    const std::int32_t* weights = taps.weights.data();
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i round = _mm_set1_epi32(1 << (weightBits - rowBits - 1));
    for (; i + 2 <= count; i += 2) {
        __m128i r[2];
        for (int k = 0; k < 2; ++k) {
            const __m128i a = _mm_cvtsi32_si128(int(load32(src + first[i + k])));
            const __m128i b = _mm_cvtsi32_si128(int(load32(src + second[i + k])));
            // (a.b, b.b, a.g, b.g, …) as int16 pairs
            const __m128i pairs = _mm_unpacklo_epi8(_mm_unpacklo_epi8(a, b), zero);
            const __m128i sum = _mm_madd_epi16(pairs, _mm_set1_epi32(weights[i + k]));
            r[k] = _mm_srai_epi32(_mm_add_epi32(sum, round), weightBits - rowBits);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_packs_epi32(r[0], r[1]));
    }
#endif
    for (; i < count; ++i) {
        const std::uint32_t a = load32(src + first[i]);
        const std::uint32_t b = load32(src + second[i]);
        const int wb = weights[i] >> 16;
        const int wa = weightOne - wb;
        for (int c = 0; c < 4; ++c) {
            const int va = int(a >> (8 * c) & 0xff);
            const int vb = int(b >> (8 * c) & 0xff);
            out[4 * i + c] = std::int16_t((va * wa + vb * wb + (1 << (weightBits - rowBits - 1))) >>
                                          (weightBits - rowBits));
        }
    }
}

// Blends two pass rows into `count` opaque output pixels.
void verticalPass(const std::int16_t* top, const std::int16_t* bottom, std::int32_t weights,
                  int count, std::uint32_t* out) {
    constexpr int shift = weightBits + rowBits;
    const int n = 4 * count;
    int j = 0;
#if defined(__SSE2__)
    const __m128i w = _mm_set1_epi32(weights);
    const __m128i round = _mm_set1_epi32(1 << (shift - 1));
    const __m128i alpha = _mm_set1_epi32(int(opaque));
    auto blend = [&](int at) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + at));
        const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(a, b), w);
        const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(a, b), w);
        return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, round), shift),
                               _mm_srai_epi32(_mm_add_epi32(hi, round), shift));
    };
    for (; j + 16 <= n; j += 16) {
        const __m128i bytes = _mm_packus_epi16(blend(j), blend(j + 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j / 4), _mm_or_si128(bytes, alpha));
    }
#endif
    const int wb = weights >> 16;
    const int wa = weightOne - wb;
    for (; j < n; j += 4) {
        std::uint32_t px = opaque;
        for (int c = 0; c < 3; ++c) {
            const int v = (top[j + c] * wa + bottom[j + c] * wb + (1 << (shift - 1))) >> shift;
            px |= std::uint32_t(std::clamp(v, 0, 255)) << (8 * c);
        }
        out[j / 4] = px;
    }
}

void copyRow(const std::uint32_t* __restrict src, std::uint32_t* __restrict dst, int count) {
    for (int i = 0; i < count; ++i)
        dst[i] = src[i] | opaque;
}

// `src` points at the rightmost pixel to take.
void copyRowMirrored(const std::uint32_t* __restrict src, std::uint32_t* __restrict dst,
                     int count) {
    for (int i = 0; i < count; ++i)
        dst[i] = src[-i] | opaque;
}

// Averages 2×2 (or 2×1, 1×2) blocks of one row pair; an odd last column repeats itself.
void halveRow(const std::uint32_t* a, const std::uint32_t* b, int width, bool horizontal,
              std::uint32_t* out) {
    if (!horizontal) {
        int i = 0;
#if defined(__SSE2__)
        for (; i + 4 <= width; i += 4) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
            const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_avg_epu8(x, y));
        }
#endif
        for (; i < width; ++i) {
            std::uint32_t px = 0;
            for (int c = 0; c < 4; ++c)
                px |= ((load32(a + i) >> (8 * c) & 0xff) + (load32(b + i) >> (8 * c) & 0xff) + 1) >>
                          1 << (8 * c);
            out[i] = px;
        }
        return;
    }
    const int half = (width + 1) / 2;
    int k = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i two = _mm_set1_epi16(2);
    for (; 2 * k + 4 <= width; k += 2) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * k));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * k));
        const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(x, zero), _mm_unpacklo_epi8(y, zero));
        const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(x, zero), _mm_unpackhi_epi8(y, zero));
        const __m128i sums =
            _mm_unpacklo_epi64(_mm_add_epi16(lo, _mm_srli_si128(lo, 8)),
                               _mm_add_epi16(hi, _mm_srli_si128(hi, 8)));
        const __m128i avg = _mm_srli_epi16(_mm_add_epi16(sums, two), 2);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(avg, zero));
    }
#endif
    for (; k < half; ++k) {
        const int i0 = 2 * k;
        const int i1 = std::min(i0 + 1, width - 1);
        std::uint32_t px = 0;
        for (int c = 0; c < 4; ++c) {
            const auto at = [c](const std::uint32_t* row, int i) {
                return load32(row + i) >> (8 * c) & 0xff;
            };
            px |= ((at(a, i0) + at(a, i1) + at(b, i0) + at(b, i1) + 2) >> 2) << (8 * c);
        }
        out[k] = px;
    }
}

// Buffers kept per thread between frames.
struct Scratch {
    std::vector<std::uint32_t> mips[2];
    std::vector<std::int16_t> rows[2];
    Taps xs, ys;
};

Scratch& scratch() {
    thread_local Scratch s;
    return s;
}

// Halves the part of `plane` under `crop` along the axes that shrink by more than 2× and
// updates the crop to the new plane's pixels.
Plane halve(const Plane& plane, RectD& crop, bool horizontal, bool vertical,
            std::vector<std::uint32_t>& buffer) {
    const int x0 = std::clamp(int(std::floor(crop.x)), 0, plane.width - 1);
    const int x1 = std::clamp(int(std::ceil(crop.maxX())), x0 + 1, plane.width);
    const int y0 = std::clamp(int(std::floor(crop.y)), 0, plane.height - 1);
    const int y1 = std::clamp(int(std::ceil(crop.maxY())), y0 + 1, plane.height);
    const int width = x1 - x0;
    const int height = y1 - y0;
    const int outWidth = horizontal ? (width + 1) / 2 : width;
    const int outHeight = vertical ? (height + 1) / 2 : height;
    buffer.resize(std::size_t(outWidth) * std::size_t(outHeight));

    for (int r = 0; r < outHeight; ++r) {
        const int ya = y0 + (vertical ? 2 * r : r);
        const int yb = vertical ? std::min(ya + 1, y1 - 1) : ya;
        halveRow(plane.row(ya) + x0, plane.row(yb) + x0, width, horizontal,
                 buffer.data() + std::size_t(r) * std::size_t(outWidth));
    }

    const double fx = horizontal ? 0.5 : 1.0;
    const double fy = vertical ? 0.5 : 1.0;
    crop = {(crop.x - x0) * fx, (crop.y - y0) * fy, crop.width * fx, crop.height * fy};
    return {reinterpret_cast<const uchar*>(buffer.data()), qsizetype(outWidth) * 4, outWidth,
            outHeight};
}

struct Target {
    uchar* bits;
    qsizetype stride;
    int width;
    int height;

    std::uint32_t* row(int y) const { return reinterpret_cast<std::uint32_t*>(bits + y * stride); }
};

// The output pixels an op covers, snapped and clipped; empty when nothing is drawn.
struct Cover {
    int x0 = 0, x1 = 0, y0 = 0, y1 = 0;         // snapped destination
    int vx0 = 0, vx1 = 0, vy0 = 0, vy1 = 0;     // the part inside the output
    bool empty() const { return vx1 <= vx0 || vy1 <= vy0; }
};

Cover coverOf(const DrawOp& op, const Target& target) {
    const RectD& d = op.destination;
    const RectD& c = op.crop;
    if (!(c.width > 0 && c.height > 0) || !std::isfinite(c.x) || !std::isfinite(c.y) ||
        !std::isfinite(c.width) || !std::isfinite(c.height) || !std::isfinite(d.x) ||
        !std::isfinite(d.y) || !std::isfinite(d.width) || !std::isfinite(d.height))
        return {};
    Cover k;
    k.x0 = snap(d.x);
    k.x1 = snap(d.maxX());
    k.y0 = snap(d.y);
    k.y1 = snap(d.maxY());
    if (k.x1 <= k.x0 || k.y1 <= k.y0)
        return {};
    k.vx0 = std::max(k.x0, 0);
    k.vx1 = std::min(k.x1, target.width);
    k.vy0 = std::max(k.y0, 0);
    k.vy1 = std::min(k.y1, target.height);
    return k;
}

void draw(const Target& target, const DrawOp& op, const Cover& cover, Plane plane,
          Scratch& s) {
    RectD crop = op.crop;
    const int spanX = cover.x1 - cover.x0;
    const int spanY = cover.y1 - cover.y0;

    // Shrinks beyond 2× go through 2×2 box halvings first, so bilinear sees at most 2×.
    for (int level = 0;; ++level) {
        const bool hx = crop.width / spanX > 2 && plane.width > 1;
        const bool hy = crop.height / spanY > 2 && plane.height > 1;
        if (!hx && !hy)
            break;
        plane = halve(plane, crop, hx, hy, s.mips[level % 2]);
    }

    const int width = cover.vx1 - cover.vx0;
    makeTaps(s.xs, crop.x, crop.width, plane.width, spanX, cover.vx0 - cover.x0,
             cover.vx1 - cover.x0, op.mirror);
    makeTaps(s.ys, crop.y, crop.height, plane.height, spanY, cover.vy0 - cover.y0,
             cover.vy1 - cover.y0, false);

    const bool sameSize = crop.width == spanX && crop.height == spanY;
    const bool inside = crop.x >= 0 && crop.y >= 0 && crop.maxX() <= plane.width &&
                        crop.maxY() <= plane.height;
    if (sameSize && inside && s.xs.identity && s.ys.identity) {
        // 1:1 on whole pixels: consecutive source pixels, so plain row copies.
        const int sx = s.xs.first.front();
        for (int y = cover.vy0; y < cover.vy1; ++y) {
            const std::uint32_t* src = plane.row(s.ys.first[std::size_t(y - cover.vy0)]) + sx;
            std::uint32_t* dst = target.row(y) + cover.vx0;
            if (op.mirror)
                copyRowMirrored(src, dst, width);
            else
                copyRow(src, dst, width);
        }
        return;
    }

    // Separable bilinear; the two source rows in use are cached across output rows.
    for (auto& row : s.rows)
        row.resize(std::size_t(width) * 4);
    int cached[2] = {-1, -1};
    auto fetch = [&](int sourceRow, int keep) {
        for (int slot = 0; slot < 2; ++slot)
            if (cached[slot] == sourceRow)
                return slot;
        const int slot = cached[0] == keep ? 1 : 0;
        horizontalPass(plane.row(sourceRow), s.xs, s.rows[slot].data());
        cached[slot] = sourceRow;
        return slot;
    };
    for (int y = cover.vy0; y < cover.vy1; ++y) {
        const auto k = std::size_t(y - cover.vy0);
        const int a = s.ys.first[k];
        const int b = s.ys.second[k];
        const int top = fetch(a, b);
        const int bottom = fetch(b, a);
        verticalPass(s.rows[top].data(), s.rows[bottom].data(), s.ys.weights[k], width,
                     target.row(y) + cover.vx0);
    }
}

// Black wherever no drawn op will cover the pixel.
void fillUncovered(const Target& target, const std::vector<Cover>& covers) {
    std::vector<std::pair<int, int>> spans;
    for (int y = 0; y < target.height; ++y) {
        spans.clear();
        for (const Cover& c : covers)
            if (!c.empty() && y >= c.vy0 && y < c.vy1)
                spans.emplace_back(c.vx0, c.vx1);
        std::sort(spans.begin(), spans.end());
        std::uint32_t* row = target.row(y);
        int x = 0;
        for (const auto& [from, to] : spans) {
            if (from > x)
                std::fill(row + x, row + from, opaque);
            x = std::max(x, to);
        }
        if (x < target.width)
            std::fill(row + x, row + target.width, opaque);
    }
}

} // namespace

void renderFrame(QImage& output, const std::vector<DrawOp>& ops, const FrameLookup& frameFor) {
    if (output.isNull())
        return;
    if (!is32Bit(output.format()))
        output = output.convertToFormat(QImage::Format_RGB32);
    const Target target{output.bits(), output.bytesPerLine(), output.width(), output.height()};

    std::vector<const QImage*> frames(ops.size(), nullptr);
    std::vector<Cover> covers(ops.size());
    std::vector<QImage> converted;
    converted.reserve(ops.size());
    for (std::size_t i = 0; i < ops.size(); ++i) {
        const QImage* frame = frameFor ? frameFor(ops[i].trackID) : nullptr;
        if (!frame || frame->isNull())
            continue;
        if (!is32Bit(frame->format())) {
            converted.push_back(frame->convertToFormat(QImage::Format_RGB32));
            frame = &converted.back();
        }
        covers[i] = coverOf(ops[i], target);
        if (!covers[i].empty())
            frames[i] = frame;
    }

    fillUncovered(target, covers);
    Scratch& s = scratch();
    for (std::size_t i = 0; i < ops.size(); ++i) {
        if (!frames[i])
            continue;
        const QImage& f = *frames[i];
        draw(target, ops[i], covers[i], {f.constBits(), f.bytesPerLine(), f.width(), f.height()},
             s);
    }
}

QImage renderFrame(QSize output, const std::vector<DrawOp>& ops, const FrameLookup& frameFor) {
    QImage image(output, QImage::Format_RGB32);
    renderFrame(image, ops, frameFor);
    return image;
}

} // namespace reelbox
