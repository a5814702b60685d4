#include "platform/media/Mp4Writer.h"
#include "support/MediaFixtures.h"

#include "platform/Error.h"
#include "platform/media/MovieInfo.h"
#include "platform/media/VideoDecoder.h"

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using namespace reelbox;
using namespace reelbox::testing;

namespace {

constexpr int rate = 48000;
constexpr int aacFrame = 1024;

// Stereo: a 1 kHz tone at 0.5 on the left, 0.25 at 3 kHz on the right.
float tone(qint64 n, int channel) {
    const double t = double(n) / rate;
    return channel == 0 ? float(0.5 * std::sin(2 * M_PI * 1000 * t))
                        : float(0.25 * std::sin(2 * M_PI * 3000 * t));
}

// Writes `frames` of the tone in uneven chunks.
void writeTone(Mp4Writer& writer, qint64 frames) {
    const qint64 chunks[] = {4096, 100, 1500, 1024, 333};
    std::vector<float> buffer;
    for (qint64 done = 0, k = 0; done < frames; ++k) {
        const qint64 n = std::min(chunks[k % 5], frames - done);
        buffer.resize(size_t(n * 2));
        for (qint64 i = 0; i < n; ++i)
            for (int c = 0; c < 2; ++c)
                buffer[size_t(i * 2 + c)] = tone(done + i, c);
        writer.writeAudio(buffer.data(), n);
        done += n;
    }
}

double rms(const DecodedAudio& audio, int channel, qint64 from, qint64 to) {
    double sum = 0;
    for (qint64 i = from; i < to; ++i) {
        const double v = audio.samples[size_t(i * audio.channels + channel)];
        sum += v * v;
    }
    return std::sqrt(sum / double(to - from));
}

struct Written {
    QString path;
    int frames = 0;
    qint64 audioFrames = 0;
};

// Sound frames [from, to) of the tone, interleaved.
std::vector<float> toneFrames(qint64 from, qint64 to) {
    std::vector<float> buffer(size_t((to - from) * 2));
    for (qint64 k = from; k < to; ++k)
        for (int c = 0; c < 2; ++c)
            buffer[size_t((k - from) * 2 + c)] = tone(k, c);
    return buffer;
}

Written writeMp4(const QString& path, Mp4WriterSettings::Video video, QSize size, int frames,
                 qint64 audioFrames) {
    Mp4WriterSettings settings;
    settings.video = video;
    settings.videoSize = size;
    settings.audio = audioFrames > 0;
    Mp4Writer writer(path, settings);
    // Sound and pictures interleaved as the exporter hands them over.
    qint64 audioDone = 0;
    for (int i = 0; i <= frames; ++i) {
        const qint64 until =
            i < frames ? std::min(audioFrames, qint64(i + 1) * rate / 30) : audioFrames;
        if (until > audioDone) {
            const std::vector<float> buffer = toneFrames(audioDone, until);
            writer.writeAudio(buffer.data(), until - audioDone);
            audioDone = until;
        }
        if (i < frames)
            writer.writeVideoFrame(indexedPicture(size, i % 100), i);
    }
    writer.finish();
    return {path, frames, audioFrames};
}

// Every picture is where it belongs, and there are exactly `frames` of them.
void expectPictures(const QString& path, int frames) {
    VideoDecoder decoder(path);
    for (int i = 0; i < frames; ++i)
        EXPECT_EQ(indexOfColour(decoder.frameAt((i + 0.5) / 30)), i % 100) << "frame " << i;
    EXPECT_TRUE(decoder.frameAt((frames + 0.5) / 30).isNull());
}

struct CodecCase {
    Mp4WriterSettings::Video video;
    const char* codec;
    const char* tag;
};

class Mp4WriterCodecs : public ::testing::TestWithParam<CodecCase> {};

TEST_P(Mp4WriterCodecs, PicturesSoundAndIndexAtTheFront) {
    const CodecCase c = GetParam();
    QTemporaryDir dir;
    const int frames = 45;
    const qint64 audioFrames = 45 * rate / 30;
    const Written w =
        writeMp4(dir.filePath("out.mp4"), c.video, QSize(96, 54), frames, audioFrames);

    const MovieInfo info = probeMovie(w.path);
    ASSERT_EQ(info.video.size(), 1u);
    ASSERT_EQ(info.audio.size(), 1u);
    const VideoTrackInfo& video = info.video[0];
    EXPECT_EQ(video.codecName, QString::fromLatin1(c.codec));
    EXPECT_EQ(video.codecTag, QString::fromLatin1(c.tag));
    EXPECT_EQ(video.naturalSize, QSize(96, 54));
    EXPECT_NEAR(video.frameRate, 30.0, 1e-6);
    EXPECT_EQ(video.frameCount, frames);
    EXPECT_NEAR(video.startSeconds, 0.0, 1e-6);
    EXPECT_NEAR(video.durationSeconds, frames / 30.0, 1e-3); // the last frame lasts too
    EXPECT_EQ(info.audio[0].codecName, QStringLiteral("aac"));
    EXPECT_EQ(info.audio[0].channelCount, 2);
    EXPECT_EQ(info.audio[0].sampleRate, rate);

    QString brand;
    const QStringList boxes = topLevelBoxes(w.path, &brand);
    ASSERT_TRUE(boxes.contains("moov") && boxes.contains("mdat")) << boxes.join(' ').toStdString();
    EXPECT_LT(boxes.indexOf("moov"), boxes.indexOf("mdat"));
    EXPECT_NE(brand, QStringLiteral("M4A "));

    expectPictures(w.path, frames);
    const DecodedAudio audio = readAllAudio(w.path);
    EXPECT_NEAR(double(audio.frames()), double(audioFrames), aacFrame);
}

INSTANTIATE_TEST_SUITE_P(
    Video, Mp4WriterCodecs,
    ::testing::Values(CodecCase{Mp4WriterSettings::Video::h264, "h264", "avc1"},
                      CodecCase{Mp4WriterSettings::Video::hevc, "hevc", "hvc1"}),
    [](const auto& info) { return std::string(info.param.codec); });

// The sound comes back as long as it was written (within one AAC frame, plus the encoder's
// priming when a reader doesn't trim it) and with each channel's own level.
TEST(Mp4Writer, AacSoundKeepsItsLengthAndChannels) {
    QTemporaryDir dir;
    const QString path = dir.filePath("sound.mp4");
    const qint64 written = rate + 777;
    {
        Mp4WriterSettings settings;
        settings.video = Mp4WriterSettings::Video::none;
        Mp4Writer writer(path, settings);
        writeTone(writer, written);
        writer.finish();
    }
    const MovieInfo info = probeMovie(path);
    EXPECT_TRUE(info.video.empty());
    ASSERT_EQ(info.audio.size(), 1u);
    EXPECT_NEAR(info.audio[0].durationSeconds, double(written) / rate, double(aacFrame) / rate);

    const DecodedAudio audio = readAllAudio(path);
    ASSERT_EQ(audio.channels, 2);
    EXPECT_NEAR(double(audio.frames()), double(written), 2 * aacFrame);
    EXPECT_NEAR(rms(audio, 0, 4096, 40000), 0.5 / std::sqrt(2.0), 0.02);
    EXPECT_NEAR(rms(audio, 1, 4096, 40000), 0.25 / std::sqrt(2.0), 0.02);
}

TEST(Mp4Writer, M4aHoldsSoundOnly) {
    QTemporaryDir dir;
    const QString path = dir.filePath("sound.m4a");
    {
        Mp4WriterSettings settings;
        settings.video = Mp4WriterSettings::Video::none;
        settings.m4a = true;
        Mp4Writer writer(path, settings);
        writeTone(writer, 2 * rate);
        writer.finish();
    }
    const MovieInfo info = probeMovie(path);
    EXPECT_TRUE(info.video.empty());
    ASSERT_EQ(info.audio.size(), 1u);
    EXPECT_EQ(info.audio[0].codecName, QStringLiteral("aac"));
    EXPECT_NEAR(info.durationSeconds, 2.0, double(aacFrame) / rate);
    QString brand;
    const QStringList boxes = topLevelBoxes(path, &brand);
    EXPECT_EQ(brand, QStringLiteral("M4A "));
    ASSERT_TRUE(boxes.contains("moov") && boxes.contains("mdat"));
    EXPECT_LT(boxes.indexOf("moov"), boxes.indexOf("mdat"));
}

// Colours survive the trip: BT.601 below 720 lines, BT.709 from there, limited range both.
TEST(Mp4Writer, ColoursComeBack) {
    QTemporaryDir dir;
    const std::vector<QRgb> colours{qRgb(220, 30, 30),   qRgb(30, 200, 40),   qRgb(40, 40, 220),
                                    qRgb(128, 128, 128), qRgb(240, 240, 240), qRgb(10, 10, 10)};
    for (const QSize size : {QSize(96, 54), QSize(1280, 720)}) {
        const QString path = dir.filePath(QStringLiteral("c%1.mp4").arg(size.height()));
        {
            Mp4WriterSettings settings;
            settings.videoSize = size;
            settings.audio = false;
            Mp4Writer writer(path, settings);
            for (size_t i = 0; i < colours.size(); ++i) {
                QImage image(size, QImage::Format_RGB32);
                image.fill(colours[i]);
                writer.writeVideoFrame(image, qint64(i));
            }
            writer.finish();
        }
        VideoDecoder decoder(path);
        for (size_t i = 0; i < colours.size(); ++i) {
            const QImage image = decoder.frameAt((double(i) + 0.5) / 30);
            ASSERT_FALSE(image.isNull());
            const QRgb got = image.pixel(size.width() / 2, size.height() / 2);
            EXPECT_NEAR(qRed(got), qRed(colours[i]), 6) << size.height() << " " << i;
            EXPECT_NEAR(qGreen(got), qGreen(colours[i]), 6) << size.height() << " " << i;
            EXPECT_NEAR(qBlue(got), qBlue(colours[i]), 6) << size.height() << " " << i;
        }
    }
}

// Any image format and size is converted and scaled to the video's picture.
TEST(Mp4Writer, AcceptsAnyImageFormatAndSize) {
    QTemporaryDir dir;
    const QString path = dir.filePath("formats.mp4");
    const std::vector<QImage::Format> formats{QImage::Format_RGB888, QImage::Format_RGBA8888,
                                              QImage::Format_ARGB32, QImage::Format_RGB16};
    {
        Mp4WriterSettings settings;
        settings.videoSize = QSize(96, 54);
        settings.audio = false;
        Mp4Writer writer(path, settings);
        for (size_t i = 0; i < formats.size(); ++i)
            writer.writeVideoFrame(
                indexedPicture(i % 2 ? QSize(192, 108) : QSize(48, 28), int(i) * 13)
                    .convertToFormat(formats[i]),
                qint64(i));
        writer.finish();
    }
    VideoDecoder decoder(path);
    for (size_t i = 0; i < formats.size(); ++i) {
        const QImage image = decoder.frameAt((double(i) + 0.5) / 30);
        EXPECT_EQ(image.size(), QSize(96, 54));
        EXPECT_EQ(indexOfColour(image), int(i) * 13) << "format " << formats[i];
    }
}

// 4:2:0 pictures of the video's size and colour matrix go to the encoder as they are.
TEST(Mp4Writer, DecodedPicturesPassStraightThrough) {
    QTemporaryDir dir;
    const QString path = dir.filePath("yuv.mp4");
    const QSize size(64, 36);
    {
        Mp4WriterSettings small;
        small.videoSize = QSize(96, 54);
        EXPECT_EQ(Mp4Writer(dir.filePath("601.mp4"), small).colourMatrix(),
                  YuvPicture::Matrix::bt601);
        small.bt709 = true;
        EXPECT_EQ(Mp4Writer(dir.filePath("709.mp4"), small).colourMatrix(),
                  YuvPicture::Matrix::bt709);
    }
    {
        Mp4WriterSettings settings;
        settings.videoSize = size;
        settings.bt709 = true;
        settings.audio = false;
        Mp4Writer writer(path, settings);
        YuvPicture white(size, YuvPicture::Matrix::bt709);
        white.fillBlack();
        for (int y = 0; y < size.height(); ++y)
            std::fill_n(white.plane(0) + y * white.stride(0), size.width(), std::uint8_t(235));
        YuvPicture frame(size, YuvPicture::Matrix::bt709);
        frame.fillBlack();
        frame.copyFrom(white, QRect(0, 0, 32, 36), QPoint(0, 0), false); // the left half
        for (int i = 0; i < 3; ++i)
            writer.writeVideoFrame(frame, i);
        EXPECT_THROW(
            writer.writeVideoFrame(YuvPicture(QSize(32, 18), YuvPicture::Matrix::bt709), 3), Error);
        EXPECT_THROW(writer.writeVideoFrame(YuvPicture(size, YuvPicture::Matrix::bt601), 3), Error);
        EXPECT_THROW(writer.writeVideoFrame(frame, 2), Error);
        writer.finish();
    }
    EXPECT_EQ(probeMovie(path).video.at(0).frameCount, 3);
    VideoDecoder decoder(path);
    for (int i = 0; i < 3; ++i) {
        const QImage image = decoder.frameAt((i + 0.5) / 30);
        for (const int y : {2, 18, 33}) {
            EXPECT_GT(qGray(image.pixel(8, y)), 245) << i;
            EXPECT_LT(qGray(image.pixel(56, y)), 10) << i;
        }
    }
}

// Very short movies: HEVC flushed after one or two pictures still makes a valid file.
TEST(Mp4Writer, OneAndTwoFrameMovies) {
    QTemporaryDir dir;
    for (const auto video : {Mp4WriterSettings::Video::hevc, Mp4WriterSettings::Video::h264}) {
        for (const int frames : {1, 2}) {
            const QString path =
                dir.filePath(QStringLiteral("short-%1-%2.mp4").arg(int(video)).arg(frames));
            writeMp4(path, video, QSize(64, 36), frames, 0);
            const MovieInfo info = probeMovie(path);
            ASSERT_EQ(info.video.size(), 1u);
            EXPECT_EQ(info.video[0].frameCount, frames);
            EXPECT_NEAR(info.video[0].durationSeconds, frames / 30.0, 1e-3);
            expectPictures(path, frames);
        }
    }
}

TEST(Mp4Writer, RejectsWhatItCannotWrite) {
    QTemporaryDir dir;
    const QString path = dir.filePath("bad.mp4");
    auto open = [&](QSize size, Mp4WriterSettings::Video video, bool audio) {
        Mp4WriterSettings settings;
        settings.video = video;
        settings.videoSize = size;
        settings.audio = audio;
        Mp4Writer writer(path, settings);
    };
    const auto h264 = Mp4WriterSettings::Video::h264;
    EXPECT_THROW(open(QSize(95, 54), h264, true), Error);
    EXPECT_THROW(open(QSize(96, 53), h264, true), Error);
    EXPECT_THROW(open(QSize(0, 0), h264, true), Error);
    EXPECT_THROW(open(QSize(), Mp4WriterSettings::Video::hevc, false), Error);
    EXPECT_THROW(open(QSize(), Mp4WriterSettings::Video::none, false), Error);
    EXPECT_NO_THROW(open(QSize(), Mp4WriterSettings::Video::none, true));
}

TEST(Mp4Writer, FramesMustMoveForward) {
    QTemporaryDir dir;
    Mp4WriterSettings settings;
    settings.videoSize = QSize(64, 36);
    settings.audio = false;
    Mp4Writer writer(dir.filePath("order.mp4"), settings);
    const QImage picture = indexedPicture(settings.videoSize, 1);
    writer.writeVideoFrame(picture, 0);
    writer.writeVideoFrame(picture, 1);
    EXPECT_THROW(writer.writeVideoFrame(picture, 1), Error);
    EXPECT_THROW(writer.writeVideoFrame(picture, 0), Error);
    EXPECT_THROW(writer.writeVideoFrame(QImage(), 5), Error);
    writer.writeVideoFrame(picture, 2);
    writer.finish();
    EXPECT_EQ(probeMovie(dir.filePath("order.mp4")).video.at(0).frameCount, 3);
}

// A writer given up half way (an export cancelled) is destroyed cleanly, encoders and all.
TEST(Mp4Writer, DestroyedWithoutFinishing) {
    QTemporaryDir dir;
    for (const auto video : {Mp4WriterSettings::Video::h264, Mp4WriterSettings::Video::hevc}) {
        const QString path = dir.filePath(QStringLiteral("given-up-%1.mp4").arg(int(video)));
        {
            Mp4WriterSettings settings;
            settings.video = video;
            settings.videoSize = QSize(64, 36);
            Mp4Writer writer(path, settings);
            for (int i = 0; i < 10; ++i)
                writer.writeVideoFrame(indexedPicture(settings.videoSize, i), i);
            writeTone(writer, 5000);
        }
        EXPECT_TRUE(QFile::exists(path)); // left for the caller to remove
        // A new writer over the same name works.
        writeMp4(path, video, QSize(64, 36), 3, 0);
        EXPECT_EQ(probeMovie(path).video.at(0).frameCount, 3);
    }
}

} // namespace
