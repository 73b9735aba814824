// Pictures made in the tests themselves: JPEG files of every kind the decoders
// meet, and plain BMP files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

struct Rgb
{
    std::uint8_t r, g, b;
};

// The colour of the pixel at (x, y).
using PixelFn = std::function<Rgb(int x, int y)>;

// Ycck: CMYK pixels stored as YCCK, as Photoshop saves CMYK photos.
enum class JpegKind { Baseline, Progressive, Greyscale, Cmyk, Ycck };

void WriteJpeg(const std::string &path, int width, int height, const PixelFn &pixel,
               JpegKind kind = JpegKind::Baseline, int quality = 95);

// A JPEG whose upright picture is `upright` (width × height), stored turned
// and mirrored as EXIF orientation `orientation` (1 to 8) says, with that tag
// in a big-endian EXIF block, as phones write it.
void WriteOrientedJpeg(const std::string &path, int width, int height, const PixelFn &upright,
                       int orientation);

// A picture that shows which way is up: four quadrants, red top left, green
// top right, blue bottom left, white bottom right, each a flat colour.
PixelFn Quadrants(int width, int height);
inline constexpr Rgb kQuadrantColours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

// 24-bit, bottom-up, rows padded to 4 bytes; with a header of 40 bytes, or of
// 56 (the masks, all 0, after the 40 bytes).
void WriteBmp24(const std::string &path, int width, int height, const PixelFn &pixel,
                std::uint32_t headerBytes = 40);

// A smooth, photo-like pattern that differs from seed to seed.
PixelFn Gradient(int seed = 0);
PixelFn Solid(Rgb colour);

// A PNG file read back as 8-bit RGB rows.
struct Png
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    Rgb at(int x, int y) const
    {
        const std::uint8_t *p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
        return {p[0], p[1], p[2]};
    }
};

// Throws std::runtime_error naming the file when it cannot be read.
Png ReadPng(const std::string &path);

} // namespace testsupport
