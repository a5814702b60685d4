#include "compose/FrameRenderer.h"

#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <cstring>

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

// Fixed point: tap weights in 1/16384; the horizontal pass keeps 7 fraction bits (fits
// int16), the vertical pass brings 7 + 14 = 21 bits back to bytes.
constexpr int weightBits = 14;
constexpr int weightOne = 1 << weightBits;
constexpr int rowBits = 7;
constexpr int rowShift = weightBits - rowBits;
constexpr int outShift = weightBits + rowBits;

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
    bool opaque = false; // alpha is 0xff already (Format_RGB32)

    const std::uint32_t* row(int y) const {
        return reinterpret_cast<const std::uint32_t*>(bits + y * stride);
    }
};

// The filter along one axis: every output pixel reads `count` consecutive source pixels from
// its `start`, weighted by its `count` weights (summing to weightOne).
struct Taps {
    int count = 0;
    std::vector<int> start;
    std::vector<std::int16_t> weights;
};

// Filters a crop [origin, origin + length) of a source `size` pixels long onto `span` output
// pixels, for output indices [from, to). Enlarging (or 1:1) is bilinear between pixel
// centres; shrinking averages the source area under each output pixel. Only pixels of the
// crop (and of the source) are read.
void makeTaps(Taps& taps, double origin, double length, int size, int span, int from, int to,
              bool mirror) {
    const double scale = length / span;
    const bool area = scale > 1;
    taps.count = std::min(size, area ? int(std::ceil(scale)) + 1 : 2);
    const int n = taps.count;
    const auto outputs = std::size_t(to - from);
    taps.start.resize(outputs);
    taps.weights.assign(outputs * std::size_t(n), 0);

    // The part of the source that may be read.
    double lo = std::max(origin, 0.0);
    double hi = std::min(origin + length, double(size));
    if (hi <= lo) {
        lo = std::clamp(std::floor(origin + length / 2), 0.0, double(size - 1));
        hi = lo + 1;
    }

    std::vector<double> weights(std::size_t(std::max(n, 2)));
    for (std::size_t k = 0; k < outputs; ++k) {
        int first = 0;
        int used = 0;
        const double t0 = (from + double(k)) * scale;
        if (area) {
            double a = mirror ? origin + length - t0 - scale : origin + t0;
            double b = a + scale;
            a = std::clamp(a, lo, hi);
            b = std::clamp(b, lo, hi);
            if (b - a < 1e-9) {
                a = std::min(a, hi - 1e-3);
                b = a + 1e-3;
            }
            first = int(std::floor(a));
            used = std::min({int(std::ceil(b)) - first, n, size - first});
            for (int j = 0; j < used; ++j)
                weights[std::size_t(j)] =
                    std::min(b, first + j + 1.0) - std::max(a, double(first + j));
        } else {
            const double c = t0 + scale / 2;
            // Between the first and last readable pixel centres (a sliver of a pixel at
            // the end of the source still reads only that pixel).
            const double u = std::min(std::clamp(mirror ? origin + length - c : origin + c,
                                                 lo + 0.5, std::max(lo + 0.5, hi - 0.5)) -
                                          0.5,
                                      double(size - 1));
            first = int(std::floor(u));
            const double f = u - first;
            used = f > 0 && n > 1 ? 2 : 1;
            weights[0] = 1 - f;
            weights[1] = f;
        }

        const int start = std::clamp(first, 0, size - n);
        Q_ASSERT(first >= start && first - start + used <= n);
        taps.start[k] = start;
        std::int16_t* w = taps.weights.data() + k * std::size_t(n);
        double total = 0;
        for (int j = 0; j < used; ++j)
            total += weights[std::size_t(j)];
        int sum = 0;
        int largest = first - start;
        for (int j = 0; j < used; ++j) {
            const int q = int(std::lround(weights[std::size_t(j)] / total * weightOne));
            w[first - start + j] = std::int16_t(q);
            sum += q;
            if (q > w[largest])
                largest = first - start + j;
        }
        w[largest] = std::int16_t(w[largest] + weightOne - sum);
    }
}

