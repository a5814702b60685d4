#include "platform/camera/CameraWatcher.h"

#include "platform/camera/internal/UniqueFd.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <cstring>
#include <libudev.h>
#include <sys/inotify.h>

namespace reelbox {

namespace {

Q_LOGGING_CATEGORY(cameraLog, "reelbox.camera")

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
};
struct MonitorDeleter {
    void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
};
struct DeviceDeleter {
    void operator()(udev_device* d) const { udev_device_unref(d); }
};

// A udev daemon runs when its control socket exists; without one, udev monitors stay silent.
bool udevRunning() {
    return QFileInfo::exists(QStringLiteral("/run/udev/control"));
}

} // namespace

struct CameraWatcher::State {
    QString method;
    std::unique_ptr<udev, UdevDeleter> udevContext;
    std::unique_ptr<udev_monitor, MonitorDeleter> monitor;
    UniqueFd inotify;
    std::unique_ptr<QSocketNotifier> notifier;
    QRegularExpression videoNode{QStringLiteral("^video\\d+$")};
};

CameraWatcher::CameraWatcher(QObject* parent) : QObject(parent), d(std::make_unique<State>()) {
    if (udevRunning() && watchUdev())
        return;
    if (!watchDirectory(QStringLiteral("/dev")))
        qCWarning(cameraLog) << "Can't watch for cameras being plugged in or out";
}

CameraWatcher::CameraWatcher(const QString& deviceDirectory, QObject* parent)
    : QObject(parent), d(std::make_unique<State>()) {
    if (!watchDirectory(deviceDirectory))
        qCWarning(cameraLog) << "Can't watch" << deviceDirectory << "for cameras";
}

CameraWatcher::~CameraWatcher() {
    // The notifier goes before the descriptor it watches.
    if (d)
        d->notifier.reset();
}

QString CameraWatcher::method() const {
    return d->method;
}

bool CameraWatcher::watchUdev() {
    d->udevContext.reset(udev_new());
    if (!d->udevContext)
        return false;
    d->monitor.reset(udev_monitor_new_from_netlink(d->udevContext.get(), "udev"));
    if (!d->monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(d->monitor.get(), "video4linux", nullptr) <
            0 ||
        udev_monitor_enable_receiving(d->monitor.get()) < 0) {
        d->monitor.reset();
        d->udevContext.reset();
        return false;
    }
    d->notifier = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(d->monitor.get()),
                                                    QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this, &CameraWatcher::readUdev);
    d->method = QStringLiteral("udev");
    return true;
}

bool CameraWatcher::watchDirectory(const QString& directory) {
    d->inotify = UniqueFd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!d->inotify.valid())
        return false;
    if (inotify_add_watch(d->inotify.get(), QFile::encodeName(directory).constData(),
                          IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB) < 0) {
        d->inotify.reset();
        return false;
    }
    d->notifier = std::make_unique<QSocketNotifier>(d->inotify.get(), QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this,
            &CameraWatcher::readDirectoryEvents);
    d->method = QStringLiteral("inotify");
    return true;
}

void CameraWatcher::readUdev() {
    bool changed = false;
    while (std::unique_ptr<udev_device, DeviceDeleter> device{
        udev_monitor_receive_device(d->monitor.get())}) {
        const char* action = udev_device_get_action(device.get());
        if (action && (qstrcmp(action, "add") == 0 || qstrcmp(action, "remove") == 0))
            changed = true;
    }
    if (changed)
        emit camerasChanged();
}

void CameraWatcher::readDirectoryEvents() {
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t length = ::read(d->inotify.get(), buffer, sizeof buffer);
        if (length <= 0)
            break;
        for (ssize_t offset = 0; offset < length;) {
            inotify_event event;
            std::memcpy(&event, buffer + offset, sizeof event);
            if (event.len > 0) {
                const char* name = buffer + offset + sizeof(inotify_event);
                const QString file =
                    QString::fromLocal8Bit(name, qsizetype(strnlen(name, event.len)));
                if (d->videoNode.match(file).hasMatch())
                    changed = true;
            }
            offset += ssize_t(sizeof(inotify_event) + event.len);
        }
    }
    if (changed)
        emit camerasChanged();
}

} // namespace reelbox
