#include "audio/Stems.h"

#include "platform/Cancellation.h"
#include "platform/media/AudioFile.h"
#include "platform/media/AudioReader.h"
#include "platform/media/MovieInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

namespace reelbox::Stems {

namespace {

// Frames collected per channel before they go to disk, so writes stay large.
constexpr qint64 flushFrames = 1 << 15;

// Writes n mono stems from interleaved audio, in large blocks.
class StemWriters {
public:
    StemWriters(const QStringList& paths) {
        for (const QString& path : paths)
            m_writers.push_back(std::make_unique<AudioFileWriter>(path, 1, audioSampleRate));
        m_pending.assign(m_writers.size(), std::vector<float>(flushFrames));
    }

    void writeSilence(qint64 frames) {
        while (frames > 0) {
            const qint64 n = std::min(frames, flushFrames - m_filled);
            for (auto& channel : m_pending)
                std::fill_n(channel.begin() + m_filled, n, 0.0f);
            advance(n);
            frames -= n;
        }
    }

    void write(const float* interleaved, qint64 frames) {
        const size_t channels = m_pending.size();
        while (frames > 0) {
            const qint64 n = std::min(frames, flushFrames - m_filled);
            for (size_t c = 0; c < channels; ++c) {
                float* out = m_pending[c].data() + m_filled;
                const float* in = interleaved + c;
                for (qint64 j = 0; j < n; ++j)
                    out[j] = in[j * qint64(channels)];
            }
            interleaved += n * qint64(channels);
            advance(n);
            frames -= n;
        }
    }

    void close() {
        flush();
        for (auto& writer : m_writers)
            writer->close();
    }

private:
    void advance(qint64 n) {
        m_filled += n;
        if (m_filled == flushFrames)
            flush();
    }

    void flush() {
        for (size_t c = 0; c < m_writers.size(); ++c)
            m_writers[c]->write(m_pending[c].data(), m_filled);
        m_filled = 0;
    }

    std::vector<std::unique_ptr<AudioFileWriter>> m_writers;
    std::vector<std::vector<float>> m_pending;
    qint64 m_filled = 0;
};

// The partial files of one extraction: names no other writer uses, removed again unless
// they were moved into place.
class PartialFiles {
public:
    explicit PartialFiles(const QStringList& stems) {
        const QString writer = QUuid::createUuid().toString(QUuid::Id128).left(12);
        for (const QString& stem : stems)
            m_paths << QStringLiteral("%1.%2.partial").arg(stem, writer);
    }
    ~PartialFiles() {
        for (const QString& path : m_paths)
            QFile::remove(path);
    }
    PartialFiles(const PartialFiles&) = delete;
    PartialFiles& operator=(const PartialFiles&) = delete;

    const QStringList& paths() const { return m_paths; }

    // rename(2) replaces an existing stem in one step, so a reader finds either the old file
    // or the new one, never none.
    void moveInto(const QStringList& stems) {
        for (qsizetype c = 0; c < stems.size(); ++c) {
            std::error_code error;
            std::filesystem::rename(QFile::encodeName(m_paths[c]).toStdString(),
                                    QFile::encodeName(stems[c]).toStdString(), error);
            if (error)
                throw Error(QStringLiteral("Couldn't move the stem \"%1\" into place: %2")
                                .arg(QFileInfo(stems[c]).fileName(),
                                     QString::fromLocal8Bit(error.message())));
        }
        m_paths.clear();
    }

private:
    QStringList m_paths;
};

} // namespace

QString stemPath(const QString& moviePath, qint64 modificationTimeSeconds, int channel,
                 const QString& cacheFolder) {
    const QString base = QFileInfo(moviePath).completeBaseName();
    return QDir(cacheFolder)
        .filePath(
            QStringLiteral("%1-%2-ch%3.caf").arg(base).arg(modificationTimeSeconds).arg(channel));
}

QStringList extract(const QString& moviePath, const QString& cacheFolder,
                    const std::stop_token& token) {
    if (QFileInfo(moviePath).isDir())
        throw StemError::readFailed(QStringLiteral("\u201c%1\u201d is a folder, not a movie.")
                                        .arg(QDir::cleanPath(moviePath)));
    MovieInfo movie;
    try {
        movie = probeMovie(moviePath);
    } catch (const Error& e) {
        throw StemError::readFailed(e.message());
    }
    if (movie.audio.empty() || movie.audio.front().channelCount < 1)
        throw StemError::noAudio();
    const AudioTrackInfo& track = movie.audio.front();
    const int channels = track.channelCount;

    QStringList stems;
    for (int c = 0; c < channels; ++c)
        stems << stemPath(moviePath, movie.modificationTimeSeconds, c, cacheFolder);
    if (std::all_of(stems.begin(), stems.end(),
                    [](const QString& p) { return QFileInfo::exists(p); }))
        return stems;

    std::unique_ptr<AudioReader> reader;
    try {
        reader = std::make_unique<AudioReader>(moviePath);
    } catch (const Error& e) {
        throw StemError::readFailed(e.message());
    }
    if (reader->channelCount() != channels)
        throw StemError::readFailed(QStringLiteral("the channel count changed while reading"));

    PartialFiles partials(stems);
    StemWriters writers(partials.paths());

    // A track that starts after the movie's time 0 is preceded by silence.
    const double leadSeconds = std::max(0.0, track.startSeconds);
    writers.writeSilence(qint64(std::uint32_t(leadSeconds * audioSampleRate)));

    AudioBuffer buffer;
    while (true) {
        throwIfCancelled(token);
        bool more = false;
        try {
            more = reader->read(buffer);
        } catch (const Error& e) {
            throw StemError::readFailed(e.message());
        }
        if (!more)
            break;
        if (buffer.frames < 1 || qint64(buffer.samples.size()) < buffer.frames * channels)
            continue;
        writers.write(buffer.samples.data(), buffer.frames);
    }
    writers.close();
    partials.moveInto(stems);
    return stems;
}

std::array<std::uint8_t, 32> channelLayout(int channels) {
    std::uint32_t tag = 0x930000u + std::uint32_t(channels);
    if (channels == 1)
        tag = 0x640001u;
    else if (channels == 2)
        tag = 0x650002u;
    std::array<std::uint8_t, 32> record{};
    for (int i = 0; i < 4; ++i)
        record[size_t(i)] = std::uint8_t(tag >> (8 * i));
    return record;
}

} // namespace reelbox::Stems
