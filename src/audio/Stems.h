#pragma once

#include "audio/StemError.h"
#include "platform/SampleRate.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <stop_token>

namespace reelbox::Stems {

// One mono stem per channel of the movie's first audio track, in channel order, in the cache
// folder (which must exist). Cached by name: the movie's base name, its modification time in
// whole seconds and the channel number; an unchanged movie is not decoded again. Stems are
// mono CAF files of 32-bit float samples at audioSampleRate; frame 0 is time 0 of the movie.
// Each call writes under ".partial" names of its own and renames them over the final names
// only when every stem is complete, so extractions of one movie may run at once and a final
// name, once there, never goes missing. A failed or cancelled call removes its partial files.
// Throws StemError, Error for file failures, or Cancelled.
QStringList extract(const QString& moviePath, const QString& cacheFolder,
                    const std::stop_token& token = {});

// The stem path of one channel (for a movie with the given modification time).
QString stemPath(const QString& moviePath, qint64 modificationTimeSeconds, int channel,
                 const QString& cacheFolder);

// The 32-byte channel-layout record a movie carries for its channel count: the layout tag
// (mono 0x640001, stereo 0x650002, else discrete-in-order 0x930000 + n) little-endian in the
// first four bytes, zeros after.
std::array<std::uint8_t, 32> channelLayout(int channels);

} // namespace reelbox::Stems
