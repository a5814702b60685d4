#include "platform/camera/V4l2FormatTable.h"

#include <algorithm>
#include <array>
#include <set>
#include <tuple>

namespace reelbox::v4l2 {

namespace {

constexpr std::uint32_t emulatedFlag = 0x0002;

// Sizes webcams and capture cards commonly run at, largest first.
constexpr std::array<std::pair<int, int>, 16> commonSizes{{{3840, 2160},
                                                           {2560, 1440},
                                                           {1920, 1080},
                                                           {1600, 1200},
                                                           {1280, 960},
                                                           {1280, 720},
                                                           {1024, 768},
                                                           {960, 540},
                                                           {800, 600},
                                                           {848, 480},
                                                           {640, 480},
                                                           {640, 360},
                                                           {424, 240},
                                                           {352, 288},
                                                           {320, 240},
                                                           {160, 120}}};

bool onStep(std::uint32_t value, std::uint32_t min, std::uint32_t max, std::uint32_t step) {
    if (value < min || value > max)
        return false;
    return step <= 1 || (value - min) % step == 0;
}

// Frames per second of an interval; 0 when it is not a usable interval.
double fps(const Fraction& interval) {
    if (interval.numerator == 0 || interval.denominator == 0)
        return 0;
    return double(interval.denominator) / double(interval.numerator);
}

} // namespace

QString fourccText(std::uint32_t code) {
    QString text;
    for (int i = 0; i < 4; ++i)
        text += QChar(char((code >> (8 * i)) & 0xff));
    while (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

std::uint32_t fourccCode(const QString& text) {
    const QByteArray bytes = text.toLatin1().leftJustified(4, ' ', true);
    return fourcc(bytes[0], bytes[1], bytes[2], bytes[3]);
}

bool isSupported(std::uint32_t code) {
    return code == fourcc('M', 'J', 'P', 'G') || code == fourcc('Y', 'U', 'Y', 'V') ||
           code == fourcc('N', 'V', '1', '2') || code == fourcc('Y', 'U', '1', '2');
}

std::vector<QSize> sizesInRange(const FrameSize& range) {
    if (range.kind == Kind::discrete)
        return {QSize(int(range.width), int(range.height))};
    const std::uint32_t stepW = range.kind == Kind::continuous ? 1 : range.stepWidth;
    const std::uint32_t stepH = range.kind == Kind::continuous ? 1 : range.stepHeight;
    std::vector<QSize> sizes;
    auto add = [&](std::uint32_t w, std::uint32_t h) {
        const QSize size{int(w), int(h)};
        if (w % 2 == 0 && h % 2 == 0 && w > 0 && h > 0 &&
            std::find(sizes.begin(), sizes.end(), size) == sizes.end())
            sizes.push_back(size);
    };
    // The largest size, rounded down onto the steps and to even numbers.
    auto snap = [](std::uint32_t max, std::uint32_t min, std::uint32_t step) {
        std::uint32_t value = step > 1 ? min + (max - min) / step * step : max;
        while (value > min && (value % 2 != 0 || (step > 1 && (value - min) % step != 0)))
            value -= step > 1 ? step : 1;
        return value;
    };
    if (range.maxWidth >= range.minWidth && range.maxHeight >= range.minHeight)
        add(snap(range.maxWidth, range.minWidth, stepW),
            snap(range.maxHeight, range.minHeight, stepH));
    for (const auto& [w, h] : commonSizes) {
        if (onStep(std::uint32_t(w), range.minWidth, range.maxWidth, stepW) &&
            onStep(std::uint32_t(h), range.minHeight, range.maxHeight, stepH))
            add(std::uint32_t(w), std::uint32_t(h));
    }
    std::stable_sort(sizes.begin(), sizes.end(), [](QSize a, QSize b) {
        return qint64(a.width()) * a.height() > qint64(b.width()) * b.height();
    });
    return sizes;
}

std::vector<FrameRateRange> frameRates(const std::vector<FrameInterval>& intervals) {
    std::vector<FrameRateRange> rates;
    for (const FrameInterval& interval : intervals) {
        FrameRateRange range;
        if (interval.kind == Kind::discrete) {
            range.minFps = range.maxFps = fps(interval.discrete);
        } else {
            // The longest interval is the lowest rate.
            range.minFps = fps(interval.max);
            range.maxFps = fps(interval.min);
            if (range.minFps > range.maxFps)
                std::swap(range.minFps, range.maxFps);
        }
        if (range.minFps <= 0 || range.maxFps <= 0)
            continue;
        if (std::find(rates.begin(), rates.end(), range) == rates.end())
            rates.push_back(range);
    }
    return rates;
}

std::vector<CameraFormat> cameraFormats(const std::vector<PixelFormat>& table) {
    std::vector<CameraFormat> formats;
    std::set<std::tuple<std::uint32_t, int, int>> seen;
    for (const PixelFormat& pixelFormat : table) {
        if (!isSupported(pixelFormat.fourcc) || (pixelFormat.flags & emulatedFlag))
            continue;
        for (const FrameSize& size : pixelFormat.sizes) {
            const std::vector<FrameRateRange> rates = frameRates(size.intervals);
            if (rates.empty())
                continue;
            for (const QSize& s : sizesInRange(size)) {
                if (s.width() % 2 != 0 || s.height() % 2 != 0 || s.isEmpty())
                    continue;
                if (!seen.insert({pixelFormat.fourcc, s.width(), s.height()}).second)
                    continue;
                formats.push_back(
                    CameraFormat{s.width(), s.height(), fourccText(pixelFormat.fourcc), rates});
            }
        }
    }
    return formats;
}

} // namespace reelbox::v4l2
