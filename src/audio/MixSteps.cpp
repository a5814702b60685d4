#include "audio/MixSteps.h"

#include "audio/BlockProgress.h"
#include "audio/dsp/Compressor.h"
#include "audio/dsp/Equalizer.h"
#include "audio/dsp/FlushDenormals.h"
#include "audio/dsp/PeakLimiter.h"
#include "audio/dsp/Reverb.h"
#include "audio/dsp/SampleOps.h"
#include "platform/Cancellation.h"
#include "platform/MediaTime.h"
#include "platform/media/AudioFile.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <limits>
#include <new>
#include <numbers>

namespace reelbox::mix {

namespace {

dsp::ReverbPreset presetFor(ReverbRoom room) {
    switch (room) {
    case ReverbRoom::smallRoom:
        return dsp::ReverbPreset::smallRoom;
    case ReverbRoom::mediumRoom:
        return dsp::ReverbPreset::mediumRoom;
    case ReverbRoom::largeRoom:
        return dsp::ReverbPreset::largeRoom;
    case ReverbRoom::hall:
        return dsp::ReverbPreset::hall;
    case ReverbRoom::largeHall:
        return dsp::ReverbPreset::largeHall;
    case ReverbRoom::plate:
        return dsp::ReverbPreset::plate;
    case ReverbRoom::cathedral:
        return dsp::ReverbPreset::cathedral;
    }
    return dsp::ReverbPreset::mediumRoom;
}

} // namespace

std::vector<std::uint32_t> spanLengths(const SpanList& spans) {
    std::vector<std::uint32_t> lengths;
    lengths.reserve(spans.size());
    for (const TimeSpan& span : spans) {
        const double frames = double(framesRounded(span.end - span.start));
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

// Reads `frames` frames of channel 0 of the stem from `from` into `out`, a chunk at a time;
// each chunk is cleared of samples that are not finite while it is still in the cache.
qint64 readChannel0(AudioFileReader& stem, qint64 from, float* out, qint64 frames) {
    constexpr qint64 chunkFrames = 16 * blockFrames;
    stem.seek(from);
    const int channels = stem.channels();
    std::vector<float> chunk(channels == 1 ? 0 : size_t(blockFrames * channels));
    qint64 done = 0;
    while (done < frames) {
        qint64 got = 0;
        if (channels == 1) {
            got = stem.read(out + done, std::min(chunkFrames, frames - done));
        } else {
            got = stem.read(chunk.data(), std::min(blockFrames, frames - done));
            for (qint64 i = 0; i < got; ++i)
                out[done + i] = chunk[size_t(i * channels)];
        }
        if (got == 0)
            break;
        dsp::silenceNonFinite(out + done, size_t(got));
        done += got;
    }
    return done;
}

} // namespace

Buffer splice(const QString& stemPath, double inputStart, const SpanList& spans,
              const std::vector<std::uint32_t>& lengths, qint64 total) {
    Buffer result;
    splice(result, stemPath, inputStart, spans, lengths, total);
    return result;
}

void splice(Buffer& into, const QString& stemPath, double inputStart, const SpanList& spans,
            const std::vector<std::uint32_t>& lengths, qint64 total) {
    total = std::max<qint64>(total, 0);
    AudioFileReader stem(stemPath);
    into.resize(size_t(total));
    float* const result = into.data();
    // Silence over [from, to) of the buffer; the frames that aren't read are set here.
    const auto silence = [&](qint64 from, qint64 to) {
        from = std::clamp<qint64>(from, 0, total);
        to = std::clamp<qint64>(to, 0, total);
        if (from < to)
            std::fill(result + from, result + to, 0.0f);
    };
    const qint64 stemLength = stem.frames();
    qint64 write = 0;
    const size_t count = std::min(spans.size(), lengths.size());
    for (size_t i = 0; i < count; ++i) {
        const qint64 length = lengths[i];
        qint64 source = framesTruncated(spans[i].start - inputStart);
        qint64 destination = write;
        qint64 remaining = length;
        if (source < 0) {
            // The track hasn't begun yet: that much of the span stays silent.
            const qint64 silent = std::min(-source, length);
            destination += silent;
            remaining -= silent;
            source = 0;
        }
        silence(write, destination);
        qint64 filled = destination;
        if (remaining > 0 && source < stemLength && destination < total) {
            const qint64 frames = std::min({stemLength - source, remaining, total - destination});
            filled += readChannel0(stem, source, result + destination, frames);
        }
        silence(filled, write + length); // past the stem's end
        // Ramps at the seams between spans only.
        if (i > 0 && write + rampFrames <= total)
            fadeIn(result + write, rampFrames);
        const qint64 end = write + length;
        if (i + 1 < count && end >= rampFrames && end <= total)
            fadeOut(result + end - rampFrames, rampFrames);
        write += length;
    }
    silence(write, total);
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
            const qint64 a = offset + framesTruncated(lo - span.start);
            const qint64 b = std::min(offset + framesTruncated(hi - span.start), offset + length);
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

double limitedGainDB(double gainDB) {
    return std::isnan(gainDB) ? 0.0 : std::min(gainDB, loudestGainDB);
}

void processTrack(Buffer& buffer, const TrackEffects& effects, const std::stop_token& token) {
    if (!effects.eqEnabled && !effects.compressorEnabled)
        return;
    const dsp::ScopedFlushDenormals flushDenormals;
    const qint64 size = qint64(buffer.size());
    if (effects.eqEnabled) {
        const auto band = [](double gainDB) {
            return float(std::max(limitedGainDB(gainDB), -loudestGainDB));
        };
        dsp::Equalizer eq(audioSampleRate,
                          {effects.lowCut, band(effects.lowGain), band(effects.midGain),
                           float(effects.midFrequency), band(effects.highGain)});
        for (qint64 at = 0; at < size; at += blockFrames) {
            throwIfCancelled(token);
            eq.process(buffer.data() + at, size_t(std::min(blockFrames, size - at)));
        }
    }
    if (effects.compressorEnabled) {
        const double amount =
            std::isnan(effects.compression) ? 0.0 : std::clamp(effects.compression, 0.0, 1.0);
        dsp::Compressor compressor(amount, audioSampleRate);
        for (qint64 at = 0; at < size; at += blockFrames) {
            throwIfCancelled(token);
            compressor.process(buffer.data() + at, size_t(std::min(blockFrames, size - at)));
        }
        throwIfCancelled(token);
        dsp::PeakLimiter(audioSampleRate).process(buffer.data(), buffer.size());
    }
}

StereoGain panGains(double volumeDB, double pan) {
    const double gain = std::pow(10.0, limitedGainDB(volumeDB) / 20.0);
    const double position = std::isnan(pan) ? 0.0 : std::clamp(pan, -1.0, 1.0);
    const double angle = (position + 1) * std::numbers::pi * 0.25;
    return {float(gain * std::cos(angle)), float(gain * std::sin(angle))};
}

float peakLevel(const Buffer& left, const Buffer& right) {
    return std::max(dsp::peakMagnitude(left.data(), left.size()),
                    dsp::peakMagnitude(right.data(), right.size()));
}

void finishAndWrite(const QString& path, Buffer& left, Buffer& right, float factor,
                    Buffer* written) {
    const qint64 total = qint64(std::min(left.size(), right.size()));
    const bool scaled = factor != 1.0f;
    // The faded frames, [0, headEnd) and [tailStart, total), are scaled and faded first; the
    // frames between them, [headEnd, middleEnd), are scaled chunk by chunk below. Either
    // way every sample is scaled, faded (at the edges), then clipped, in that order.
    const qint64 headEnd = total >= rampFrames ? rampFrames : 0;
    const qint64 tailStart = total - std::min(total, rampFrames);
    const qint64 middleEnd = std::max(headEnd, tailStart);
    for (Buffer* channel : {&left, &right}) {
        float* const x = channel->data();
        if (scaled) {
            dsp::scale(x, size_t(headEnd), factor);
            dsp::scale(x + middleEnd, size_t(total - middleEnd), factor);
        }
        if (total >= rampFrames)
            fadeIn(x, rampFrames);
        fadeOut(x + tailStart, total - tailStart);
    }

    constexpr qint64 chunkFrames = 16384;
    AudioFileWriter writer(path, 2, audioSampleRate);
    // Scales what lies between the fades, clips and interleaves frames [at, at + n) into `out`.
    const auto prepare = [&](qint64 at, qint64 n, float* out) {
        const qint64 from = std::clamp(headEnd, at, at + n);
        const qint64 to = std::clamp(middleEnd, at, at + n);
        for (Buffer* channel : {&left, &right}) {
            float* const x = channel->data();
            if (scaled && from < to)
                dsp::scale(x + from, size_t(to - from), factor);
            dsp::clip(x + at, size_t(n));
        }
        dsp::interleave(left.data() + at, right.data() + at, out, size_t(n));
    };
    if (!written) {
        std::vector<float> chunk(size_t(2 * std::min(total, chunkFrames)));
        for (qint64 at = 0; at < total; at += chunkFrames) {
            const qint64 n = std::min(chunkFrames, total - at);
            prepare(at, n, chunk.data());
            writer.write(chunk.data(), n);
        }
    } else {
        // The whole mix is kept interleaved, so the file can be written on a second thread
        // a little behind the preparing.
        written->resize(size_t(2 * total));
        constexpr qint64 publishFrames = 8 * chunkFrames;
        BlockProgress prepared;
        auto writing = std::async(std::launch::async, [&] {
            for (qint64 at = 0; at < total; at += chunkFrames) {
                const qint64 n = std::min(chunkFrames, total - at);
                if (!prepared.waitFor(at + n))
                    return;
                writer.write(written->data() + 2 * at, n);
            }
        });
        for (qint64 at = 0; at < total; at += chunkFrames) {
            const qint64 n = std::min(chunkFrames, total - at);
            prepare(at, n, written->data() + 2 * at);
            if ((at + n) % publishFrames == 0 || at + n == total)
                prepared.publish(at + n);
        }
        writing.get();
    }
    writer.close();
}

void processTrackSound(Buffer& samples, const AudioProcessor::TrackInput& input,
                       const SpanList& spans, const std::vector<std::uint32_t>& lengths,
                       qint64 total, const std::stop_token& token) {
    splice(samples, input.stem, input.start, spans, lengths, total);
    silenceHidden(samples, input.hidden, spans, lengths);
    processTrack(samples, input.track.effects, token);
}

void reverberate(ReverbRoom room, qint64 total, Bus* whole, const std::stop_token& token,
                 const std::function<std::pair<const float*, const float*>(qint64, qint64)>& input,
                 const std::function<void(qint64, const float*, const float*, qint64)>& use) {
    dsp::Reverb reverb(presetFor(room), audioSampleRate);
    Bus scratch;
    if (whole)
        *whole = {Buffer(size_t(total)), Buffer(size_t(total))};
    else
        scratch = {Buffer(size_t(blockFrames)), Buffer(size_t(blockFrames))};
    for (qint64 at = 0; at < total; at += blockFrames) {
        throwIfCancelled(token);
        const qint64 n = std::min(blockFrames, total - at);
        float* const left = whole ? whole->left.data() + at : scratch.left.data();
        float* const right = whole ? whole->right.data() + at : scratch.right.data();
        const auto [inLeft, inRight] = input(at, n);
        reverb.process(inLeft, inRight, left, right, size_t(n));
        use(at, left, right, n);
    }
}

} // namespace reelbox::mix
