// A clip made in the test: solid pictures whose colour is a function of the
// frame number. Consecutive frames of one colour are the same frame object, as
// the engine hands out held frames; a frame can be made to fail.
#pragma once

#include "pictures.h"
#include "platform/avs/avs.h"
#include "platform/media/detail/filters.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace mediatest {

class PatternClip : public avs::Clip
{
public:
    // Which picture frame n shows; consecutive frames of one picture are one
    // frame object.
    using PictureFn = std::function<std::int64_t(std::int64_t n)>;
    using PixelFn = std::function<testsupport::Rgb(std::int64_t picture, int x, int y)>;

    PatternClip(int width, int height, std::int64_t frames, PictureFn picture, PixelFn pixel,
                std::int64_t failAt = -1)
        : picture_(std::move(picture))
        , pixel_(std::move(pixel))
        , failAt_(failAt)
    {
        info_.width = width;
        info_.height = height;
        info_.frameCount = frames;
    }

    const avs::VideoInfo &GetVideoInfo() const override { return info_; }

    // Makes GetFrame(n) take `delay(n)` first, so that frames made at once
    // finish out of order.
    void setDelay(std::function<std::chrono::milliseconds(std::int64_t)> delay)
    {
        delay_ = std::move(delay);
    }

    avs::PFrame GetFrame(std::int64_t n) override
    {
        if (delay_)
            std::this_thread::sleep_for(delay_(n));
        if (n == failAt_)
            throw avs::Error("Cannot open \"/photos/gone.jpg\": No such file or directory");
        const std::int64_t id = picture_(n);
        std::lock_guard lock(mutex_);
        if (last_ && id == lastId_)
            return last_;
        last_ = Make(id);
        lastId_ = id;
        ++made_;
        return last_;
    }

    // The picture as the clip makes it.
    avs::PFrame Make(std::int64_t id) const
    {
        auto frame = std::make_shared<avs::Frame>(info_.width, info_.height);
        for (int y = 0; y < info_.height; ++y) {
            std::uint8_t *row = frame->mutableRow(y);
            for (int x = 0; x < info_.width; ++x) {
                const testsupport::Rgb c = pixel_(id, x, y);
                row[3 * x] = c.b;
                row[3 * x + 1] = c.g;
                row[3 * x + 2] = c.r;
            }
        }
        return frame;
    }

    int picturesMade() const
    {
        std::lock_guard lock(mutex_);
        return made_;
    }

private:
    avs::VideoInfo info_;
    PictureFn picture_;
    PixelFn pixel_;
    std::int64_t failAt_;
    std::function<std::chrono::milliseconds(std::int64_t)> delay_;
    mutable std::mutex mutex_;
    avs::PFrame last_;
    std::int64_t lastId_ = -1;
    int made_ = 0;
};

// Solid pictures whose colour depends on the frame number.
inline std::shared_ptr<PatternClip>
ColourClip(int width, int height, std::int64_t frames,
           std::function<testsupport::Rgb(std::int64_t n)> colour, std::int64_t failAt = -1)
{
    auto key = [colour](std::int64_t n) {
        const testsupport::Rgb c = colour(n);
        return std::int64_t(c.r) << 16 | std::int64_t(c.g) << 8 | c.b;
    };
    auto pixel = [](std::int64_t id, int, int) {
        return testsupport::Rgb{std::uint8_t(id >> 16), std::uint8_t(id >> 8), std::uint8_t(id)};
    };
    return std::make_shared<PatternClip>(width, height, frames, key, pixel, failAt);
}

// The source filter of a clip, as AddSourceFilter makes it of a script.
inline ComPtr<IBaseFilter> ClipSource(std::shared_ptr<avs::Clip> clip)
{
    return ComPtr<IBaseFilter>(media::detail::MakeClipSource(std::move(clip)).Get());
}

} // namespace mediatest
