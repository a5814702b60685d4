#pragma once

#include <cstddef>

namespace reelbox {

// Anonymous memory mapped on its own, aligned to 2 MB and offered to the kernel for
// transparent huge pages (only advice: 4 KB pages if it is refused). For buffers of many
// megabytes that are touched once from end to end, where 4 KB pages would mean a page fault
// every 1,024 samples. Unmapped when destroyed.
class MappedMemory {
public:
    static constexpr std::size_t hugePageBytes = std::size_t(2) << 20;

    MappedMemory() = default;
    // Throws std::bad_alloc when the mapping fails.
    explicit MappedMemory(std::size_t bytes);
    ~MappedMemory();
    MappedMemory(MappedMemory&& other) noexcept;
    MappedMemory& operator=(MappedMemory&& other) noexcept;
    MappedMemory(const MappedMemory&) = delete;
    MappedMemory& operator=(const MappedMemory&) = delete;

    void* data() const { return m_data; }
    std::size_t size() const { return m_bytes; }

    // Hands the mapping to the caller (an allocator), which gives it back through adopt().
    void* release() noexcept;
    // Takes back a mapping that release() gave out for `bytes`.
    static MappedMemory adopt(void* data, std::size_t bytes) noexcept;

private:
    void* m_data = nullptr;
    std::size_t m_bytes = 0; // as asked for; the mapping is rounded up to whole huge pages
};

} // namespace reelbox
