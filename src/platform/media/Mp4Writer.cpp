#include "platform/media/Mp4Writer.h"

#include "platform/Cancellation.h"
#include "platform/SampleRate.h"
#include "platform/media/PictureConverter.h"
#include "platform/media/internal/Av.h"
#include "platform/media/internal/PictureConversion.h"

#include <QFile>
#include <algorithm>
#include <functional>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace reelbox {

namespace {
constexpr int audioRate = audioSampleRate;
constexpr int audioChannels = 2;
constexpr qint64 audioBitRate = 256000;

struct DictionaryDeleter {
    void operator()(AVDictionary* d) const { av_dict_free(&d); }
};

// Writes the trailer with the muxer's file reopening routed through here: the pass that moves
// the index to the front reads the whole file back, and the bytes it has read tell how far it
// has come. A stop request ends the reading, which leaves the file unfinished.
class IndexMove {
public:
    IndexMove(std::function<void(double)> progress, std::stop_token token)
        : m_progress(std::move(progress)), m_token(std::move(token)) {}
    ~IndexMove() { release(); }
    IndexMove(const IndexMove&) = delete;
    IndexMove& operator=(const IndexMove&) = delete;

    // av_write_trailer's result.
    int run(AVFormatContext* output) {
        const auto open = output->io_open;
        const auto close = output->io_close2;
        void* const opaque = output->opaque;
        output->io_open = &IndexMove::openFile;
        output->io_close2 = &IndexMove::closeFile;
        output->opaque = this;
        const int result = av_write_trailer(output);
        output->io_open = open;
        output->io_close2 = close;
        output->opaque = opaque;
        return result;
    }

private:
    static constexpr int bufferSize = 1 << 15;

    static int openFile(AVFormatContext* s, AVIOContext** pb, const char* url, int flags,
                        AVDictionary** options) {
        auto* self = static_cast<IndexMove*>(s->opaque);
        const int opened = avio_open2(pb, url, flags, &s->interrupt_callback, options);
        if (opened < 0 || (flags & AVIO_FLAG_WRITE) || self->m_counted)
            return opened;
        auto* buffer = static_cast<unsigned char*>(av_malloc(bufferSize));
        AVIOContext* counted =
            buffer ? avio_alloc_context(buffer, bufferSize, 0, self, &IndexMove::readPacket,
                                        nullptr, &IndexMove::seekTo)
                   : nullptr;
        if (!counted) {
            av_free(buffer);
            avio_closep(pb);
            return AVERROR(ENOMEM);
        }
        self->m_file = *pb;
        self->m_size = std::max<int64_t>(1, avio_size(*pb));
        self->m_counted = counted;
        *pb = counted;
        return 0;
    }

    static int closeFile(AVFormatContext* s, AVIOContext* pb) {
        auto* self = static_cast<IndexMove*>(s->opaque);
        if (pb && pb == self->m_counted)
            return self->release();
        return avio_close(pb);
    }

    static int readPacket(void* opaque, uint8_t* buffer, int size) {
        auto* self = static_cast<IndexMove*>(opaque);
        if (self->m_token.stop_requested())
            return AVERROR_EXIT;
        const int read = avio_read(self->m_file, buffer, size);
        if (read > 0) {
            self->m_read += read;
            if (self->m_progress)
                self->m_progress(std::min(1.0, double(self->m_read) / double(self->m_size)));
        }
        return read;
    }

    static int64_t seekTo(void* opaque, int64_t offset, int whence) {
        auto* self = static_cast<IndexMove*>(opaque);
        if (whence & AVSEEK_SIZE)
            return avio_size(self->m_file);
        return avio_seek(self->m_file, offset, whence & ~AVSEEK_FORCE);
    }

    int release() {
        if (m_counted) {
            av_freep(&m_counted->buffer);
            avio_context_free(&m_counted);
        }
        return m_file ? avio_closep(&m_file) : 0;
    }

    std::function<void(double)> m_progress;
    std::stop_token m_token;
    AVIOContext* m_file = nullptr;    // the file as opened
    AVIOContext* m_counted = nullptr; // what the muxer reads through
    int64_t m_size = 1;
    int64_t m_read = 0;
};
} // namespace

struct Mp4Writer::State {
    QString what;
    Mp4WriterSettings settings;
    av::OutputPtr output;
    av::CodecPtr video;
    av::CodecPtr audio;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    PictureConverter converter;
    av::FramePtr picture;
    av::FramePtr sound;
    av::PacketPtr packet = av::makePacket();
    std::vector<float> pending; // interleaved stereo not yet encoded
    int64_t audioPts = 0;
    int64_t lastFrameIndex = -1;
    int64_t lastVideoDts = AV_NOPTS_VALUE;
    bool finished = false;

    int check(int code) const {
        if (code < 0)
            throw Error(what + QStringLiteral(": ") + av::errorText(code));
        return code;
    }

