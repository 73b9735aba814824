// Device contexts: a memory device context over a pixel buffer that a host
// creates, and BitBlt between two of them. Pixels are 24-bit BGR, rows top-down
// and padded to a multiple of 4 bytes, as in a Windows DIB. Handles are looked
// up, never dereferenced, so a null or stale handle is refused.
#pragma once

#include "platform/win32/types.h"

namespace win32 {

constexpr DWORD SRCCOPY = 0x00CC0020;

struct DCBits
{
    int width = 0;
    int height = 0;
    int stride = 0;       // bytes from one row to the next
    BYTE *bits = nullptr; // valid until DeleteDC
};

// A black bitmap of the given size; null for a negative or too large size.
QUILLON_WIN32_API HDC CreateMemoryDC(int width, int height);
QUILLON_WIN32_API BOOL DeleteDC(HDC hdc);
QUILLON_WIN32_API BOOL GetDCBits(HDC hdc, DCBits *out);

// Copies cx × cy pixels from (x1, y1) of `src` to (x, y) of `dst`, clipped to both
// bitmaps. Only SRCCOPY is supported. FALSE for a null or unknown handle.
QUILLON_WIN32_API BOOL BitBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1,
                              DWORD rop);

// Bytes per row of a 24-bit bitmap `width` pixels wide.
constexpr long long DibStride(long long width)
{
    return ((width * 3) + 3) & ~3LL;
}

} // namespace win32
