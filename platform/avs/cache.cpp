#include "platform/avs/cache.h"

#include <algorithm>

namespace avs {

namespace {

// Evicted entries are only weak references; they are swept when there are many.
constexpr std::size_t kEvictedSweep = 4096;

std::size_t frameBytes(const Frame &frame)
{
    return static_cast<std::size_t>(frame.stride()) * static_cast<std::size_t>(frame.height());
}

thread_local bool tNoWait = false;
thread_local const std::atomic<bool> *tStopOn = nullptr;

} // namespace

const char *Busy::what() const noexcept
{
    return "The frame is being made by another thread";
}

NoWait::NoWait()
    : outer_(tNoWait)
{
    tNoWait = true;
}

NoWait::~NoWait()
{
    tNoWait = outer_;
}

bool NoWait::active()
{
    return tNoWait;
}

StopOn::StopOn(const std::atomic<bool> *flag)
    : outer_(tStopOn)
{
    tStopOn = flag;
}

StopOn::~StopOn()
{
    tStopOn = outer_;
}

const std::atomic<bool> *StopOn::flag()
{
    return tStopOn;
}

FrameCache::FrameCache(std::size_t budgetBytes)
    : budget_(budgetBytes)
{}

std::uint64_t FrameCache::newOwner()
{
    std::lock_guard lock(mutex_);
    return nextOwner_++;
}

void FrameCache::holdFramesOf(int width, int height, int frames)
{
    if (width <= 0 || height <= 0 || frames <= 0)
        return;
    const std::size_t wanted = static_cast<std::size_t>(width) * static_cast<std::size_t>(height)
                               * 3 * static_cast<std::size_t>(frames);
    std::lock_guard lock(mutex_);
    budget_ = std::max(budget_, wanted);
}

std::size_t FrameCache::bytes() const
{
    std::lock_guard lock(mutex_);
    return bytes_;
}

PFrame FrameCache::lookupLocked(const Key &key)
{
    if (auto it = index_.find(key); it != index_.end()) {
        lru_.splice(lru_.begin(), lru_, it->second);
        return it->second->frame;
    }
    if (auto it = evicted_.find(key); it != evicted_.end()) {
        PFrame alive = it->second.lock();
        evicted_.erase(it);
        if (alive) {
            insertLocked(key, alive);
            return alive;
        }
    }
    return nullptr;
}

void FrameCache::insertLocked(const Key &key, const PFrame &frame)
{
    const std::size_t size = frameBytes(*frame);
    lru_.push_front(Entry{key, frame, size});
    index_[key] = lru_.begin();
    bytes_ += size;
    // The newest entry stays even when it alone is over budget: the caller is
    // about to use it, and it goes with the next insertion.
    while (bytes_ > budget_ && lru_.size() > 1) {
        Entry &last = lru_.back();
        if (evicted_.size() >= kEvictedSweep)
            std::erase_if(evicted_, [](const auto &e) { return e.second.expired(); });
        evicted_[last.key] = last.frame;
        bytes_ -= last.bytes;
        index_.erase(last.key);
        lru_.pop_back();
    }
}

PFrame FrameCache::get(std::uint64_t owner, std::int64_t n, const std::function<PFrame()> &make)
{
    const Key key{owner, n};
    std::unique_lock lock(mutex_);
    for (;;) {
        if (PFrame hit = lookupLocked(key))
            return hit;
        if (!making_.count(key))
            break;
        if (tNoWait)
            throw Busy();
        made_.wait(lock);
    }
    making_.insert(key);
    lock.unlock();

    PFrame frame;
    try {
        frame = make();
    } catch (...) {
        lock.lock();
        making_.erase(key);
        made_.notify_all();
        throw;
    }

    lock.lock();
    making_.erase(key);
    if (!frame) {
        made_.notify_all();
        throw Error("A clip made no frame");
    }
    insertLocked(key, frame);
    made_.notify_all();
    return frame;
}

} // namespace avs
