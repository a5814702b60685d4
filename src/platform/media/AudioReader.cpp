#include "platform/media/AudioReader.h"

#include "platform/Error.h"
#include "platform/media/internal/Av.h"

#include <cstring>

namespace reelbox {

namespace {

enum class Phase { Reading, Draining, Done };

bool isFloat(int format) {
    return format == AV_SAMPLE_FMT_FLT || format == AV_SAMPLE_FMT_FLTP;
}

} // namespace

struct AudioReader::State {
    QString what; // message prefix
    av::InputPtr format;
    int streamIndex = -1;
    AVRational timeBase{0, 1};
    av::CodecPtr decoder;
    av::PacketPtr packet = av::makePacket();
    av::FramePtr frame = av::makeFrame();
    int channels = 0;
    int sourceRate = 0;
    double start = 0;
    Phase phase = Phase::Reading;

    // Resampling, set up on the first frame that is not float at 48 kHz.
    av::SwrPtr resampler;
    int resamplerFormat = -1;
    int resamplerRate = 0;
    bool direct = false; // the first frame went the direct way
    double resampledStart = 0;
    qint64 resampledFrames = 0;

    void fail(int code) const { throw Error(what + QStringLiteral(": ") + av::errorText(code)); }
    bool deliver(AudioBuffer& buffer);
    bool copyDirect(AudioBuffer& buffer);
    bool resample(AudioBuffer& buffer, const uint8_t* const* input, int frames);
    void setUpResampler();
};

AudioReader::AudioReader(const QString& path) : d(std::make_unique<State>()) {
    d->format = av::openInput(path);
    d->what = QStringLiteral("Can't read the audio of “%1”").arg(av::displayName(path));
    d->streamIndex = av::firstStream(d->format.get(), AVMEDIA_TYPE_AUDIO);
    if (d->streamIndex < 0)
        throw Error(QStringLiteral("“%1” has no audio").arg(av::displayName(path)));

    for (unsigned i = 0; i < d->format->nb_streams; ++i) {
        if (int(i) != d->streamIndex)
            d->format->streams[i]->discard = AVDISCARD_ALL;
    }
    const AVStream* stream = d->format->streams[d->streamIndex];
    d->timeBase = stream->time_base;
    d->channels = stream->codecpar->ch_layout.nb_channels;
    d->sourceRate = stream->codecpar->sample_rate;
    if (d->channels <= 0 || d->sourceRate <= 0)
        d->fail(AVERROR_INVALIDDATA);
    d->start = av::streamStartSeconds(d->format.get(), stream);
    d->decoder = av::openDecoder(stream, 1, FF_THREAD_FRAME, d->what);
}

AudioReader::~AudioReader() = default;

int AudioReader::channelCount() const {
    return d->channels;
}
int AudioReader::sourceSampleRate() const {
    return d->sourceRate;
}
double AudioReader::startSeconds() const {
    return d->start;
}

bool AudioReader::read(AudioBuffer& buffer) {
    while (d->phase != Phase::Done) {
        const int received = avcodec_receive_frame(d->decoder.get(), d->frame.get());
        if (received == 0) {
            const bool filled = d->deliver(buffer);
            av_frame_unref(d->frame.get());
            if (filled)
                return true;
            continue;
        }
        if (received == AVERROR_EOF ||
            (received == AVERROR(EAGAIN) && d->phase == Phase::Draining)) {
            d->phase = Phase::Done;
            if (d->resampler && d->resample(buffer, nullptr, 0))
                return true;
            break;
        }
        if (received != AVERROR(EAGAIN))
            d->fail(received);

        const int readResult = av_read_frame(d->format.get(), d->packet.get());
        if (readResult == AVERROR_EOF) {
            d->phase = Phase::Draining;
            const int sent = avcodec_send_packet(d->decoder.get(), nullptr);
            if (sent < 0 && sent != AVERROR_EOF)
                d->fail(sent);
            continue;
        }
        if (readResult < 0)
            d->fail(readResult);
        if (d->packet->stream_index == d->streamIndex) {
            const int sent = avcodec_send_packet(d->decoder.get(), d->packet.get());
            av_packet_unref(d->packet.get());
            if (sent < 0)
                d->fail(sent);
        } else {
            av_packet_unref(d->packet.get());
        }
    }
    buffer.frames = 0;
    buffer.samples.clear();
    return false;
}

bool AudioReader::State::deliver(AudioBuffer& buffer) {
    if (frame->ch_layout.nb_channels != channels)
        throw Error(what + QStringLiteral(": the channel count changes midway"));
    if (frame->nb_samples <= 0)
        return false;
    const bool floatAt48k = isFloat(frame->format) && frame->sample_rate == sampleRate;
    if (!resampler && floatAt48k) {
        direct = true;
        return copyDirect(buffer);
    }
    if (!resampler) {
        if (direct)
            throw Error(what + QStringLiteral(": the sample format changes midway"));
        setUpResampler();
        resampledStart = frame->best_effort_timestamp != AV_NOPTS_VALUE
                             ? av::seconds(frame->best_effort_timestamp, timeBase)
                             : start;
    } else if (frame->format != resamplerFormat || frame->sample_rate != resamplerRate) {
        throw Error(what + QStringLiteral(": the sample format changes midway"));
    }
    return resample(buffer, frame->extended_data, frame->nb_samples);
}

bool AudioReader::State::copyDirect(AudioBuffer& buffer) {
    const qint64 frames = frame->nb_samples;
    buffer.frames = frames;
    buffer.samples.resize(size_t(frames * channels));
    buffer.ptsSeconds = frame->best_effort_timestamp != AV_NOPTS_VALUE
                            ? av::seconds(frame->best_effort_timestamp, timeBase)
                            : start;
    float* out = buffer.samples.data();
    if (frame->format == AV_SAMPLE_FMT_FLT) {
        std::memcpy(out, frame->extended_data[0], size_t(frames * channels) * sizeof(float));
        return true;
    }
    for (int c = 0; c < channels; ++c) {
        const auto* in = reinterpret_cast<const float*>(frame->extended_data[c]);
        float* o = out + c;
        for (qint64 i = 0; i < frames; ++i, o += channels)
            *o = in[i];
    }
    return true;
}

void AudioReader::State::setUpResampler() {
    AVChannelLayout layout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&layout, channels);
    else if (av_channel_layout_copy(&layout, &frame->ch_layout) < 0)
        fail(AVERROR(ENOMEM));
    SwrContext* raw = nullptr;
    const int allocated =
        swr_alloc_set_opts2(&raw, &layout, AV_SAMPLE_FMT_FLT, sampleRate, &layout,
                            AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&layout);
    resampler.reset(raw);
    if (allocated < 0)
        fail(allocated);
    const int initialised = swr_init(resampler.get());
    if (initialised < 0)
        fail(initialised);
    resamplerFormat = frame->format;
    resamplerRate = frame->sample_rate;
}

bool AudioReader::State::resample(AudioBuffer& buffer, const uint8_t* const* input, int frames) {
    const int capacity = swr_get_out_samples(resampler.get(), frames);
    if (capacity < 0)
        fail(capacity);
    if (capacity == 0)
        return false;
    buffer.samples.resize(size_t(capacity) * size_t(channels));
    auto* out = reinterpret_cast<uint8_t*>(buffer.samples.data());
    const int produced =
        swr_convert(resampler.get(), &out, capacity, const_cast<const uint8_t**>(input), frames);
    if (produced < 0)
        fail(produced);
    buffer.samples.resize(size_t(produced) * size_t(channels));
    buffer.frames = produced;
    buffer.ptsSeconds = resampledStart + double(resampledFrames) / sampleRate;
    resampledFrames += produced;
    return produced > 0;
}

} // namespace reelbox
