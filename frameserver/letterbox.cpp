#include "frameserver/letterbox.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

extern "C" {
#include <libavutil/mem.h>
#include <libswscale/swscale.h>
}

namespace brindle {

Placement Letterbox(int w, int h, int W, int H)
{
    Placement at;
    if (w <= 0 || h <= 0)
        return at;
    // The products of a large photo and a large frame do not fit in 32 bits;
    // in 64 bits the rule gives the same answer wherever 32 bits would not wrap.
    const std::int64_t pw = w, ph = h, fw = W, fh = H;
    if (ph <= fh && pw <= fw) {
        at.width = pw;
        at.height = ph;
    } else if (pw * fh > ph * fw) {
        at.width = fw;
        at.height = ph * fw / pw;
    } else {
        at.height = fh;
        at.width = pw * fh / ph;
    }
    at.x = (fw - at.width) / 2;
    at.y = (fh - at.height) / 2;
    return at;
}

namespace {

struct AvFree
{
    void operator()(std::uint8_t *p) const { av_free(p); }
};
using AvBuffer = std::unique_ptr<std::uint8_t, AvFree>;

struct SwsFree
{
    void operator()(SwsContext *c) const { sws_freeContext(c); }
};

// The scaler's SIMD paths want 16-byte aligned rows; it would otherwise print a
// warning into the host's standard error.
constexpr int kAlign = 64;

int alignedStride(int width)
{
    return (width * 3 + kAlign - 1) / kAlign * kAlign;
}

// The scaler's vector loads may reach past a row's last pixel, and the last
// row has nothing after it but this.
constexpr std::size_t kTail = 64;

AvBuffer allocate(int stride, int height)
{
    AvBuffer buffer(static_cast<std::uint8_t *>(
        av_malloc(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height) + kTail)));
    if (!buffer)
        throw std::bad_alloc();
    return buffer;
}

bool aligned(const BgrView &view)
{
    return reinterpret_cast<std::uintptr_t>(view.bits) % 16 == 0 && view.stride % 16 == 0;
}

// Copies `from` with its top left corner at (x, y) of `to`, clipped to `to`.
void put(const BgrView &from, const BgrView &to, std::int64_t x, std::int64_t y)
{
    const std::int64_t left = std::max<std::int64_t>(0, -x);
    const std::int64_t top = std::max<std::int64_t>(0, -y);
    const std::int64_t right = std::min<std::int64_t>(from.width, to.width - x);
    const std::int64_t bottom = std::min<std::int64_t>(from.height, to.height - y);
    if (right <= left || bottom <= top)
        return;
    const std::size_t bytes = static_cast<std::size_t>(right - left) * 3;
    for (std::int64_t row = top; row < bottom; ++row)
        std::memcpy(to.bits + (y + row) * to.stride + (x + left) * 3,
                    from.bits + row * from.stride + left * 3, bytes);
}

} // namespace

void StretchDraw(const BgrView &picture, const BgrView &frame, const Placement &to)
{
    if (to.width <= 0 || to.height <= 0 || picture.width <= 0 || picture.height <= 0
        || to.x >= frame.width || to.y >= frame.height || to.x + to.width <= 0
        || to.y + to.height <= 0)
        return;
    if (to.width == picture.width && to.height == picture.height) {
        put(picture, frame, to.x, to.y);
        return;
    }

    // Letterbox never places a photo larger than the frame; refusing anything
    // larger keeps the scaler's buffer within the frame's size.
    if (to.width > frame.width || to.height > frame.height)
        throw std::runtime_error("the picture would not fit in the frame");
    const int width = static_cast<int>(to.width);
    const int height = static_cast<int>(to.height);

    BgrView source = picture;
    AvBuffer sourceCopy;
    if (!aligned(picture)) {
        source.stride = alignedStride(picture.width);
        sourceCopy = allocate(source.stride, picture.height);
        source.bits = sourceCopy.get();
        for (int row = 0; row < picture.height; ++row)
            std::memcpy(source.bits + static_cast<std::size_t>(row) * source.stride,
                        picture.bits + static_cast<std::size_t>(row) * picture.stride,
                        static_cast<std::size_t>(picture.width) * 3);
    }

    BgrView scaled{width, height, alignedStride(width), nullptr};
    AvBuffer scaledBuffer = allocate(scaled.stride, height);
    scaled.bits = scaledBuffer.get();

    // Area averaging keeps every source pixel's share when shrinking, so fine
    // detail turns into its mean colour instead of shimmering. Between two RGB
    // formats the scaler works on the three channels as they are, with no trip
    // through YUV.
    std::unique_ptr<SwsContext, SwsFree> scaler(sws_getContext(
        source.width, source.height, AV_PIX_FMT_BGR24, width, height, AV_PIX_FMT_BGR24,
        SWS_AREA | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP, nullptr, nullptr,
        nullptr));
    if (!scaler)
        throw std::runtime_error("the scaler refused the picture size");
    const std::uint8_t *const sourcePlanes[4] = {source.bits, nullptr, nullptr, nullptr};
    const int sourceStrides[4] = {source.stride, 0, 0, 0};
    std::uint8_t *const scaledPlanes[4] = {scaled.bits, nullptr, nullptr, nullptr};
    const int scaledStrides[4] = {scaled.stride, 0, 0, 0};
    if (sws_scale(scaler.get(), sourcePlanes, sourceStrides, 0, source.height, scaledPlanes,
                  scaledStrides)
        != height)
        throw std::runtime_error("the scaler did not deliver the picture");
    put(scaled, frame, to.x, to.y);
}

} // namespace brindle
