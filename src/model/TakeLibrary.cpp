#include "model/TakeLibrary.h"

#include "model/TakeInfoCodec.h"
#include "platform/Background.h"
#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>

namespace reelbox {

namespace {
const QString applicationId = QStringLiteral("org.reelbox.Reelbox");
constexpr qint64 maximumInfoFileBytes = 16 * 1024 * 1024;
} // namespace

TakeLibrary::TakeLibrary(QObject* parent) : TakeLibrary(defaultRoot(), {}, parent) {}

TakeLibrary::TakeLibrary(const QString& root, const QString& cacheRoot, QObject* parent, Read read)
    : QObject(parent), m_root(QDir(root).absolutePath()),
      m_cacheRoot(cacheRoot.isEmpty() ? defaultCacheRoot() : QDir(cacheRoot).absolutePath()),
      m_clock([] { return QDateTime::currentDateTime(); }) {
    QDir().mkpath(m_root); // a failure shows as an empty list
    if (read == Read::now)
        reload();
}

QString TakeLibrary::defaultRoot() {
    QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (movies.isEmpty())
        movies = QDir::home().filePath(QStringLiteral("Videos"));
    return QDir(movies).filePath(QStringLiteral("Reelbox"));
}

QString TakeLibrary::defaultCacheRoot() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
        .filePath(applicationId);
}

std::optional<Take> TakeLibrary::readTake(const QString& folder) {
    // Only a plain file of sensible size: a FIFO would block the list, a device never end.
    const QString path = QDir(folder).filePath(QStringLiteral("take.json"));
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile() || info.size() > maximumInfoFileBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Read in blocks: asking for the limit at once reserves it for every take listed.
    QByteArray bytes;
    while (bytes.size() <= maximumInfoFileBytes) {
        const QByteArray block = file.read(64 * 1024);
        if (block.isEmpty())
            break;
        bytes += block;
    }
    if (bytes.size() > maximumInfoFileBytes)
        return std::nullopt;
    Take take;
    take.folder = folder;
    try {
        take.info = decodeTakeInfo(bytes);
    } catch (const DecodeError&) {
        return std::nullopt;
    }
    if (!take.info.mainRemoved && !QFileInfo::exists(take.moviePath()))
        return std::nullopt;
    return take;
}

namespace {

std::vector<Take> readTakes(const QString& rootPath) {
    std::vector<Take> found;
    const QDir root(rootPath);
    // Listing order is the file system's; the sort below is stable on top of it.
    const QStringList children =
        root.entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& child : children) {
        if (auto take = TakeLibrary::readTake(root.filePath(child)))
            found.push_back(std::move(*take));
    }
    std::stable_sort(found.begin(), found.end(), [](const Take& a, const Take& b) {
        return a.info.createdAt > b.info.createdAt;
    });
    return found;
}

} // namespace

void TakeLibrary::reload() {
    setTakes(readTakes(m_root));
}

void TakeLibrary::readInBackground() {
    const int changes = m_changes;
    runInBackground(
        QThreadPool::globalInstance(), this, [root = m_root] { return readTakes(root); },
        [this, changes](std::vector<Take> takes) {
            if (changes == m_changes)
                setTakes(std::move(takes));
            else
                reload();
        });
}

void TakeLibrary::save(const Take& take) {
    const QByteArray bytes = encodeTakeInfo(take.info);
    // A file the reader would refuse, or read back as something else, never replaces the
    // one on disk.
    bool readsBack = false;
    try {
        readsBack = encodeTakeInfo(decodeTakeInfo(bytes)) == bytes;
    } catch (const Error&) {
    }
    if (!readsBack)
        throw Error(QStringLiteral("Couldn't save \"%1\": the take holds values that can't be "
                                   "written to its file.")
                        .arg(take.info.name));
    QSaveFile file(take.infoPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw Error(
            QStringLiteral("Couldn't save \"%1\": %2").arg(take.info.name, file.errorString()));
    // A nearly full disk can take fewer bytes than given and still let the commit pass: the
    // file counts as saved only when it reads back whole.
    const bool written = file.write(bytes) == bytes.size();
    if (!written || !file.commit())
        throw Error(
            QStringLiteral("Couldn't save \"%1\": %2").arg(take.info.name, file.errorString()));
    QFile check(take.infoPath());
    if (!check.open(QIODevice::ReadOnly) || check.readAll() != bytes)
        throw Error(QStringLiteral("Couldn't save \"%1\": the disk is full or the file can't "
                                   "be read back.")
                        .arg(take.info.name));

    ++m_changes;
    auto it = std::find_if(m_takes.begin(), m_takes.end(),
                           [&](const Take& t) { return t.folder == take.folder; });
    if (it != m_takes.end() && !(*it == take)) {
        *it = take;
        emit takesChanged();
    }
}

void TakeLibrary::rename(const Take& take, const QString& name) {
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return;
    Take renamed = take;
    renamed.info.name = trimmed;
    try {
        save(renamed);
    } catch (const Error&) {
        // The list keeps the old name.
    }
}

bool TakeLibrary::trash(const Take& take) {
    const bool moved = moveToTrash(take.folder);
    reload();
    return moved;
}

QString TakeLibrary::makeNewTakeFolder() {
    auto formatted = [&] { return m_clock().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")); };
    const QDir root(m_root);
    const QString failed =
        QStringLiteral("Couldn't create the folder for a new take in \"%1\".").arg(m_root);
    if (!QDir().mkpath(m_root))
        throw Error(failed);
    // The folder is made only when it did not exist, so that two recordings started in the
    // same second (even by two processes) never share one.
    QString candidate = root.filePath(formatted());
    for (int n = 2;; ++n) {
        const bool taken = QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink();
        if (!taken && root.mkdir(QFileInfo(candidate).fileName()))
            return candidate;
        if (!taken && !QFileInfo::exists(candidate))
            throw Error(failed);
        candidate = root.filePath(formatted() + QStringLiteral(" %1").arg(n));
    }
}

QString TakeLibrary::cacheFolder(const Take& take) const {
    const QString folder = QDir(m_cacheRoot).filePath(take.folderName());
    if (!QDir().mkpath(folder))
        throw Error(QStringLiteral("Couldn't create the cache folder \"%1\".").arg(folder));
    return folder;
}

void TakeLibrary::setTakes(std::vector<Take> takes) {
    ++m_changes;
    const bool first = !m_read;
    m_read = true;
    if (takes == m_takes && !first)
        return;
    m_takes = std::move(takes);
    emit takesChanged();
}

} // namespace reelbox