    void addVideo() {
        const bool hevc = settings.video == Mp4WriterSettings::Video::hevc;
        const char* name = hevc ? "libx265" : "libx264";
        const AVCodec* codec = avcodec_find_encoder_by_name(name);
        if (!codec)
            throw EncoderUnavailable(QStringLiteral("The %1 encoder is missing").arg(name));
        video.reset(avcodec_alloc_context3(codec));
        if (!video)
            throw Error(QStringLiteral("Out of memory"));
        video->width = settings.videoSize.width();
        video->height = settings.videoSize.height();
        video->time_base = AVRational{1, settings.frameRate};
        video->framerate = AVRational{settings.frameRate, 1};
        video->pix_fmt = AV_PIX_FMT_YUV420P;
        video->color_range = AVCOL_RANGE_MPEG;
        const bool hd = settings.bt709 || video->height >= 720;
        video->colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
        video->color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
        video->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
        video->thread_count = 0;
        if (output->oformat->flags & AVFMT_GLOBALHEADER)
            video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        // A key frame at least every 2 s, so a player seeking in the file decodes little.
        const int keyInterval = 2 * settings.frameRate;
        video->gop_size = keyInterval;
        av_opt_set(video->priv_data, "preset", "medium", 0);
        av_opt_set(video->priv_data, "crf", hevc ? "22" : "18", 0);
        if (hevc)
            av_opt_set(
                video->priv_data, "x265-params",
                QStringLiteral("log-level=none:keyint=%1").arg(keyInterval).toUtf8().constData(),
                0);
        check(avcodec_open2(video.get(), codec, nullptr));

        videoStream = avformat_new_stream(output.get(), nullptr);
        if (!videoStream)
            throw Error(QStringLiteral("Out of memory"));
        check(avcodec_parameters_from_context(videoStream->codecpar, video.get()));
        videoStream->time_base = video->time_base;
        videoStream->avg_frame_rate = video->framerate;
        if (hevc)
            videoStream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1'); // plays everywhere

        picture = av::makeFrame();
        picture->format = video->pix_fmt;
        picture->width = video->width;
        picture->height = video->height;
        check(av_frame_get_buffer(picture.get(), 0));
    }

    void addAudio() {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
        if (!codec)
            throw EncoderUnavailable(QStringLiteral("The AAC encoder is missing"));
        audio.reset(avcodec_alloc_context3(codec));
        if (!audio)
            throw Error(QStringLiteral("Out of memory"));
        audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
        audio->sample_rate = audioRate;
        audio->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
        audio->bit_rate = audioBitRate;
        audio->profile = FF_PROFILE_AAC_LOW;
        audio->time_base = AVRational{1, audioRate};
        if (output->oformat->flags & AVFMT_GLOBALHEADER)
            audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        check(avcodec_open2(audio.get(), codec, nullptr));

        audioStream = avformat_new_stream(output.get(), nullptr);
        if (!audioStream)
            throw Error(QStringLiteral("Out of memory"));
        check(avcodec_parameters_from_context(audioStream->codecpar, audio.get()));
        audioStream->time_base = audio->time_base;

        sound = av::makeFrame();
        sound->format = audio->sample_fmt;
        sound->sample_rate = audioRate;
        check(av_channel_layout_copy(&sound->ch_layout, &audio->ch_layout));
        sound->nb_samples = audio->frame_size > 0 ? audio->frame_size : 1024;
        check(av_frame_get_buffer(sound.get(), 0));
    }

    // Sends a frame (or the end, with nullptr) and writes every packet that comes out.
    // `written` hears of every packet written.
    void encode(AVCodecContext* codec, AVStream* stream, const AVFrame* frame,
                const std::function<void()>& written = {}) {
        check(avcodec_send_frame(codec, frame));
        for (;;) {
            const int received = avcodec_receive_packet(codec, packet.get());
            if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
                return;
            check(received);
            if (codec == video.get())
                av::repairVideoDts(*packet, lastVideoDts, 64); // see repairVideoDts
            av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            check(av_interleaved_write_frame(output.get(), packet.get()));
            if (written)
                written();
        }
    }

    // Encodes whole AAC frames from the pending samples; with `all`, the short last one too.
    void encodePending(bool all) {
        const qint64 frameSize = sound->nb_samples;
        qint64 used = 0;
        const qint64 available = qint64(pending.size()) / audioChannels;
        while (available - used >= frameSize || (all && available > used)) {
            const qint64 n = std::min(frameSize, available - used);
            check(av_frame_make_writable(sound.get()));
            sound->nb_samples = int(n);
            auto* left = reinterpret_cast<float*>(sound->data[0]);
            auto* right = reinterpret_cast<float*>(sound->data[1]);
            const float* in = pending.data() + used * audioChannels;
            for (qint64 i = 0; i < n; ++i) {
                left[i] = in[i * 2];
                right[i] = in[i * 2 + 1];
            }
            sound->pts = audioPts;
            audioPts += n;
            encode(audio.get(), audioStream, sound.get());
            sound->nb_samples = int(frameSize);
            used += n;
        }
        pending.erase(pending.begin(), pending.begin() + used * audioChannels);
    }
};

