#include "platform/avs/avs.h"

#include <cstdlib>
#include <limits>
#include <new>

namespace avs {

namespace {

constexpr int kRowAlign = 32;

} // namespace

Frame::Frame(int width, int height)
    : width_(width)
    , height_(height)
    , stride_(0)
    , data_(nullptr)
{
    if (width <= 0 || height <= 0)
        throw Error("A frame must be at least one pixel wide and high");
    const long long stride
        = (static_cast<long long>(width) * 3 + kRowAlign - 1) / kRowAlign * kRowAlign;
    if (stride > std::numeric_limits<int>::max()
        || stride * height > std::numeric_limits<std::ptrdiff_t>::max() / 2)
        throw Error("A frame of " + std::to_string(width) + " x " + std::to_string(height)
                    + " pixels is too large");
    stride_ = static_cast<int>(stride);
    // 64 bytes keeps every row start on a cache line whatever the vector width.
    void *p = std::aligned_alloc(64, (static_cast<std::size_t>(stride) * height + 63) / 64 * 64);
    if (!p)
        throw std::bad_alloc();
    data_ = static_cast<std::uint8_t *>(p);
}

Frame::~Frame()
{
    std::free(data_);
}

Clip::~Clip() = default;

} // namespace avs
