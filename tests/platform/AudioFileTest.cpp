#include "platform/media/AudioFile.h"
#include "support/MediaFixtures.h"
#include "support/TestSupport.h"

#include "platform/Error.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace reelbox;
using namespace reelbox::testing;

namespace {

std::vector<float> staircaseBlock(qint64 from, qint64 frames, int channels) {
    std::vector<float> block(size_t(frames * channels));
    for (qint64 i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            block[size_t(i * channels + c)] = staircase(from + i, c, channels);
    return block;
}

// Samples written in pieces of any size come back exactly, read whole or from anywhere, and
// through the whole-buffer helpers.
TEST(AudioFile, RoundTripIsExact) {
    QTemporaryDir dir;
    const QString path = dir.filePath("stem.caf");
    const qint64 frames = 50000;
    {
        AudioFileWriter writer(path, 2, 48000);
        qint64 written = 0;
        for (const qint64 piece : {1, 4095, 20000, 25904}) {
            writer.write(staircaseBlock(written, piece, 2).data(), piece);
            written += piece;
        }
        writer.close();
        EXPECT_THROW(writer.write(staircaseBlock(0, 1, 2).data(), 1), Error);
    }
    EXPECT_TRUE(test::readFile(path).startsWith("caff"));

    AudioFileReader reader(path);
    EXPECT_EQ(reader.channels(), 2);
    EXPECT_EQ(reader.sampleRate(), 48000);
    ASSERT_EQ(reader.frames(), frames);
    std::vector<float> all(size_t(frames * 2));
    EXPECT_EQ(reader.read(all.data(), frames + 100), frames);
    EXPECT_EQ(all, staircaseBlock(0, frames, 2));
    EXPECT_EQ(reader.read(all.data(), 10), 0);

    std::vector<float> piece(1000);
    for (const qint64 at : {49000, 0, 12345, 480, 49999}) {
        reader.seek(at);
        const qint64 expected = std::min<qint64>(500, frames - at);
        ASSERT_EQ(reader.read(piece.data(), 500), expected) << at;
        piece.resize(size_t(expected * 2));
        EXPECT_EQ(piece, staircaseBlock(at, expected, 2)) << at;
        piece.resize(1000);
        EXPECT_EQ(reader.position(), at + expected);
    }
    reader.seek(frames);
    EXPECT_EQ(reader.read(piece.data(), 500), 0);
    EXPECT_THROW(reader.seek(frames + 1), Error);
    EXPECT_THROW(reader.seek(-1), Error);

    // The whole-buffer helpers keep channels apart; the shorter channel decides the length.
    const QString mix = dir.filePath("mix.caf");
    std::vector<std::vector<float>> channels{std::vector<float>(70000), std::vector<float>(70003)};
    for (size_t i = 0; i < 70000; ++i) {
        channels[0][i] = staircase(qint64(i), 0, 1);
        channels[1][i] = -staircase(qint64(i), 0, 1);
    }
    writeAudioFile(mix, channels, 44100);
    const AudioData data = readAudioFile(mix);
    EXPECT_EQ(data.sampleRate, 44100);
    ASSERT_EQ(data.channels.size(), 2u);
    channels[1].resize(70000);
    EXPECT_EQ(data.channels, channels);
}

TEST(AudioFile, FailuresCarryTheLibrarysText) {
    QTemporaryDir dir;
    try {
        AudioFileReader reader(dir.filePath("missing.caf"));
        FAIL() << "opened a missing file";
    } catch (const Error& error) {
        EXPECT_TRUE(error.message().startsWith(QStringLiteral("Can't read “missing.caf”: ")))
            << error.what();
        EXPECT_TRUE(error.message().contains(QStringLiteral("No such file"))) << error.what();
    }
    EXPECT_THROW(AudioFileWriter(dir.filePath("no/such/folder/stem.caf"), 1, 48000), Error);
    EXPECT_THROW(AudioFileWriter(dir.filePath("zero.caf"), 0, 48000), Error);

    const QString text = dir.filePath("notes.caf");
    test::writeFile(text, "these are not samples\n");
    EXPECT_THROW(AudioFileReader reader(text), Error);
}

} // namespace
