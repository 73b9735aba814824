#include "platform/avs/filters.h"

#include "platform/avs/filter_base.h"

#include "platform/avs/kernels.h"
#include "platform/avs/picture.h"
#include "platform/win32/large_memory.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <optional>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

namespace avs {

namespace {

constexpr int kMaxSize = picture::kMaxSide;

// A growable block of memory with rows that start on 64-byte boundaries, as the
// scaler's vector code likes them.
class AlignedBuffer
{
public:
    AlignedBuffer() = default;
    ~AlignedBuffer() { win32::FreeLarge(data_); }
    AlignedBuffer(const AlignedBuffer &) = delete;
    AlignedBuffer &operator=(const AlignedBuffer &) = delete;

    std::uint8_t *reserve(std::size_t bytes)
    {
        if (bytes > size_) {
            win32::FreeLarge(data_);
            data_ = nullptr;
            size_ = 0;
            data_ = win32::AllocateLarge(bytes);
            if (!data_)
                throw std::bad_alloc();
            size_ = bytes;
        }
        return data_;
    }
    std::size_t size() const { return size_; }

private:
    std::uint8_t *data_ = nullptr;
    std::size_t size_ = 0;
};

int alignedStride(int width)
{
    return (width + 63) / 64 * 64;
}

// The three colour channels, each a plane of its own (green, blue, red).
struct Planes
{
    AlignedBuffer buffer;
    int width = 0;
    int height = 0;
    int stride = 0;
    std::uint8_t *plane[3] = {};

    void shape(int w, int h)
    {
        width = w;
        height = h;
        stride = alignedStride(w);
        const std::size_t one = static_cast<std::size_t>(stride) * h;
        std::uint8_t *base = buffer.reserve(one * 3);
        for (int i = 0; i < 3; ++i)
            plane[i] = base + one * i;
    }
    std::uint8_t *row(int p, int y) { return plane[p] + static_cast<std::ptrdiff_t>(y) * stride; }
};

struct Scratch
{
    Planes source;
    Planes target;
    std::size_t bytes() const { return source.buffer.size() + target.buffer.size(); }
};

struct ScalerKey
{
    int srcW, srcH, dstW, dstH;
    double b, c;
    bool operator==(const ScalerKey &) const = default;
};

} // namespace

// Scalers cost a few milliseconds to set up and scratch planes are large, so
// both are shared by every resize of the script and handed back after use. Only
// a few are kept idle: a slide show of photos of one size reuses one scaler,
// and memory does not grow with the number of photos.
struct Environment::Pools
{
    static constexpr std::size_t kIdleScalers = 4;
    static constexpr std::size_t kIdleScratch = 2;
    // Scratch planes of a huge picture are given back to the system at once.
    static constexpr std::size_t kKeptScratchBytes = 64u << 20;

    std::mutex mutex;
    std::list<std::pair<ScalerKey, SwsContext *>> idleScalers;
    std::vector<std::unique_ptr<Scratch>> idleScratch;

    ~Pools()
    {
        for (auto &s : idleScalers)
            sws_freeContext(s.second);
    }

    SwsContext *takeScaler(const ScalerKey &key)
    {
        {
            std::lock_guard lock(mutex);
            for (auto it = idleScalers.begin(); it != idleScalers.end(); ++it)
                if (it->first == key) {
                    SwsContext *ctx = it->second;
                    idleScalers.erase(it);
                    return ctx;
                }
        }
        double param[2] = {key.b, key.c};
        // The channels go through as the three planes of a 4:4:4 picture, which
        // the scaler filters each on its own and leaves otherwise untouched.
        // (Its planar RGB format would serve too, but FFmpeg 5.1 gets the last
        // column of a shrunk picture wrong there.)
        SwsContext *ctx = sws_getContext(key.srcW, key.srcH, AV_PIX_FMT_YUV444P, key.dstW, key.dstH,
                                         AV_PIX_FMT_YUV444P, SWS_BICUBIC | SWS_ACCURATE_RND,
                                         nullptr, nullptr, param);
        if (!ctx)
            throw Error("BicubicResize: the scaler cannot resize " + std::to_string(key.srcW)
                        + " x " + std::to_string(key.srcH) + " to " + std::to_string(key.dstW)
                        + " x " + std::to_string(key.dstH));
        return ctx;
    }

