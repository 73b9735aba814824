// Fitting a photo into the frame: where it stands (Letterbox) and how it gets
// there (StretchDraw).
#pragma once

#include <cstdint>

namespace brindle {

// Where a photo stands in the frame. Wide enough for any pair of sizes, so
// that no product or difference wraps around.
struct Placement
{
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
};

// Fits a photo of w × h pixels into a W × H frame: never enlarged, aspect kept
// by cross-multiplication, divisions and halvings truncated toward zero,
// centred. A photo of the frame's aspect that is larger fills it exactly.
Placement Letterbox(int w, int h, int W, int H);

// 24-bit BGR pixels, rows `stride` bytes apart, top-down.
struct BgrView
{
    int width = 0;
    int height = 0;
    int stride = 0;
    std::uint8_t *bits = nullptr;
};

// Scales `picture` to the placement's size with area averaging and puts it at
// the placement's position in `frame`, clipped to the frame. Pixels of the
// frame outside the placement stay as they are. Only shrinks: raises
// std::runtime_error for a placement larger than the frame, or when the scaler
// cannot be set up (std::bad_alloc when memory runs out). A picture with
// 16-byte aligned rows goes to the scaler as it is, so its storage must reach
// 64 bytes past its last row, as a jpeg::Image's does.
void StretchDraw(const BgrView &picture, const BgrView &frame, const Placement &to);

} // namespace brindle
