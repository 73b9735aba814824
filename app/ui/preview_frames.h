// The frames of a show being previewed, made ahead of the one on the screen by
// threads of their own, so that the screen only ever takes a frame that is
// ready. Held frames cost nothing (the engine hands out the same frame), so the
// window ahead is measured in time and bounded in bytes of distinct pictures.
#pragma once

#include "platform/avs/avs.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace quillon {

class TPreviewFrames
{
public:
    // Starts `Workers` threads, which make frames once Seek or Take says where.
    explicit TPreviewFrames(avs::PClip Clip, int Workers = 2);
    ~TPreviewFrames();
    TPreviewFrames(const TPreviewFrames &) = delete;
    TPreviewFrames &operator=(const TPreviewFrames &) = delete;

    const avs::VideoInfo &Info() const { return FInfo; }

    // Frames from `First` on are made next. The `Warm` frames come first of all,
    // one a thread, side by side: a frame that needs two photos (a cross-fade)
    // is made in the time of one decode when each photo is warmed on its own.
    void Seek(std::int64_t First, const std::vector<std::int64_t> &Warm = {});

    // Frame `N` once it is made, else null; frames before N leave the window, so
    // the threads go on ahead of N. A frame before the window starts it anew.
    avs::PFrame Take(std::int64_t N);

    // Why frame `N` could not be made; "" unless it failed. A frame that failed
    // is not made again until the next Seek, which tries every frame anew (a
    // photo put back since shows again).
    std::string Failure(std::int64_t N) const;

    // Frames are made up to this many ahead of the one taken last, while the
    // distinct pictures among them stay within kBytesAhead (at least kMinAhead
    // frames are always made).
    std::int64_t Ahead() const { return FAhead; }
    static constexpr std::size_t kBytesAhead = 96u << 20;
    static constexpr std::int64_t kMinAhead = 4;

private:
    void Work();
    bool PickLocked(std::int64_t &N, bool &Warm);
    void EnterLocked(std::int64_t N, const avs::PFrame &Frame);
    void DropBeforeLocked(std::int64_t N);
    void MoveWindowLocked(std::int64_t First);

    const avs::PClip FClip;
    const avs::VideoInfo FInfo;
    const std::int64_t FAhead;

    mutable std::mutex FMutex;
    std::condition_variable FWake;
    bool FStopping = false;
    std::int64_t FFirst;              // the window: FFirst .. FFirst + FAhead - 1
    std::uint64_t FGeneration = 0;    // counts the seeks
    std::vector<std::int64_t> FWarm;  // frames to warm before the window
    std::vector<avs::PFrame> FWarmed; // held so that the engine keeps their photos
    std::map<std::int64_t, avs::PFrame> FMade;
    std::set<std::int64_t> FTaken;                         // frames a thread is making
    std::unordered_map<const avs::Frame *, int> FPictures; // distinct frames in FMade
    std::size_t FBytes = 0;                                // their pixels
    std::map<std::int64_t, std::string> FFailed;           // frames of the window that failed
    std::vector<std::thread> FThreads;
};

} // namespace quillon
