// Makes the thumbnails of a list of photos on worker threads, several photos at
// once, and hands them out strictly in the list's order, so that the list can
// be built from them as if each photo had been read in turn.
#pragma once

#include "app/photos/Thumbnail.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quillon {

class ThumbLoader
{
public:
    struct Result
    {
        std::string Path;
        PhotoThumbnail Thumbnail;
        std::int64_t FileBytes = -1; // -1 when the file could not be looked at
        std::exception_ptr Error;    // what reading the photo raised, if anything
    };

    // `source` lists the photos; it runs first, on a worker, since a folder scan
    // can take a while. `ready` runs on a worker whenever TakeNext may have
    // something new (the list is known, or the next result in order is made):
    // it must only wake whoever takes the results, never block. `threads` 0
    // means one a processor.
    // `niceness` lowers the workers' scheduling priority below the thread that
    // takes the results, so that it gets a processor at once when it needs one.
    // `upright` turns JPEG thumbnails as their orientation tag says.
    ThumbLoader(std::function<std::vector<std::string>()> source, std::function<void()> ready,
                unsigned threads = 0, int niceness = 0, bool upright = true);
    // Stops the workers (a JPEG decode ends at its next row) and waits for them.
    ~ThumbLoader();
    ThumbLoader(const ThumbLoader &) = delete;
    ThumbLoader &operator=(const ThumbLoader &) = delete;

    // How many photos the source listed; nullopt while it runs.
    std::optional<std::size_t> Total() const;
    // An error the source raised; the list is then empty.
    std::exception_ptr SourceError() const;
    // The next result in list order when it is made; nullopt while it is not.
    std::optional<Result> TakeNext();
    // How many results were taken.
    std::size_t Taken() const;
    // True when every result has been taken.
    bool Done() const;

    // Workers at most this far ahead of the results taken, so that a taker that
    // falls behind does not make them hold every thumbnail of a long list.
    static constexpr std::size_t kLookAhead = 32;

private:
    void Work(bool listsFirst);

    std::function<std::vector<std::string>()> source_;
    std::function<void()> ready_;
    int niceness_ = 0;
    bool upright_ = true;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> stop_{false};
    bool listed_ = false;
    std::exception_ptr sourceError_;
    std::vector<std::string> paths_;
    std::vector<std::optional<Result>> results_;
    std::size_t nextToMake_ = 0;
    std::size_t taken_ = 0;
    std::vector<std::thread> workers_;
};

} // namespace quillon
