#include "support/MediaFixtures.h"

#include "platform/media/AudioReader.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <sndfile.h>
#include <stdexcept>

namespace reelbox::testing {

QString writeMovie(const QString& path, const MovieWriterSettings& settings, int videoFrames,
                   qint64 audioFrames, const PictureSource& picture, const SampleSource& sample,
                   double audioStartSeconds) {
    MovieWriter writer(path, settings);
    const int channels = settings.audioChannels;
    const bool video = !settings.videoSize.isEmpty();
    const int chunkSizes[] = {1024, 480, 777, 2048, 4096};
    std::vector<float> chunk;
    qint64 audioWritten = 0;
    int chunkIndex = 0;
    int frame = 0;
    auto audioTime = [&] { return audioStartSeconds + double(audioWritten) / settings.sampleRate; };
    while ((video && frame < videoFrames) || (channels > 0 && audioWritten < audioFrames)) {
        const bool audioNext =
            channels > 0 && audioWritten < audioFrames &&
            (!video || frame >= videoFrames || audioTime() < double(frame) / settings.frameRate);
        if (audioNext) {
            const qint64 count =
                std::min<qint64>(chunkSizes[chunkIndex++ % 5], audioFrames - audioWritten);
            chunk.resize(size_t(count * channels));
            for (qint64 i = 0; i < count; ++i)
                for (int c = 0; c < channels; ++c)
                    chunk[size_t(i * channels + c)] = sample(audioWritten + i, c);
            writer.writeAudio(chunk.data(), count, audioTime());
            audioWritten += count;
        } else {
            writer.writeVideoFrame(picture(frame), double(frame) / settings.frameRate);
            ++frame;
        }
    }
    writer.finish();
    return path;
}

QString writePictures(const QString& path, QSize size, int frames, const PictureSource& picture) {
    MovieWriterSettings settings;
    settings.videoSize = size;
    QDir().mkpath(QFileInfo(path).path());
    return writeMovie(path, settings, frames, 0, picture, [](qint64, int) { return 0.0f; });
}

QString writeNumberedMovie(const QString& path, QSize size, int frames, int base) {
    return writePictures(path, size, frames,
                         [=](int i) { return indexedPicture(size, (base + i) % 100); });
}

double meanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return 255;
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * x.width() * x.height());
}

float staircase(qint64 frame, int channel, int channels) {
    // Exact in float up to 2^24 samples.
    return float((frame * channels + channel) % (1 << 24)) / float(1 << 24) - 0.5f;
}

namespace {
constexpr int levelBase = 24;
constexpr int levelStep = 20;
} // namespace

QImage indexedPicture(QSize size, int index) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(
        qRgb(levelBase + (index % 10) * levelStep, 128, levelBase + (index / 10) * levelStep));
    return image;
}

int indexOfColour(const QImage& image) {
    const QRgb centre = image.pixel(image.width() / 2, image.height() / 2);
    auto level = [](int value) -> int {
        const double step = double(value - levelBase) / levelStep;
        const long rounded = std::lround(step);
        return std::abs(step - double(rounded)) < 0.3 && rounded >= 0 && rounded <= 9 ? int(rounded)
                                                                                      : -1;
    };
    const int units = level(qRed(centre));
    const int tens = level(qBlue(centre));
    return units < 0 || tens < 0 ? -1 : tens * 10 + units;
}

DecodedAudio readAllAudio(const QString& path) {
    AudioReader reader(path);
    DecodedAudio result;
    result.channels = reader.channelCount();
    AudioBuffer buffer;
    while (reader.read(buffer)) {
        if (qint64(buffer.samples.size()) != buffer.frames * result.channels)
            throw std::logic_error("buffer size does not match its frame count");
        result.bufferTimes.push_back(buffer.ptsSeconds);
        result.bufferStarts.push_back(result.frames());
        result.samples.insert(result.samples.end(), buffer.samples.begin(), buffer.samples.end());
    }
    return result;
}

QStringList topLevelBoxes(const QString& path, QString* brand) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("can't read " + path.toStdString());
    QStringList boxes;
    qint64 at = 0;
    while (at + 8 <= file.size()) {
        file.seek(at);
        const QByteArray header = file.read(16);
        quint64 size = qFromBigEndian<quint32>(header.constData());
        const QString type = QString::fromLatin1(header.mid(4, 4));
        if (size == 1 && header.size() == 16)
            size = qFromBigEndian<quint64>(header.constData() + 8);
        else if (size == 0)
            size = quint64(file.size() - at); // to the end of the file
        if (size < 8)
            throw std::runtime_error("a box smaller than its header in " + path.toStdString());
        if (type == u"ftyp" && brand)
            *brand = QString::fromLatin1(header.mid(8, 4));
        boxes << type;
        at += qint64(size);
    }
    return boxes;
}

void writeWav16(const QString& path, int channels, int sampleRate,
                const std::vector<qint16>& interleaved) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRate;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    const sf_count_t frames = sf_count_t(interleaved.size()) / channels;
    const bool written = file && sf_writef_short(file, interleaved.data(), frames) == frames;
    if (!file || sf_close(file) != 0 || !written)
        throw std::runtime_error("can't write the WAV fixture");
}

} // namespace reelbox::testing
