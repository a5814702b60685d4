#pragma once

// Reused picture buffers for the capture threads. Internal to reelbox_platform.

#include "platform/media/YuvPicture.h"

#include <atomic>
#include <memory>
#include <vector>

namespace reelbox {

// Hands out pictures of one size whose pixels nobody else holds: a buffer comes back to the
// pool when the last copy of the picture made from it is gone.
class PicturePool {
public:
    PicturePool(QSize size, YuvPicture::Matrix matrix) : m_size(size), m_matrix(matrix) {}

    YuvPicture acquire() {
        for (const auto& buffer : m_buffers) {
            if (buffer.use_count() == 1) {
                // Pairs with the release of the last holder's copy.
                std::atomic_thread_fence(std::memory_order_acquire);
                return wrap(buffer);
            }
        }
        auto buffer = std::make_shared<YuvPicture>(m_size, m_matrix);
        if (m_buffers.size() < maxBuffers)
            m_buffers.push_back(buffer);
        return wrap(buffer);
    }

    std::size_t bufferCount() const { return m_buffers.size(); }

private:
    static constexpr std::size_t maxBuffers = 32;

    static YuvPicture wrap(const std::shared_ptr<YuvPicture>& buffer) {
        return YuvPicture(buffer->size(), buffer->matrix(),
                          {buffer->plane(0), buffer->plane(1), buffer->plane(2)},
                          {buffer->stride(0), buffer->stride(1), buffer->stride(2)}, buffer);
    }

    QSize m_size;
    YuvPicture::Matrix m_matrix;
    std::vector<std::shared_ptr<YuvPicture>> m_buffers;
};

} // namespace reelbox
