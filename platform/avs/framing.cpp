// The filters that frame a picture: bands around it, a cut-out of it, a blurred
// copy of it, one picture laid over another.
#include "platform/avs/filter_base.h"
#include "platform/avs/filters.h"
#include "platform/avs/picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace avs {

namespace {

using detail::depthAbove;
using detail::Filter;
using detail::PerFrameFilter;

constexpr std::int64_t kMaxSide = picture::kMaxSide;

void copyRows(const Frame &from, int fromX, int fromY, Frame &to, int toX, int toY, int width,
              int height)
{
    for (int y = 0; y < height; ++y)
        std::memcpy(to.mutableRow(toY + y) + static_cast<std::ptrdiff_t>(toX) * 3,
                    from.row(fromY + y) + static_cast<std::ptrdiff_t>(fromX) * 3,
                    static_cast<std::size_t>(width) * 3);
}

// --- AddBorders ----------------------------------------------------------------

class AddBorders : public PerFrameFilter
{
public:
    AddBorders(const PEnvironment &env, const PClip &child, const VideoInfo &vi, int left, int top,
               std::uint32_t colour)
        : PerFrameFilter(env, child, vi, depthAbove("AddBorders", {&child}))
        , left_(left)
        , top_(top)
        , colour_(colour)
    {}

private:
    PFrame make(const Frame &in) override
    {
        auto out = std::make_shared<Frame>(vi_.width, vi_.height);
        const std::uint8_t bgr[3]
            = {static_cast<std::uint8_t>(colour_), static_cast<std::uint8_t>(colour_ >> 8),
               static_cast<std::uint8_t>(colour_ >> 16)};
        for (int y = 0; y < vi_.height; ++y) {
            std::uint8_t *row = out->mutableRow(y);
            if (bgr[0] == bgr[1] && bgr[1] == bgr[2]) {
                std::memset(row, bgr[0], static_cast<std::size_t>(vi_.width) * 3);
                continue;
            }
            for (int x = 0; x < vi_.width; ++x)
                std::memcpy(row + static_cast<std::ptrdiff_t>(x) * 3, bgr, 3);
        }
        copyRows(in, 0, 0, *out, left_, top_, in.width(), in.height());
        return out;
    }

    int left_, top_;
    std::uint32_t colour_;
};

// --- Crop ----------------------------------------------------------------------

class CropArea : public PerFrameFilter
{
public:
    CropArea(const PEnvironment &env, const PClip &child, const VideoInfo &vi, int left, int top)
        : PerFrameFilter(env, child, vi, depthAbove("Crop", {&child}))
        , left_(left)
        , top_(top)
    {}

    detail::CropPlace place() const { return {child_, left_, top_}; }

private:
    PFrame make(const Frame &in) override
    {
        auto out = std::make_shared<Frame>(vi_.width, vi_.height);
        copyRows(in, left_, top_, *out, 0, 0, vi_.width, vi_.height);
        return out;
    }

    int left_, top_;
};

// --- GaussianBlur --------------------------------------------------------------

// Box widths (odd) of three passes whose sum approximates a Gaussian of
// standard deviation sigma: the passes of the narrower width first, so that the
// variances add up to sigma².
std::vector<int> boxesFor(double sigma)
{
    constexpr int kPasses = 3;
    const double ideal = std::sqrt(12 * sigma * sigma / kPasses + 1);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0)
        --lower;
    const int upper = lower + 2;
    const double narrow
        = (12 * sigma * sigma - kPasses * lower * lower - 4.0 * kPasses * lower - 3 * kPasses)
          / (-4.0 * lower - 4);
    const int narrowPasses = std::clamp(static_cast<int>(std::lround(narrow)), 0, kPasses);
    std::vector<int> widths;
    for (int i = 0; i < kPasses; ++i)
        widths.push_back(i < narrowPasses ? lower : upper);
    return widths;
}

// Divides sums of one box by its width, rounded to nearest, by a multiplication:
// exact for sums up to 255 × width while the width stays below 4096.
class Divider
{
public:
    explicit Divider(int width)
        : half_(static_cast<std::uint32_t>(width) / 2)
        , multiplier_(((std::uint64_t{1} << 32) + static_cast<std::uint64_t>(width) - 1)
                      / static_cast<std::uint64_t>(width))
    {}
    std::uint8_t operator()(std::uint32_t sum) const
    {
        return static_cast<std::uint8_t>(((sum + half_) * multiplier_) >> 32);
    }

private:
    std::uint64_t half_;
    std::uint64_t multiplier_;
};

