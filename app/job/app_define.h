// Application definitions shared by the movie job: the temporary folder and the
// output size table.
#pragma once

#include <string>

namespace quillon {

// The system's temporary folder, ending in '/'.
std::string GetTempDirectory();

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

} // namespace quillon
