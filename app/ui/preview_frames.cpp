#include "app/ui/preview_frames.h"

#include <algorithm>
#include <new>

namespace quillon {

namespace {

std::int64_t TwoSeconds(const avs::VideoInfo &Info)
{
    if (Info.fpsDenominator == 0)
        return 50;
    return std::max<std::int64_t>(
        2 * static_cast<std::int64_t>(Info.fpsNumerator) / Info.fpsDenominator, 2);
}

std::size_t BytesOf(const avs::Frame &Frame)
{
    return static_cast<std::size_t>(Frame.stride()) * static_cast<std::size_t>(Frame.height());
}

} // namespace

TPreviewFrames::TPreviewFrames(avs::PClip Clip, int Workers)
    : FClip(std::move(Clip))
    , FInfo(FClip->GetVideoInfo())
    , FAhead(TwoSeconds(FInfo))
    , FFirst(FInfo.frameCount)
{
    for (int i = 0; i < std::max(Workers, 1); ++i)
        FThreads.emplace_back([this] { Work(); });
}

TPreviewFrames::~TPreviewFrames()
{
    {
        std::lock_guard lock(FMutex);
        FStopping = true;
    }
    FWake.notify_all();
    for (std::thread &thread : FThreads)
        thread.join();
}

void TPreviewFrames::Seek(std::int64_t First, const std::vector<std::int64_t> &Warm)
{
    {
        std::lock_guard lock(FMutex);
        ++FGeneration;
        FFailed.clear();
        FWarmed.clear();
        FWarm.clear();
        for (std::int64_t n : Warm)
            if (n >= 0 && n < FInfo.frameCount && !FMade.count(n))
                FWarm.push_back(n);
        MoveWindowLocked(First);
    }
    FWake.notify_all();
}

avs::PFrame TPreviewFrames::Take(std::int64_t N)
{
    avs::PFrame frame;
    {
        std::lock_guard lock(FMutex);
        if (N < FFirst || N >= FFirst + FAhead)
            MoveWindowLocked(N);
        else
            DropBeforeLocked(N);
        FFirst = N;
        if (const auto made = FMade.find(N); made != FMade.end())
            frame = made->second;
    }
    FWake.notify_all();
    return frame;
}

std::string TPreviewFrames::Failure(std::int64_t N) const
{
    std::lock_guard lock(FMutex);
    const auto failed = FFailed.find(N);
    return failed == FFailed.end() ? std::string() : failed->second;
}

void TPreviewFrames::MoveWindowLocked(std::int64_t First)
{
    FFirst = First;
    std::erase_if(FFailed, [&](const auto &failed) {
        return failed.first < First || failed.first >= First + FAhead;
    });
    for (auto it = FMade.begin(); it != FMade.end();) {
        if (it->first >= First && it->first < First + FAhead) {
            ++it;
            continue;
        }
        const auto picture = FPictures.find(it->second.get());
        if (--picture->second == 0) {
            FBytes -= BytesOf(*it->second);
            FPictures.erase(picture);
        }
        it = FMade.erase(it);
    }
}

void TPreviewFrames::DropBeforeLocked(std::int64_t N)
{
    FFailed.erase(FFailed.begin(), FFailed.lower_bound(N));
    while (!FMade.empty() && FMade.begin()->first < N) {
        const avs::PFrame &frame = FMade.begin()->second;
        const auto picture = FPictures.find(frame.get());
        if (--picture->second == 0) {
            FBytes -= BytesOf(*frame);
            FPictures.erase(picture);
        }
        FMade.erase(FMade.begin());
    }
}

void TPreviewFrames::EnterLocked(std::int64_t N, const avs::PFrame &Frame)
{
    if (!FMade.emplace(N, Frame).second)
        return;
    if (FPictures[Frame.get()]++ == 0)
        FBytes += BytesOf(*Frame);
}

bool TPreviewFrames::PickLocked(std::int64_t &N, bool &Warm)
{
    if (!FWarm.empty()) {
        N = FWarm.front();
        FWarm.erase(FWarm.begin());
        Warm = true;
        return true;
    }
    const std::int64_t end = std::min(FFirst + FAhead, FInfo.frameCount);
    for (std::int64_t n = FFirst; n < end; ++n) {
        if (FMade.count(n) || FTaken.count(n) || FFailed.count(n))
            continue;
        if (n - FFirst >= kMinAhead && FBytes >= kBytesAhead)
            return false;
        N = n;
        Warm = false;
        return true;
    }
    return false;
}

void TPreviewFrames::Work()
{
    std::unique_lock lock(FMutex);
    for (;;) {
        std::int64_t n = 0;
        bool warm = false;
        FWake.wait(lock, [&] { return FStopping || PickLocked(n, warm); });
        if (FStopping)
            return;
        const std::uint64_t generation = FGeneration;
        if (!warm)
            FTaken.insert(n);
        lock.unlock();

        avs::PFrame frame;
        std::string failure;
        try {
            frame = FClip->GetFrame(n);
            // A cross-fade frame gets its pixels here, not on the screen's thread.
            frame->data();
        } catch (const std::bad_alloc &) {
            failure = "Out of memory";
        } catch (const std::exception &e) {
            failure = e.what();
        }

        lock.lock();
        if (!warm)
            FTaken.erase(n);
        if (!failure.empty()) {
            // A photo warmed for a cross-fade fails again in the frame that
            // needs it; a failure from before the last Seek is tried again.
            if (!warm && generation == FGeneration && n >= FFirst && n < FFirst + FAhead)
                FFailed.emplace(n, failure);
        } else if (warm) {
            if (generation == FGeneration)
                FWarmed.push_back(std::move(frame));
        } else if (n >= FFirst && n < FFirst + FAhead) {
            EnterLocked(n, frame);
        }
        // The frame made may be what another thread's pick was waiting for room for.
        FWake.notify_all();
    }
}

} // namespace quillon