inline std::uint32_t load32(const std::uint32_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Two int16 weights side by side, as pmaddwd pairs them; w1 may be past the last tap.
inline std::int32_t weightPair(std::int16_t w0, std::int16_t w1) {
    return std::int32_t(std::uint16_t(w0) | std::uint32_t(std::uint16_t(w1)) << 16);
}

// Every output's weights as pairs, each pair four times over: one load per SSE register.
void packPairs(const Taps& taps, std::vector<std::int32_t>& packed) {
    const int n = taps.count;
    const int pairs = (n + 1) / 2;
    const std::size_t outputs = taps.start.size();
    packed.resize(outputs * std::size_t(pairs) * 4);
    std::int32_t* out = packed.data();
    for (std::size_t k = 0; k < outputs; ++k) {
        const std::int16_t* w = taps.weights.data() + k * std::size_t(n);
        for (int t = 0; t < n; t += 2) {
            const std::int32_t pair = weightPair(w[t], t + 1 < n ? w[t + 1] : std::int16_t(0));
            for (int r = 0; r < 4; ++r)
                *out++ = pair;
        }
    }
}

// One source row filtered into 4 int16 channels per output pixel, each channel × 128.
// N is the tap count, or 0 for "taps.count".
template <int N>
void horizontalPass(const std::uint32_t* src, const Taps& taps,
                    [[maybe_unused]] const std::vector<std::int32_t>& packed, std::int16_t* out) {
    const int outputs = int(taps.start.size());
    const int n = N ? N : taps.count;
    const int* starts = taps.start.data();
    int k = 0;
#if defined(__SSE2__)
    const int pairs = (n + 1) / 2;
    const __m128i zero = _mm_setzero_si128();
    const __m128i round = _mm_set1_epi32(1 << (rowShift - 1));
    auto pixel = [&](int at) {
        const std::uint32_t* p = src + starts[at];
        const auto* w =
            reinterpret_cast<const __m128i*>(packed.data()) + std::size_t(at) * std::size_t(pairs);
        __m128i sum = round;
        int t = 0;
        for (; t + 2 <= n; t += 2) {
            const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + t));
            // (p0.b, p1.b, p0.g, p1.g, …) as int16 pairs
            const __m128i two = _mm_unpacklo_epi8(_mm_unpacklo_epi8(v, _mm_srli_si128(v, 4)), zero);
            sum = _mm_add_epi32(sum, _mm_madd_epi16(two, _mm_loadu_si128(w + t / 2)));
        }
        if (t < n) {
            const __m128i v = _mm_cvtsi32_si128(int(load32(p + t)));
            const __m128i one = _mm_unpacklo_epi16(_mm_unpacklo_epi8(v, zero), zero);
            sum = _mm_add_epi32(sum, _mm_madd_epi16(one, _mm_loadu_si128(w + t / 2)));
        }
        return _mm_srai_epi32(sum, rowShift);
    };
    for (; k + 2 <= outputs; k += 2)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * k),
                         _mm_packs_epi32(pixel(k), pixel(k + 1)));
#endif
    for (; k < outputs; ++k) {
        const std::uint32_t* p = src + starts[k];
        const std::int16_t* w = taps.weights.data() + std::size_t(k) * std::size_t(n);
        for (int c = 0; c < 4; ++c) {
            int sum = 1 << (rowShift - 1);
            for (int t = 0; t < n; ++t)
                sum += int(load32(p + t) >> (8 * c) & 0xff) * w[t];
            out[4 * k + c] = std::int16_t(sum >> rowShift);
        }
    }
}

