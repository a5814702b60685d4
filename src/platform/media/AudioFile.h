#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>
#include <vector>

namespace reelbox {

// CAF (or WAV) files of 32-bit float samples (little-endian), written and read through
// libsndfile. Errors throw Error carrying libsndfile's text.

enum class AudioFileFormat { caf, wav };

// The format a file name asks for: ".caf" or ".wav" in any case; none for other names.
std::optional<AudioFileFormat> audioFileFormatFor(const QString& path);

class AudioFileWriter {
public:
    // Creates or overwrites the file.
    AudioFileWriter(const QString& path, int channels, int sampleRate,
                    AudioFileFormat format = AudioFileFormat::caf);
    ~AudioFileWriter(); // closes the file; errors at that point are ignored
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    int channels() const { return m_channels; }
    void write(const float* interleaved, qint64 frames);
    void close(); // throws when the file can't be completed

private:
    struct Handle;
    QString m_path;
    int m_channels = 0;
    std::unique_ptr<Handle> m_file;
};

// Reads any file libsndfile knows, as float (integer formats are scaled to ±1).
class AudioFileReader {
public:
    explicit AudioFileReader(const QString& path);
    ~AudioFileReader();
    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    int channels() const { return m_channels; }
    int sampleRate() const { return m_sampleRate; }
    qint64 frames() const { return m_frames; }
    qint64 position() const { return m_position; }

    void seek(qint64 frame); // 0 … frames()
    // Reads up to `frames` frames from the current position; returns how many were read
    // (0 at the end).
    qint64 read(float* interleaved, qint64 frames);

private:
    struct Handle;
    QString m_path;
    int m_channels = 0;
    int m_sampleRate = 0;
    qint64 m_frames = 0;
    qint64 m_position = 0;
    std::unique_ptr<Handle> m_file;
};

// A whole file as one sample vector per channel.
struct AudioData {
    int sampleRate = 0;
    std::vector<std::vector<float>> channels;
};

// Writes channels of equal length (the shortest decides) as one file.
void writeAudioFile(const QString& path, const std::vector<std::vector<float>>& channels,
                    int sampleRate);
AudioData readAudioFile(const QString& path);

// Copies the sound of `from` into a new file `to` of the given format, a chunk at a time.
void convertAudioFile(const QString& from, const QString& to, AudioFileFormat format);

} // namespace reelbox
