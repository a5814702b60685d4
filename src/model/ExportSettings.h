#pragma once

#include "model/Lane.h"

#include <QString>
#include <array>
#include <map>
#include <optional>

namespace reelbox {

struct ExportSettings {
    enum class Format { h264, hevc, audio };
    enum class Aspect { original, landscape, portrait, square };
    enum class VideoLayout { split, pip, main };

    // Where a video sits inside its frame, -1 … +1 per axis, 0 centred.
    struct Position {
        double x = 0;
        double y = 0;
        bool operator==(const Position&) const = default;
    };

    Format format = Format::h264;
    Aspect aspect = Aspect::original;
    std::map<QString, Position> positions; // lane key -> position
    bool mirror = false;
    VideoLayout layout = VideoLayout::split;

    Position position(const Lane& lane) const;

    bool operator==(const ExportSettings&) const = default;
};

inline constexpr std::array<ExportSettings::Format, 3> allFormats = {
    ExportSettings::Format::h264, ExportSettings::Format::hevc, ExportSettings::Format::audio};
inline constexpr std::array<ExportSettings::Aspect, 4> allAspects = {
    ExportSettings::Aspect::original, ExportSettings::Aspect::landscape,
    ExportSettings::Aspect::portrait, ExportSettings::Aspect::square};
inline constexpr std::array<ExportSettings::VideoLayout, 3> allLayouts = {
    ExportSettings::VideoLayout::split, ExportSettings::VideoLayout::pip,
    ExportSettings::VideoLayout::main};

// Stored strings, which are also the names the choosers show.
QString rawString(ExportSettings::Format format);
QString rawString(ExportSettings::Aspect aspect);
QString rawString(ExportSettings::VideoLayout layout);
std::optional<ExportSettings::Format> formatFromRaw(const QString& raw);
std::optional<ExportSettings::Aspect> aspectFromRaw(const QString& raw);
std::optional<ExportSettings::VideoLayout> layoutFromRaw(const QString& raw);

} // namespace reelbox
