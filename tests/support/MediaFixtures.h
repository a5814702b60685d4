#pragma once

#include "platform/media/MovieWriter.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace reelbox::testing {

using PictureSource = std::function<QImage(int frameIndex)>;
using SampleSource = std::function<float(qint64 frame, int channel)>;

// Writes a movie through MovieWriter: `videoFrames` pictures at the settings' frame rate and
// `audioFrames` frames of sound from `audioStartSeconds` (silence before it), handed over in
// time order in uneven chunks, the way a capture session delivers them. Returns the path.
QString writeMovie(const QString& path, const MovieWriterSettings& settings, int videoFrames,
                   qint64 audioFrames, const PictureSource& picture, const SampleSource& sample,
                   double audioStartSeconds = 0);

// A movie of `frames` pictures at 30 fps and no sound, its folder made first.
QString writePictures(const QString& path, QSize size, int frames, const PictureSource& picture);
// Numbered pictures: frame i shows indexedPicture(size, (base + i) % 100).
QString writeNumberedMovie(const QString& path, QSize size, int frames, int base = 0);

// The mean difference of two pictures per colour channel, 0 … 255; 255 when their sizes differ.
double meanDifference(const QImage& a, const QImage& b);

// Staircase: every sample of every channel is different and exactly representable.
float staircase(qint64 frame, int channel, int channels);

// A solid picture whose colour encodes `index` (0 … 99); indexOfColour() reads it back from
// the centre of a decoded picture, -1 when the colour is not one of them.
QImage indexedPicture(QSize size, int index);
int indexOfColour(const QImage& image);

// Every sample of the file's first audio track through AudioReader.
struct DecodedAudio {
    int channels = 0;
    std::vector<float> samples; // interleaved
    std::vector<double> bufferTimes;
    std::vector<qint64> bufferStarts; // frame index of each buffer
    qint64 frames() const { return channels ? qint64(samples.size()) / channels : 0; }
};
DecodedAudio readAllAudio(const QString& path);

// The four-character types of an MP4 / QuickTime file's top-level boxes, in file order;
// `brand` (when given) receives the major brand of its "ftyp" box.
QStringList topLevelBoxes(const QString& path, QString* brand = nullptr);

// Writes a 16-bit PCM WAV (through libsndfile), for input that is neither float nor 48 kHz.
void writeWav16(const QString& path, int channels, int sampleRate,
                const std::vector<qint16>& interleaved);

} // namespace reelbox::testing