// One box pass along a row of `count` samples `step` bytes apart, the row's
// ends repeated beyond it.
void boxRow(const std::uint8_t *in, std::uint8_t *out, int count, int step, int radius,
            const Divider &divide)
{
    auto at = [&](int i) { return in[static_cast<std::ptrdiff_t>(i) * step]; };
    auto clamped = [&](int i) { return at(std::clamp(i, 0, count - 1)); };
    std::uint32_t sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += clamped(i);
    int i = 0;
    auto slide = [&](auto sample) {
        out[static_cast<std::ptrdiff_t>(i) * step] = divide(sum);
        sum += sample(i + radius + 1);
        sum -= sample(i - radius);
    };
    for (const int headEnd = std::min(radius, count); i < headEnd; ++i)
        slide(clamped);
    for (const int middleEnd = std::max(i, count - radius - 1); i < middleEnd; ++i)
        slide(at);
    for (; i < count; ++i)
        slide(clamped);
}

// One box pass down the columns of a picture, a row at a time so that memory
// is read in order: `sums` holds the box of every byte column.
void boxColumns(const std::uint8_t *in, std::ptrdiff_t inStride, std::uint8_t *out,
                std::ptrdiff_t outStride, std::size_t rowBytes, int height, int radius,
                const Divider &divide, std::vector<std::uint32_t> &sums)
{
    auto row = [&](int y) { return in + std::clamp(y, 0, height - 1) * inStride; };
    sums.assign(rowBytes, 0);
    for (int y = -radius; y <= radius; ++y) {
        const std::uint8_t *r = row(y);
        for (std::size_t x = 0; x < rowBytes; ++x)
            sums[x] += r[x];
    }
    for (int y = 0; y < height; ++y) {
        std::uint8_t *o = out + y * outStride;
        const std::uint8_t *enter = row(y + radius + 1);
        const std::uint8_t *leave = row(y - radius);
        for (std::size_t x = 0; x < rowBytes; ++x) {
            o[x] = divide(sums[x]);
            sums[x] += static_cast<std::uint32_t>(enter[x]) - leave[x];
        }
    }
}

class GaussianBlur : public PerFrameFilter
{
public:
    GaussianBlur(const PEnvironment &env, const PClip &child, double sigma)
        : PerFrameFilter(env, child, child->GetVideoInfo(), depthAbove("GaussianBlur", {&child}))
        , boxes_(boxesFor(sigma))
    {}

private:
    PFrame make(const Frame &in) override
    {
        const int width = in.width();
        const int height = in.height();
        const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
        auto out = std::make_shared<Frame>(width, height);
        // Along the rows through two row buffers; then down the columns,
        // between the frame and one picture-sized buffer.
        std::vector<std::uint8_t> a(rowBytes), b(rowBytes);
        for (int y = 0; y < height; ++y) {
            std::memcpy(a.data(), in.row(y), rowBytes);
            for (int box : boxes_) {
                const Divider divide(box);
                for (int c = 0; c < 3; ++c)
                    boxRow(a.data() + c, b.data() + c, width, 3, box / 2, divide);
                std::swap(a, b);
            }
            std::memcpy(out->mutableRow(y), a.data(), rowBytes);
        }
        std::vector<std::uint8_t> scratch(rowBytes * static_cast<std::size_t>(height));
        std::vector<std::uint32_t> sums;
        std::uint8_t *const pictures[2] = {out->mutableData(), scratch.data()};
        const std::ptrdiff_t strides[2] = {out->stride(), static_cast<std::ptrdiff_t>(rowBytes)};
        int from = 0;
        for (int box : boxes_) {
            const int to = 1 - from;
            boxColumns(pictures[from], strides[from], pictures[to], strides[to], rowBytes, height,
                       box / 2, Divider(box), sums);
            from = to;
        }
        if (from != 0)
            for (int y = 0; y < height; ++y)
                std::memcpy(out->mutableRow(y), scratch.data() + rowBytes * y, rowBytes);
        return out;
    }

    std::vector<int> boxes_;
};

// --- Overlay -------------------------------------------------------------------

class Overlay : public Filter
{
public:
    Overlay(const PEnvironment &env, const PClip &base, const PClip &overlay, int depth,
            std::int64_t x, std::int64_t y)
        : Filter(base->GetVideoInfo(), depth)
        , env_(env)
        , base_(base)
        , overlay_(overlay)
        , x_(x)
        , y_(y)
        , owner_(env->cache().newOwner())
    {}