    void giveScaler(const ScalerKey &key, SwsContext *ctx)
    {
        std::lock_guard lock(mutex);
        idleScalers.emplace_front(key, ctx);
        if (idleScalers.size() > kIdleScalers) {
            sws_freeContext(idleScalers.back().second);
            idleScalers.pop_back();
        }
    }

    std::unique_ptr<Scratch> takeScratch()
    {
        std::lock_guard lock(mutex);
        if (idleScratch.empty())
            return std::make_unique<Scratch>();
        auto s = std::move(idleScratch.back());
        idleScratch.pop_back();
        return s;
    }

    void giveScratch(std::unique_ptr<Scratch> s)
    {
        if (s->bytes() > kKeptScratchBytes)
            return;
        std::lock_guard lock(mutex);
        if (idleScratch.size() < kIdleScratch)
            idleScratch.push_back(std::move(s));
    }
};

Environment::Environment(std::size_t cacheBudget)
    : cache_(cacheBudget)
    , pools_(std::make_unique<Pools>())
{}

Environment::~Environment() = default;

namespace {

class ScratchLease
{
public:
    explicit ScratchLease(Environment::Pools &pools)
        : pools_(pools)
        , scratch_(pools.takeScratch())
    {}
    ~ScratchLease() { pools_.giveScratch(std::move(scratch_)); }
    Scratch &operator*() { return *scratch_; }
    Scratch *operator->() { return scratch_.get(); }

private:
    Environment::Pools &pools_;
    std::unique_ptr<Scratch> scratch_;
};

class ScalerLease
{
public:
    ScalerLease(Environment::Pools &pools, const ScalerKey &key)
        : pools_(pools)
        , key_(key)
        , ctx_(pools.takeScaler(key))
    {}
    ~ScalerLease() { pools_.giveScaler(key_, ctx_); }
    SwsContext *get() const { return ctx_; }

private:
    Environment::Pools &pools_;
    ScalerKey key_;
    SwsContext *ctx_;
};

// --- common ---------------------------------------------------------------------

using detail::depthAbove;
using detail::depthOf;
using detail::Filter;

bool sameRate(const VideoInfo &a, const VideoInfo &b)
{
    return static_cast<std::uint64_t>(a.fpsNumerator) * b.fpsDenominator
           == static_cast<std::uint64_t>(b.fpsNumerator) * a.fpsDenominator;
}

void checkAlike(const std::string &function, const VideoInfo &a, const VideoInfo &b)
{
    if (a.width != b.width || a.height != b.height)
        throw Error(function + ": Frame sizes don't match");
    if (a.pixelType != b.pixelType)
        throw Error(function + ": Video formats don't match");
    if (!sameRate(a, b))
        throw Error(function + ": Video framerate doesn't match");
}

// --- ImageSource --------------------------------------------------------------

class ImageSource : public Filter
{
public:
    // `failure`, when not empty, is why the picture could not be read when
    // the script was opened: every frame then fails with it.
    ImageSource(const PEnvironment &env, const std::string &path, const picture::Info &info,
                const VideoInfo &vi, std::string failure = {})
        : Filter(vi, 1)
        , env_(env)
        , path_(path)
        , info_(info)
        , owner_(env->cache().newOwner())
        , failure_(std::move(failure))
    {}

    // Every frame is the one picture, so every frame is the same object.
    PFrame GetFrame(std::int64_t n) override
    {
        checkRange(n);
        return env_->cache().get(owner_, 0, [this] {
            class ToFrame : public picture::Sink
            {
            public:
                void begin(int w, int h) override { frame = std::make_shared<Frame>(w, h); }
                void row(int y, const std::uint8_t *bgr) override
                {
                    std::memcpy(frame->mutableRow(y), bgr,
                                static_cast<std::size_t>(frame->width()) * 3);
                }
                std::shared_ptr<Frame> frame;
            } sink;
            decode(0, 0, sink);
            return PFrame(std::move(sink.frame));
        });
    }

