#pragma once

#include <QSize>
#include <QString>
#include <QtGlobal>
#include <vector>

namespace reelbox {

// Times are seconds on the file's own time line.
struct VideoTrackInfo {
    int streamIndex = -1;
    double startSeconds = 0;
    double durationSeconds = 0;
    QSize naturalSize; // as displayed: rotation applied
    double frameRate = 0;
    QString codecName;     // FFmpeg's short name: "h264", "hevc"
    QString codecTag;      // the sample entry's four characters: "avc1", "hvc1"; empty if none
    qint64 frameCount = 0; // as the container states it; 0 when it doesn't
};

struct AudioTrackInfo {
    int streamIndex = -1;
    double startSeconds = 0;
    double durationSeconds = 0;
    int channelCount = 0;
    int sampleRate = 0;
    QString codecName; // FFmpeg's short name: "aac", "pcm_f32be"
};

struct MovieInfo {
    QString path;
    std::vector<VideoTrackInfo> video; // file order
    std::vector<AudioTrackInfo> audio; // file order
    double durationSeconds = 0;
    qint64 modificationTimeSeconds = 0; // whole seconds since 1970; 0 when unreadable
};

// Reads a movie's tracks without decoding. Throws Error when the file can't be opened or has
// neither audio nor video.
MovieInfo probeMovie(const QString& path);

} // namespace reelbox