// Filters N (or n) pass rows into `count` opaque output pixels.
template <int N>
void verticalPass(const std::int16_t* const* rows, const std::int16_t* weights, int n, int count,
                  std::uint32_t* out) {
    if constexpr (N != 0)
        n = N;
    const int channels = 4 * count;
    int j = 0;
#if defined(__SSE2__)
    constexpr int maxPairs = 8;
    if (n <= 2 * maxPairs) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i round = _mm_set1_epi32(1 << (outShift - 1));
        const __m128i alpha = _mm_set1_epi32(int(opaque));
        __m128i w[maxPairs];
        for (int t = 0; t < n; t += 2)
            w[t / 2] = _mm_set1_epi32(weightPair(weights[t], t + 1 < n ? weights[t + 1] : 0));
        auto eight = [&](int at) {
            __m128i lo = round;
            __m128i hi = round;
            int t = 0;
            for (; t + 2 <= n; t += 2) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t] + at));
                const __m128i b =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t + 1] + at));
                lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), w[t / 2]));
                hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), w[t / 2]));
            }
            if (t < n) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[t] + at));
                lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, zero), w[t / 2]));
                hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, zero), w[t / 2]));
            }
            return _mm_packs_epi32(_mm_srai_epi32(lo, outShift), _mm_srai_epi32(hi, outShift));
        };
        for (; j + 16 <= channels; j += 16) {
            const __m128i bytes = _mm_packus_epi16(eight(j), eight(j + 8));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j / 4), _mm_or_si128(bytes, alpha));
        }
    }
#endif
    for (; j < channels; j += 4) {
        std::uint32_t px = opaque;
        for (int c = 0; c < 3; ++c) {
            int sum = 1 << (outShift - 1);
            for (int t = 0; t < n; ++t)
                sum += rows[t][j + c] * weights[t];
            px |= std::uint32_t(std::clamp(sum >> outShift, 0, 255)) << (8 * c);
        }
        out[j / 4] = px;
    }
}

using HorizontalPass = void (*)(const std::uint32_t*, const Taps&, const std::vector<std::int32_t>&,
                                std::int16_t*);
using VerticalPass = void (*)(const std::int16_t* const*, const std::int16_t*, int, int,
                              std::uint32_t*);

// Unrolled versions for the common tap counts: 2 for enlarging, up to 5 for shrinking by 4×.
template <int N = 5> std::pair<HorizontalPass, VerticalPass> passesFor(int n, int m) {
    HorizontalPass h = n == N ? &horizontalPass<N> : nullptr;
    VerticalPass v = m == N ? &verticalPass<N> : nullptr;
    if constexpr (N > 1) {
        const auto [h2, v2] = passesFor<N - 1>(n, m);
        return {h ? h : h2, v ? v : v2};
    } else {
        return {h ? h : &horizontalPass<0>, v ? v : &verticalPass<0>};
    }
}

void copyRow(const std::uint32_t* __restrict src, std::uint32_t* __restrict dst, int count,
             bool alreadyOpaque) {
    if (alreadyOpaque) {
        std::memcpy(dst, src, std::size_t(count) * 4);
        return;
    }
    for (int i = 0; i < count; ++i)
        dst[i] = src[i] | opaque;
}

// `src` points at the rightmost pixel to take.
void copyRowMirrored(const std::uint32_t* __restrict src, std::uint32_t* __restrict dst,
                     int count) {
    for (int i = 0; i < count; ++i)
        dst[i] = src[-i] | opaque;
}

// Buffers kept per thread between frames.
struct Scratch {
    std::vector<std::vector<std::int16_t>> rows;
    std::vector<int> rowTags;
    std::vector<const std::int16_t*> rowPointers;
    std::vector<std::int32_t> packed;
    Taps xs, ys;
};

