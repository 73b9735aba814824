#include "app/job/render.h"

#include "platform/media/compressors.h"
#include "renderer/mureline.h"

#include <algorithm>
#include <climits>

namespace quillon {

int RenderMovie(HWND notifyWindow, const TWorkThreadInfo &job, const std::atomic<int> *stopRequest)
{
    const std::string movie = MoviePath(job);
    if (stopRequest) {
        const MurelineOptions options{sizeof(MurelineOptions), stopRequest};
        return photo2AviEx(notifyWindow, movie.c_str(), job.CompressorIndex, job.SoundFile.c_str(),
                           &options);
    }
    // The renderer does not look at the duration; a 32-bit view of it is enough.
    const int duration
        = static_cast<int>(std::clamp<std::int64_t>(job.DurationSeconds, INT_MIN, INT_MAX));
    return photo2Avi(notifyWindow, movie.c_str(), 720, 480, job.CompressorIndex, duration,
                     job.SoundFile.c_str());
}

std::vector<std::string> VideoCompressorNames()
{
    std::vector<std::string> names;
    for (const media::CompressorEntry &entry : media::VideoCompressorCategory())
        names.push_back(entry.friendlyName);
    return names;
}

} // namespace quillon
