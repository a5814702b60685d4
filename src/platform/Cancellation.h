#pragma once

#include "platform/Error.h"

#include <stop_token>

namespace reelbox {

// One std::stop_source per pipeline run; the work below it polls the token.
inline void throwIfCancelled(const std::stop_token& token) {
    if (token.stop_requested())
        throw Cancelled();
}

} // namespace reelbox
