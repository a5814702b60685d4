#pragma once

#include "compose/Geometry.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace reelbox {

// What the preview draws: the export canvas, the layers in drawing order (each over the ones
// before it) and the mirror switch.
struct LiveSnapshot {
    struct Layer {
        std::int32_t trackID = 0;
        RectD tile;       // canvas pixels
        RectD crop;       // source pixels
        SizeD sourceSize; // carried, not used for drawing
        bool operator==(const Layer&) const = default;
    };

    SizeD canvas;
    std::vector<Layer> layers;
    bool mirror = false;
    bool operator==(const LiveSnapshot&) const = default;
};

// The snapshot shared between the editor (which replaces it whole) and the frame drawing
// (which copies it under the lock and draws outside it).
class LiveLayout {
public:
    LiveSnapshot current() const {
        std::lock_guard lock(m_mutex);
        return m_current;
    }
    void replace(LiveSnapshot snapshot) {
        std::lock_guard lock(m_mutex);
        m_current = std::move(snapshot);
    }

private:
    mutable std::mutex m_mutex;
    LiveSnapshot m_current;
};

} // namespace reelbox
