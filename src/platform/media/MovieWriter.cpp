#include "platform/media/MovieWriter.h"

#include "platform/Error.h"
#include "platform/media/PictureConverter.h"
#include "platform/media/internal/Av.h"
#include "platform/media/internal/PictureConversion.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/opt.h>
}

#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#if defined(__SANITIZE_ADDRESS__)
// libx265 3.5 leaks a little on every encoder it opens (a parameter block, and the SAO
// buffers when SAO is off, as in the fast presets); not ours to fix.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n";
}
#endif

namespace reelbox {

namespace {

// Video time base: a whole number of ticks per frame at 24, 25, 30, 50 and 60 fps.
constexpr AVRational videoTimeBase{1, 90000};

// The x265 settings: fast enough for 1080p30 on two cores, a closed GOP with a key frame
// every second so that every second can be decoded on its own, and no console output.
QByteArray x265Parameters(int frameRate) {
    return QStringLiteral("keyint=%1:min-keyint=%1:scenecut=0:open-gop=0:log-level=none")
        .arg(frameRate)
        .toUtf8();
}
constexpr const char* x265Preset = "ultrafast";
constexpr const char* x265Quality = "23"; // crf when no bit rate is asked for

} // namespace

struct MovieWriter::State {
    QString path;
    QString partialPath;
    QString what;
    MovieWriterSettings settings;
    av::OutputPtr output;
    bool finished = false;
    bool failed = false;

    av::CodecPtr video;
    AVStream* videoStream = nullptr;
    av::FramePtr picture;
    PictureConverter converter;
    int64_t lastVideoPts = AV_NOPTS_VALUE;
    int64_t lastVideoDts = AV_NOPTS_VALUE; // of the last packet, in the encoder's time base

    AVStream* audioStream = nullptr;
    int64_t nextAudioPts = AV_NOPTS_VALUE; // in frames

    av::PacketPtr packet = av::makePacket();

