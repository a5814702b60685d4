#include "platform/media/MovieRepair.h"

#include "platform/Error.h"

#include <QFile>
#include <QFileInfo>
#include <array>

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

} // namespace

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
    result.keptBytes = goodEnd;
    result.droppedBytes = fileSize - goodEnd;
    return result;
}

} // namespace reelbox
