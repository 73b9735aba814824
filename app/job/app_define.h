// Application definitions shared by the program: the temporary folder, the
// folder chooser, the application information read from config.ini and the
// output size table.
#pragma once

#include "app/job/movie_options.h"
#include "platform/win32/types.h"

#include <numeric>
#include <string>

namespace quillon {

// The system's temporary folder, ending in '/': the job folder of this user.
// Raises forms::Exception naming the folder when it is refused (a link,
// another user's, open to others).
std::string GetTempDirectory();

// Shows the platform's folder chooser titled "Please specify a directory" (file
// system folders only) over `owner`. When the user picks a folder, `Variable`
// becomes its path ending in '/'; when the user cancels, `Variable` keeps what it
// held.
void BrowseForFolder(HWND owner, std::string &Variable);

// The output folder a movie goes to unless the user names another: "My Movie"
// in the user's home folder.
std::string DefaultOutputFolder();

// What the program knows about itself, from config.ini beside the program.
struct TApplicationInfo
{
    std::string Homepage;
    std::string HelpFile;
};

// The program's own site, when config.ini names none.
inline constexpr const char *DefaultHomepage = "https://quillon.example.org/";
inline constexpr const char *DefaultHelpFile = "help.chm";

// The process-wide record; empty until ReadApplicationInfo fills it.
TApplicationInfo &ApplicationInfo();

// "config.ini" in the program's folder.
std::string ConfigFilePath();

// Reads Homepage and HelpFile of the section ApplicationInfo from `configFile`
// into ApplicationInfo(). A missing file or key gives the default; a key that is
// present but empty gives "". Values are cut to 2047 characters.
void ReadApplicationInfo(const std::string &configFile);

struct OutputSize
{
    int width;
    int height;
};

// Frame sizes by video standard (0 NTSC, 1 PAL) and resolution (0 High,
// 1 Medium, 2 Low).
inline constexpr OutputSize OutputSizeTable[2][3] = {
    {{720, 480}, {352, 480}, {352, 240}},
    {{720, 576}, {352, 576}, {352, 288}},
};

// Any standard other than 0 is PAL; a resolution outside 0..2 is taken as High.
constexpr OutputSize OutputSizeFor(int standard, int resolution)
{
    const int row = standard == 0 ? 0 : 1;
    const int column = (resolution >= 0 && resolution <= 2) ? resolution : 0;
    return OutputSizeTable[row][column];
}

// The movie's frame size: the one chosen in `movie`, else the table's.
constexpr OutputSize MovieFrameSize(int standard, int resolution, const MovieOptions &movie)
{
    if (movie.width > 0 && movie.height > 0)
        return {movie.width, movie.height};
    return OutputSizeFor(standard, resolution);
}

// How wide a pixel of the frame shows for its height.
struct SampleAspect
{
    int num;
    int den;
};

// The six sizes of the table are television frames that show at 4:3, so their
// pixels are not square (720 × 480: 8:9, 720 × 576: 16:15, 352 × 480: 20:11,
// 352 × 576: 24:11, 352 × 240: 10:11, 352 × 288: 12:11); every other size
// has square pixels.
constexpr SampleAspect SampleAspectFor(OutputSize size)
{
    for (const auto &row : OutputSizeTable)
        for (const OutputSize &tv : row)
            if (tv.width == size.width && tv.height == size.height)
                // width × num / den : height = 4 : 3
                return {4 * size.height / std::gcd(4 * size.height, 3 * size.width),
                        3 * size.width / std::gcd(4 * size.height, 3 * size.width)};
    return {1, 1};
}

} // namespace quillon
