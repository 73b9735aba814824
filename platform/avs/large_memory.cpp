#include "platform/avs/large_memory.h"

#include <cstdlib>

#include <sys/mman.h>

namespace avs {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Below this a block is left to the allocator as any other.
constexpr std::size_t kLarge = 4 * kHugePage;

std::size_t roundUp(std::size_t bytes, std::size_t step)
{
    return (bytes + step - 1) / step * step;
}

} // namespace

std::uint8_t *AllocateLarge(std::size_t bytes)
{
    if (bytes < kLarge)
        return static_cast<std::uint8_t *>(std::aligned_alloc(64, roundUp(bytes, 64)));
    const std::size_t size = roundUp(bytes, kHugePage);
    void *block = std::aligned_alloc(kHugePage, size);
    // Only advice: without huge pages the block is as good, only slower to fill.
    if (block)
        ::madvise(block, size, MADV_HUGEPAGE);
    return static_cast<std::uint8_t *>(block);
}

void FreeLarge(void *block)
{
    std::free(block);
}

} // namespace avs
