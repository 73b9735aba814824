// The compressor list as the compressor-list library delivers it: one
// WM_COPYDATA block of a 32-bit count followed by 255-byte name slots.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quillon {

inline constexpr std::size_t CompressorNameSlot = 255;

// The names of a block of `byteCount` bytes at `data`, in block order. Each name
// runs to its first NUL byte or fills its slot. A negative count gives none, and
// no more names are taken than whole slots fit in the block, so a count larger
// than the block cannot make the reader run past its end. A null block or one
// too short for its count field gives none.
std::vector<std::string> CompressorNamesFromBlock(const void *data, std::size_t byteCount);

// The text that marks the compressor the program prefers.
inline constexpr const char *PreferredCompressorMark = "DivX? 5";

// Position of the first name that contains PreferredCompressorMark
// (case-sensitive); -1 when none does.
int PreferredCompressorIndex(const std::vector<std::string> &names);

} // namespace quillon
