// The choices of a movie beyond the output view's original settings. Every
// default gives the movie those settings always gave: AVI, the frame size of the
// standard and resolution, 25 frames a second, each photo stretched to the frame,
// one sound track.
#pragma once

#include <string>
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
};

// "avi", "mp4", "mkv" or "webm": the movie's file name extension.
const char *ContainerExtension(MovieOptions::Container container);

} // namespace quillon
