#include "model/ExportSettings.h"

namespace reelbox {

ExportSettings::Position ExportSettings::position(const Lane& lane) const {
    if (auto it = positions.find(lane.key()); it != positions.end())
        return it->second;
    return {};
}

QString rawString(ExportSettings::Format format) {
    switch (format) {
    case ExportSettings::Format::h264:
        return QStringLiteral("MP4 \u00B7 H.264");
    case ExportSettings::Format::hevc:
        return QStringLiteral("MP4 \u00B7 HEVC");
    case ExportSettings::Format::audio:
        return QStringLiteral("Audio only \u00B7 M4A");
    }
    return {};
}

QString rawString(ExportSettings::Aspect aspect) {
    switch (aspect) {
    case ExportSettings::Aspect::original:
        return QStringLiteral("Original");
    case ExportSettings::Aspect::landscape:
        return QStringLiteral("16:9");
    case ExportSettings::Aspect::portrait:
        return QStringLiteral("9:16");
    case ExportSettings::Aspect::square:
        return QStringLiteral("1:1");
    }
    return {};
}

QString rawString(ExportSettings::VideoLayout layout) {
    switch (layout) {
    case ExportSettings::VideoLayout::split:
        return QStringLiteral("Side by Side");
    case ExportSettings::VideoLayout::pip:
        return QStringLiteral("Picture in Picture");
    case ExportSettings::VideoLayout::main:
        return QStringLiteral("Main Only");
    }
    return {};
}

namespace {
template <typename Enum, size_t N>
std::optional<Enum> fromRaw(const std::array<Enum, N>& all, const QString& raw) {
    for (Enum value : all)
        if (rawString(value) == raw)
            return value;
    return std::nullopt;
}
} // namespace

std::optional<ExportSettings::Format> formatFromRaw(const QString& raw) {
    return fromRaw(allFormats, raw);
}
std::optional<ExportSettings::Aspect> aspectFromRaw(const QString& raw) {
    return fromRaw(allAspects, raw);
}
std::optional<ExportSettings::VideoLayout> layoutFromRaw(const QString& raw) {
    return fromRaw(allLayouts, raw);
}

} // namespace reelbox
