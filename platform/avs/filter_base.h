// What the clips of the engine are built on: the base filter that knows its
// place in the chain, and the filter that makes one new frame from each frame
// of its child. Private to the engine.
#pragma once

#include "platform/avs/avs.h"
#include "platform/avs/filters.h"

#include <initializer_list>
#include <memory>
#include <mutex>
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

// A filter whose frame n is made from its child's frame n alone. The child
// handing out the same frame again (a held picture) gets the same frame back,
// however many frame numbers it spans, so a held slide is made once.
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
        {
            std::lock_guard lock(memoMutex_);
            if (lastIn_.lock() == in)
                if (PFrame out = lastOut_.lock())
                    return out;
        }
        PFrame out = env_->cache().get(owner_, n, [&] { return make(*in); });
        std::lock_guard lock(memoMutex_);
        lastIn_ = in;
        lastOut_ = out;
        return out;
    }

protected:
    virtual PFrame make(const Frame &in) = 0;

    PEnvironment env_;
    PClip child_;
    std::uint64_t owner_;

private:
    std::mutex memoMutex_;
    std::weak_ptr<const Frame> lastIn_;
    std::weak_ptr<const Frame> lastOut_;
};

} // namespace avs::detail
