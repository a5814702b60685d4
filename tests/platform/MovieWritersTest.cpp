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

// The writers: "mov", the capture movie (MovieWriter), and the export (Mp4Writer) in "h264" or
// "hevc".
using Writer = std::string;

using Video = Mp4WriterSettings::Video;

MovieWriterSettings movieOf(QSize size, int audioChannels) {
    MovieWriterSettings settings;
    settings.videoSize = size;
    settings.audioChannels = audioChannels;
    return settings;
}

Mp4WriterSettings exportOf(Video video, QSize size, bool audio) {
    Mp4WriterSettings settings;
    settings.video = video;
    settings.videoSize = size;
    settings.audio = audio;
    return settings;
}

// Writes the pictures at 30 fps, numbered from 0, and finishes the file.
QString writePictures(const Writer& writer, const QString& path, QSize size,
                      const std::vector<QImage>& pictures, bool bt709 = false) {
    if (writer == "mov") {
        MovieWriter movie(path, movieOf(size, 0));
        for (size_t i = 0; i < pictures.size(); ++i)
            EXPECT_TRUE(movie.writeVideoFrame(pictures[i], double(i) / 30));
        movie.finish();
    } else {
        Mp4WriterSettings settings =
            exportOf(writer == "hevc" ? Video::hevc : Video::h264, size, false);
        settings.bt709 = bt709;
        Mp4Writer mp4(path, settings);
        for (size_t i = 0; i < pictures.size(); ++i)
            mp4.writeVideoFrame(pictures[i], qint64(i));
        mp4.finish();
    }
    return path;
}

// Picture i names i % 100 and comes in a format of its own (any QImage format is taken).
std::vector<QImage> indexedPictures(QSize size, int count) {
    const QImage::Format formats[] = {QImage::Format_RGB32,    QImage::Format_RGB888,
                                      QImage::Format_RGBA8888, QImage::Format_ARGB32_Premultiplied,
                                      QImage::Format_RGB16,    QImage::Format_BGR888,
                                      QImage::Format_ARGB32};
    std::vector<QImage> pictures;
    for (int i = 0; i < count; ++i)
        pictures.push_back(indexedPicture(size, i % 100).convertToFormat(formats[i % 7]));
    return pictures;
}

class MovieWriters : public ::testing::TestWithParam<Writer> {
protected:
    QString path(const QString& name) const {
        return dir.filePath(QStringLiteral("%1-%2").arg(QString::fromStdString(GetParam()), name));
    }
    QTemporaryDir dir;
};

