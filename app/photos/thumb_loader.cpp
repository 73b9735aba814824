#include "app/photos/thumb_loader.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>

namespace quillon {

namespace {

std::int64_t FileBytesOf(const std::string &path)
{
    struct stat st
    {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<std::int64_t>(st.st_size);
}

unsigned WorkerCount(unsigned asked)
{
    if (asked > 0)
        return asked;
    return std::clamp(std::thread::hardware_concurrency(), 1u, 16u);
}

} // namespace

ThumbLoader::ThumbLoader(std::function<std::vector<std::string>()> source,
                         std::function<void()> ready, unsigned threads, int niceness, bool upright)
    : source_(std::move(source))
    , ready_(std::move(ready))
    , niceness_(niceness)
    , upright_(upright)
{
    const unsigned count = WorkerCount(threads);
    workers_.reserve(count);
    try {
        for (unsigned i = 0; i < count; ++i)
            workers_.emplace_back([this, i] { Work(i == 0); });
    } catch (...) {
        // Fewer workers than asked for still make every thumbnail, as long as
        // the one that lists the photos is there.
        if (workers_.empty())
            throw;
    }
}

ThumbLoader::~ThumbLoader()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread &worker : workers_)
        worker.join();
}

void ThumbLoader::Work(bool listsFirst)
{
    if (niceness_ > 0) {
        // Per thread on Linux: only this worker gives way.
        const auto self = static_cast<id_t>(::gettid());
        errno = 0;
        const int current = ::getpriority(PRIO_PROCESS, self);
        if (errno == 0)
            ::setpriority(PRIO_PROCESS, self, std::min(current + niceness_, 19));
    }
    if (listsFirst) {
        std::vector<std::string> paths;
        std::exception_ptr error;
        try {
            paths = source_();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            paths_ = std::move(paths);
            results_.resize(paths_.size());
            sourceError_ = error;
            listed_ = true;
        }
        wake_.notify_all();
        ready_();
    }
    for (;;) {
        std::size_t index = 0;
        std::string path;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] {
                return stop_
                       || (listed_
                           && (nextToMake_ >= paths_.size() || nextToMake_ < taken_ + kLookAhead));
            });
            if (stop_ || nextToMake_ >= paths_.size())
                return;
            index = nextToMake_++;
            path = paths_[index];
        }
        Result result;
        result.Path = path;
        try {
            result.Thumbnail = MakePhotoThumbnail(path, upright_, &stop_);
        } catch (const ThumbnailStopped &) {
            return;
        } catch (...) {
            result.Error = std::current_exception();
        }
        result.FileBytes = FileBytesOf(path);
        bool next = false;
        {
            std::lock_guard lock(mutex_);
            results_[index] = std::move(result);
            next = index == taken_;
        }
        if (next)
            ready_();
    }
}

std::optional<std::size_t> ThumbLoader::Total() const
{
    std::lock_guard lock(mutex_);
    if (!listed_)
        return std::nullopt;
    return paths_.size();
}

std::exception_ptr ThumbLoader::SourceError() const
{
    std::lock_guard lock(mutex_);
    return sourceError_;
}

std::optional<ThumbLoader::Result> ThumbLoader::TakeNext()
{
    std::optional<Result> next;
    {
        std::lock_guard lock(mutex_);
        if (!listed_ || taken_ >= results_.size() || !results_[taken_])
            return std::nullopt;
        next = std::move(results_[taken_]);
        results_[taken_].reset();
        ++taken_;
    }
    // A worker may be waiting for the look-ahead window to move on.
    wake_.notify_all();
    return next;
}

std::size_t ThumbLoader::Taken() const
{
    std::lock_guard lock(mutex_);
    return taken_;
}

bool ThumbLoader::Done() const
{
    std::lock_guard lock(mutex_);
    return listed_ && taken_ >= results_.size();
}

} // namespace quillon
