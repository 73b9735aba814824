// The colour masks of a bitmap stored with BI_BITFIELDS, as the picture
// readers of the photo list and of the movie both take them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace win32 {

// Bytes a bitmap file's start must hold for BitmapMasksReadable to judge it.
inline constexpr std::size_t kBitmapMasksEnd = 66;

// Whether the masks of the bitmap whose first `size` bytes are `h` are ones
// that are read: 5-6-5, 5-5-5 and 4-4-4 at 16 bits, a byte a channel in one of
// four orders at 32 bits (others, such as 10 bits a channel, are not). True for
// a bitmap without masks, and for a start too short to say.
inline bool BitmapMasksReadable(const std::uint8_t *h, std::size_t size)
{
    const auto le16
        = [h](std::size_t at) { return static_cast<std::uint32_t>(h[at] | h[at + 1] << 8); };
    const auto le32 = [h](std::size_t at) {
        return static_cast<std::uint32_t>(h[at] | h[at + 1] << 8 | h[at + 2] << 16)
               | static_cast<std::uint32_t>(h[at + 3]) << 24;
    };
    constexpr std::uint32_t kBitFields = 3;
    if (size < kBitmapMasksEnd || h[0] != 'B' || h[1] != 'M' || le32(14) < 40
        || le32(30) != kBitFields)
        return true;
    // After a 40-byte header, or within a longer one: at the same place.
    const std::uint32_t r = le32(54), g = le32(58), b = le32(62);
    const auto is = [&](std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
        return r == red && g == green && b == blue;
    };
    switch (le16(28)) {
    case 16:
        return is(0xF800, 0x07E0, 0x001F) || is(0x7C00, 0x03E0, 0x001F)
               || is(0x0F00, 0x00F0, 0x000F);
    case 32:
        return is(0x00FF0000, 0x0000FF00, 0x000000FF) || is(0x000000FF, 0x0000FF00, 0x00FF0000)
               || is(0xFF000000, 0x00FF0000, 0x0000FF00) || is(0x0000FF00, 0x00FF0000, 0xFF000000);
    default:
        return true;
    }
}

inline constexpr const char *kBitmapMasksUnreadable
    = "its colour masks are not ones that can be read (only 5-6-5, 5-5-5 and 4-4-4 at 16 "
      "bits, 8 bits a channel at 32)";

} // namespace win32
