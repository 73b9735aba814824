// Blocks for whole pictures, tens or hundreds of megabytes. Where the kernel
// backs memory with huge pages only when asked, a large block asks: a 240 MB
// bitmap then takes about 120 page faults to fill rather than 60,000, which
// cost more than reading it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace avs {

// At least `bytes` bytes on a 64-byte boundary, not cleared; nullptr when
// there is no memory. Freed with FreeLarge.
std::uint8_t *AllocateLarge(std::size_t bytes);
void FreeLarge(void *block);

} // namespace avs
