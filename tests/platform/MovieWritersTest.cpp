#include "platform/media/MovieWriter.h"
#include "platform/media/Mp4Writer.h"
#include "support/MediaFixtures.h"

#include "platform/Error.h"
#include "platform/media/FrameGrabber.h"
#include "platform/media/MovieInfo.h"
#include "platform/media/VideoDecoder.h"
#include "platform/virtual/TestCameraPattern.h"
#include "platform/virtual/TestMicrophoneSignal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>

using namespace reelbox;
using namespace reelbox::testing;

namespace {

constexpr int rate = 48000;
constexpr int aacFrame = 1024;

// The capture movie (MovieWriter: HEVC and PCM in QuickTime) and the export (Mp4Writer: H.264
// or HEVC and AAC), behind one face for the pictures.
enum class Writer { mov, h264, hevc };

const char* nameOf(Writer writer) {
    return writer == Writer::mov ? "mov" : writer == Writer::h264 ? "h264" : "hevc";
}

// The export's settings for one of its video codecs.
Mp4WriterSettings exportOf(Writer writer, QSize size, bool audio) {
    Mp4WriterSettings settings;
    settings.video =
        writer == Writer::hevc ? Mp4WriterSettings::Video::hevc : Mp4WriterSettings::Video::h264;
    settings.videoSize = size;
    settings.audio = audio;
    return settings;
}

// Writes the pictures at 30 fps, numbered from 0, and finishes the file.
QString writePictures(Writer writer, const QString& path, QSize size,
                      const std::vector<QImage>& pictures, bool bt709 = false) {
    if (writer == Writer::mov) {
        MovieWriterSettings settings;
        settings.videoSize = size;
        MovieWriter movie(path, settings);
        for (size_t i = 0; i < pictures.size(); ++i)
            EXPECT_TRUE(movie.writeVideoFrame(pictures[i], double(i) / 30));
        movie.finish();
    } else {
        Mp4WriterSettings settings = exportOf(writer, size, false);
        settings.bt709 = bt709;
        Mp4Writer mp4(path, settings);
        for (size_t i = 0; i < pictures.size(); ++i)
            mp4.writeVideoFrame(pictures[i], qint64(i));
        mp4.finish();
    }
    return path;
}

std::vector<QImage> indexedPictures(QSize size, int count) {
    std::vector<QImage> pictures;
    for (int i = 0; i < count; ++i)
        pictures.push_back(indexedPicture(size, i % 100));
    return pictures;
}

class MovieWriters : public ::testing::TestWithParam<Writer> {
protected:
    QString path(const QString& name) const {
        return dir.filePath(QStringLiteral("%1-%2").arg(nameOf(GetParam()), name));
    }
    QTemporaryDir dir;
};

// Every picture comes back in its place, and the track says how long and how large it is:
// the shortest movies (an encoder flushed after one picture), and widths that are not a
// multiple of 16, portrait too.
TEST_P(MovieWriters, PicturesComeBackInPlace) {
    const Writer writer = GetParam();
    struct Case {
        QSize size;
        int frames;
    };
    for (const Case c : {Case{QSize(64, 36), 1}, Case{QSize(64, 36), 2}, Case{QSize(96, 54), 45},
                         Case{QSize(200, 120), 3}, Case{QSize(360, 640), 3}}) {
        const QString file = writePictures(
            writer, path(QStringLiteral("%1-%2.mp4").arg(c.size.width()).arg(c.frames)), c.size,
            indexedPictures(c.size, c.frames));
        const MovieInfo info = probeMovie(file);
        ASSERT_EQ(info.video.size(), 1u);
        const VideoTrackInfo& video = info.video[0];
        EXPECT_EQ(video.codecName, writer == Writer::h264 ? "h264" : "hevc");
        EXPECT_EQ(video.codecTag, writer == Writer::h264 ? "avc1" : "hvc1");
        EXPECT_EQ(video.naturalSize, c.size);
        EXPECT_NEAR(video.frameRate, 30.0, 0.01);
        EXPECT_NEAR(video.startSeconds, 0.0, 1e-6);
        EXPECT_NEAR(video.durationSeconds, c.frames / 30.0, 1e-3); // the last frame lasts too
        if (writer != Writer::mov) {
            EXPECT_EQ(video.frameCount, c.frames);
        }

        VideoDecoder decoder(file);
        for (int i = 0; i < c.frames; ++i)
            EXPECT_EQ(indexOfColour(decoder.frameAt((i + 0.5) / 30)), i) << c.size.width();
        EXPECT_TRUE(decoder.frameAt((c.frames + 0.5) / 30).isNull());
    }
}

// Frames in other formats and sizes are converted and scaled to the movie's picture.
TEST_P(MovieWriters, AcceptAnyImageFormatAndSize) {
    const std::vector<QImage::Format> formats{
        QImage::Format_RGB888, QImage::Format_RGBA8888, QImage::Format_ARGB32_Premultiplied,
        QImage::Format_RGB16,  QImage::Format_BGR888,   QImage::Format_ARGB32};
    const std::vector<QSize> sizes{QSize(192, 108), QSize(48, 28), QSize(75, 41)};
    std::vector<QImage> pictures;
    for (size_t i = 0; i < formats.size(); ++i)
        pictures.push_back(
            indexedPicture(sizes[i % sizes.size()], int(i) * 13).convertToFormat(formats[i]));
    VideoDecoder decoder(writePictures(GetParam(), path("formats.mov"), QSize(96, 54), pictures));
    for (size_t i = 0; i < formats.size(); ++i) {
        const QImage image = decoder.frameAt((double(i) + 0.5) / 30);
        EXPECT_EQ(image.size(), QSize(96, 54));
        EXPECT_EQ(indexOfColour(image), int(i) * 13) << "format " << formats[i];
    }
}

INSTANTIATE_TEST_SUITE_P(Each, MovieWriters,
                         ::testing::Values(Writer::mov, Writer::h264, Writer::hevc),
                         [](const auto& info) { return std::string(nameOf(info.param)); });

// Colours survive the trip, in the matrix the movie is tagged with: the capture movie is
// BT.709 at every size, the export BT.601 below 720 lines unless asked for BT.709.
TEST(MovieWriters, ColoursComeBack) {
    QTemporaryDir dir;
    const std::vector<QRgb> colours{qRgb(220, 30, 30),   qRgb(30, 200, 40),   qRgb(40, 40, 220),
                                    qRgb(128, 128, 128), qRgb(240, 240, 240), qRgb(10, 10, 10)};
    struct Case {
        Writer writer;
        QSize size;
        bool bt709;
    };
    for (const Case c :
         {Case{Writer::mov, QSize(64, 36), false}, Case{Writer::h264, QSize(96, 54), false},
          Case{Writer::hevc, QSize(96, 54), true}, Case{Writer::h264, QSize(1280, 720), false}}) {
        std::vector<QImage> pictures;
        for (const QRgb colour : colours) {
            pictures.emplace_back(c.size, QImage::Format_RGB32);
            pictures.back().fill(colour);
        }
        const QString name = QStringLiteral("%1-%2.mp4").arg(nameOf(c.writer)).arg(c.size.height());
        VideoDecoder decoder(
            writePictures(c.writer, dir.filePath(name), c.size, pictures, c.bt709));
        for (size_t i = 0; i < colours.size(); ++i) {
            const QRgb got = decoder.frameAt((double(i) + 0.5) / 30)
                                 .pixel(c.size.width() / 2, c.size.height() / 2);
            EXPECT_NEAR(qRed(got), qRed(colours[i]), 6) << name.toStdString() << " " << i;
            EXPECT_NEAR(qGreen(got), qGreen(colours[i]), 6) << name.toStdString() << " " << i;
            EXPECT_NEAR(qBlue(got), qBlue(colours[i]), 6) << name.toStdString() << " " << i;
        }
    }
}

// Frames must move forward: the capture movie drops the others, the export refuses them.
TEST(MovieWriters, FramesMustMoveForward) {
    QTemporaryDir dir;
    const QImage picture = indexedPicture(QSize(64, 36), 1);
    MovieWriterSettings settings;
    settings.videoSize = picture.size();
    MovieWriter movie(dir.filePath("t.mov"), settings);
    Mp4Writer mp4(dir.filePath("t.mp4"), exportOf(Writer::h264, picture.size(), false));
    struct Case {
        QImage picture;
        int frame;
        bool written;
    };
    for (const Case& c :
         {Case{picture, 0, true}, Case{picture, 1, true}, Case{picture, 1, false},
          Case{picture, 0, false}, Case{QImage(), 5, false}, Case{picture, 2, true}}) {
        EXPECT_EQ(movie.writeVideoFrame(c.picture, c.frame / 30.0), c.written) << c.frame;
        if (c.written)
            mp4.writeVideoFrame(c.picture, c.frame);
        else
            EXPECT_THROW(mp4.writeVideoFrame(c.picture, c.frame), Error) << c.frame;
    }
    movie.finish();
    mp4.finish();
    EXPECT_NEAR(probeMovie(dir.filePath("t.mov")).video.at(0).durationSeconds, 0.1, 1e-3);
    EXPECT_EQ(probeMovie(dir.filePath("t.mp4")).video.at(0).frameCount, 3);
}

TEST(MovieWriters, RejectWhatTheyCannotWrite) {
    QTemporaryDir dir;
    auto mov = [&](QSize size, int channels, const char* name) {
        return [=, &dir] {
            MovieWriterSettings settings;
            settings.videoSize = size;
            settings.audioChannels = channels;
            MovieWriter writer(dir.filePath(name), settings);
        };
    };
    auto mp4 = [&](QSize size, Mp4WriterSettings::Video video, bool audio) {
        return [=, &dir] {
            Mp4WriterSettings settings;
            settings.video = video;
            settings.videoSize = size;
            settings.audio = audio;
            Mp4Writer writer(dir.filePath("bad.mp4"), settings);
        };
    };
    using Video = Mp4WriterSettings::Video;
    for (const auto& open : std::vector<std::function<void()>>{
             mov(QSize(), 0, "a.mov"), mov(QSize(161, 90), 0, "b.mov"),
             mov(QSize(), 1, "missing/c.mov"), mp4(QSize(95, 54), Video::h264, true),
             mp4(QSize(96, 53), Video::h264, true), mp4(QSize(0, 0), Video::h264, true),
             mp4(QSize(), Video::hevc, false), mp4(QSize(), Video::none, false)})
        EXPECT_THROW(open(), Error);
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    EXPECT_NO_THROW(mp4(QSize(), Video::none, true)());
    MovieWriterSettings audioOnly;
    audioOnly.audioChannels = 1;
    MovieWriter sound(dir.filePath("d.mov"), audioOnly);
    EXPECT_THROW(sound.writeVideoFrame(indexedPicture(QSize(160, 90), 0), 0), Error);
}

// A capture movie appears under its name only when finished; an abandoned one leaves nothing.
// An abandoned export (cancelled half way) is destroyed cleanly and left for the caller.
TEST(MovieWriters, AbandonedWriters) {
    QTemporaryDir dir;
    const QString path = dir.filePath("take.mov");
    MovieWriterSettings settings;
    settings.audioChannels = 2;
    std::vector<float> silence(4800 * 2, 0.0f);
    {
        MovieWriter writer(path, settings);
        writer.writeAudio(silence.data(), 4800, 0);
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_TRUE(QFile::exists(path + ".partial"));
    }
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(QFile::exists(path + ".partial"));
    MovieWriter writer(path, settings);
    writer.writeAudio(silence.data(), 4800, 0);
    writer.finish();
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_FALSE(QFile::exists(path + ".partial"));
    EXPECT_THROW(writer.writeAudio(silence.data(), 4800, 0.1), Error);

    for (const Writer video : {Writer::h264, Writer::hevc}) {
        const QString mp4 = dir.filePath(QStringLiteral("given-up-%1.mp4").arg(nameOf(video)));
        {
            const Mp4WriterSettings exported = exportOf(video, QSize(64, 36), true);
            Mp4Writer given(mp4, exported);
            for (int i = 0; i < 10; ++i)
                given.writeVideoFrame(indexedPicture(exported.videoSize, i), i);
            given.writeAudio(silence.data(), 4800);
        }
        EXPECT_TRUE(QFile::exists(mp4));
        writePictures(video, mp4, QSize(64, 36), indexedPictures(QSize(64, 36), 3));
        EXPECT_EQ(probeMovie(mp4).video.at(0).frameCount, 3);
    }
}

// Audio that arrives late leaves silence; audio that overlaps is trimmed, so the sound stays
// on the pictures' time line.
TEST(MovieWriter, AudioGapsAreFilledAndOverlapsTrimmed) {
    QTemporaryDir dir;
    const QString path = dir.filePath("gaps.mov");
    MovieWriterSettings settings;
    settings.audioChannels = 1;
    std::vector<float> ones(24000, 1.0f);
    std::vector<float> twos(24000, 2.0f);
    {
        MovieWriter writer(path, settings);
        writer.writeAudio(ones.data(), 24000, 0.0);  // 0 … 0.5 s
        writer.writeAudio(twos.data(), 24000, 1.0);  // after a 0.5 s gap
        writer.writeAudio(ones.data(), 24000, 1.25); // overlaps the last 0.25 s
        writer.writeAudio(twos.data(), 480, 1.7501); // 5 µs late: within the slack, follows on
        writer.finish();
    }
    const DecodedAudio audio = readAllAudio(path);
    ASSERT_EQ(audio.frames(), 48000 + 24000 + 12000 + 480);
    struct Sample {
        size_t at;
        float value;
    };
    for (const Sample s : {Sample{0, 1.0f}, Sample{23999, 1.0f}, Sample{24000, 0.0f},
                           Sample{47999, 0.0f}, Sample{48000, 2.0f}, Sample{71999, 2.0f},
                           Sample{72000, 1.0f}, Sample{83999, 1.0f}, Sample{84000, 2.0f}})
        EXPECT_EQ(audio.samples[s.at], s.value) << s.at;
}

// The test sources written together stay in step: the white flash of second 1 and the click
// of second 1 sit at the same instant of the movie.
TEST(MovieWriter, TestSourcesStayInStep) {
    QTemporaryDir dir;
    MovieWriterSettings settings;
    settings.videoSize = QSize(160, 90);
    settings.audioChannels = 2;
    const TestMicrophoneSignal microphone(2);
    const QString path = writeMovie(
        dir.filePath("sync.mov"), settings, 60, 96000,
        [&](int i) { return TestCameraPattern::render(i, settings.videoSize); },
        [&](qint64 n, int c) { return microphone.sample(c, n); });
    FrameGrabber grabber(path);
    auto isWhite = [&](double seconds) {
        const QRgb p = grabber.imageAt(seconds, 0, QSize()).pixel(80, 45);
        return qRed(p) > 240 && qGreen(p) > 240 && qBlue(p) > 240;
    };
    EXPECT_TRUE(isWhite(1.0));
    EXPECT_FALSE(isWhite(1.0 - 1.0 / 30));
    EXPECT_FALSE(isWhite(1.0 + 1.0 / 30));
    const DecodedAudio audio = readAllAudio(path);
    ASSERT_EQ(audio.frames(), 96000);
    EXPECT_EQ(audio.samples[48000 * 2], TestMicrophoneSignal::clickAmplitude);
    EXPECT_EQ(audio.samples[48000 * 2 + 1], TestMicrophoneSignal::clickAmplitude);
    EXPECT_LT(std::abs(audio.samples[(48000 - 1) * 2]), 0.26f);
}

TEST(MovieInfo, ReportsTheModificationTimeInWholeSeconds) {
    QTemporaryDir dir;
    MovieWriterSettings settings;
    settings.audioChannels = 1;
    const QString path =
        writeMovie(dir.filePath("take.mov"), settings, 0, 480, {}, [](qint64, int) { return 0.f; });
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::fromMSecsSinceEpoch(1234900, Qt::UTC),
                                 QFileDevice::FileModificationTime));
    file.close();
    EXPECT_EQ(probeMovie(path).modificationTimeSeconds, 1234);
}