    int check(int code) const { return av::check(code, what); }
    void addVideo();
    void addAudio();
    void encodeVideo(const AVFrame* frame);
    void writeAudioPacket(const float* interleaved, qint64 frames);
    void guard() const {
        if (failed)
            throw Error(what + QStringLiteral(": an earlier write failed"));
        if (finished)
            throw Error(what + QStringLiteral(": the movie is already finished"));
    }
};

MovieWriter::MovieWriter(const QString& path, const MovieWriterSettings& settings)
    : d(std::make_unique<State>()) {
    av::installLogging();
    d->path = path;
    d->partialPath = path + QStringLiteral(".partial");
    d->what = QStringLiteral("Can't write “%1”").arg(av::displayName(path));
    d->settings = settings;

    const bool hasVideo = !settings.videoSize.isEmpty();
    if (!hasVideo && settings.audioChannels <= 0)
        throw Error(d->what + QStringLiteral(": the movie would have neither audio nor video"));
    if (hasVideo && (settings.videoSize.width() % 2 || settings.videoSize.height() % 2))
        throw Error(d->what + QStringLiteral(": the picture size must be even"));
    if (hasVideo && (settings.frameRate <= 0 || settings.rotationDegrees % 90 != 0))
        throw Error(d->what + QStringLiteral(": invalid frame rate or rotation"));
    if (settings.audioChannels > 0 && settings.sampleRate <= 0)
        throw Error(d->what + QStringLiteral(": invalid sample rate"));

    AVFormatContext* raw = nullptr;
    d->check(avformat_alloc_output_context2(&raw, nullptr, "mov", nullptr));
    d->output.reset(raw);
    if (hasVideo)
        d->addVideo();
    if (settings.audioChannels > 0)
        d->addAudio();

    const QByteArray url = "file:" + QFile::encodeName(d->partialPath);
    d->check(avio_open(&d->output->pb, url.constData(), AVIO_FLAG_WRITE));
    try {
        d->check(avformat_write_header(d->output.get(), nullptr));
    } catch (...) {
        d->output.reset();
        QFile::remove(d->partialPath);
        throw;
    }
}

MovieWriter::~MovieWriter() {
    if (d->finished)
        return;
    d->output.reset(); // closes the file
    QFile::remove(d->partialPath);
}

const QString& MovieWriter::path() const {
    return d->path;
}

void MovieWriter::State::addVideo() {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx265");
    if (!codec)
        throw Error(what + QStringLiteral(": the HEVC encoder (libx265) is missing"));
    video.reset(avcodec_alloc_context3(codec));
    if (!video)
        throw Error(QStringLiteral("Out of memory"));
    AVCodecContext* c = video.get();
    c->width = settings.videoSize.width();
    c->height = settings.videoSize.height();
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = videoTimeBase;
    c->framerate = AVRational{settings.frameRate, 1};
    c->gop_size = settings.frameRate;
    c->colorspace = AVCOL_SPC_BT709;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    if (settings.videoBitRate > 0)
        c->bit_rate = settings.videoBitRate;
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", x265Preset, 0);
    if (settings.videoBitRate <= 0)
        av_dict_set(&options, "crf", x265Quality, 0);
    av_dict_set(&options, "x265-params", x265Parameters(settings.frameRate).constData(), 0);
    const int opened = avcodec_open2(c, codec, &options);
    av_dict_free(&options);
    check(opened);

    videoStream = avformat_new_stream(output.get(), nullptr);
    if (!videoStream)
        throw Error(QStringLiteral("Out of memory"));
    check(avcodec_parameters_from_context(videoStream->codecpar, c));
    videoStream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    videoStream->time_base = videoTimeBase;
    videoStream->avg_frame_rate = c->framerate;
    if (settings.rotationDegrees % 360 != 0) {
        auto* matrix = reinterpret_cast<int32_t*>(
            av_stream_new_side_data(videoStream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
        if (!matrix)
            throw Error(QStringLiteral("Out of memory"));
        av_display_rotation_set(matrix, settings.rotationDegrees); // clockwise
    }

    picture = av::makeFrame();
    picture->format = c->pix_fmt;
    picture->width = c->width;
    picture->height = c->height;
    check(av_frame_get_buffer(picture.get(), 0));
}

void MovieWriter::State::addAudio() {
    const int channels = settings.audioChannels;
    audioStream = avformat_new_stream(output.get(), nullptr);
    if (!audioStream)
        throw Error(QStringLiteral("Out of memory"));
    // pcm_f32le packets are the interleaved samples themselves; no encoder is needed.
    AVCodecParameters* p = audioStream->codecpar;
    p->codec_type = AVMEDIA_TYPE_AUDIO;
    p->codec_id = AV_CODEC_ID_PCM_F32LE;
    p->format = AV_SAMPLE_FMT_FLT;
    p->sample_rate = settings.sampleRate;
    if (channels == 1)
        p->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    else if (channels == 2)
        p->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    else {
        // Discrete channels in order.
        p->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
        p->ch_layout.nb_channels = channels;
    }
    p->bits_per_coded_sample = 32;
    p->bits_per_raw_sample = 32;
    p->block_align = 4 * channels;
    p->bit_rate = int64_t(settings.sampleRate) * 32 * channels;
    audioStream->time_base = AVRational{1, settings.sampleRate};
}

bool MovieWriter::writeVideoFrame(const QImage& frame, double ptsSeconds) {
    d->guard();
    if (!d->video)
        throw Error(d->what + QStringLiteral(": the movie has no video track"));
    if (frame.isNull())
        return false;
    const int64_t pts = std::llround(ptsSeconds / av_q2d(videoTimeBase));
    if (pts < 0 || (d->lastVideoPts != AV_NOPTS_VALUE && pts <= d->lastVideoPts))
        return false;

    try {
        d->check(av_frame_make_writable(d->picture.get()));
        d->converter.convert(frame, yuvPictureOf(*d->picture, YuvPicture::Matrix::bt709));
        d->picture->pts = pts;
        d->encodeVideo(d->picture.get());
        d->lastVideoPts = pts;
    } catch (...) {
        d->failed = true;
        throw;
    }
    return true;
}

void MovieWriter::State::encodeVideo(const AVFrame* frame) {
    check(avcodec_send_frame(video.get(), frame));
    const int64_t frameTicks = av_rescale_q(1, AVRational{1, settings.frameRate}, videoTimeBase);
    for (;;) {
        const int received = avcodec_receive_packet(video.get(), packet.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            return;
        check(received);
        if (packet->duration <= 0)
            packet->duration = frameTicks;
        av::repairVideoDts(*packet, lastVideoDts, 64 * frameTicks);
        av_packet_rescale_ts(packet.get(), video->time_base, videoStream->time_base);
        packet->stream_index = videoStream->index;
        check(av_interleaved_write_frame(output.get(), packet.get()));
    }
}

void MovieWriter::writeAudio(const float* interleaved, qint64 frames, double ptsSeconds) {
    d->guard();
    if (!d->audioStream)
        throw Error(d->what + QStringLiteral(": the movie has no audio track"));
    if (frames <= 0)
        return;
    try {
        const int rate = d->settings.sampleRate;
        const int64_t given = std::max<int64_t>(0, std::llround(ptsSeconds * rate));
        const int64_t slack = rate / 100;
        if (d->nextAudioPts == AV_NOPTS_VALUE) {
            d->nextAudioPts = given;
        } else if (given - d->nextAudioPts > slack) {
            d->writeAudioPacket(nullptr, given - d->nextAudioPts);
        } else if (d->nextAudioPts - given > slack) {
            const qint64 overlap = std::min<qint64>(frames, d->nextAudioPts - given);
            interleaved += overlap * d->settings.audioChannels;
            frames -= overlap;
        }
        d->writeAudioPacket(interleaved, frames);
    } catch (...) {
        d->failed = true;
        throw;
    }
}

// Writes frames of audio (silence when `interleaved` is null) in packets of at most a second.
void MovieWriter::State::writeAudioPacket(const float* interleaved, qint64 frames) {
    const int channels = settings.audioChannels;
    while (frames > 0) {
        const qint64 count = std::min<qint64>(frames, settings.sampleRate);
        const size_t bytes = size_t(count) * size_t(channels) * sizeof(float);
        if (bytes > size_t(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE))
            check(AVERROR(EINVAL));
        check(av_new_packet(packet.get(), int(bytes)));
        if (interleaved) {
            std::memcpy(packet->data, interleaved, bytes);
            interleaved += count * channels;
        } else {
            std::memset(packet->data, 0, bytes);
        }
        packet->pts = packet->dts =
            av_rescale_q(nextAudioPts, AVRational{1, settings.sampleRate}, audioStream->time_base);
        packet->duration =
            av_rescale_q(count, AVRational{1, settings.sampleRate}, audioStream->time_base);
        packet->flags |= AV_PKT_FLAG_KEY;
        packet->stream_index = audioStream->index;
        nextAudioPts += count;
        frames -= count;
        check(av_interleaved_write_frame(output.get(), packet.get()));
    }
}

void MovieWriter::finish() {
    d->guard();
    try {
        if (d->video)
            d->encodeVideo(nullptr);
        d->check(av_write_trailer(d->output.get()));
        d->check(avio_closep(&d->output->pb));
        d->output.reset();
        std::error_code error;
        std::filesystem::rename(QFile::encodeName(d->partialPath).toStdString(),
                                QFile::encodeName(d->path).toStdString(), error);
        if (error)
            throw Error(d->what + QStringLiteral(": ") + QString::fromStdString(error.message()));
    } catch (...) {
        d->failed = true;
        throw;
    }
    d->finished = true;
}

} // namespace reelbox
