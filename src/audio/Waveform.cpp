#include "audio/Waveform.h"

#include "platform/Cancellation.h"
#include "platform/media/AudioFile.h"

#include <cmath>
#include <immintrin.h>

namespace reelbox {

namespace {

constexpr double bucketSeconds = 0.01;
constexpr qint64 bucketsPerRead = 500;

// The largest |x| of the samples; a NaN never raises it.
float peakOf(const float* samples, qint64 count, float peak) {
    const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
    __m128 acc = _mm_set1_ps(peak);
    qint64 i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 x = _mm_and_ps(_mm_loadu_ps(samples + i), absMask);
        acc = _mm_max_ps(x, acc); // takes acc when x is NaN
    }
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, acc);
    float result = std::max(std::max(lanes[0], lanes[1]), std::max(lanes[2], lanes[3]));
    for (; i < count; ++i) {
        const float x = std::fabs(samples[i]);
        if (x > result)
            result = x;
    }
    return result;
}

} // namespace

Waveform Waveform::load(const QString& stemPath, double startSeconds,
                        const std::stop_token& token) {
    AudioFileReader file(stemPath);
    const int channels = file.channels();
    const qint64 samplesPerBucket = std::max<qint64>(1, qint64(file.sampleRate() * bucketSeconds));

    Waveform waveform;
    waveform.bucketDuration = bucketSeconds;
    const auto offset = qint64(std::round(startSeconds / bucketSeconds));
    qint64 skip = 0;
    if (offset >= 1)
        waveform.peaks.assign(size_t(offset), 0.0f);
    else
        skip = -offset;
    waveform.peaks.reserve(waveform.peaks.size() + size_t(file.frames() / samplesPerBucket + 1));

    const qint64 capacity = samplesPerBucket * bucketsPerRead;
    std::vector<float> buffer(size_t(capacity * channels));
    std::vector<float> mono(channels == 1 ? 0 : size_t(capacity));
    float peak = 0;
    qint64 filled = 0;
    while (file.position() < file.frames()) {
        throwIfCancelled(token);
        const qint64 read = file.read(buffer.data(), capacity);
        if (read == 0)
            break;
        const float* samples = buffer.data();
        if (channels > 1) { // only channel 0 counts
            for (qint64 j = 0; j < read; ++j)
                mono[size_t(j)] = buffer[size_t(j * channels)];
            samples = mono.data();
        }
        qint64 i = 0;
        while (i < read) {
            const qint64 n = std::min(samplesPerBucket - filled, read - i);
            peak = peakOf(samples + i, n, peak);
            filled += n;
            i += n;
            if (filled == samplesPerBucket) {
                if (skip == 0)
                    waveform.peaks.push_back(peak);
                else
                    --skip;
                peak = 0;
                filled = 0;
            }
        }
    }
    if (filled >= 1 && skip == 0)
        waveform.peaks.push_back(peak);
    return waveform;
}

} // namespace reelbox
