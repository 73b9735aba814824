#include "platform/avs/avs.h"
#include "platform/avs/cache.h"
#include "platform/avs/kernels.h"

#include <cstdlib>
#include <limits>
#include <mutex>
#include <new>
#include <vector>

#include <sys/mman.h>

namespace avs {

namespace {

constexpr int kRowAlign = 32;

// Frame memory. Large frames are mapped pages of their own and go back to the
// system when the frame dies: out of the heap, frames of one size made and
// dropped in cache order fragment it until the process holds far more than the
// frames do. While a script is open a few freed buffers, up to 8 MB (one
// 1920 x 1080 frame), are kept for the next frames of the same size, which
// saves the system calls and page faults of mapping them anew where frames
// come and go one by one; more only added to the peak of a large movie.
class FrameMemory
{
public:
    static constexpr std::size_t kMapped = 256 * 1024;
    static constexpr std::size_t kKeptBytes = 8u << 20;
    // Readable bytes after a frame's last row: FFmpeg's converters read rows in
    // vector-sized pieces that may run past the end of a row, and so past the
    // end of the frame; where that end was the end of a page, they faulted.
    static constexpr std::size_t kTail = 64;

    std::uint8_t *take(std::size_t bytes)
    {
        if (bytes < kMapped) {
            void *p = std::aligned_alloc(64, (bytes + kTail + 63) / 64 * 64);
            if (!p)
                throw std::bad_alloc();
            return static_cast<std::uint8_t *>(p);
        }
        const std::size_t size = pages(bytes);
        {
            std::lock_guard lock(mutex_);
            for (auto it = kept_.begin(); it != kept_.end(); ++it)
                if (it->size == size) {
                    std::uint8_t *p = it->data;
                    keptBytes_ -= size;
                    kept_.erase(it);
                    return p;
                }
        }
        void *p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        return static_cast<std::uint8_t *>(p);
    }

    void give(std::uint8_t *data, std::size_t bytes)
    {
        if (bytes < kMapped) {
            std::free(data);
            return;
        }
        const std::size_t size = pages(bytes);
        {
            std::lock_guard lock(mutex_);
            if (users_ > 0 && keptBytes_ + size <= kKeptBytes) {
                kept_.push_back({data, size});
                keptBytes_ += size;
                return;
            }
        }
        ::munmap(data, size);
    }

    void attach()
    {
        std::lock_guard lock(mutex_);
        ++users_;
    }

    void detach()
    {
        std::vector<Buffer> freed;
        {
            std::lock_guard lock(mutex_);
            if (--users_ > 0)
                return;
            freed.swap(kept_);
            keptBytes_ = 0;
        }
        for (const Buffer &b : freed)
            ::munmap(b.data, b.size);
    }

private:
    static std::size_t pages(std::size_t bytes) { return (bytes + kTail + 4095) / 4096 * 4096; }

    struct Buffer
    {
        std::uint8_t *data;
        std::size_t size;
    };
    std::mutex mutex_;
    std::vector<Buffer> kept_;
    std::size_t keptBytes_ = 0;
    int users_ = 0;
};

FrameMemory &memory()
{
    // Never destroyed: frames may outlive static destruction in a host program.
    static FrameMemory *m = new FrameMemory;
    return *m;
}

} // namespace

namespace {

int StrideFor(int width, int height)
{
    if (width <= 0 || height <= 0)
        throw Error("A frame must be at least one pixel wide and high");
    const long long stride
        = (static_cast<long long>(width) * 3 + kRowAlign - 1) / kRowAlign * kRowAlign;
    if (stride > std::numeric_limits<int>::max()
        || stride * height > std::numeric_limits<std::ptrdiff_t>::max() / 2)
        throw Error("A frame of " + std::to_string(width) + " x " + std::to_string(height)
                    + " pixels is too large");
    return static_cast<int>(stride);
}

} // namespace

Frame::Frame(int width, int height)
    : width_(width)
    , height_(height)
    , stride_(StrideFor(width, height))
{
    data_.store(memory().take(static_cast<std::size_t>(stride_) * height_),
                std::memory_order_relaxed);
}

Frame::Frame(PFrame a, PFrame b, std::uint32_t weightA, std::uint32_t weightB)
    : width_(a ? a->width() : 0)
    , height_(a ? a->height() : 0)
    , stride_(StrideFor(width_, height_))
{
    if (!b || b->width() != width_ || b->height() != height_)
        throw Error("Frames of different sizes cannot be blended");
    if (std::uint64_t{weightA} + weightB == 0 || std::uint64_t{weightA} + weightB > 0xFFFFFFFFu)
        throw Error("A blend needs weights that add up to a positive number");
    blend_ = std::make_unique<const Blend>(Blend{std::move(a), std::move(b), weightA, weightB});
}

const std::uint8_t *Frame::materialise() const
{
    // Only a blend frame comes here: a plain frame has its pixels from the start.
    std::call_once(made_, [this] {
        std::uint8_t *out = memory().take(static_cast<std::size_t>(stride_) * height_);
        try {
            const kernels::Blend weights(blend_->weightA, blend_->weightB);
            const int bytes = width_ * 3;
            for (int y = 0; y < height_; ++y)
                weights.row(blend_->a->row(y), blend_->b->row(y),
                            out + static_cast<std::ptrdiff_t>(y) * stride_, bytes);
        } catch (...) {
            memory().give(out, static_cast<std::size_t>(stride_) * height_);
            throw;
        }
        data_.store(out, std::memory_order_release);
    });
    return data_.load(std::memory_order_acquire);
}

Frame::~Frame()
{
    if (std::uint8_t *p = data_.load(std::memory_order_relaxed))
        memory().give(p, static_cast<std::size_t>(stride_) * height_);
}

Clip::~Clip() = default;

FrameMemoryUser::FrameMemoryUser()
{
    memory().attach();
}

FrameMemoryUser::~FrameMemoryUser()
{
    memory().detach();
}

} // namespace avs
