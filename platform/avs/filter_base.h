// What the clips of the engine are built on: the base filter that knows its
// place in the chain, and the filter that makes one new frame from each frame
// of its child. Private to the engine.
#pragma once

#include "platform/avs/avs.h"
#include "platform/avs/filters.h"

#include <array>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace avs::detail {

class Filter : public Clip
{
public:
    Filter(const VideoInfo &vi, int depth)
        : vi_(vi)
        , depth_(depth)
    {}
    const VideoInfo &GetVideoInfo() const override { return vi_; }
    int depth() const { return depth_; }
    // The picture file whose frames the clip makes, when it makes them from
    // one picture alone; empty otherwise. For messages.
    virtual std::string picture() const { return {}; }

protected:
    void checkRange(std::int64_t n) const
    {
        if (n < 0 || n >= vi_.frameCount)
            throw Error("There is no frame " + std::to_string(n) + ": the clip has "
                        + std::to_string(vi_.frameCount) + " frames");
    }

    VideoInfo vi_;
    int depth_;
};

// How many filters lie below the clip (0 for a clip that is no Filter).
int depthOf(const PClip &clip);

// The depth of a new filter over `children`; raises Error naming `function`
// when the chain would grow deeper than kMaxDepth.
int depthAbove(const std::string &function, std::initializer_list<const PClip *> children);

// The last frame a filter made and the input frames it made it from: asked
// again with the same inputs (a held picture), the filter hands out the same
// frame, however many frame numbers it spans.
template <std::size_t Inputs>
class FrameMemo
{
public:
    // The frame made from exactly these inputs, or null.
    PFrame find(const std::array<PFrame, Inputs> &inputs) const
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < Inputs; ++i)
            if (in_[i].lock() != inputs[i])
                return nullptr;
        return out_.lock();
    }

    void remember(const std::array<PFrame, Inputs> &inputs, const PFrame &out)
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < Inputs; ++i)
            in_[i] = inputs[i];
        out_ = out;
    }

private:
    mutable std::mutex mutex_;
    std::array<std::weak_ptr<const Frame>, Inputs> in_;
    std::weak_ptr<const Frame> out_;
};

// A filter whose frame n is made from its child's frame n alone, so that a held
// slide is made once.
class PerFrameFilter : public Filter
{
public:
    PerFrameFilter(const PEnvironment &env, const PClip &child, const VideoInfo &vi, int depth)
        : Filter(vi, depth)
        , env_(env)
        , child_(child)
        , owner_(env->cache().newOwner())
    {}

    PFrame GetFrame(std::int64_t n) override
    {
        checkRange(n);
        PFrame in = child_->GetFrame(n);
        if (PFrame out = memo_.find({in}))
            return out;
        PFrame out = env_->cache().get(owner_, n, [&] { return make(*in); });
        memo_.remember({in}, out);
        return out;
    }

    std::string picture() const override
    {
        const auto *below = dynamic_cast<const Filter *>(child_.get());
        return below ? below->picture() : std::string();
    }

protected:
    virtual PFrame make(const Frame &in) = 0;

    PEnvironment env_;
    PClip child_;
    std::uint64_t owner_;

private:
    FrameMemo<1> memo_;
};

// Where a Crop cuts its picture out of the clip beneath it, so that a resize of
// the cut-out can read that clip's frames itself and copy nothing.
struct CropPlace
{
    PClip child;
    int left = 0, top = 0;
};
std::optional<CropPlace> CropPlaceOf(const PClip &clip);

} // namespace avs::detail
