#include "platform/media/MovieWriter.h"

#include "platform/Error.h"
#include "platform/media/MovieRepair.h"
#include "platform/media/PictureConverter.h"
#include "platform/media/internal/Av.h"
#include "platform/media/internal/PictureConversion.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/opt.h>
}

#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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
// every second so that every second can be decoded on its own, no B-frames (a fragmented
// movie has no edit list to hide the delay they add) and no console output. Live capture
// adds no look-ahead and one frame at a time with its rows spread over two worker threads,
// which keeps the encoder's share of two cores steady.
QByteArray x265Parameters(int frameRate, bool realTime) {
    QString text =
        QStringLiteral("keyint=%1:min-keyint=%1:scenecut=0:open-gop=0:bframes=0:log-level=none")
            .arg(frameRate);
    if (realTime)
        text += QStringLiteral(":pools=2:frame-threads=1:wpp=1:rc-lookahead=0");
    return text.toUtf8();
}
constexpr const char* x265Preset = "ultrafast";
constexpr const char* x265Quality = "23"; // crf when no bit rate is asked for

// Sound is held back this long before it goes into the file, so that a recording can still be
// cut at the end of its last picture; it leaves in packets of half that length.
constexpr int audioHoldDivisor = 10; // a tenth of a second
// A fragment ends at every key frame and once it holds this much sound, so that a crash
// loses little.
constexpr int fragmentSoundDivisor = 4; // a quarter of a second

// A file written through our own descriptor, so that a fragment can be synced to the disk.
class MovieFile {
public:
    MovieFile(const QString& path, const QString& what, bool syncToDisk)
        : m_syncToDisk(syncToDisk) {
        m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                      0644);
        if (m_fd < 0)
            throw Error(what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno)));
        constexpr int bufferSize = 1 << 16;
        auto* buffer = static_cast<uint8_t*>(av_malloc(bufferSize));
        m_io = avio_alloc_context(buffer, bufferSize, 1, this, nullptr, &MovieFile::write,
                                  &MovieFile::seek);
        if (!m_io) {
            av_free(buffer);
            ::close(m_fd);
            throw Error(QStringLiteral("Out of memory"));
        }
    }
    ~MovieFile() {
        if (m_io)
            av_freep(&m_io->buffer);
        avio_context_free(&m_io);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    MovieFile(const MovieFile&) = delete;
    MovieFile& operator=(const MovieFile&) = delete;

    AVIOContext* io() const { return m_io; }

    // Everything written so far, in the file (and on the disk when asked for). Returns an
    // AVERROR code or 0.
    int flush() {
        avio_flush(m_io);
        if (m_io->error < 0)
            return m_io->error;
        if (m_syncToDisk && ::fdatasync(m_fd) != 0)
            return AVERROR(errno);
        return 0;
    }

private:
    static int write(void* opaque, uint8_t* data, int size) {
        const int fd = static_cast<MovieFile*>(opaque)->m_fd;
        int done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd, data + done, size_t(size - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return AVERROR(errno);
            if (n == 0)
                return AVERROR(ENOSPC);
            done += int(n);
        }
        return done;
    }
    static int64_t seek(void* opaque, int64_t offset, int whence) {
        const int fd = static_cast<MovieFile*>(opaque)->m_fd;
        if (whence == AVSEEK_SIZE) {
            struct stat info {};
            return ::fstat(fd, &info) == 0 ? int64_t(info.st_size) : AVERROR(errno);
        }
        const off_t at = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : int64_t(at);
    }

    int m_fd = -1;
    AVIOContext* m_io = nullptr;
    bool m_syncToDisk = false;
};

// Keeps a picture's pixels alive for as long as FFmpeg holds the frame made from it.
void releasePicture(void* opaque, uint8_t*) {
    std::unique_ptr<YuvPicture>(static_cast<YuvPicture*>(opaque)).reset();
}

} // namespace

struct MovieWriter::State {
    QString path;
    QString what;
    MovieWriterSettings settings;
    std::unique_ptr<MovieFile> file;
    av::OutputPtr output;
    bool finished = false;
    bool failed = false;

