#pragma once

#include <QObject>
#include <QString>
#include <memory>

namespace reelbox {

// Says when a camera is plugged in or out. Listens to udev ("video4linux") where a udev daemon
// runs, otherwise watches the video* nodes of /dev (containers). Signals arrive on the thread
// that created the watcher, which needs an event loop.
class CameraWatcher : public QObject {
    Q_OBJECT
public:
    explicit CameraWatcher(QObject* parent = nullptr);
    // Watches the video* entries of `deviceDirectory` only (no udev).
    explicit CameraWatcher(const QString& deviceDirectory, QObject* parent = nullptr);
    ~CameraWatcher() override;

    // "udev", "inotify", or "" when nothing could be watched.
    QString method() const;

signals:
    void camerasChanged();

private:
    bool watchUdev();
    bool watchDirectory(const QString& directory);
    void readUdev();
    void readDirectoryEvents();

    struct State;
    std::unique_ptr<State> d;
};

} // namespace reelbox