// Every picture comes back in its place and the track says how long and large it is: movies of
// one picture, odd widths, portrait, pictures of every format and of other sizes.
TEST_P(MovieWriters, PicturesComeBackInPlace) {
    const Writer writer = GetParam();
    struct Case {
        QSize size;
        int frames;
        QSize pictureSize;
    };
    for (const Case c :
         {Case{QSize(64, 36), 1, QSize(64, 36)}, Case{QSize(64, 36), 2, QSize(64, 36)},
          Case{QSize(96, 54), 45, QSize(96, 54)}, Case{QSize(96, 54), 7, QSize(192, 108)},
          Case{QSize(96, 54), 8, QSize(75, 41)}, Case{QSize(200, 120), 3, QSize(200, 120)},
          Case{QSize(360, 640), 3, QSize(360, 640)}}) {
        const QString name = QStringLiteral("%1-%2-%3.mp4").arg(c.size.width()).arg(c.frames);
        const QString file = writePictures(writer, path(name.arg(c.pictureSize.width())), c.size,
                                           indexedPictures(c.pictureSize, c.frames));
        const MovieInfo info = probeMovie(file);
        ASSERT_EQ(info.video.size(), 1u);
        const VideoTrackInfo& video = info.video[0];
        EXPECT_EQ(video.codecName, writer == "h264" ? "h264" : "hevc");
        EXPECT_EQ(video.codecTag, writer == "h264" ? "avc1" : "hvc1");
        EXPECT_EQ(video.naturalSize, c.size);
        EXPECT_NEAR(video.frameRate, 30.0, 0.01);
        EXPECT_NEAR(video.startSeconds, 0.0, 1e-6);
        EXPECT_NEAR(video.durationSeconds, c.frames / 30.0, 1e-3); // the last frame lasts too
        if (writer != "mov") {
            EXPECT_EQ(video.frameCount, c.frames);
        }

        VideoDecoder decoder(file);
        for (int i = 0; i < c.frames; ++i) {
            const QImage image = decoder.frameAt((i + 0.5) / 30);
            EXPECT_EQ(image.size(), c.size);
            EXPECT_EQ(indexOfColour(image), i)
                << c.size.width() << " from " << c.pictureSize.width();
        }
        EXPECT_TRUE(decoder.frameAt((c.frames + 0.5) / 30).isNull());
    }

    // Colours survive the trip, in the matrix the movie is tagged with: the capture movie is
    // BT.709 at every size, the export BT.601 below 720 lines unless asked for BT.709.
    const QRgb colours[] = {qRgb(220, 30, 30),   qRgb(30, 200, 40),   qRgb(40, 40, 220),
                            qRgb(128, 128, 128), qRgb(240, 240, 240), qRgb(10, 10, 10)};
    for (const auto& [size, bt709] :
         {std::pair(QSize(96, 54), false), std::pair(QSize(96, 54), true),
          std::pair(QSize(1280, 720), false)}) {
        std::vector<QImage> pictures;
        for (const QRgb colour : colours) {
            pictures.emplace_back(size, QImage::Format_RGB32);
            pictures.back().fill(colour);
        }
        const QString name = QStringLiteral("colours-%1-%2.mp4").arg(size.height()).arg(int(bt709));
        VideoDecoder decoder(writePictures(writer, path(name), size, pictures, bt709));
        for (size_t i = 0; i < std::size(colours); ++i) {
            const QRgb got =
                decoder.frameAt((double(i) + 0.5) / 30).pixel(size.width() / 2, size.height() / 2);
            EXPECT_NEAR(qRed(got), qRed(colours[i]), 6) << name.toStdString() << " " << i;
            EXPECT_NEAR(qGreen(got), qGreen(colours[i]), 6) << name.toStdString() << " " << i;
            EXPECT_NEAR(qBlue(got), qBlue(colours[i]), 6) << name.toStdString() << " " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Each, MovieWriters, ::testing::Values("mov", "h264", "hevc"),
                         [](const auto& info) { return info.param; });

// Frames that don't move forward, pictures of another size or matrix, writing after the end,
// and settings that can't make a movie are refused; a failed open leaves nothing behind.
TEST(MovieWriters, RefuseWhatTheyCannotWrite) {
    QTemporaryDir dir;
    const QImage picture = indexedPicture(QSize(64, 36), 1);
    MovieWriter movie(dir.filePath("t.mov"), movieOf(picture.size(), 0));
    Mp4Writer mp4(dir.filePath("t.mp4"), exportOf(Video::h264, picture.size(), false));
    EXPECT_EQ(mp4.colourMatrix(), YuvPicture::Matrix::bt601);
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
    const YuvPicture small(QSize(32, 18), YuvPicture::Matrix::bt601);
    EXPECT_FALSE(movie.writeVideoPicture(small, 0.2));
    EXPECT_THROW(mp4.writeVideoFrame(small, 3), Error);
    EXPECT_THROW(mp4.writeVideoFrame(YuvPicture(QSize(64, 36), YuvPicture::Matrix::bt709), 3),
                 Error);
    movie.finish();
    mp4.finish();
    EXPECT_THROW(movie.writeVideoFrame(picture, 1.0), Error);
    EXPECT_NEAR(probeMovie(dir.filePath("t.mov")).video.at(0).durationSeconds, 0.1, 1e-3);
    EXPECT_EQ(probeMovie(dir.filePath("t.mp4")).video.at(0).frameCount, 3);

    QTemporaryDir empty;
    auto mov = [&](QSize size, int channels, const char* name) {
        return [=, &empty] { MovieWriter writer(empty.filePath(name), movieOf(size, channels)); };
    };
    auto mp4Of = [&](QSize size, Video video, bool audio) {
        return [=, &empty] {
            Mp4Writer writer(empty.filePath("bad.mp4"), exportOf(video, size, audio));
        };
    };
    for (const auto& open : std::vector<std::function<void()>>{
             mov(QSize(), 0, "a.mov"), mov(QSize(161, 90), 0, "b.mov"),
             mov(QSize(), 1, "missing/c.mov"), mp4Of(QSize(95, 54), Video::h264, true),
             mp4Of(QSize(96, 53), Video::h264, true), mp4Of(QSize(0, 0), Video::h264, true),
             mp4Of(QSize(), Video::hevc, false), mp4Of(QSize(), Video::none, false)})
        EXPECT_THROW(open(), Error);
    EXPECT_TRUE(QDir(empty.path()).isEmpty());
    EXPECT_NO_THROW(mp4Of(QSize(), Video::none, true)());
    MovieWriter sound(empty.filePath("d.mov"), movieOf(QSize(), 1));
    EXPECT_THROW(sound.writeVideoFrame(picture, 0), Error);
}

// Late audio leaves silence (from the start too), overlapping audio is trimmed; the file's time
// is whole seconds.
TEST(MovieWriter, AudioGapsAreFilledAndOverlapsTrimmed) {
    QTemporaryDir dir;
    const QString path = dir.filePath("gaps.mov");
    const MovieWriterSettings settings = movieOf(QSize(), 1);
    std::vector<float> ones(24000, 1.0f);
    std::vector<float> twos(24000, 2.0f);
    {
        MovieWriter writer(path, settings);
        writer.writeAudio(ones.data(), 24000, 0.25); // 0.25 … 0.75 s
        writer.writeAudio(twos.data(), 24000, 1.25); // after a 0.5 s gap
        writer.writeAudio(ones.data(), 24000, 1.5);  // overlaps the last 0.25 s
        writer.writeAudio(twos.data(), 480, 2.0001); // 5 µs late: within the slack, follows on
        writer.writeAudio(ones.data(), 480, 2.0);    // 10 ms early: within the slack too
        writer.finish();
    }
    const DecodedAudio audio = readAllAudio(path);
    ASSERT_EQ(audio.frames(), 12000 + 48000 + 24000 + 12000 + 480 + 480);
    struct Sample {
        size_t at;
        float value;
    };
    for (const Sample s :
         {Sample{0, 0.0f}, Sample{11999, 0.0f}, Sample{12000, 1.0f}, Sample{35999, 1.0f},
          Sample{36000, 0.0f}, Sample{59999, 0.0f}, Sample{60000, 2.0f}, Sample{83999, 2.0f},
          Sample{84000, 1.0f}, Sample{95999, 1.0f}, Sample{96000, 2.0f}, Sample{96480, 1.0f}})
        EXPECT_EQ(audio.samples[s.at], s.value) << s.at;

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

// The export's sound in an MP4 or an M4A: as long as written (within the AAC priming), each
// channel at its own level, the index before the media data.
TEST(Mp4Writer, SoundAndIndexAtTheFront) {
    QTemporaryDir dir;
    for (const bool m4a : {false, true}) {
        const QString path = dir.filePath(m4a ? "sound.m4a" : "sound.mp4");
        const qint64 written = rate + 777;
        {
            Mp4WriterSettings settings = exportOf(Video::none, QSize(), true);
            settings.m4a = m4a;
            Mp4Writer writer(path, settings);
            // In uneven chunks, as the exporter hands them over.
            const qint64 chunks[] = {4096, 100, 1500, 1024, 333};
            std::vector<float> buffer;
            for (qint64 done = 0, k = 0; done < written; ++k) {
                const qint64 n = std::min(chunks[k % 5], written - done);
                buffer.resize(size_t(n * 2));
                for (qint64 i = 0; i < n * 2; ++i)
                    buffer[size_t(i)] = tone(done + i / 2, int(i % 2));
                writer.writeAudio(buffer.data(), n);
                done += n;
            }
            writer.finish();
        }
        const MovieInfo info = probeMovie(path);
        EXPECT_TRUE(info.video.empty());
        ASSERT_EQ(info.audio.size(), 1u);
        EXPECT_EQ(info.audio[0].codecName, QStringLiteral("aac"));
        EXPECT_EQ(info.audio[0].channelCount, 2);
        EXPECT_EQ(info.audio[0].sampleRate, rate);
        EXPECT_NEAR(info.audio[0].durationSeconds, double(written) / rate, double(aacFrame) / rate);
        const DecodedAudio audio = readAllAudio(path);
        ASSERT_EQ(audio.channels, 2);
        EXPECT_NEAR(double(audio.frames()), double(written), 2 * aacFrame) << m4a;
        EXPECT_NEAR(rms(audio, 0, 4096, 40000), 0.5 / std::sqrt(2.0), 0.02) << m4a;
        EXPECT_NEAR(rms(audio, 1, 4096, 40000), 0.25 / std::sqrt(2.0), 0.02) << m4a;

        QString brand;
        const QStringList boxes = topLevelBoxes(path, &brand);
        ASSERT_TRUE(boxes.contains("moov") && boxes.contains("mdat")) << m4a;
        EXPECT_LT(boxes.indexOf("moov"), boxes.indexOf("mdat")) << m4a;
        EXPECT_EQ(brand == QStringLiteral("M4A "), m4a);
    }
}

} // namespace
