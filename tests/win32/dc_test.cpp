#include "platform/win32/dc.h"

#include <gtest/gtest.h>

#include <thread>

using namespace win32;

namespace {

void fill(HDC dc, BYTE b, BYTE g, BYTE r)
{
    DCBits bits;
    ASSERT_TRUE(GetDCBits(dc, &bits));
    for (int y = 0; y < bits.height; ++y)
        for (int x = 0; x < bits.width; ++x) {
            BYTE *p = bits.bits + y * bits.stride + x * 3;
            p[0] = b, p[1] = g, p[2] = r;
        }
}

// Blue channel of a pixel.
int blueAt(HDC dc, int x, int y)
{
    DCBits bits;
    GetDCBits(dc, &bits);
    return bits.bits[y * bits.stride + x * 3];
}

} // namespace

TEST(DeviceContext, RowsArePaddedToFourBytesAndStartBlack)
{
    HDC dc = CreateMemoryDC(5, 3);
    ASSERT_NE(dc, nullptr);
    DCBits bits;
    ASSERT_TRUE(GetDCBits(dc, &bits));
    EXPECT_EQ(bits.width, 5);
    EXPECT_EQ(bits.height, 3);
    EXPECT_EQ(bits.stride, 16);
    EXPECT_EQ(DibStride(352), 1056);
    EXPECT_EQ(DibStride(1), 4);
    for (int i = 0; i < bits.stride * bits.height; ++i)
        ASSERT_EQ(bits.bits[i], 0);
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_FALSE(DeleteDC(dc));
    EXPECT_FALSE(GetDCBits(dc, &bits));
    EXPECT_EQ(CreateMemoryDC(-1, 4), nullptr);
    EXPECT_EQ(CreateMemoryDC(100000, 100000), nullptr);
    EXPECT_EQ(CreateMemoryDC(2000000000, 1), nullptr); // a stride beyond 32 bits
}

TEST(DeviceContext, BitBltCopiesAndClipsToBoth)
{
    HDC src = CreateMemoryDC(4, 4);
    HDC dst = CreateMemoryDC(6, 3);
    fill(src, 200, 100, 50);
    DCBits s;
    GetDCBits(src, &s);
    s.bits[1 * s.stride + 2 * 3] = 7; // a marker at (2, 1)

    // Asked for 10 × 10 at (3, -1): only what lies inside both bitmaps is copied.
    EXPECT_TRUE(BitBlt(dst, 3, -1, 10, 10, src, 0, 0, SRCCOPY));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(blueAt(dst, x, y), x >= 3 ? (x == 5 && y == 0 ? 7 : 200) : 0)
                << x << "," << y;
    DCBits d;
    GetDCBits(dst, &d);
    EXPECT_EQ(d.bits[0 * d.stride + 3 * 3 + 1], 100);
    EXPECT_EQ(d.bits[0 * d.stride + 3 * 3 + 2], 50);

    // Source origin beyond the source copies nothing.
    HDC blank = CreateMemoryDC(6, 3);
    EXPECT_TRUE(BitBlt(blank, 0, 0, 6, 3, src, 4, 0, SRCCOPY));
    EXPECT_EQ(blueAt(blank, 0, 0), 0);

    DeleteDC(src);
    DeleteDC(dst);
    DeleteDC(blank);
}

TEST(DeviceContext, NullOrStaleHandlesAndOtherRasterOpsAreRefused)
{
    HDC dc = CreateMemoryDC(2, 2);
    EXPECT_FALSE(BitBlt(nullptr, 0, 0, 2, 2, dc, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(dc, 0, 0, 2, 2, nullptr, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(reinterpret_cast<HDC>(0x42), 0, 0, 2, 2, dc, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(dc, 0, 0, 2, 2, dc, 0, 0, 0x00EE0086 /* SRCPAINT */));
    DeleteDC(dc);
    EXPECT_FALSE(BitBlt(dc, 0, 0, 2, 2, dc, 0, 0, SRCCOPY));
}

TEST(DeviceContext, OverlappingCopyWithinOneBitmap)
{
    HDC dc = CreateMemoryDC(1, 4);
    DCBits bits;
    GetDCBits(dc, &bits);
    for (int y = 0; y < 4; ++y)
        bits.bits[y * bits.stride] = static_cast<BYTE>(10 + y);
    EXPECT_TRUE(BitBlt(dc, 0, 1, 1, 3, dc, 0, 0, SRCCOPY));
    EXPECT_EQ(blueAt(dc, 0, 0), 10);
    EXPECT_EQ(blueAt(dc, 0, 1), 10);
    EXPECT_EQ(blueAt(dc, 0, 2), 11);
    EXPECT_EQ(blueAt(dc, 0, 3), 12);
    DeleteDC(dc);
}