    std::string picture() const override { return path_; }

    void decode(int minWidth, int minHeight, picture::Sink &sink) const
    {
        if (!failure_.empty())
            throw Error(failure_);
        try {
            picture::Decode(path_, info_, minWidth, minHeight, sink);
        } catch (const Stopped &) {
            throw;
        } catch (const Error &e) {
            throw Error(std::string("ImageSource: ") + e.what());
        }
    }

private:
    PEnvironment env_;
    std::string path_;
    picture::Info info_;
    std::uint64_t owner_;
    std::string failure_;
};

// --- BicubicResize ------------------------------------------------------------

class BicubicResize : public detail::PerFrameFilter
{
public:
    BicubicResize(const PEnvironment &env, const PClip &child, const VideoInfo &vi, int depth,
                  double b, double c, int left, int top, int width, int height)
        : PerFrameFilter(env, child, vi, depth)
        , b_(b)
        , c_(c)
        , left_(left)
        , top_(top)
        , cropW_(width)
        , cropH_(height)
    {
        source_ = dynamic_cast<ImageSource *>(child.get());
    }

    PFrame GetFrame(std::int64_t n) override
    {
        if (!source_)
            return PerFrameFilter::GetFrame(n);
        checkRange(n);
        return env_->cache().get(owner_, 0, [this] { return fromPicture(); });
    }

private:
    // Decodes straight into the scaler's planes, shrunk by the JPEG decoder as
    // far as the target allows, so the full-size picture never exists. A
    // cut-out is shrunk as far as its own part of the picture allows; its
    // edges then fall on whole pixels of the shrunk picture, within half of
    // one of where they lie in the full one.
    PFrame fromPicture()
    {
        const VideoInfo &in = child_->GetVideoInfo();
        const bool whole = left_ == 0 && top_ == 0 && cropW_ == in.width && cropH_ == in.height;
        const auto covering = [](int target, int full, int part) {
            return static_cast<int>(std::min<std::int64_t>(
                full, (static_cast<std::int64_t>(target) * full + part - 1) / part));
        };
        const int minWidth = whole ? vi_.width : covering(vi_.width, in.width, cropW_);
        const int minHeight = whole ? vi_.height : covering(vi_.height, in.height, cropH_);
        ScratchLease scratch(env_->pools());
        class ToPlanes : public picture::Sink
        {
        public:
            explicit ToPlanes(Planes &planes)
                : planes_(planes)
            {}
            void begin(int w, int h) override { planes_.shape(w, h); }
            void row(int y, const std::uint8_t *bgr) override
            {
                kernels::SplitBgr(bgr, planes_.width, planes_.row(0, y), planes_.row(1, y),
                                  planes_.row(2, y));
            }

        private:
            Planes &planes_;
        } sink(scratch->source);
        source_->decode(minWidth, minHeight, sink);
        const Planes &src = scratch->source;
        // What is cut off each side, in pixels of the picture as decoded: a
        // cut-out in the middle stays in the middle.
        const auto margin = [](int cut, int decoded, int full) {
            return static_cast<int>((2 * static_cast<std::int64_t>(cut) * decoded + full)
                                    / (2 * static_cast<std::int64_t>(full)));
        };
        const int left = std::min(margin(left_, src.width, in.width), src.width - 1);
        const int top = std::min(margin(top_, src.height, in.height), src.height - 1);
        const int right = std::max(
            src.width - margin(in.width - left_ - cropW_, src.width, in.width), left + 1);
        const int bottom = std::max(
            src.height - margin(in.height - top_ - cropH_, src.height, in.height), top + 1);
        return scale(*scratch, left, top, right - left, bottom - top);
    }

