#include "platform/camera/CameraDevices.h"

#include "platform/camera/V4l2FormatTable.h"
#include "platform/camera/V4l2Io.h"
#include "platform/camera/internal/V4l2Device.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <cstring>
#include <linux/videodev2.h>

namespace reelbox {

namespace {

using v4l2::Device;

v4l2::Kind kindOf(std::uint32_t type) {
    switch (type) {
    case V4L2_FRMSIZE_TYPE_CONTINUOUS: // == V4L2_FRMIVAL_TYPE_CONTINUOUS
        return v4l2::Kind::continuous;
    case V4L2_FRMSIZE_TYPE_STEPWISE: // == V4L2_FRMIVAL_TYPE_STEPWISE
        return v4l2::Kind::stepwise;
    default:
        return v4l2::Kind::discrete;
    }
}

v4l2::Fraction fraction(const v4l2_fract& f) {
    return {f.numerator, f.denominator};
}

std::vector<v4l2::FrameInterval> readIntervals(const Device& device, std::uint32_t pixelFormat,
                                               std::uint32_t width, std::uint32_t height) {
    std::vector<v4l2::FrameInterval> intervals;
    for (std::uint32_t index = 0; index < 256; ++index) {
        v4l2_frmivalenum e{};
        e.index = index;
        e.pixel_format = pixelFormat;
        e.width = width;
        e.height = height;
        if (device.ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &e) != 0)
            break;
        v4l2::FrameInterval interval;
        interval.kind = kindOf(e.type);
        if (e.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            interval.discrete = fraction(e.discrete);
        } else {
            interval.min = fraction(e.stepwise.min);
            interval.max = fraction(e.stepwise.max);
            interval.step = fraction(e.stepwise.step);
        }
        intervals.push_back(interval);
        if (e.type != V4L2_FRMIVAL_TYPE_DISCRETE)
            break;
    }
    if (intervals.empty()) {
        // Drivers that don't enumerate intervals still say their current one.
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (device.ioctl(VIDIOC_G_PARM, &parm) == 0 &&
            parm.parm.capture.timeperframe.denominator != 0) {
            v4l2::FrameInterval current;
            current.discrete = fraction(parm.parm.capture.timeperframe);
            intervals.push_back(current);
        }
    }
    return intervals;
}

std::vector<v4l2::PixelFormat> readFormats(const Device& device) {
    std::vector<v4l2::PixelFormat> table;
    for (std::uint32_t index = 0; index < 256; ++index) {
        v4l2_fmtdesc desc{};
        desc.index = index;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (device.ioctl(VIDIOC_ENUM_FMT, &desc) != 0)
            break;
        v4l2::PixelFormat format{desc.pixelformat, desc.flags, {}};
        if (!v4l2::isSupported(desc.pixelformat)) {
            table.push_back(format);
            continue;
        }
        for (std::uint32_t sizeIndex = 0; sizeIndex < 1024; ++sizeIndex) {
            v4l2_frmsizeenum e{};
            e.index = sizeIndex;
            e.pixel_format = desc.pixelformat;
            if (device.ioctl(VIDIOC_ENUM_FRAMESIZES, &e) != 0)
                break;
            v4l2::FrameSize size;
            size.kind = kindOf(e.type);
            if (e.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                size.width = e.discrete.width;
                size.height = e.discrete.height;
                size.intervals = readIntervals(device, desc.pixelformat, size.width, size.height);
            } else {
                size.minWidth = e.stepwise.min_width;
                size.maxWidth = e.stepwise.max_width;
                size.stepWidth = e.stepwise.step_width;
                size.minHeight = e.stepwise.min_height;
                size.maxHeight = e.stepwise.max_height;
                size.stepHeight = e.stepwise.step_height;
                size.intervals =
                    readIntervals(device, desc.pixelformat, size.maxWidth, size.maxHeight);
            }
            format.sizes.push_back(std::move(size));
            if (e.type != V4L2_FRMSIZE_TYPE_DISCRETE)
                break;
        }
        table.push_back(std::move(format));
    }
    return table;
}

// The /dev/v4l/by-id link that leads to `node`, if any.
QString stableId(const QString& node) {
    const QString canonical = QFileInfo(node).canonicalFilePath();
    QDir byId(QStringLiteral("/dev/v4l/by-id"));
    const QStringList links = byId.entryList(QDir::System | QDir::Files, QDir::Name);
    for (const QString& link : links) {
        const QString path = byId.filePath(link);
        if (!canonical.isEmpty() && QFileInfo(path).canonicalFilePath() == canonical)
            return path;
    }
    return node;
}

QString sysfsAttribute(const QString& nodeName, const char* attribute) {
    QFile file(
        QStringLiteral("/sys/class/video4linux/%1/%2").arg(nodeName, QLatin1String(attribute)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).trimmed();
}

QString cardName(const v4l2_capability& cap) {
    const auto* card = reinterpret_cast<const char*>(cap.card);
    return QString::fromUtf8(card, int(strnlen(card, sizeof cap.card))).trimmed();
}

std::optional<CameraInfo> readCamera(const std::shared_ptr<v4l2::Io>& io, const QString& path,
                                     const QString& nodeName) {
    const Device device(io, path);
    if (!device.valid()) {
        if (errno != EACCES && errno != EPERM)
            return std::nullopt;
        // Listed, so that choosing it says why it can't be used; a second node of the same
        // camera (metadata) has a non-zero index.
        const QString index = sysfsAttribute(nodeName, "index");
        if (!index.isEmpty() && index != QLatin1String("0"))
            return std::nullopt;
        QString name = sysfsAttribute(nodeName, "name");
        if (name.isEmpty())
            name = nodeName;
        return CameraInfo{stableId(path), name, {}, false, true};
    }
    v4l2_capability cap{};
    if (device.ioctl(VIDIOC_QUERYCAP, &cap) != 0)
        return std::nullopt;
    const std::uint32_t caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING))
        return std::nullopt;
    CameraInfo info;
    info.id = stableId(path);
    info.name = cardName(cap);
    if (info.name.isEmpty())
        info.name = nodeName;
    info.formats = v4l2::cameraFormats(readFormats(device));
    return info;
}

} // namespace

