// Blocks for whole pictures, tens or hundreds of megabytes. A large block is
// memory fresh from the kernel, so it comes cleared without being written,
// and asks for huge pages where the kernel backs memory with them only when
// asked: a 240 MB bitmap then takes about 120 page faults to fill rather than
// 60,000, which cost more than reading it.
#pragma once

#include "platform/win32/types.h"

#include <cstddef>
#include <cstdint>

namespace win32 {

// From this size on a block is mapped fresh from the kernel; smaller ones are
// left to the allocator, and callers keep their usual buffers for them.
inline constexpr std::size_t kLargeBlock = std::size_t{8} << 20;

// At least `bytes` bytes, cleared, on a 64-byte boundary; nullptr when there
// is no memory. Freed with FreeLarge.
QUILLON_WIN32_API std::uint8_t *AllocateLarge(std::size_t bytes);
QUILLON_WIN32_API void FreeLarge(void *block);

} // namespace win32
