// The fitting rules on their own, for sizes no frame of a test could hold.

#include "frameserver/letterbox.h"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

using brindle::Letterbox;
using brindle::Placement;

namespace {

void ExpectPlacement(const Placement &at, std::int64_t x, std::int64_t y, std::int64_t w,
                     std::int64_t h)
{
    EXPECT_EQ(at.x, x);
    EXPECT_EQ(at.y, y);
    EXPECT_EQ(at.width, w);
    EXPECT_EQ(at.height, h);
}

} // namespace

// The cases a frame can show are checked on served pixels (brindle_test.cpp).
TEST(Letterbox, FollowsTheCrossMultiplicationRule)
{
    // Larger in one direction only still shrinks, the other side truncated.
    ExpectPlacement(Letterbox(400, 100, 352, 240), 0, 76, 352, 88);
    ExpectPlacement(Letterbox(100, 300, 352, 240), 136, 0, 80, 240);
    // 1 × 1000 → 240 ÷ 1000 truncates to 0 columns.
    ExpectPlacement(Letterbox(1, 1000, 352, 240), 176, 0, 0, 240);
}

TEST(Letterbox, LargeSizesDoNotWrap)
{
    // 60000 × 40000 passes 2^31 where 50000 × 40000 does not: wrapped, the
    // wider photo would be taken for the taller one and overflow the frame.
    ExpectPlacement(Letterbox(60000, 50000, 40000, 40000), 0, 3333, 40000, 33333);
    // Both products pass 2^31; wrapped, the width would come out negative.
    ExpectPlacement(Letterbox(65000, 60000, 50000, 40000), 3333, 0, 43333, 40000);
    ExpectPlacement(Letterbox(65535, 65535, 2147483647, 1), 1073741823, 0, 1, 1);
}

TEST(Letterbox, FramesOfNoSizeGetNothingToDraw)
{
    const Placement none = Letterbox(0, 480, 352, 240);
    EXPECT_EQ(none.width, 0);
    EXPECT_EQ(none.height, 0);
    const Placement flat = Letterbox(704, 480, 0, 240);
    EXPECT_LE(flat.width, 0);
}

TEST(StretchDraw, RowsAtAnyAddressGiveTheSamePicture)
{
    // The scaler wants aligned rows; a picture that has none is copied first.
    const int w = 101, h = 37, oddStride = w * 3 + 1, alignedStride = 384;
    std::vector<std::uint8_t> storage(static_cast<std::size_t>(oddStride) * h + 1);
    std::uint8_t *odd = storage.data() + 1;
    alignas(64) static std::uint8_t aligned[alignedStride * h];
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w * 3; ++x)
            odd[y * oddStride + x] = static_cast<std::uint8_t>(40 + (x * 7 + y * 13) % 200);
        std::memcpy(aligned + y * alignedStride, odd + y * oddStride, w * 3);
    }

    const int fw = 64, fh = 24, fstride = fw * 3;
    std::vector<std::uint8_t> fromOdd(fstride * fh, 0), fromAligned(fstride * fh, 0);
    const Placement to{5, 3, 50, 18};
    brindle::StretchDraw({w, h, oddStride, odd}, {fw, fh, fstride, fromOdd.data()}, to);
    brindle::StretchDraw({w, h, alignedStride, aligned}, {fw, fh, fstride, fromAligned.data()}, to);
    EXPECT_EQ(fromOdd, fromAligned);
    for (int y = 0; y < fh; ++y)
        for (int x = 0; x < fw; ++x) {
            const bool inside = x >= 5 && x < 55 && y >= 3 && y < 21;
            const std::uint8_t b = fromOdd[y * fstride + x * 3];
            ASSERT_EQ(inside, b != 0) << "(" << x << ", " << y << ")";
        }
}

TEST(StretchDraw, RefusesToEnlargeBeyondTheFrame)
{
    std::vector<std::uint8_t> picture(16 * 3 * 16, 255), frame(8 * 3 * 8, 0);
    EXPECT_THROW(brindle::StretchDraw({16, 16, 48, picture.data()}, {8, 8, 24, frame.data()},
                                      Placement{0, 0, 9, 8}),
                 std::runtime_error);
}
