// Reading the pictures that ImageSource shows: JPEG through libjpeg-turbo (which
// can shrink while it decodes), every other type through FFmpeg's image decoders.
// Errors are avs::Error naming the file and the reason.
#pragma once

#include <cstdint>
#include <string>

namespace avs::picture {

enum class Format { Jpeg, Bmp, Png, Other };

struct Info
{
    int width = 0; // upright, when the picture is turned upright
    int height = 0;
    Format format = Format::Other;
    bool upright = false; // a JPEG turned as its orientation tag says
};

// The largest picture that is read at all; a file that claims more is refused
// before anything is allocated for it.
constexpr int kMaxSide = 32767;
constexpr long long kMaxPixels = 1LL << 28;

// Refuses a picture of width × height that is not read at all: one without
// pixels ("it has no pixels") or past the limits above ("it is too large (W x H
// pixels)"). Raises avs::Error naming the file.
void CheckSize(const std::string &path, long long width, long long height);
// The same for the size that a BMP's or PNG's header claims, before anything is
// decoded; a header that cannot be trusted without decoding passes. The pixels
// it claims, 0 when it tells none.
long long CheckClaimedSize(const std::string &path);

// What a clip must know before its first frame: the picture's size, upright
// when `upright` asks for a JPEG's orientation tag to be followed. JPEG, BMP
// and PNG are read only as far as their headers; other types are decoded once
// and the pixels dropped.
Info ReadInfo(const std::string &path, bool upright);

// Receives a decoded picture: begin() with its size, then every row, top to
// bottom, as 24-bit BGR.
class Sink
{
public:
    virtual ~Sink();
    virtual void begin(int width, int height) = 0;
    virtual void row(int y, const std::uint8_t *bgr) = 0;
};

// Decodes the picture and checks that it still has the size that `info` says.
// A JPEG comes out at the smallest DCT-scaled size (n/8) that still covers
// minWidth × minHeight; 0 × 0, and every other type, at full size. Sizes are
// those of the picture as `info` has it, upright or not.
void Decode(const std::string &path, const Info &info, int minWidth, int minHeight, Sink &sink);

} // namespace avs::picture
