// The frame cache that the clips of one script share: the frames that clips made
// most recently, kept within a fixed number of bytes, so that a clip asked twice
// for the same frame hands out the same Frame object without making it again.
#pragma once

#include "platform/avs/avs.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace avs {

// While one of these lives, the memory of dead frames is kept for new frames of
// the same size (up to a few megabytes); when the last one goes, that
// memory goes back to the system. Each open script holds one.
class FrameMemoryUser
{
public:
    FrameMemoryUser();
    ~FrameMemoryUser();
    FrameMemoryUser(const FrameMemoryUser &) = delete;
    FrameMemoryUser &operator=(const FrameMemoryUser &) = delete;
};

class FrameCache
{
public:
    static constexpr std::size_t kDefaultBudget = 32u << 20;

    explicit FrameCache(std::size_t budgetBytes = kDefaultBudget);
    FrameCache(const FrameCache &) = delete;
    FrameCache &operator=(const FrameCache &) = delete;

    // A number that tells one clip's frames from another's; never handed out twice.
    std::uint64_t newOwner();

    // The owner's frame under `key`: the cached one, or else what `make` returns,
    // which is then cached. When several threads ask for the same frame at once,
    // one makes it and the others wait for it, so they all get the same object
    // (a thread under NoWait raises Busy instead of waiting).
    // A frame that was pushed out of the cache but is still held somewhere is
    // handed out again rather than made anew.
    PFrame get(std::uint64_t owner, std::int64_t key, const std::function<PFrame()> &make);

    // Raises the budget, where it is lower, to hold `frames` frames of
    // width × height: a slide's chain of frames (the resized photo, its
    // background, the fitted frame) and the next slide's during a fade must
    // stay cached while the slide is held, or each held frame makes them anew.
    void holdFramesOf(int width, int height, int frames);

    std::size_t bytes() const;
    std::size_t budget() const
    {
        std::lock_guard lock(mutex_);
        return budget_;
    }

private:
    struct Key
    {
        std::uint64_t owner;
        std::int64_t n;
        bool operator==(const Key &) const = default;
    };
    struct KeyHash
    {
        std::size_t operator()(const Key &k) const noexcept
        {
            return std::hash<std::uint64_t>()(k.owner * 0x9E3779B97F4A7C15ull
                                              ^ static_cast<std::uint64_t>(k.n));
        }
    };
    struct Entry
    {
        Key key;
        PFrame frame;
        std::size_t bytes;
    };

    PFrame lookupLocked(const Key &key);
    void insertLocked(const Key &key, const PFrame &frame);

    std::size_t budget_;
    mutable std::mutex mutex_;
    std::condition_variable made_;
    std::list<Entry> lru_; // most recently used first
    std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> index_;
    std::unordered_map<Key, std::weak_ptr<const Frame>, KeyHash> evicted_;
    std::unordered_set<Key, KeyHash> making_;
    std::size_t bytes_ = 0;
    std::uint64_t nextOwner_ = 1;
};

} // namespace avs
