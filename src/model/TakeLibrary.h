#pragma once

#include "model/Take.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>
#include <vector>

namespace reelbox {

// Every take on disk: one folder per take below the root, newest first.
// Threads: call it on the main thread only (the static readers on any thread); its signals
// arrive on the main thread.
class TakeLibrary : public QObject {
    Q_OBJECT

public:
    // The standard library: Movies/Reelbox, caches under GenericCache/org.reelbox.Reelbox.
    explicit TakeLibrary(QObject* parent = nullptr);
    // A library at an explicit root (tests, the command line). An empty cacheRoot means the
    // standard cache location.
    // `read`: list the takes now, or leave the list empty until `readInBackground()`.
    enum class Read { now, later };
    explicit TakeLibrary(const QString& root, const QString& cacheRoot = {},
                         QObject* parent = nullptr, Read read = Read::now);

    static QString defaultRoot();
    static QString defaultCacheRoot();

    const std::vector<Take>& takes() const { return m_takes; }
    const QString& root() const { return m_root; }

    // Rescans the root; folders that are not readable takes are left out silently.
    void reload();
    // Rescans the root on a worker; the list changes (takesChanged) once it is read. A change
    // made meanwhile wins: the library is then read again here.
    void readInBackground();
    // Whether the takes on disk were listed at least once.
    bool isRead() const { return m_read; }
    // Writes take.json atomically and updates the take in the list. Throws Error.
    void save(const Take& take);
    // Stores the trimmed name; an empty name or a failed save changes nothing.
    void rename(const Take& take, const QString& name);
    // Moves the take folder to the Trash, then reloads. False when no Trash could take it: the
    // take then stays where it is.
    bool trash(const Take& take);
    // Creates a new, empty take folder named after the current time. Throws Error.
    QString makeNewTakeFolder();

    // The take's folder for derived files (stems, mixes), created on demand. Throws Error.
    QString cacheFolder(const Take& take) const;

    // Reads one take folder; nothing when it isn't a readable take.
    static std::optional<Take> readTake(const QString& folder);

    // Where the current time comes from when naming folders (tests fix it).
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

signals:
    void takesChanged();

private:
    void setTakes(std::vector<Take> takes);

    QString m_root;
    QString m_cacheRoot;
    std::vector<Take> m_takes;
    std::function<QDateTime()> m_clock;
    bool m_read = false;
    int m_changes = 0; // lists set, so a background read knows whether it is still news
};

} // namespace reelbox
