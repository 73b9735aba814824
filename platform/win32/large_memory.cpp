#include "platform/win32/large_memory.h"

#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

namespace win32 {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// What precedes each block: how it was made, and how much was mapped.
struct alignas(64) Header
{
    std::size_t mapped; // 0: from the allocator
};

std::size_t roundUp(std::size_t bytes, std::size_t step)
{
    return (bytes + step - 1) / step * step;
}

} // namespace

std::uint8_t *AllocateLarge(std::size_t bytes)
{
    if (bytes > SIZE_MAX - kHugePage - sizeof(Header))
        return nullptr;
    const std::size_t whole = sizeof(Header) + bytes;
    void *start = nullptr;
    std::size_t mapped = 0;
    if (whole < kLargeBlock) {
        start = std::aligned_alloc(alignof(Header), roundUp(whole, alignof(Header)));
        if (!start)
            return nullptr;
        std::memset(start, 0, whole);
    } else {
        mapped = roundUp(whole, kHugePage);
        start = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (start == MAP_FAILED)
            return nullptr;
        // Only advice: without huge pages the block is as good, only slower to fill.
        ::madvise(start, mapped, MADV_HUGEPAGE);
    }
    static_cast<Header *>(start)->mapped = mapped;
    return static_cast<std::uint8_t *>(start) + sizeof(Header);
}

void FreeLarge(void *block)
{
    if (!block)
        return;
    auto *header = reinterpret_cast<Header *>(static_cast<std::uint8_t *>(block) - sizeof(Header));
    if (header->mapped)
        ::munmap(header, header->mapped);
    else
        std::free(header);
}

} // namespace win32