// Stereo: a 1 kHz tone at 0.5 on the left, 0.25 at 3 kHz on the right.
float tone(qint64 n, int channel) {
    const double t = double(n) / rate;
    return channel == 0 ? float(0.5 * std::sin(2 * M_PI * 1000 * t))
                        : float(0.25 * std::sin(2 * M_PI * 3000 * t));
}

double rms(const DecodedAudio& audio, int channel, qint64 from, qint64 to) {
    double sum = 0;
    for (qint64 i = from; i < to; ++i) {
        const double v = audio.samples[size_t(i * audio.channels + channel)];
        sum += v * v;
    }
    return std::sqrt(sum / double(to - from));
}

// The export's sound, with pictures or without, in an MP4 or an M4A: as long as it was
// written (within an AAC frame, plus the priming a reader may not trim), each channel at its
// own level, and the index before the media data.
TEST(Mp4Writer, SoundAndIndexAtTheFront) {
    QTemporaryDir dir;
    struct Case {
        Mp4WriterSettings::Video video;
        bool m4a;
        const char* name;
    };
    for (const Case c : {Case{Mp4WriterSettings::Video::h264, false, "both.mp4"},
                         Case{Mp4WriterSettings::Video::none, false, "sound.mp4"},
                         Case{Mp4WriterSettings::Video::none, true, "sound.m4a"}}) {
        const QString path = dir.filePath(c.name);
        const qint64 written = rate + 777;
        {
            Mp4WriterSettings settings;
            settings.video = c.video;
            settings.videoSize = QSize(96, 54);
            settings.m4a = c.m4a;
            Mp4Writer writer(path, settings);
            // Sound and pictures interleaved as the exporter hands them over, in uneven chunks.
            const qint64 chunks[] = {4096, 100, 1500, 1024, 333};
            std::vector<float> buffer;
            for (qint64 done = 0, k = 0, frame = 0; done < written; ++k) {
                const qint64 n = std::min(chunks[k % 5], written - done);
                buffer.resize(size_t(n * 2));
                for (qint64 i = 0; i < n * 2; ++i)
                    buffer[size_t(i)] = tone(done + i / 2, int(i % 2));
                writer.writeAudio(buffer.data(), n);
                done += n;
                for (; c.video != Mp4WriterSettings::Video::none && frame * rate / 30 < done;
                     ++frame)
                    writer.writeVideoFrame(indexedPicture(settings.videoSize, int(frame % 100)),
                                           frame);
            }
            writer.finish();
        }
        const MovieInfo info = probeMovie(path);
        // Every picture of the 1.02 s made it beside the sound.
        EXPECT_EQ(info.video.empty() ? 0 : info.video[0].frameCount,
                  c.video == Mp4WriterSettings::Video::none ? 0 : 31)
            << c.name;
        ASSERT_EQ(info.audio.size(), 1u);
        EXPECT_EQ(info.audio[0].codecName, QStringLiteral("aac"));
        EXPECT_EQ(info.audio[0].channelCount, 2);
        EXPECT_EQ(info.audio[0].sampleRate, rate);
        EXPECT_NEAR(info.audio[0].durationSeconds, double(written) / rate, double(aacFrame) / rate);
        const DecodedAudio audio = readAllAudio(path);
        ASSERT_EQ(audio.channels, 2);
        EXPECT_NEAR(double(audio.frames()), double(written), 2 * aacFrame) << c.name;
        EXPECT_NEAR(rms(audio, 0, 4096, 40000), 0.5 / std::sqrt(2.0), 0.02) << c.name;
        EXPECT_NEAR(rms(audio, 1, 4096, 40000), 0.25 / std::sqrt(2.0), 0.02) << c.name;

        QString brand;
        const QStringList boxes = topLevelBoxes(path, &brand);
        ASSERT_TRUE(boxes.contains("moov") && boxes.contains("mdat")) << c.name;
        EXPECT_LT(boxes.indexOf("moov"), boxes.indexOf("mdat")) << c.name;
        EXPECT_EQ(brand == QStringLiteral("M4A "), c.m4a) << c.name;
    }
}

// 4:2:0 pictures of the video's size and colour matrix go to the encoder as they are.
TEST(Mp4Writer, DecodedPicturesPassStraightThrough) {
    QTemporaryDir dir;
    const QString path = dir.filePath("yuv.mp4");
    const QSize size(64, 36);
    Mp4WriterSettings settings;
    settings.videoSize = QSize(96, 54);
    EXPECT_EQ(Mp4Writer(dir.filePath("601.mp4"), settings).colourMatrix(),
              YuvPicture::Matrix::bt601);
    settings.videoSize = size;
    settings.bt709 = true;
    settings.audio = false;
    {
        Mp4Writer writer(path, settings);
        EXPECT_EQ(writer.colourMatrix(), YuvPicture::Matrix::bt709);
        YuvPicture frame(size, YuvPicture::Matrix::bt709);
        frame.fillBlack();
        for (int y = 0; y < size.height(); ++y)
            std::fill_n(frame.plane(0) + y * frame.stride(0), 32, std::uint8_t(235)); // left half
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

} // namespace