    // What the open fragment holds.
    bool fragmentHasData = false;
    qint64 fragmentAudioFrames = 0;
    std::vector<float> heldAudio; // interleaved, not yet in the file
    qint64 heldAudioStart = 0;    // its position in frames

    av::CodecPtr video;
    AVStream* videoStream = nullptr;
    av::FramePtr picture;
    PictureConverter converter;
    int64_t lastVideoPts = AV_NOPTS_VALUE;
    int64_t lastVideoDts = AV_NOPTS_VALUE; // of the last packet, in the encoder's time base

    AVStream* audioStream = nullptr;
    int64_t nextAudioPts = AV_NOPTS_VALUE; // in frames

    av::PacketPtr packet = av::makePacket();
    // The newest picture waits for the next one, whose time gives it its duration, so that a
    // picture after a pause keeps its time across a fragment's end.
    av::PacketPtr heldVideo = av::makePacket();
    bool hasHeldVideo = false;
    // The first picture's time and the end of the last one written, in the stream's time base.
    int64_t videoStart = AV_NOPTS_VALUE;
    int64_t videoEnd = 0;

    ~State() {
        // Our own file closes itself; FFmpeg must not close it as one of its own.
        if (output)
            output->pb = nullptr;
    }

    int check(int code) const { return av::check(code, what); }
    void addVideo();
    void addAudio();
    void encodeVideo(const AVFrame* frame);
    void writeAudioPacket(const float* interleaved, qint64 frames);
    void writePacket(AVPacket* p);
    void holdVideoPacket();
    void writeHeldVideo(std::optional<double> endSeconds);
    void endFragment();
    void releaseHeldAudio(qint64 keepFrames);
    void finish(std::optional<double> endSeconds);
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
    if (settings.audioChannels > maximumAudioChannels)
        throw Error(
            d->what +
            QStringLiteral(": a movie holds at most %1 sound channels").arg(maximumAudioChannels));

    AVFormatContext* raw = nullptr;
    d->check(avformat_alloc_output_context2(&raw, nullptr, "mov", nullptr));
    d->output.reset(raw);
    if (hasVideo)
        d->addVideo();
    if (settings.audioChannels > 0)
        d->addAudio();

    d->file = std::make_unique<MovieFile>(path, d->what, settings.syncToDisk);
    d->output->pb = d->file->io();
    d->output->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Fragments are cut by endFragment(); the movie header says nothing of the samples.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "empty_moov+frag_custom", 0);
    try {
        const int written = avformat_write_header(d->output.get(), &options);
        av_dict_free(&options);
        d->check(written);
        d->check(d->file->flush());
    } catch (...) {
        av_dict_free(&options);
        d->output.reset();
        d->file.reset();
        QFile::remove(path);
        throw;
    }
}

// A movie left unfinished keeps its complete fragments.
MovieWriter::~MovieWriter() = default;

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
    const bool bt601 = settings.matrix == YuvPicture::Matrix::bt601;
    c->colorspace = bt601 ? AVCOL_SPC_SMPTE170M : AVCOL_SPC_BT709;
    c->color_primaries = bt601 ? AVCOL_PRI_SMPTE170M : AVCOL_PRI_BT709;
    c->color_trc = bt601 ? AVCOL_TRC_SMPTE170M : AVCOL_TRC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    if (settings.videoBitRate > 0)
        c->bit_rate = settings.videoBitRate;
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", x265Preset, 0);
    if (settings.realTime)
        av_dict_set(&options, "tune", "zerolatency", 0);
    if (settings.videoBitRate <= 0)
        av_dict_set(&options, "crf", x265Quality, 0);
    av_dict_set(&options, "x265-params",
                x265Parameters(settings.frameRate, settings.realTime).constData(), 0);
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
    // Big-endian float, QuickTime's own: every reader takes it so without further boxes. The
    // packets are the interleaved samples with their bytes swapped; no encoder is needed.
    AVCodecParameters* p = audioStream->codecpar;
    p->codec_type = AVMEDIA_TYPE_AUDIO;
    p->codec_id = AV_CODEC_ID_PCM_F32BE;
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
        d->converter.convert(frame, yuvPictureOf(*d->picture, d->settings.matrix));
        d->picture->pts = pts;
        d->encodeVideo(d->picture.get());
        d->lastVideoPts = pts;
    } catch (...) {
        d->failed = true;
        throw;
    }
    return true;
}

