#include "MixSteps.h"

#include "Cancellation.h"
#include "Compressor.h"
#include "Equalizer.h"
#include "FlushDenormals.h"
#include "PeakLimiter.h"
#include "media/AudioFile.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace reelbox::mix {

std::vector<std::uint32_t> spanLengths(const SpanList& spans) {
    std::vector<std::uint32_t> lengths;
    lengths.reserve(spans.size());
    for (const TimeSpan& span : spans) {
        const double frames = std::round((span.end - span.start) * sampleRate);
        if (!(frames > 0))
            lengths.push_back(0);
        else if (frames >= double(std::numeric_limits<std::uint32_t>::max()))
            throw Error(QStringLiteral("The take is too long to mix."));
        else
            lengths.push_back(std::uint32_t(frames));
    }
    return lengths;
}

void fadeIn(float* samples, qint64 n) {
    for (qint64 k = 0; k < n; ++k) {
        const float r = float(k) / float(n);
        samples[k] *= r * r;
    }
}

void fadeOut(float* samples, qint64 n) {
    for (qint64 k = 0; k < n; ++k) {
        const float r = 1.0f - float(k) / float(n);
        samples[k] *= r * r;
    }
}

namespace {

// Reads `frames` frames of channel 0 of the stem from `from` into `out`.
qint64 readChannel0(AudioFileReader& stem, qint64 from, float* out, qint64 frames) {
    stem.seek(from);
    const int channels = stem.channels();
    if (channels == 1)
        return stem.read(out, frames);
    std::vector<float> chunk(size_t(blockFrames * channels));
    qint64 done = 0;
    while (done < frames) {
        const qint64 got = stem.read(chunk.data(), std::min(blockFrames, frames - done));
        if (got == 0)
            break;
        for (qint64 i = 0; i < got; ++i)
            out[done + i] = chunk[size_t(i * channels)];
        done += got;
    }
    return done;
}

} // namespace

Buffer splice(const QString& stemPath, double inputStart, const SpanList& spans,
              const std::vector<std::uint32_t>& lengths, qint64 total) {
    Buffer result(size_t(std::max<qint64>(total, 0)), 0.0f);
    AudioFileReader stem(stemPath);
    const qint64 stemLength = stem.frames();
    qint64 write = 0;
    const size_t count = std::min(spans.size(), lengths.size());
    for (size_t i = 0; i < count; ++i) {
        const qint64 length = lengths[i];
        qint64 source = qint64((spans[i].start - inputStart) * sampleRate); // toward zero
        qint64 destination = write;
        qint64 remaining = length;
        if (source < 0) {
            // The track hasn't begun yet: that much of the span stays silent.
            const qint64 silent = std::min(-source, length);
            destination += silent;
            remaining -= silent;
            source = 0;
        }
        if (remaining > 0 && source < stemLength) {
            const qint64 frames = std::min(stemLength - source, remaining);
            readChannel0(stem, source, result.data() + destination, frames);
        }
        // Ramps at the seams between spans only.
        if (i > 0 && write + rampFrames <= total)
            fadeIn(result.data() + write, rampFrames);
        const qint64 end = write + length;
        if (i + 1 < count && end >= rampFrames && end <= total)
            fadeOut(result.data() + end - rampFrames, rampFrames);
        write += length;
    }
    return result;
}

void silenceHidden(Buffer& buffer, const SpanList& hidden, const SpanList& spans,
                   const std::vector<std::uint32_t>& lengths) {
    if (hidden.empty())
        return;
    const qint64 size = qint64(buffer.size());
    qint64 offset = 0;
    const size_t count = std::min(spans.size(), lengths.size());
    for (size_t i = 0; i < count; ++i) {
        const TimeSpan& span = spans[i];
        const qint64 length = lengths[i];
        for (const TimeSpan& h : hidden) {
            const double lo = std::max(span.start, h.start);
            const double hi = std::min(span.end, h.end);
            if (!(lo < hi))
                continue;
            const qint64 a = offset + qint64((lo - span.start) * sampleRate);
            const qint64 b = std::min(offset + qint64((hi - span.start) * sampleRate), offset + length);
            if (!(b > a))
                continue;
            std::fill(buffer.begin() + std::clamp<qint64>(a, 0, size),
                      buffer.begin() + std::clamp<qint64>(b, 0, size), 0.0f);
            if (a >= rampFrames && a <= size)
                fadeOut(buffer.data() + a - rampFrames, rampFrames);
            if (b + rampFrames <= size)
                fadeIn(buffer.data() + b, rampFrames);
        }
        offset += length;
    }
}

void processTrack(Buffer& buffer, const TrackEffects& effects, const std::stop_token& token) {
    if (!effects.eqEnabled && !effects.compressorEnabled)
        return;
    const dsp::ScopedFlushDenormals flushDenormals;
    const qint64 size = qint64(buffer.size());
    if (effects.eqEnabled) {
        dsp::Equalizer eq(sampleRate, {effects.lowCut, float(effects.lowGain), float(effects.midGain),
                                       float(effects.midFrequency), float(effects.highGain)});
        for (qint64 at = 0; at < size; at += blockFrames) {
            throwIfCancelled(token);
            eq.process(buffer.data() + at, size_t(std::min(blockFrames, size - at)));
        }
    }
    if (effects.compressorEnabled) {
        dsp::Compressor compressor(effects.compression, sampleRate);
        for (qint64 at = 0; at < size; at += blockFrames) {
            throwIfCancelled(token);
            compressor.process(buffer.data() + at, size_t(std::min(blockFrames, size - at)));
        }
        throwIfCancelled(token);
        dsp::PeakLimiter(sampleRate).process(buffer.data(), buffer.size());
    }
}

StereoGain panGains(double volumeDB, double pan) {
    const double gain = std::pow(10.0, volumeDB / 20.0);
    const double angle = (pan + 1) * std::numbers::pi * 0.25;
    return {float(gain * std::cos(angle)), float(gain * std::sin(angle))};
}

float peakLevel(const Buffer& left, const Buffer& right) {
    float peak = 0;
    for (const Buffer* channel : {&left, &right})
        for (float x : *channel)
            peak = std::max(peak, std::fabs(x));
    return peak;
}

void scale(Buffer& samples, float factor) {
    if (factor == 1.0f)
        return;
    for (float& x : samples)
        x *= factor;
}

void hardClip(Buffer& samples) {
    for (float& x : samples)
        x = std::clamp(x, -1.0f, 1.0f);
}

} // namespace reelbox::mix
