#include "platform/avs/avs.h"
#include "platform/avs/cache.h"

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
// frames do. While a script is open a few freed buffers are kept for the next
// frames of the same size, which saves the system calls and page faults of
// mapping them anew.
class FrameMemory
{
public:
    static constexpr std::size_t kMapped = 256 * 1024;
    static constexpr std::size_t kKeptBytes = 32u << 20;

    std::uint8_t *take(std::size_t bytes)
    {
        if (bytes < kMapped) {
            void *p = std::aligned_alloc(64, (bytes + 63) / 64 * 64);
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
    static std::size_t pages(std::size_t bytes) { return (bytes + 4095) / 4096 * 4096; }

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
    data_ = memory().take(static_cast<std::size_t>(stride) * height);
}

Frame::~Frame()
{
    memory().give(data_, static_cast<std::size_t>(stride_) * height_);
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