bool MovieWriter::writeVideoPicture(const YuvPicture& picture, double ptsSeconds) {
    d->guard();
    if (!d->video)
        throw Error(d->what + QStringLiteral(": the movie has no video track"));
    if (picture.isNull() || picture.size() != d->settings.videoSize)
        return false;
    const int64_t pts = std::llround(ptsSeconds / av_q2d(videoTimeBase));
    if (pts < 0 || (d->lastVideoPts != AV_NOPTS_VALUE && pts <= d->lastVideoPts))
        return false;
    try {
        // The encoder reads the planes where they are; the frame keeps them alive.
        av::FramePtr frame = av::makeFrame();
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = picture.size().width();
        frame->height = picture.size().height();
        for (int i = 0; i < 3; ++i) {
            frame->data[i] = picture.plane(i);
            frame->linesize[i] = picture.stride(i);
        }
        auto keeper = std::make_unique<YuvPicture>(picture);
        frame->buf[0] = av_buffer_create(picture.plane(0), 1, &releasePicture, keeper.get(),
                                         AV_BUFFER_FLAG_READONLY);
        if (!frame->buf[0])
            throw Error(QStringLiteral("Out of memory"));
        keeper.release(); // now the buffer's
        frame->pts = pts;
        d->encodeVideo(frame.get());
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
        holdVideoPacket();
    }
}

// The held picture goes out with the new one's time as its end; the new one is held.
void MovieWriter::State::holdVideoPacket() {
    if (hasHeldVideo) {
        if (packet->dts != AV_NOPTS_VALUE && packet->dts > heldVideo->dts)
            heldVideo->duration = packet->dts - heldVideo->dts;
        writeHeldVideo(std::nullopt);
    }
    if (packet->flags & AV_PKT_FLAG_KEY)
        endFragment(); // every fragment opens with a key frame where it can
    av_packet_move_ref(heldVideo.get(), packet.get());
    hasHeldVideo = true;
}

// Writes the held picture; at the end of the movie it lasts until `endSeconds` when given.
void MovieWriter::State::writeHeldVideo(std::optional<double> endSeconds) {
    if (!hasHeldVideo)
        return;
    if (endSeconds) {
        const int64_t end = av_rescale_q(std::llround(*endSeconds / av_q2d(videoTimeBase)),
                                         videoTimeBase, videoStream->time_base);
        if (end > heldVideo->pts)
            heldVideo->duration = end - heldVideo->pts;
    }
    hasHeldVideo = false;
    if (videoStart == AV_NOPTS_VALUE)
        videoStart = heldVideo->pts;
    videoEnd = heldVideo->pts + heldVideo->duration;
    writePacket(heldVideo.get());
}

void MovieWriter::State::writePacket(AVPacket* p) {
    // Fragments hold each track's samples apart, so no interleaving is needed.
    const bool isAudio = audioStream && p->stream_index == audioStream->index;
    const qint64 frames = isAudio ? p->size / (4 * settings.audioChannels) : 0;
    check(av_write_frame(output.get(), p));
    av_packet_unref(p);
    fragmentHasData = true;
    fragmentAudioFrames += frames;
    if (fragmentAudioFrames >= settings.sampleRate / fragmentSoundDivisor)
        endFragment();
}

void MovieWriter::State::endFragment() {
    if (!fragmentHasData)
        return;
    check(av_write_frame(output.get(), nullptr));
    check(file->flush());
    fragmentHasData = false;
    fragmentAudioFrames = 0;
}

