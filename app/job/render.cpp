#include "app/job/render.h"

#include "platform/media/compressors.h"
#include "renderer/mureline.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace quillon {

static_assert(static_cast<int>(MovieOptions::Container::Mp4) == MURELINE_CONTAINER_MP4);
static_assert(static_cast<int>(MovieOptions::Container::Matroska) == MURELINE_CONTAINER_MATROSKA);
static_assert(static_cast<int>(MovieOptions::Container::WebM) == MURELINE_CONTAINER_WEBM);
static_assert(static_cast<int>(MovieOptions::SoundEnd::Keep) == MURELINE_SOUND_KEEP);
static_assert(static_cast<int>(MovieOptions::SoundEnd::Loop) == MURELINE_SOUND_LOOP);

int RenderMovie(HWND notifyWindow, const TWorkThreadInfo &job, const std::atomic<int> *stopRequest)
{
    const std::string movie = MoviePath(job);
    const MovieOptions &choices = job.Movie;
    const bool defaults = choices.container == MovieOptions::Container::Avi
                          && choices.moreSoundFiles.empty()
                          && choices.soundEnd == MovieOptions::SoundEnd::Cut;
    if (stopRequest || !defaults) {
        std::vector<const char *> sounds;
        if (!choices.moreSoundFiles.empty()) {
            if (!job.SoundFile.empty())
                sounds.push_back(job.SoundFile.c_str());
            for (const std::string &file : choices.moreSoundFiles)
                sounds.push_back(file.c_str());
        }
        MurelineOptions options{};
        options.size = sizeof options;
        options.stopRequest = stopRequest;
        options.container = static_cast<int>(choices.container);
        options.soundFiles = sounds.data();
        options.soundFileCount = static_cast<int>(sounds.size());
        options.soundEnd = static_cast<int>(choices.soundEnd);
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