Mp4Writer::Mp4Writer(const QString& path, const Mp4WriterSettings& settings)
    : d(std::make_unique<State>()) {
    av::installLogging();
    d->what = QStringLiteral("Can't write “%1”").arg(av::displayName(path));
    d->settings = settings;
    const bool withVideo = settings.video != Mp4WriterSettings::Video::none;
    if (withVideo && (settings.videoSize.width() < 2 || settings.videoSize.height() < 2 ||
                      settings.videoSize.width() % 2 || settings.videoSize.height() % 2 ||
                      settings.frameRate <= 0))
        throw Error(d->what + QStringLiteral(": the picture size must be even"));
    if (!withVideo && !settings.audio)
        throw Error(d->what + QStringLiteral(": there is nothing to write"));

    // The muxer reopens the file by its name to move the index to the front.
    const QByteArray url = "file:" + QFile::encodeName(path);
    AVFormatContext* raw = nullptr;
    d->check(avformat_alloc_output_context2(&raw, nullptr, settings.m4a ? "ipod" : "mp4",
                                            url.constData()));
    d->output.reset(raw);
    if (withVideo)
        d->addVideo();
    if (settings.audio)
        d->addAudio();

    d->check(avio_open(&d->output->pb, url.constData(), AVIO_FLAG_WRITE));
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0); // the index goes before the media data
    std::unique_ptr<AVDictionary, DictionaryDeleter> owned(options);
    AVDictionary* passed = owned.release();
    const int written = avformat_write_header(d->output.get(), &passed);
    owned.reset(passed);
    d->check(written);
}

Mp4Writer::~Mp4Writer() = default;

void Mp4Writer::writeVideoFrame(const QImage& frame, qint64 frameIndex) {
    if (!d->video || d->finished)
        return;
    if (frame.isNull() || frameIndex <= d->lastFrameIndex)
        throw Error(d->what +
                    QStringLiteral(": frame %1 is empty or out of order").arg(frameIndex));
    d->check(av_frame_make_writable(d->picture.get()));
    d->converter.convert(frame, yuvPictureOf(*d->picture, colourMatrix()));
    d->picture->pts = frameIndex;
    d->encode(d->video.get(), d->videoStream, d->picture.get());
    d->lastFrameIndex = frameIndex;
}

void Mp4Writer::writeVideoFrame(const YuvPicture& frame, qint64 frameIndex) {
    if (!d->video || d->finished)
        return;
    if (frame.isNull() || frameIndex <= d->lastFrameIndex)
        throw Error(d->what +
                    QStringLiteral(": frame %1 is empty or out of order").arg(frameIndex));
    if (frame.size() != d->settings.videoSize || frame.matrix() != colourMatrix())
        throw Error(d->what + QStringLiteral(": a picture of another size or colour matrix"));
    d->check(av_frame_make_writable(d->picture.get()));
    const uint8_t* planes[4] = {frame.plane(0), frame.plane(1), frame.plane(2), nullptr};
    const int strides[4] = {frame.stride(0), frame.stride(1), frame.stride(2), 0};
    av_image_copy(d->picture->data, d->picture->linesize, planes, strides, AV_PIX_FMT_YUV420P,
                  d->picture->width, d->picture->height);
    d->picture->pts = frameIndex;
    d->encode(d->video.get(), d->videoStream, d->picture.get());
    d->lastFrameIndex = frameIndex;
}

YuvPicture::Matrix Mp4Writer::colourMatrix() const {
    return d->video && d->video->colorspace == AVCOL_SPC_BT709 ? YuvPicture::Matrix::bt709
                                                               : YuvPicture::Matrix::bt601;
}

void Mp4Writer::writeAudio(const float* interleavedStereo, qint64 frames) {
    if (!d->audio || d->finished || frames <= 0)
        return;
    d->pending.insert(d->pending.end(), interleavedStereo,
                      interleavedStereo + frames * audioChannels);
    d->encodePending(false);
}

void Mp4Writer::finish(const std::function<void(double)>& progress, const std::stop_token& token) {
    if (d->finished)
        return;
    d->finished = true;
    const auto report = [&](double fraction) {
        if (progress)
            progress(std::clamp(fraction, 0.0, 1.0));
    };
    if (d->audio) {
        d->encodePending(true);
        d->encode(d->audio.get(), d->audioStream, nullptr);
    }
    // The first half: the frames the video encoder still holds.
    if (d->video) {
        const int64_t from = d->lastVideoDts == AV_NOPTS_VALUE ? 0 : d->lastVideoDts;
        const double held = double(std::max<int64_t>(1, d->lastFrameIndex - from));
        d->encode(d->video.get(), d->videoStream, nullptr, [&] {
            throwIfCancelled(token);
            report(0.5 * double(d->lastVideoDts - from) / held);
        });
    }
    throwIfCancelled(token);
    report(0.5);

    // The second half: the index written and moved to the front, which reads the file back.
    IndexMove move([&](double fraction) { report(0.5 + 0.5 * fraction); }, token);
    const int trailer = move.run(d->output.get());
    throwIfCancelled(token);
    d->check(trailer);
    d->check(avio_closep(&d->output->pb));
    report(1.0);
}

} // namespace reelbox
