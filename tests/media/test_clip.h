// A clip made in the test: solid pictures whose colour is a function of the
// frame number. Consecutive frames of one colour are the same frame object, as
// the engine hands out held frames; a frame can be made to fail.
#pragma once

#include "pictures.h"
#include "platform/avs/avs.h"
#include "platform/media/detail/filters.h"

#include <functional>
#include <mutex>

namespace mediatest {

class ColourClip : public avs::Clip
{
public:
    using ColourFn = std::function<testsupport::Rgb(std::int64_t n)>;

    ColourClip(int width, int height, std::int64_t frames, ColourFn colour,
               std::int64_t failAt = -1)
        : colour_(std::move(colour))
        , failAt_(failAt)
    {
        info_.width = width;
        info_.height = height;
        info_.frameCount = frames;
    }

    const avs::VideoInfo &GetVideoInfo() const override { return info_; }

    avs::PFrame GetFrame(std::int64_t n) override
    {
        if (n == failAt_)
            throw avs::Error("Cannot open \"/photos/gone.jpg\": No such file or directory");
        const testsupport::Rgb c = colour_(n);
        std::lock_guard lock(mutex_);
        if (last_ && c.r == lastColour_.r && c.g == lastColour_.g && c.b == lastColour_.b)
            return last_;
        auto frame = std::make_shared<avs::Frame>(info_.width, info_.height);
        for (int y = 0; y < info_.height; ++y) {
            std::uint8_t *row = frame->mutableRow(y);
            for (int x = 0; x < info_.width; ++x) {
                row[3 * x] = c.b;
                row[3 * x + 1] = c.g;
                row[3 * x + 2] = c.r;
            }
        }
        ++made_;
        last_ = frame;
        lastColour_ = c;
        return last_;
    }

    int framesMade() const
    {
        std::lock_guard lock(mutex_);
        return made_;
    }

private:
    avs::VideoInfo info_;
    ColourFn colour_;
    std::int64_t failAt_;
    mutable std::mutex mutex_;
    avs::PFrame last_;
    testsupport::Rgb lastColour_{};
    int made_ = 0;
};

// The source filter of a clip, as AddSourceFilter makes it of a script.
inline ComPtr<IBaseFilter> ClipSource(std::shared_ptr<avs::Clip> clip)
{
    return ComPtr<IBaseFilter>(media::detail::MakeClipSource(std::move(clip)).Get());
}

} // namespace mediatest
