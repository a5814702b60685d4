#include "audio/SampleBuffer.h"

#include "platform/MappedMemory.h"

#include <new>

namespace reelbox::mix {

namespace {

// Blocks from this size on are mapped on their own.
constexpr std::size_t mappedFrom = 2 * MappedMemory::hugePageBytes;

} // namespace

void* allocateSamples(std::size_t bytes) {
    if (bytes >= mappedFrom)
        return MappedMemory(bytes).release();
    return ::operator new(bytes);
}

void freeSamples(void* block, std::size_t bytes) noexcept {
    if (bytes >= mappedFrom)
        MappedMemory::adopt(block, bytes); // unmapped as it goes
    else
        ::operator delete(block);
}

} // namespace reelbox::mix