    PFrame make(const Frame &in) override
    {
        ScratchLease scratch(env_->pools());
        Planes &src = scratch->source;
        src.shape(cropW_, cropH_);
        for (int y = 0; y < cropH_; ++y)
            kernels::SplitBgr(in.row(top_ + y) + static_cast<std::ptrdiff_t>(left_) * 3, cropW_,
                              src.row(0, y), src.row(1, y), src.row(2, y));
        return scale(*scratch, 0, 0, cropW_, cropH_);
    }

    // Scales the width × height pixels at (left, top) of the source planes.
    PFrame scale(Scratch &scratch, int left, int top, int width, int height)
    {
        Planes &src = scratch.source;
        Planes &dst = scratch.target;
        dst.shape(vi_.width, vi_.height);
        {
            std::optional<ScalerLease> scaler;
            while (!scaler) {
                try {
                    scaler.emplace(env_->pools(),
                                   ScalerKey{width, height, vi_.width, vi_.height, b_, c_});
                } catch (const Error &e) {
                    // The scaler shrinks by at most about 40 times (its filters
                    // would grow too long): a photo far thinner than the frame
                    // is first halved along its long side, pairs of pixels
                    // averaged, until it takes it.
                    const double across = static_cast<double>(width) / vi_.width;
                    const double down = static_cast<double>(height) / vi_.height;
                    if (across >= 2 && across >= down) {
                        halveWidth(src, left, top, width, height);
                        width /= 2;
                        continue;
                    }
                    if (down >= 2) {
                        halveHeight(src, left, top, width, height);
                        height /= 2;
                        continue;
                    }
                    // Nor does it spread a single pixel over thousands: a
                    // photo one pixel wide or high is doubled that way first,
                    // each pixel twice, which changes nothing it shows.
                    if (width == 1 || height == 1) {
                        doubleThinSide(src, left, top, width, height);
                        left = top = 0;
                        continue;
                    }
                    // Some shapes are beyond it still: say which photo.
                    const std::string photo = picture();
                    if (photo.empty())
                        throw;
                    throw Error("The photo \"" + photo
                                + "\" cannot be fitted into the frame: " + e.what());
                }
            }
            const std::uint8_t *const in[4]
                = {src.row(0, top) + left, src.row(1, top) + left, src.row(2, top) + left, nullptr};
            const int inStride[4] = {src.stride, src.stride, src.stride, 0};
            std::uint8_t *const out[4] = {dst.plane[0], dst.plane[1], dst.plane[2], nullptr};
            const int outStride[4] = {dst.stride, dst.stride, dst.stride, 0};
            sws_scale(scaler->get(), in, inStride, 0, height, out, outStride);
        }
        auto frame = std::make_shared<Frame>(vi_.width, vi_.height);
        for (int y = 0; y < vi_.height; ++y)
            kernels::JoinBgr(dst.row(0, y), dst.row(1, y), dst.row(2, y), vi_.width,
                             frame->mutableRow(y));
        return frame;
    }

    // Makes the planes the width × height pixels at (left, top), with a side of
    // one pixel doubled (and width and height what they are then).
    static void doubleThinSide(Planes &planes, int left, int top, int &width, int &height)
    {
        const int w = width;
        const int h = height;
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 3);
        auto at = [&](int p, int x, int y) -> std::uint8_t & {
            return pixels[(static_cast<std::size_t>(p) * h + y) * w + x];
        };
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    at(p, x, y) = planes.row(p, top + y)[left + x];
        width = w == 1 ? 2 : w;
        height = h == 1 ? 2 : h;
        planes.shape(width, height);
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    planes.row(p, y)[x] = at(p, x * w / width, y * h / height);
    }

