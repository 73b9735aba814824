// The three exports and the one set of state they share.

#include "frameserver/brindle.h"
#include "frameserver/letterbox.h"
#include "frameserver/photo_list.h"
#include "platform/jpeg/jpeg.h"
#include "platform/win32/dc.h"
#include "platform/win32/errors.h"
#include "platform/win32/files.h"
#include "platform/win32/ini.h"

#include <cerrno>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <pthread.h>
#include <string>
#include <type_traits>
#include <vector>

namespace brindle {

namespace {

// CreateMemoryDC works the row size out in int; wider bitmaps could not be
// made anyway (2 GB at most), so they are not asked for.
constexpr int kWidestDC = (std::numeric_limits<int>::max() - 3) / 3;

// The fitted picture of one photo, in a memory device context so that serving
// a frame is one BitBlt to the host's.
class FrameBitmap
{
public:
    FrameBitmap(int width, int height)
        : dc_(width <= kWidestDC ? win32::CreateMemoryDC(width, height) : nullptr)
    {}
    ~FrameBitmap() { win32::DeleteDC(dc_); }
    FrameBitmap(const FrameBitmap &) = delete;
    FrameBitmap &operator=(const FrameBitmap &) = delete;

    // Null when the job's size cannot be made (negative, or too large).
    HDC dc() const { return dc_; }

    BgrView view() const
    {
        win32::DCBits bits;
        if (!win32::GetDCBits(dc_, &bits))
            return {};
        return {bits.width, bits.height, bits.stride, bits.bits};
    }