QString testCameraId() {
    return QStringLiteral("reelbox:test-camera");
}

QString testCameraName() {
    return QStringLiteral("Test Camera");
}

CameraInfo testCameraInfo() {
    const std::vector<FrameRateRange> rates{{30, 30}};
    return CameraInfo{testCameraId(),
                      testCameraName(),
                      {CameraFormat{1920, 1080, QStringLiteral("YU12"), rates},
                       CameraFormat{1280, 720, QStringLiteral("YU12"), rates},
                       CameraFormat{640, 360, QStringLiteral("YU12"), rates}},
                      true,
                      false};
}

bool virtualDevicesForced() {
    return qEnvironmentVariable("REELBOX_VIRTUAL_DEVICES") == QLatin1String("1");
}

std::vector<CameraInfo> listV4l2Cameras(const QString& deviceDirectory) {
    return v4l2::listCameras(deviceDirectory, v4l2::systemIo());
}

std::vector<CameraInfo> v4l2::listCameras(const QString& deviceDirectory,
                                          const std::shared_ptr<Io>& io) {
    const QRegularExpression nodeName(QStringLiteral("^video(\\d+)$"));
    QDir dir(deviceDirectory);
    std::vector<std::pair<int, QString>> nodes;
    for (const QString& entry : dir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const auto match = nodeName.match(entry);
        if (match.hasMatch())
            nodes.emplace_back(match.captured(1).toInt(), entry);
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<CameraInfo> cameras;
    for (const auto& [number, name] : nodes) {
        if (auto info = readCamera(io, dir.filePath(name), name))
            cameras.push_back(std::move(*info));
    }
    return cameras;
}

std::vector<CameraInfo> listCameras() {
    std::vector<CameraInfo> cameras = listV4l2Cameras();
    if (cameras.empty() || virtualDevicesForced())
        cameras.push_back(testCameraInfo());
    return cameras;
}

} // namespace reelbox