void MovieWriter::writeAudioAt(const float* interleaved, qint64 frames, qint64 position) {
    d->guard();
    if (!d->audioStream)
        throw Error(d->what + QStringLiteral(": the movie has no audio track"));
    if (frames <= 0)
        return;
    const int channels = d->settings.audioChannels;
    try {
        // Held back a little, then written in packets.
        if (d->nextAudioPts == AV_NOPTS_VALUE)
            d->nextAudioPts = d->heldAudioStart = 0;
        const qint64 heldEnd = d->heldAudioStart + qint64(d->heldAudio.size()) / channels;
        if (position > heldEnd)
            d->heldAudio.resize(d->heldAudio.size() + size_t((position - heldEnd) * channels),
                                0.0f);
        const qint64 skip = std::min(frames, std::max<qint64>(0, heldEnd - position));
        d->heldAudio.insert(d->heldAudio.end(), interleaved + skip * channels,
                            interleaved + frames * channels);
        d->releaseHeldAudio(d->settings.sampleRate / audioHoldDivisor);
    } catch (...) {
        d->failed = true;
        throw;
    }
}

// Writes the held sound but its last `keepFrames`, in packets of half the holding time.
void MovieWriter::State::releaseHeldAudio(qint64 keepFrames) {
    const int channels = settings.audioChannels;
    const qint64 packetFrames = settings.sampleRate / audioHoldDivisor / 2;
    qint64 held = qint64(heldAudio.size()) / channels;
    size_t offset = 0;
    while (held > keepFrames) {
        const qint64 count = std::min(packetFrames, held - keepFrames);
        writeAudioPacket(heldAudio.data() + offset, count);
        offset += size_t(count * channels);
        held -= count;
    }
    heldAudio.erase(heldAudio.begin(), heldAudio.begin() + std::ptrdiff_t(offset));
    heldAudioStart = nextAudioPts;
}

void MovieWriter::writeAudio(const float* interleaved, qint64 frames, double ptsSeconds) {
    d->guard();
    if (!d->audioStream)
        throw Error(d->what + QStringLiteral(": the movie has no audio track"));
    if (frames <= 0)
        return;
    const int rate = d->settings.sampleRate;
    qint64 position = std::max<qint64>(0, std::llround(ptsSeconds * rate));
    if (d->nextAudioPts != AV_NOPTS_VALUE) {
        // Within the slack the sound follows on from what came before.
        const qint64 end =
            d->heldAudioStart + qint64(d->heldAudio.size()) / d->settings.audioChannels;
        if (std::abs(position - end) <= rate / 100)
            position = end;
    }
    writeAudioAt(interleaved, frames, position);
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
            const qint64 samples = count * channels;
            for (qint64 i = 0; i < samples; ++i) {
                quint32 word;
                std::memcpy(&word, interleaved + i, sizeof word);
                qToBigEndian(word, packet->data + i * 4);
            }
            interleaved += samples;
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
        writePacket(packet.get());
    }
}

void MovieWriter::finish() {
    d->finish(std::nullopt);
}

void MovieWriter::finish(double endSeconds) {
    d->finish(endSeconds);
}

void MovieWriter::State::finish(std::optional<double> endSeconds) {
    guard();
    try {
        if (video)
            encodeVideo(nullptr);
        if (audioStream && !heldAudio.empty()) {
            const int channels = settings.audioChannels;
            if (endSeconds) {
                const qint64 end = std::llround(*endSeconds * settings.sampleRate);
                const qint64 keep = std::clamp<qint64>(end - heldAudioStart, 0,
                                                       qint64(heldAudio.size()) / channels);
                heldAudio.resize(size_t(keep * channels));
            }
            releaseHeldAudio(0);
        }
        writeHeldVideo(endSeconds);
        endFragment();
        check(av_write_trailer(output.get()));
        check(file->flush());
        std::vector<double> lengths;
        if (videoStream)
            lengths.push_back(double(videoStart == AV_NOPTS_VALUE ? 0 : videoEnd - videoStart) *
                              av_q2d(videoStream->time_base));
        if (audioStream)
            lengths.push_back(double(nextAudioPts == AV_NOPTS_VALUE ? 0 : nextAudioPts) /
                              settings.sampleRate);
        output->pb = nullptr; // ours, closed with the file
        output.reset();
        file.reset();
        finished = true;
        // The header was written before any sample: now it gets the length. The movie reads
        // without it, so a failure here fails nothing.
        try {
            writeMovieHeaderDurations(path, lengths);
        } catch (const Error&) {
        }
    } catch (...) {
        failed = true;
        throw;
    }
}

} // namespace reelbox
