#pragma once

#include <cstddef>
#include <vector>

namespace reelbox::mix {

// Memory for the whole-take buffers. A large block is a MappedMemory of its own on huge pages:
// a 10-minute mix touches most of a gigabyte for the first time, which is a quarter of a
// million page faults with 4 KB pages and a good part of the render's time; with 2 MB pages it
// is a few hundred. Small blocks come from the ordinary heap.
void* allocateSamples(std::size_t bytes);
void freeSamples(void* block, std::size_t bytes) noexcept;

template <class T> struct SampleAllocator {
    using value_type = T;
    SampleAllocator() = default;
    template <class U> SampleAllocator(const SampleAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(allocateSamples(n * sizeof(T))); }
    void deallocate(T* block, std::size_t n) noexcept { freeSamples(block, n * sizeof(T)); }
    template <class U> bool operator==(const SampleAllocator<U>&) const noexcept { return true; }
};

using Buffer = std::vector<float, SampleAllocator<float>>;

} // namespace reelbox::mix