    // Halves the width × height pixels at (left, top) of the planes where they
    // lie, an odd last column or row left out.
    static void halveWidth(Planes &planes, int left, int top, int width, int height)
    {
        for (int p = 0; p < 3; ++p)
            for (int y = top; y < top + height; ++y) {
                std::uint8_t *row = planes.row(p, y) + left;
                for (int x = 0; x < width / 2; ++x)
                    row[x] = static_cast<std::uint8_t>((row[2 * x] + row[2 * x + 1] + 1) / 2);
            }
    }
    static void halveHeight(Planes &planes, int left, int top, int width, int height)
    {
        for (int p = 0; p < 3; ++p)
            for (int y = 0; y < height / 2; ++y) {
                std::uint8_t *out = planes.row(p, top + y) + left;
                const std::uint8_t *a = planes.row(p, top + 2 * y) + left;
                const std::uint8_t *b = planes.row(p, top + 2 * y + 1) + left;
                for (int x = 0; x < width; ++x)
                    out[x] = static_cast<std::uint8_t>((a[x] + b[x] + 1) / 2);
            }
    }

    ImageSource *source_ = nullptr;
    double b_, c_;
    int left_, top_, cropW_, cropH_;
};

// --- Loop ---------------------------------------------------------------------

class Loop : public Filter
{
public:
    Loop(const PClip &child, const VideoInfo &vi, int depth, std::int64_t times, std::int64_t start,
         std::int64_t length)
        : Filter(vi, depth)
        , child_(child)
        , times_(times)
        , start_(start)
        , length_(length)
    {}

    PFrame GetFrame(std::int64_t n) override
    {
        checkRange(n);
        if (n < start_)
            return child_->GetFrame(n);
        if (n < start_ + times_ * length_)
            return child_->GetFrame(start_ + (n - start_) % length_);
        return child_->GetFrame(n - (times_ - 1) * length_);
    }

private:
    PClip child_;
    std::int64_t times_, start_, length_;
};

// --- Dissolve -----------------------------------------------------------------

class Dissolve : public Filter
{
public:
    Dissolve(const PEnvironment &env, const PClip &a, const PClip &b, const VideoInfo &vi,
             int depth, std::int64_t overlap)
        : Filter(vi, depth)
        , env_(env)
        , a_(a)
        , b_(b)
        , fadeStart_(a->GetVideoInfo().frameCount - overlap)
        , overlap_(overlap)
        , owner_(env->cache().newOwner())
    {}

    PFrame GetFrame(std::int64_t n) override
    {
        checkRange(n);
        if (n < fadeStart_)
            return a_->GetFrame(n);
        const std::int64_t k = n - fadeStart_;
        if (k >= overlap_)
            return b_->GetFrame(k);
        // The fade frame is only described here; its pixels are blended when
        // somebody reads them (see Frame), so a consumer that has both frames
        // in its own format can blend there instead.
        return env_->cache().get(owner_, n, [&] {
            return std::make_shared<const Frame>(a_->GetFrame(n), b_->GetFrame(k),
                                                 static_cast<std::uint32_t>(overlap_ - k),
                                                 static_cast<std::uint32_t>(k + 1));
        });
    }

private:
    PEnvironment env_;
    PClip a_, b_;
    std::int64_t fadeStart_, overlap_;
    std::uint64_t owner_;
};

// --- Splice -------------------------------------------------------------------

class Splice : public Filter
{
public:
    Splice(std::vector<PClip> parts, std::vector<std::int64_t> starts, const VideoInfo &vi,
           int depth)
        : Filter(vi, depth)
        , parts_(std::move(parts))
        , starts_(std::move(starts))
    {}

    PFrame GetFrame(std::int64_t n) override
    {
        checkRange(n);
        const auto at = std::upper_bound(starts_.begin(), starts_.end(), n) - starts_.begin() - 1;
        return parts_[static_cast<std::size_t>(at)]->GetFrame(
            n - starts_[static_cast<std::size_t>(at)]);
    }

    const std::vector<PClip> &parts() const { return parts_; }

private:
    std::vector<PClip> parts_;
    std::vector<std::int64_t> starts_; // first frame of each part
};

int wholeNumber(const std::string &function, const char *what, double v)
{
    if (!std::isfinite(v) || v != std::floor(v) || std::fabs(v) > kMaxSize)
        throw Error(function + ": " + what + " must be a whole number of pixels here");
    return static_cast<int>(v);
}

} // namespace

