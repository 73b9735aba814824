// The slide-show script engine: evaluates a script file into a clip that hands
// out its frames one by one.
//
// Frames are immutable once handed out and shared by reference: a clip that
// shows the same picture again (Loop, a held slide) hands out the very same
// Frame object, so later stages can tell a repeat from a new frame by identity.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace avs {

// An error of the script or of a picture it names; what() is the whole message
// (for a script error with the file name and the line).
class Error : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

enum class PixelType { BGR24 };

struct VideoInfo
{
    int width = 0;
    int height = 0;
    std::uint32_t fpsNumerator = 25;
    std::uint32_t fpsDenominator = 1;
    std::int64_t frameCount = 0;
    PixelType pixelType = PixelType::BGR24;
};

class Frame;
using PFrame = std::shared_ptr<const Frame>;

// One picture: 24-bit BGR, top-down, rows `stride` bytes apart (stride is a
// multiple of 32 so that SIMD code may read whole vectors).
//
// A cross-fade frame is made as a description, the blend of two frames with
// two weights, and its pixels only when somebody first reads them: a consumer
// that works in another colour format may blend the two frames it already has
// in that format and never need these pixels at all.
class Frame
{
public:
    Frame(int width, int height);
    // (a × weightA + b × weightB) / (weightA + weightB) for every byte, rounded
    // to nearest with halves up; a and b have the frame's size.
    Frame(PFrame a, PFrame b, std::uint32_t weightA, std::uint32_t weightB);
    Frame(const Frame &) = delete;
    Frame &operator=(const Frame &) = delete;
    ~Frame();

    int width() const { return width_; }
    int height() const { return height_; }
    int stride() const { return stride_; }
    // The first read of a blend frame makes its pixels (once, whichever thread
    // asks first) and may raise std::bad_alloc.
    const std::uint8_t *data() const
    {
        if (const std::uint8_t *p = data_.load(std::memory_order_acquire))
            return p;
        return materialise();
    }
    const std::uint8_t *row(int y) const
    {
        return data() + static_cast<std::ptrdiff_t>(y) * stride_;
    }

    struct Blend
    {
        PFrame a;
        PFrame b;
        std::uint32_t weightA;
        std::uint32_t weightB;
    };
    // What a blend frame is made of; null for any other frame.
    const Blend *blend() const { return blend_.get(); }
    // False for a blend frame whose pixels nobody has read yet.
    bool hasPixels() const { return data_.load(std::memory_order_acquire) != nullptr; }

    // Only for the code that makes a plain frame, before it is handed out.
    std::uint8_t *mutableData() { return data_.load(std::memory_order_relaxed); }
    std::uint8_t *mutableRow(int y)
    {
        return mutableData() + static_cast<std::ptrdiff_t>(y) * stride_;
    }

private:
    const std::uint8_t *materialise() const;

    int width_;
    int height_;
    int stride_;
    mutable std::atomic<std::uint8_t *> data_{nullptr};
    std::unique_ptr<const Blend> blend_;
    mutable std::once_flag made_;
};

// Raised by a frame request made on a thread that holds a NoWait when the frame
// needs one that another thread is making at that moment. Nothing is made or
// kept for the request; asked again later, it may succeed.
class Busy : public std::exception
{
public:
    const char *what() const noexcept override;
};

// While one lives, frame requests on its thread raise Busy rather than wait for
// a frame that another thread is making, so that a thread fetching frames ahead
// can go on to a frame that needs other work instead.
class NoWait
{
public:
    NoWait();
    ~NoWait();
    NoWait(const NoWait &) = delete;
    NoWait &operator=(const NoWait &) = delete;

    static bool active();

private:
    bool outer_;
};

// While one lives, a progressive JPEG that its thread decodes (read whole
// before its first row) is given up once the flag is set, raising Stopped.
// Nothing is kept for the request; with the flag clear, asked again, it is
// made.
class StopOn
{
public:
    explicit StopOn(const std::atomic<bool> *flag);
    ~StopOn();
    StopOn(const StopOn &) = delete;
    StopOn &operator=(const StopOn &) = delete;

    // The flag of the innermost one on this thread; none without one.
    static const std::atomic<bool> *flag();

private:
    const std::atomic<bool> *outer_;
};

class Stopped : public Error
{
public:
    Stopped()
        : Error("The picture was not made: stopped")
    {}
};

class Clip
{
public:
    virtual ~Clip();
    virtual const VideoInfo &GetVideoInfo() const = 0;
    // Frame n, 0 <= n < frameCount; raises Error when it cannot be made (a
    // picture that became unreadable). Safe to call from several threads at once.
    virtual PFrame GetFrame(std::int64_t n) = 0;
};

using PClip = std::shared_ptr<Clip>;

// Parses and evaluates the script. Raises Error for a missing or unreadable
// file, a syntax or evaluation error, or a script without a clip. Pictures are
// not read until their first frame is asked for.
PClip OpenScript(const std::string &path);

// Like OpenScript, for a script already in memory. `fileName` is the name that
// errors give, and relative picture paths are taken from its folder. With
// `picturesFailWhenShown`, a picture that cannot be read at the opening fails
// only the frames that show it, when they are asked for (a player's way).
PClip OpenScriptText(const std::string &text, const std::string &fileName,
                     bool picturesFailWhenShown = false);

} // namespace avs
