// The choices of a movie beyond the output view's original settings. Every
// default gives the movie those settings always gave: AVI, the frame size of the
// standard and resolution, 25 frames a second, each photo stretched to the frame,
// one sound track.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

struct MovieOptions
{
    // 0 × 0: the size that the video standard and resolution give.
    int width = 0;
    int height = 0;
    int framesPerSecond = 25;

    // How a photo fills the frame: stretched to it, whole on black bands, cut to
    // fill it from the centre, or whole over a blurred, enlarged copy of itself.
    enum class Fit { Stretch, Letterbox, Crop, Blur };
    Fit fit = Fit::Stretch;
    // A JPEG's orientation tag is applied wherever a photo is read.
    bool autoRotate = true;

    enum class Container { Avi, Mp4, Matroska, WebM };
    Container container = Container::Avi;

    // Sound tracks played after the first one (the sound file box's), in order.
    std::vector<std::string> moreSoundFiles;
    // Where the sound ends: cut with a short fade-out where the pictures end, the
    // whole track kept, or the tracks repeated until the pictures end.
    enum class SoundEnd { Cut, Keep, Loop };
    SoundEnd soundEnd = SoundEnd::Cut;

    bool operator==(const MovieOptions &) const = default;
};

// "avi", "mp4", "mkv" or "webm": the movie's file name extension.
const char *ContainerExtension(MovieOptions::Container container);

// The choices as words, as the command line takes them and a file can keep
// them; each *FromWord gives nullopt for a word that names no choice.
const char *FitWord(MovieOptions::Fit fit); // "stretch", "letterbox", "crop", "blur"
std::optional<MovieOptions::Fit> FitFromWord(std::string_view word);
std::optional<MovieOptions::Container> ContainerFromWord(std::string_view word); // an extension
const char *SoundEndWord(MovieOptions::SoundEnd end); // "cut", "keep", "loop"
std::optional<MovieOptions::SoundEnd> SoundEndFromWord(std::string_view word);

// Frame sizes of the new kind: even, from 16 to 8192 pixels a side.
inline constexpr int MinFrameSide = 16;
inline constexpr int MaxFrameSide = 8192;

struct FrameSize
{
    int width = 0;
    int height = 0;
    bool operator==(const FrameSize &) const = default;
};

// "1920x1080": WIDTHxHEIGHT in decimal.
std::string FrameSizeText(FrameSize size);
// "WIDTHxHEIGHT", or "720p", "1080p", "2160p" for 1280 × 720, 1920 × 1080 and
// 3840 × 2160; nullopt for anything else, an odd side or one out of range.
std::optional<FrameSize> FrameSizeFromText(std::string_view text);

// The frame rates on offer, 25 (the default) among them.
inline constexpr int FrameRates[] = {24, 25, 30, 50, 60};
bool IsOfferedFrameRate(int framesPerSecond);

} // namespace quillon