namespace detail {

int depthOf(const PClip &clip)
{
    const auto *f = dynamic_cast<const Filter *>(clip.get());
    return f ? f->depth() : 0;
}

int depthAbove(const std::string &function, std::initializer_list<const PClip *> children)
{
    int deepest = 0;
    for (const PClip *c : children)
        deepest = std::max(deepest, depthOf(*c));
    if (deepest + 1 > kMaxDepth)
        throw Error(function + ": the script chains more than " + std::to_string(kMaxDepth)
                    + " filters");
    return deepest + 1;
}

} // namespace detail

Rational RateFromFps(const std::string &function, double fps)
{
    if (!std::isfinite(fps) || fps <= 0 || fps > 1e6)
        throw Error(function + ": fps must be greater than 0");
    if (fps == std::floor(fps))
        return Rational{static_cast<std::uint32_t>(fps), 1};
    const AVRational q = av_d2q(fps, 1000000);
    if (q.num <= 0 || q.den <= 0)
        throw Error(function + ": fps must be greater than 0");
    return Rational{static_cast<std::uint32_t>(q.num), static_cast<std::uint32_t>(q.den)};
}

PClip MakeImageSource(const PEnvironment &env, const std::string &path, std::int64_t start,
                      std::int64_t end, Rational fps, bool upright)
{
    if (end < start)
        throw Error("ImageSource: the end frame comes before the start frame");
    std::int64_t span = 0;
    if (__builtin_sub_overflow(end, start, &span) || span >= kMaxFrames)
        throw Error("ImageSource: the clip would be too long");
    picture::Info info;
    std::string failure;
    try {
        info = picture::ReadInfo(path, upright);
    } catch (const Error &e) {
        failure = std::string("ImageSource: ") + e.what();
        if (!env->picturesFailWhenShown)
            throw Error(failure);
        // Any size will do for frames that are never made.
        info.width = info.height = 16;
    }
    VideoInfo vi;
    vi.width = info.width;
    vi.height = info.height;
    vi.fpsNumerator = fps.num;
    vi.fpsDenominator = fps.den;
    vi.frameCount = span + 1;
    vi.pixelType = PixelType::BGR24;
    return std::make_shared<ImageSource>(env, path, info, vi, std::move(failure));
}

PClip MakeBicubicResize(const PEnvironment &env, const PClip &child, std::int64_t width,
                        std::int64_t height, double b, double c, Crop crop)
{
    const std::string name = "BicubicResize";
    if (width <= 0 || height <= 0)
        throw Error(name + ": the target width and height must be greater than 0");
    if (width > kMaxSize || height > kMaxSize)
        throw Error(name + ": the target size is too large");
    if (!std::isfinite(b) || !std::isfinite(c))
        throw Error(name + ": b and c must be numbers");
    const VideoInfo &in = child->GetVideoInfo();
    const int left = wholeNumber(name, "src_left", crop.left);
    const int top = wholeNumber(name, "src_top", crop.top);
    int w = wholeNumber(name, "src_width", crop.width);
    int h = wholeNumber(name, "src_height", crop.height);
    if (w <= 0)
        w = in.width - left + w;
    if (h <= 0)
        h = in.height - top + h;
    if (left < 0 || top < 0 || w <= 0 || h <= 0 || left + w > in.width || top + h > in.height)
        throw Error(name + ": the source area lies outside the picture");
    const bool cropped = left != 0 || top != 0 || w != in.width || h != in.height;
    if (!cropped && width == in.width && height == in.height)
        return child;
    VideoInfo vi = in;
    vi.width = static_cast<int>(width);
    vi.height = static_cast<int>(height);
    // A cut-out is read from the clip it was cut from, so that a photo cropped
    // and resized is still decoded shrunk, and nothing is copied on the way.
    if (const auto place = detail::CropPlaceOf(child))
        return std::make_shared<BicubicResize>(env, place->child, vi,
                                               depthAbove(name, {&place->child}), b, c,
                                               place->left + left, place->top + top, w, h);
    return std::make_shared<BicubicResize>(env, child, vi, depthAbove(name, {&child}), b, c, left,
                                           top, w, h);
}