Scratch& scratch() {
    thread_local Scratch s;
    return s;
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
    int x0 = 0, x1 = 0, y0 = 0, y1 = 0;     // snapped destination
    int vx0 = 0, vx1 = 0, vy0 = 0, vy1 = 0; // the part inside the output
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

void draw(const Target& target, const DrawOp& op, const Cover& cover, const Plane& plane,
          Scratch& s) {
    const RectD& crop = op.crop;
    const int spanX = cover.x1 - cover.x0;
    const int spanY = cover.y1 - cover.y0;
    const int width = cover.vx1 - cover.vx0;

    const bool whole = crop.x == std::floor(crop.x) && crop.y == std::floor(crop.y);
    const bool inside =
        crop.x >= 0 && crop.y >= 0 && crop.maxX() <= plane.width && crop.maxY() <= plane.height;
    if (whole && inside && crop.width == spanX && crop.height == spanY) {
        // 1:1 on whole pixels: plain row copies.
        const int sy = int(crop.y) + cover.vy0 - cover.y0;
        const int dx = cover.vx0 - cover.x0;
        const int sx = op.mirror ? int(crop.maxX()) - 1 - dx : int(crop.x) + dx;
        for (int y = cover.vy0; y < cover.vy1; ++y) {
            const std::uint32_t* src = plane.row(sy + y - cover.vy0) + sx;
            std::uint32_t* dst = target.row(y) + cover.vx0;
            if (op.mirror)
                copyRowMirrored(src, dst, width);
            else
                copyRow(src, dst, width, plane.opaque);
        }
        return;
    }

    makeTaps(s.xs, crop.x, crop.width, plane.width, spanX, cover.vx0 - cover.x0,
             cover.vx1 - cover.x0, op.mirror);
    makeTaps(s.ys, crop.y, crop.height, plane.height, spanY, cover.vy0 - cover.y0,
             cover.vy1 - cover.y0, false);

    // Separable: each source row is filtered horizontally once and kept while output rows
    // still need it (rows of one output pixel are consecutive, so a ring of n slots will do).
    packPairs(s.xs, s.packed);
    const auto [horizontal, vertical] = passesFor(s.xs.count, s.ys.count);
    const int n = s.ys.count;
    if (int(s.rows.size()) < n)
        s.rows.resize(std::size_t(n));
    for (int i = 0; i < n; ++i)
        s.rows[std::size_t(i)].resize(std::size_t(width) * 4);
    s.rowTags.assign(std::size_t(n), -1);
    s.rowPointers.resize(std::size_t(n));
    for (int y = cover.vy0; y < cover.vy1; ++y) {
        const auto k = std::size_t(y - cover.vy0);
        const int first = s.ys.start[k];
        const std::int16_t* weights = s.ys.weights.data() + k * std::size_t(n);
        const std::int16_t* used = nullptr;
        for (int t = 0; t < n; ++t) {
            if (weights[t] == 0)
                continue; // pointed at any filtered row below
            const int sourceRow = first + t;
            const auto slot = std::size_t(sourceRow % n);
            if (s.rowTags[slot] != sourceRow) {
                horizontal(plane.row(sourceRow), s.xs, s.packed, s.rows[slot].data());
                s.rowTags[slot] = sourceRow;
            }
            used = s.rowPointers[std::size_t(t)] = s.rows[slot].data();
        }
        for (int t = 0; t < n; ++t)
            if (weights[t] == 0)
                s.rowPointers[std::size_t(t)] = used;
        vertical(s.rowPointers.data(), weights, n, width, target.row(y) + cover.vx0);
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
        draw(target, ops[i], covers[i],
             {f.constBits(), f.bytesPerLine(), f.width(), f.height(),
              f.format() == QImage::Format_RGB32},
             s);
    }
}

QImage renderFrame(QSize output, const std::vector<DrawOp>& ops, const FrameLookup& frameFor) {
    QImage image(output, QImage::Format_RGB32);
    renderFrame(image, ops, frameFor);
    return image;
}

std::map<std::int32_t, QRect> drawnRegions(const std::vector<DrawOp>& ops) {
    std::map<std::int32_t, QRect> regions;
    for (const DrawOp& op : ops) {
        const QRect r = QRectF(op.crop.x, op.crop.y, op.crop.width, op.crop.height)
                            .toAlignedRect()
                            .adjusted(-1, -1, 1, 1);
        QRect& region = regions[op.trackID];
        region = region.isNull() ? r : region.united(r);
    }
    return regions;
}

} // namespace reelbox
