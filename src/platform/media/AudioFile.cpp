#include "platform/media/AudioFile.h"

#include "platform/Error.h"

#include <sndfile.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace reelbox {

namespace {

QString displayName(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

Error failure(const QString& verb, const QString& path, SNDFILE* file) {
    return Error(QStringLiteral("Can't %1 “%2”: %3")
                     .arg(verb, displayName(path), QString::fromUtf8(sf_strerror(file))));
}

struct SndFileDeleter {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileDeleter>;

constexpr qint64 chunkFrames = 1 << 16;

} // namespace

struct AudioFileWriter::Handle {
    SndFilePtr file;
};
struct AudioFileReader::Handle {
    SndFilePtr file;
};

std::optional<AudioFileFormat> audioFileFormatFor(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"caf")
        return AudioFileFormat::caf;
    if (suffix == u"wav")
        return AudioFileFormat::wav;
    return std::nullopt;
}

AudioFileWriter::AudioFileWriter(const QString& path, int channels, int sampleRate,
                                 AudioFileFormat format)
    : m_path(path), m_channels(channels) {
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRate;
    info.format = format == AudioFileFormat::wav
                      ? SF_FORMAT_WAV | SF_FORMAT_FLOAT
                      : SF_FORMAT_CAF | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE;
    if (channels <= 0 || sampleRate <= 0 || !sf_format_check(&info))
        throw Error(QStringLiteral("Can't write “%1”: unsupported channel count or sample rate")
                        .arg(displayName(path)));
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        throw failure(QStringLiteral("write"), path, nullptr);
    m_file = std::make_unique<Handle>(Handle{SndFilePtr(file)});
}

AudioFileWriter::~AudioFileWriter() = default;

void AudioFileWriter::write(const float* interleaved, qint64 frames) {
    if (!m_file)
        throw Error(
            QStringLiteral("Can't write “%1”: the file is closed").arg(displayName(m_path)));
    if (frames <= 0)
        return;
    if (sf_writef_float(m_file->file.get(), interleaved, frames) != frames)
        throw failure(QStringLiteral("write"), m_path, m_file->file.get());
}

void AudioFileWriter::close() {
    if (!m_file)
        return;
    SNDFILE* file = m_file->file.release();
    m_file.reset();
    if (sf_close(file) != 0)
        throw Error(QStringLiteral("Can't write “%1”: %2")
                        .arg(displayName(m_path), QString::fromUtf8(sf_strerror(nullptr))));
}

AudioFileReader::AudioFileReader(const QString& path) : m_path(path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        throw failure(QStringLiteral("read"), path, nullptr);
    m_file = std::make_unique<Handle>(Handle{SndFilePtr(file)});
    m_channels = info.channels;
    m_sampleRate = info.samplerate;
    m_frames = info.frames;
    if (m_channels <= 0 || m_sampleRate <= 0 || m_frames < 0)
        throw Error(QStringLiteral("Can't read “%1”: invalid audio format").arg(displayName(path)));
}

AudioFileReader::~AudioFileReader() = default;

void AudioFileReader::seek(qint64 frame) {
    if (frame < 0 || frame > m_frames)
        throw Error(QStringLiteral("Can't read “%1”: frame %2 is outside the file")
                        .arg(displayName(m_path))
                        .arg(frame));
    if (sf_seek(m_file->file.get(), frame, SEEK_SET) < 0)
        throw failure(QStringLiteral("read"), m_path, m_file->file.get());
    m_position = frame;
}

qint64 AudioFileReader::read(float* interleaved, qint64 frames) {
    if (frames <= 0)
        return 0;
    const sf_count_t count = sf_readf_float(m_file->file.get(), interleaved, frames);
    if (count < 0 || (count < frames && sf_error(m_file->file.get()) != SF_ERR_NO_ERROR))
        throw failure(QStringLiteral("read"), m_path, m_file->file.get());
    m_position += count;
    return count;
}

void writeAudioFile(const QString& path, const std::vector<std::vector<float>>& channels,
                    int sampleRate) {
    const int count = int(channels.size());
    AudioFileWriter writer(path, count, sampleRate);
    qint64 length = channels.empty() ? 0 : qint64(channels.front().size());
    for (const auto& channel : channels)
        length = std::min(length, qint64(channel.size()));
    if (count == 1) {
        writer.write(channels.front().data(), length);
    } else {
        std::vector<float> interleaved(size_t(std::min(length, chunkFrames) * count));
        for (qint64 start = 0; start < length; start += chunkFrames) {
            const qint64 frames = std::min(chunkFrames, length - start);
            for (int c = 0; c < count; ++c) {
                const float* in = channels[size_t(c)].data() + start;
                for (qint64 i = 0; i < frames; ++i)
                    interleaved[size_t(i * count + c)] = in[i];
            }
            writer.write(interleaved.data(), frames);
        }
    }
    writer.close();
}

AudioData readAudioFile(const QString& path) {
    AudioFileReader reader(path);
    const int count = reader.channels();
    AudioData data;
    data.sampleRate = reader.sampleRate();
    data.channels.assign(size_t(count), std::vector<float>(size_t(reader.frames())));
    if (count == 1) {
        const qint64 read = reader.read(data.channels.front().data(), reader.frames());
        data.channels.front().resize(size_t(read));
        return data;
    }
    std::vector<float> interleaved(size_t(std::min(reader.frames(), chunkFrames) * count));
    qint64 position = 0;
    while (position < reader.frames()) {
        const qint64 frames =
            reader.read(interleaved.data(), std::min(chunkFrames, reader.frames() - position));
        if (frames == 0)
            break;
        for (int c = 0; c < count; ++c) {
            float* out = data.channels[size_t(c)].data() + position;
            for (qint64 i = 0; i < frames; ++i)
                out[i] = interleaved[size_t(i * count + c)];
        }
        position += frames;
    }
    for (auto& channel : data.channels)
        channel.resize(size_t(position));
    return data;
}

void convertAudioFile(const QString& from, const QString& to, AudioFileFormat format) {
    AudioFileReader reader(from);
    AudioFileWriter writer(to, reader.channels(), reader.sampleRate(), format);
    std::vector<float> buffer(size_t(chunkFrames * reader.channels()));
    while (const qint64 frames = reader.read(buffer.data(), chunkFrames))
        writer.write(buffer.data(), frames);
    writer.close();
}

} // namespace reelbox