PClip MakeLoop(const PClip &child, std::int64_t times, std::int64_t start, std::int64_t end)
{
    const VideoInfo &in = child->GetVideoInfo();
    const std::int64_t count = in.frameCount;
    start = std::max<std::int64_t>(start, 0);
    end = std::min<std::int64_t>(end, count - 1);
    if (count == 0 || start > end || times == 1)
        return child;
    const std::int64_t length = end - start + 1;
    const std::int64_t rest = count - length;
    if (times < 0) // "very many": ten million times, or as many as a clip may hold
        times = std::min<std::int64_t>(10000000, (kMaxFrames - rest) / length);
    else if (times > (kMaxFrames - rest) / length)
        throw Error("Loop: the clip would be too long");
    VideoInfo vi = in;
    vi.frameCount = rest + times * length;
    return std::make_shared<Loop>(child, vi, depthAbove("Loop", {&child}), times, start, length);
}

PClip MakeDissolve(const PEnvironment &env, const std::vector<PClip> &clips, std::int64_t overlap)
{
    const std::string name = "Dissolve";
    if (clips.size() < 2)
        throw Error(name + ": needs at least two clips");
    if (overlap < 0)
        throw Error(name + ": the overlap cannot be negative");
    PClip result = clips[0];
    for (std::size_t i = 1; i < clips.size(); ++i) {
        const VideoInfo &a = result->GetVideoInfo();
        const VideoInfo &b = clips[i]->GetVideoInfo();
        checkAlike(name, a, b);
        if (overlap > a.frameCount || overlap > b.frameCount)
            throw Error(name + ": the overlap is longer than a clip");
        if (a.frameCount + b.frameCount - overlap > kMaxFrames)
            throw Error(name + ": the clip would be too long");
        VideoInfo vi = a;
        vi.frameCount = a.frameCount + b.frameCount - overlap;
        result = std::make_shared<Dissolve>(env, result, clips[i], vi,
                                            depthAbove(name, {&result, &clips[i]}), overlap);
    }
    return result;
}

SpliceBuilder::SpliceBuilder(std::string name)
    : name_(std::move(name))
{}

void SpliceBuilder::add(const PClip &clip)
{
    // A splice of splices is flattened, so that a slide show of a thousand
    // photos is one table to look frames up in rather than a thousand levels.
    if (const auto *s = dynamic_cast<const Splice *>(clip.get()))
        for (const PClip &part : s->parts())
            addPart(part);
    else
        addPart(clip);
}

void SpliceBuilder::addPart(const PClip &part)
{
    if (!first_)
        first_ = part;
    const VideoInfo &vi = part->GetVideoInfo();
    checkAlike(name_, first_->GetVideoInfo(), vi);
    if (vi.frameCount == 0)
        return;
    if (total_ > kMaxFrames - vi.frameCount)
        throw Error(name_ + ": the clip would be too long");
    starts_.push_back(total_);
    kept_.push_back(part);
    total_ += vi.frameCount;
    deepest_ = std::max(deepest_, depthOf(part));
    // A lone clip is handed on as it is; only a splice adds a level.
    if (kept_.size() > 1 && deepest_ + 1 > kMaxDepth)
        throw Error(name_ + ": the script chains more than " + std::to_string(kMaxDepth)
                    + " filters");
}

PClip SpliceBuilder::make()
{
    if (!first_)
        throw Error(name_ + ": needs at least one clip");
    if (kept_.empty())
        return first_;
    if (kept_.size() == 1)
        return kept_[0];
    VideoInfo vi = first_->GetVideoInfo();
    vi.frameCount = total_;
    return std::make_shared<Splice>(std::move(kept_), std::move(starts_), vi, deepest_ + 1);
}

PClip MakeSplice(const std::vector<PClip> &clips, const std::string &name)
{
    SpliceBuilder builder(name);
    for (const PClip &c : clips)
        builder.add(c);
    return builder.make();
}

} // namespace avs
