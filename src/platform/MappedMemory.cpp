#include "platform/MappedMemory.h"

#include <cstdint>
#include <new>
#include <utility>

#include <sys/mman.h>

namespace reelbox {

namespace {

std::size_t mappedBytes(std::size_t bytes) {
    const std::size_t page = MappedMemory::hugePageBytes;
    return (bytes + page - 1) / page * page;
}

} // namespace

MappedMemory::MappedMemory(std::size_t bytes) {
    if (bytes == 0)
        return;
    // Map one huge page more than needed, keep the aligned part, give the rest back.
    const std::size_t page = hugePageBytes;
    const std::size_t size = mappedBytes(bytes);
    void* mapped =
        mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    auto* const start = static_cast<char*>(mapped);
    const auto address = reinterpret_cast<std::uintptr_t>(start);
    auto* const aligned = start + (page - address % page) % page;
    if (aligned > start)
        munmap(start, std::size_t(aligned - start));
    auto* const end = start + size + page;
    if (aligned + size < end)
        munmap(aligned + size, std::size_t(end - (aligned + size)));
    madvise(aligned, size, MADV_HUGEPAGE);
    m_data = aligned;
    m_bytes = bytes;
}

MappedMemory::~MappedMemory() {
    if (m_data)
        munmap(m_data, mappedBytes(m_bytes));
}

MappedMemory::MappedMemory(MappedMemory&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_bytes(std::exchange(other.m_bytes, 0)) {}

MappedMemory& MappedMemory::operator=(MappedMemory&& other) noexcept {
    if (this != &other) {
        MappedMemory old(std::move(*this));
        m_data = std::exchange(other.m_data, nullptr);
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

void* MappedMemory::release() noexcept {
    m_bytes = 0;
    return std::exchange(m_data, nullptr);
}

MappedMemory MappedMemory::adopt(void* data, std::size_t bytes) noexcept {
    MappedMemory memory;
    memory.m_data = data;
    memory.m_bytes = data ? bytes : 0;
    return memory;
}

} // namespace reelbox
