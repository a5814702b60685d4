#include "platform/media/MovieRepair.h"

#include "platform/Error.h"
#include "platform/media/MovieInfo.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <utility>

namespace reelbox {

namespace {

struct Box {
    qint64 offset = 0;
    qint64 size = 0;
    QByteArray type;
};

quint64 bigEndian(const uchar* bytes, int count) {
    quint64 value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

// The top-level box at `offset`; its size is 0 when its header is cut short or unreadable.
Box readBox(QFile& file, qint64 offset, qint64 fileSize) {
    Box box;
    box.offset = offset;
    std::array<uchar, 16> header{};
    if (fileSize - offset < 8 || !file.seek(offset) ||
        file.read(reinterpret_cast<char*>(header.data()), 16) < 8)
        return box;
    box.type = QByteArray(reinterpret_cast<const char*>(header.data()) + 4, 4);
    quint64 size = bigEndian(header.data(), 4);
    if (size == 1) {
        if (fileSize - offset < 16)
            return box;
        size = bigEndian(header.data() + 8, 8);
    } else if (size == 0) {
        size = quint64(fileSize - offset); // runs to the end of the file
    }
    if (size < 8 || size > quint64(fileSize - offset))
        return box; // cut short
    box.size = qint64(size);
    return box;
}

// The movie header's boxes whose length is patched: where their duration field lies and in
// which time scale it counts.
struct DurationField {
    QByteArray type;   // "mvhd", "tkhd" or "mdhd"
    qsizetype at = 0;  // offset of the field in the moov bytes
    bool wide = false; // 64 bits (version 1)
    quint64 timescale = 0;
    int track = -1; // file order; -1 for mvhd
};

void putBigEndian(QByteArray& bytes, qsizetype at, quint64 value, int count) {
    for (int i = count - 1; i >= 0; --i, value >>= 8)
        bytes[at + i] = char(value & 0xff);
}

// The duration fields inside `moov` (the box's bytes, header included).
std::vector<DurationField> durationFields(const QByteArray& moov) {
    std::vector<DurationField> fields;
    quint64 movieScale = 0;
    int track = -1;
    const auto* data = reinterpret_cast<const uchar*>(moov.constData());
    // Walks the children of the box spanning [begin, end).
    std::function<void(qsizetype, qsizetype)> walk = [&](qsizetype begin, qsizetype end) {
        qsizetype at = begin;
        while (end - at >= 8) {
            const qsizetype size = qsizetype(bigEndian(data + at, 4));
            const QByteArray type = moov.mid(at + 4, 4);
            if (size < 8 || at + size > end)
                return;
            const qsizetype body = at + 8;
            const bool wide = size > 8 && data[body] == 1;
            if (type == "trak") {
                ++track;
                walk(body, at + size);
            } else if (type == "mdia") {
                walk(body, at + size);
            } else if (type == "mvhd" && size >= (wide ? 40 : 28)) {
                movieScale = bigEndian(data + body + (wide ? 20 : 12), 4);
                fields.push_back({type, body + (wide ? 24 : 16), wide, movieScale, -1});
            } else if (type == "tkhd" && size >= (wide ? 44 : 32)) {
                fields.push_back({type, body + (wide ? 28 : 20), wide, 0, track});
            } else if (type == "mdhd" && size >= (wide ? 40 : 28)) {
                fields.push_back({type, body + (wide ? 24 : 16), wide,
                                  bigEndian(data + body + (wide ? 20 : 12), 4), track});
            }
            at += size;
        }
    };
    walk(8, moov.size());
    for (DurationField& field : fields)
        if (field.type == "tkhd")
            field.timescale = movieScale; // in the movie's time scale
    return fields;
}

// The movie header box of the file: its offset and bytes.
std::pair<qint64, QByteArray> readMovieBox(QFile& file, const QString& what) {
    const qint64 fileSize = file.size();
    qint64 offset = 0;
    while (offset < fileSize) {
        const Box box = readBox(file, offset, fileSize);
        if (box.size == 0)
            break;
        if (box.type == "moov" && box.size <= (64 << 20)) {
            file.seek(box.offset);
            const QByteArray bytes = file.read(box.size);
            if (bytes.size() == box.size)
                return {box.offset, bytes};
            break;
        }
        offset += box.size;
    }
    throw Error(what + QStringLiteral(": the movie header is missing"));
}

} // namespace

MovieHeaderDurations readMovieHeaderDurations(const QString& path) {
    const QString what = QStringLiteral("Can't read “%1”").arg(QFileInfo(path).fileName());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(what + QStringLiteral(": ") + file.errorString());
    const QByteArray moov = readMovieBox(file, what).second;
    const auto* data = reinterpret_cast<const uchar*>(moov.constData());
    MovieHeaderDurations result;
    for (const DurationField& field : durationFields(moov)) {
        if (field.type == "tkhd")
            continue;
        const double seconds =
            field.timescale
                ? double(bigEndian(data + field.at, field.wide ? 8 : 4)) / double(field.timescale)
                : 0.0;
        if (field.track < 0)
            result.movieSeconds = seconds;
        else
            result.trackSeconds.push_back(seconds);
    }
    return result;
}

void writeMovieHeaderDurations(const QString& path, const std::vector<double>& trackSeconds) {
    const QString what = QStringLiteral("Can't write “%1”").arg(QFileInfo(path).fileName());
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        throw Error(what + QStringLiteral(": ") + file.errorString());
    auto [offset, moov] = readMovieBox(file, what);
    double longest = 0;
    for (double seconds : trackSeconds)
        longest = std::max(longest, seconds);
    for (const DurationField& field : durationFields(moov)) {
        const bool known = field.track < int(trackSeconds.size());
        if (!known || field.timescale == 0)
            continue;
        const double seconds = field.track < 0 ? longest : trackSeconds[size_t(field.track)];
        const quint64 limit = field.wide ? std::numeric_limits<quint64>::max() / 2 : 0xffffffffu;
        const quint64 value = std::min<quint64>(
            limit, quint64(std::llround(std::max(0.0, seconds) * double(field.timescale))));
        putBigEndian(moov, field.at, value, field.wide ? 8 : 4);
    }
    if (!file.seek(offset) || file.write(moov) != moov.size() || !file.flush())
        throw Error(what + QStringLiteral(": ") + file.errorString());
}

MovieRepairResult repairFragmentedMovie(const QString& path) {
    const QString what = QStringLiteral("Can't repair “%1”").arg(QFileInfo(path).fileName());
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        throw Error(what + QStringLiteral(": ") + file.errorString());
    const qint64 fileSize = file.size();

    MovieRepairResult result;
    bool haveMovieHeader = false;
    qint64 goodEnd = 0;        // end of the last box that leaves a readable movie
    qint64 fragmentStart = -1; // an open fragment: moof seen, its mdat not yet
    qint64 offset = 0;
    while (offset < fileSize) {
        const Box box = readBox(file, offset, fileSize);
        if (box.size == 0)
            break;
        offset += box.size;
        if (box.type == "moov") {
            haveMovieHeader = true;
            goodEnd = offset;
        } else if (box.type == "moof") {
            fragmentStart = box.offset;
        } else if (box.type == "mdat") {
            if (fragmentStart >= 0)
                ++result.fragments;
            fragmentStart = -1;
            if (haveMovieHeader)
                goodEnd = offset;
        } else if (fragmentStart < 0 && haveMovieHeader) {
            goodEnd = offset; // an index or free space after a whole fragment
        }
    }
    if (!haveMovieHeader)
        throw Error(what + QStringLiteral(": the movie header is missing"));
    if (goodEnd < fileSize && !file.resize(goodEnd))
        throw Error(what + QStringLiteral(": ") + file.errorString());
    file.close();
    result.keptBytes = goodEnd;
    result.droppedBytes = fileSize - goodEnd;

    // The header of an interrupted movie says nothing of its length: now it does.
    MovieInfo info;
    try {
        info = probeMovie(path);
    } catch (const Error&) {
        return result; // nothing playable: the caller decides
    }
    std::vector<std::pair<int, double>> tracks;
    for (const VideoTrackInfo& video : info.video)
        tracks.emplace_back(video.streamIndex, video.durationSeconds);
    for (const AudioTrackInfo& audio : info.audio)
        tracks.emplace_back(audio.streamIndex, audio.durationSeconds);
    std::sort(tracks.begin(), tracks.end());
    std::vector<double> lengths;
    for (const auto& track : tracks)
        lengths.push_back(track.second);
    writeMovieHeaderDurations(path, lengths);
    return result;
}

} // namespace reelbox