    void fillBlack() const
    {
        const BgrView v = view();
        if (v.bits)
            std::memset(v.bits, 0, static_cast<std::size_t>(v.stride) * v.height);
    }

private:
    HDC dc_;
};

// Plain pointers and values only: the state has no destructor, so loading or
// unloading the library runs nothing. A host that exits without
// FreeEffectManager must not have the frame bitmap freed after the device
// context registry it lives in has already gone.
struct State
{
    bool initialised = false;
    PhotoList *photoList = nullptr;
    int outputWidth = 0;
    int outputHeight = 0;
    int interval = 0;
    bool autoRotate = true;
    std::int64_t frameCounter = 0;
    std::int64_t cachedPhotoIndex = -1;
    FrameBitmap *frameBitmap = nullptr;
};

constinit State state;

// The exports share `state`; a host that calls them from more than one thread
// (frames on a worker, Free on its window's thread) is served one call at a
// time. Trivially destructible, so unloading still runs nothing.
constinit std::mutex lock;
static_assert(std::is_trivially_destructible_v<std::mutex>);

void Release() noexcept
{
    delete state.photoList;
    state.photoList = nullptr;
    delete state.frameBitmap;
    state.frameBitmap = nullptr;
    state.initialised = false;
}

// Whether the exception being handled is a failure to allocate memory.
bool OutOfMemory()
{
    try {
        throw;
    } catch (const std::bad_alloc &) {
        return true;
    } catch (...) {
        return false;
    }
}

// The last error for a photo the machine could not read (out of memory, or of
// descriptors); ERROR_SUCCESS for one that is missing or damaged, which is the
// photo's own fault and shows as a black frame.
DWORD MachineFailure()
{
    try {
        throw;
    } catch (const std::bad_alloc &) {
        return win32::ERROR_NOT_ENOUGH_MEMORY;
    } catch (const jpeg::Error &error) {
        switch (error.code()) {
        case ENOMEM:
            return win32::ERROR_NOT_ENOUGH_MEMORY;
        case EMFILE:
        case ENFILE:
            return win32::ERROR_TOO_MANY_OPEN_FILES;
        default:
            return win32::ERROR_SUCCESS;
        }
    } catch (...) {
        return win32::ERROR_SUCCESS;
    }
}

// Decodes the photo and letterboxes it into the frame bitmap. A photo that
// cannot be shown (missing, not a JPEG, damaged) leaves the frame black, so the
// host still gets every frame of its slot. The machine's failure to read it
// (memory, descriptors) is returned, and is the last error.
DWORD FitPhoto(const std::string &path, const FrameBitmap &frame)
{
    frame.fillBlack();
    const BgrView canvas = frame.view();
    if (!canvas.bits)
        return win32::ERROR_SUCCESS;
    try {
        jpeg::Decoder decoder(path);
        decoder.setUpright(state.autoRotate);
        const Placement at = Letterbox(decoder.outputWidth(), decoder.outputHeight(),
                                       state.outputWidth, state.outputHeight);
        if (at.width <= 0 || at.height <= 0)
            return win32::ERROR_SUCCESS;
        // libjpeg's DCT scaling shrinks a big photo by up to 8 while it decodes,
        // at a fraction of the cost; the scaler does the rest from a picture
        // still at least as large as the placement.
        decoder.setMinimumOutputSize(static_cast<int>(at.width), static_cast<int>(at.height));
        jpeg::Image picture = decoder.decodeImage(16);
        StretchDraw({picture.width, picture.height, picture.stride, picture.pixels.data()}, canvas,
                    at);
    } catch (...) {
        frame.fillBlack();
        const DWORD failure = MachineFailure();
        if (failure != win32::ERROR_SUCCESS)
            win32::SetLastError(failure);
        return failure;
    }
    return win32::ERROR_SUCCESS;
}

void Start()
{
    Release();
    // Counting comes first so that whatever fails below leaves an empty show
    // (GetEffectBitmap returns 0) instead of an uninitialised library, which
    // would answer 1 for ever.
    state.initialised = true;
    state.frameCounter = 0;
    state.cachedPhotoIndex = -1;

    // A refused folder reads as an empty one, never as names in the current folder.
    const std::string temp = win32::GetTempPathA();
    const std::string ini = temp.empty() ? std::string() : temp + "param.ini";
    // Every value of param.ini comes from one read of it, so all belong to one
    // job. A job written meanwhile (its list first, then param.ini) can still
    // pair this param.ini with the next job's list: param.ini that changed
    // while the list was read is read again with the list.
    PhotoList photos;
    for (int read = 1;; ++read) {
        const win32::Profile params = win32::Profile::Read(ini);
        state.outputWidth
            = FrameSide(params.GetInt("Temp", "OutputWidth", kDefaultWidth), kDefaultWidth);
        state.outputHeight
            = FrameSide(params.GetInt("Temp", "OutputHeight", kDefaultHeight), kDefaultHeight);
        state.interval = params.GetInt("Temp", "Interval", kDefaultInterval);
        // Written as 0 only by a job that shows photos as they are stored.
        state.autoRotate = params.GetInt("Temp", "AutoRotate", 1) != 0;
        if (!temp.empty())
            photos = LoadPhotoList(temp + "pelloryfilelist.txt");
        if (read == 3 || !params.Changed())
            break;
    }
    // The list last: a frame bitmap that cannot be made leaves no list.
    state.frameBitmap = new FrameBitmap(state.outputWidth, state.outputHeight);
    state.photoList = new PhotoList(std::move(photos));
}

// Frame counts in 64 bits: interval × 30 alone can pass 2^31, and a total
// that wrapped would end the show early or never.
std::int64_t TotalFrames(std::int64_t framesPerPhoto)
{
    const std::int64_t photos
        = state.photoList ? static_cast<std::int64_t>(state.photoList->size()) : 0;
    if (photos <= 0 || framesPerPhoto <= 0)
        return 0;
    if (photos > std::numeric_limits<std::int64_t>::max() / framesPerPhoto)
        return std::numeric_limits<std::int64_t>::max();
    return photos * framesPerPhoto;
}

std::int32_t ServeFrame(HDC hdc)
{
    if (!state.initialised)
        return 1;
    const std::int64_t framesPerPhoto = std::int64_t{state.interval} * kFramesPerSecond;
    if (state.frameCounter >= TotalFrames(framesPerPhoto)) {
        state.frameCounter = 0;
        return 0;
    }
    const std::int64_t photoIndex = state.frameCounter / framesPerPhoto;
    if (photoIndex != state.cachedPhotoIndex) {
        // A photo the machine could not read is read again for the next frame
        // (each black one says why), so that it shows once memory or
        // descriptors are free again; a missing or damaged one is black for
        // its slot.
        const DWORD failure
            = state.frameBitmap
                  ? FitPhoto(std::string((*state.photoList)[static_cast<std::size_t>(photoIndex)]),
                             *state.frameBitmap)
                  : win32::ERROR_SUCCESS;
        state.cachedPhotoIndex = failure == win32::ERROR_SUCCESS ? photoIndex : -1;
    }
    // A null or unknown host context is refused by BitBlt, never touched.
    if (state.frameBitmap)
        win32::BitBlt(hdc, 0, 0, state.outputWidth, state.outputHeight, state.frameBitmap->dc(), 0,
                      0, win32::SRCCOPY);
    ++state.frameCounter;
    return 1;
}

// A host may cancel its thread (pthread_cancel) while it is in a call: the
// reads within are cancellation points, and the unwinding would meet the
// calls' catch-alls, which must not swallow it (the process would abort), nor
// leave the state half-made. Cancellation waits until the work is done.
class NoCancellation
{
public:
    NoCancellation() { ::pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old_); }
    ~NoCancellation() { ::pthread_setcancelstate(old_, nullptr); }
    NoCancellation(const NoCancellation &) = delete;
    NoCancellation &operator=(const NoCancellation &) = delete;

private:
    int old_ = PTHREAD_CANCEL_ENABLE;
};

// Runs an export's work with cancellation held off, then acts on one that came
// meanwhile, out of the work and with the lock let go, so that a cancelled
// thread still ends though its own loop has no cancellation point.
template <class Work>
std::int32_t Uncancelled(const Work &work)
{
    std::int32_t result = 0;
    {
        const NoCancellation noCancellation;
        result = work();
    }
    ::pthread_testcancel();
    return result;
}

} // namespace

} // namespace brindle

std::int32_t InitEffectManager()
{
    return brindle::Uncancelled([] {
        win32::SetLastError(win32::ERROR_SUCCESS);
        const std::lock_guard guard(brindle::lock);
        try {
            brindle::Start();
        } catch (const std::bad_alloc &) {
            win32::SetLastError(win32::ERROR_NOT_ENOUGH_MEMORY);
        } catch (...) {
        }
        return -1;
    });
}

std::int32_t GetEffectBitmap(HDC hdc)
{
    return brindle::Uncancelled([hdc] {
        win32::SetLastError(win32::ERROR_SUCCESS);
        const std::lock_guard guard(brindle::lock);
        try {
            return brindle::ServeFrame(hdc);
        } catch (...) {
            // Only the device context registry's lock or a copy of the photo's
            // name can fail here; count the frame so that a host looping until
            // 0 still reaches the end.
            if (brindle::OutOfMemory())
                win32::SetLastError(win32::ERROR_NOT_ENOUGH_MEMORY);
            ++brindle::state.frameCounter;
            return 1;
        }
    });
}

std::int32_t FreeEffectManager()
{
    return brindle::Uncancelled([] {
        const std::lock_guard guard(brindle::lock);
        brindle::Release();
        return -1;
    });
}