    PFrame GetFrame(std::int64_t n) override
    {
        checkRange(n);
        PFrame under = base_->GetFrame(n);
        PFrame over = overlay_->GetFrame(std::min(n, overlay_->GetVideoInfo().frameCount - 1));
        if (PFrame out = memo_.find({under, over}))
            return out;
        PFrame out = env_->cache().get(owner_, n, [&] { return make(*under, *over); });
        memo_.remember({under, over}, out);
        return out;
    }

private:
    PFrame make(const Frame &under, const Frame &over) const
    {
        auto out = std::make_shared<Frame>(under.width(), under.height());
        copyRows(under, 0, 0, *out, 0, 0, under.width(), under.height());
        const std::int64_t left = std::max<std::int64_t>(x_, 0);
        const std::int64_t top = std::max<std::int64_t>(y_, 0);
        const std::int64_t right = std::min<std::int64_t>(x_ + over.width(), under.width());
        const std::int64_t bottom = std::min<std::int64_t>(y_ + over.height(), under.height());
        if (right > left && bottom > top)
            copyRows(over, static_cast<int>(left - x_), static_cast<int>(top - y_), *out,
                     static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                     static_cast<int>(bottom - top));
        return out;
    }

    PEnvironment env_;
    PClip base_, overlay_;
    std::int64_t x_, y_;
    std::uint64_t owner_;
    detail::FrameMemo<2> memo_;
};

} // namespace

std::optional<detail::CropPlace> detail::CropPlaceOf(const PClip &clip)
{
    if (const auto *crop = dynamic_cast<const CropArea *>(clip.get()))
        return crop->place();
    return std::nullopt;
}

PClip MakeAddBorders(const PEnvironment &env, const PClip &child, std::int64_t left,
                     std::int64_t top, std::int64_t right, std::int64_t bottom, std::int64_t colour)
{
    const std::string name = "AddBorders";
    if (left < 0 || top < 0 || right < 0 || bottom < 0)
        throw Error(name + ": the borders cannot be negative");
    if (colour < 0 || colour > 0xFFFFFF)
        throw Error(name + ": the colour must be a number from $000000 to $FFFFFF");
    const VideoInfo &in = child->GetVideoInfo();
    if (left > kMaxSide || right > kMaxSide || top > kMaxSide || bottom > kMaxSide
        || in.width + left + right > kMaxSide || in.height + top + bottom > kMaxSide)
        throw Error(name + ": the picture would be too large");
    if (left + top + right + bottom == 0)
        return child;
    VideoInfo vi = in;
    vi.width = static_cast<int>(in.width + left + right);
    vi.height = static_cast<int>(in.height + top + bottom);
    return std::make_shared<AddBorders>(env, child, vi, static_cast<int>(left),
                                        static_cast<int>(top), static_cast<std::uint32_t>(colour));
}

PClip MakeCrop(const PEnvironment &env, const PClip &child, std::int64_t left, std::int64_t top,
               std::int64_t width, std::int64_t height)
{
    const VideoInfo &in = child->GetVideoInfo();
    if (std::max({std::abs(left), std::abs(top), std::abs(width), std::abs(height)}) > kMaxSide)
        throw Error("Crop: the area lies outside the picture");
    if (width <= 0)
        width = in.width - left + width;
    if (height <= 0)
        height = in.height - top + height;
    if (left < 0 || top < 0 || width <= 0 || height <= 0 || left + width > in.width
        || top + height > in.height)
        throw Error("Crop: the area lies outside the picture");
    if (width == in.width && height == in.height)
        return child;
    VideoInfo vi = in;
    vi.width = static_cast<int>(width);
    vi.height = static_cast<int>(height);
    return std::make_shared<CropArea>(env, child, vi, static_cast<int>(left),
                                      static_cast<int>(top));
}

PClip MakeGaussianBlur(const PEnvironment &env, const PClip &child, double sigma)
{
    // Boxes stay below 4096 pixels, as the division by multiplication needs.
    if (!std::isfinite(sigma) || sigma < 0 || sigma > 1000)
        throw Error("GaussianBlur: sigma must be a number from 0 to 1000");
    if (sigma == 0)
        return child;
    return std::make_shared<GaussianBlur>(env, child, sigma);
}

PClip MakeOverlay(const PEnvironment &env, const PClip &base, const PClip &overlay, std::int64_t x,
                  std::int64_t y)
{
    if (base->GetVideoInfo().pixelType != overlay->GetVideoInfo().pixelType)
        throw Error("Overlay: Video formats don't match");
    if (overlay->GetVideoInfo().frameCount == 0)
        return base;
    if (std::abs(x) > kMaxSide || std::abs(y) > kMaxSide)
        x = y = kMaxSide; // entirely outside: the base as it is
    return std::make_shared<Overlay>(env, base, overlay, depthAbove("Overlay", {&base, &overlay}),
                                     x, y);
}

} // namespace avs
