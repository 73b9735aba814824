// JPEG decoding on libjpeg-turbo. Every decoder error becomes a jpeg::Error (the
// library's default would end the process), memory is bounded so that a file
// that merely declares a huge size fails instead of allocating for it, and
// pixels come out as 24-bit BGR rows whatever the file's colour space
// (YCbCr, greyscale, RGB, CMYK, YCCK).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace jpeg {

class Error : public std::runtime_error
{
public:
    explicit Error(const std::string &message, int code = 0)
        : std::runtime_error(message)
        , code_(code)
    {}
    // The system's error number when the machine failed rather than the
    // picture (ENOMEM for memory, EMFILE and the like when the file could not
    // be opened); 0 for a picture that is damaged or no JPEG.
    int code() const { return code_; }

private:
    int code_ = 0;
};

// What decode() raises when the stop flag given to setStop() was found set.
struct Stopped
{};

struct Header
{
    int width = 0; // as stored, whatever the orientation says
    int height = 0;
    int components = 0;
    bool progressive = false;
    // The EXIF orientation, 1 to 8: how the stored picture must be turned and
    // mirrored to stand upright. 1 (as stored) when the file has no valid tag.
    int orientation = 1;
};

// The orientation tag (0x0112) of an EXIF block, the payload of an APP1 marker
// starting with "Exif\0\0"; 1 when the block holds no valid one.
int OrientationFromExif(const std::uint8_t *data, std::size_t size);

// How a picture of an orientation is turned upright, as where each upright
// pixel (x, y) is stored: at (y, x) when transposed, with the stored columns
// and rows counted from their far ends when flipped.
struct Turn
{
    bool transposed; // upright rows are stored columns
    bool flipX;      // the stored columns run right to left
    bool flipY;      // the stored rows run bottom to top
};

// The turn of orientation 1 to 8; none for any other number.
Turn TurnOf(int orientation);

// Whether pictures of that orientation stand on their side as stored, so that
// upright they are as wide as they are stored high.
inline bool TurnsOnItsSide(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

// Pixels of a decoded picture: BGR, top-down, rows `stride` bytes apart. The
// storage reaches at least kImageTail bytes past the last row, so SIMD code
// that loads a whole vector for a row's last pixels stays inside it.
inline constexpr std::size_t kImageTail = 64;
struct Image
{
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<std::uint8_t> pixels;
};

class Decoder
{
public:
    // Opens the file and reads its header. Raises Error naming the file and the
    // reason when it cannot be opened or is not a JPEG.
    explicit Decoder(const std::string &path);
    ~Decoder();
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    const Header &header() const;

    // With `upright`, decode() delivers the picture turned and mirrored as its
    // orientation tag says, and every size below (the output size and the
    // minimum asked for) is the upright one. Off until asked for.
    void setUpright(bool upright);

    // With a flag given, decode() of a progressive file looks at it while the
    // file's scans are taken in before the first row and between rows, and
    // raises Stopped once it is set. A baseline file delivers its rows as they
    // are read; its caller may give it up between them.
    void setStop(const std::atomic<bool> *stop);

    // Asks for the smallest DCT-scaled size (1/8 steps) that is still at least
    // minWidth × minHeight; 0 × 0 (the default) decodes at full size.
    void setMinimumOutputSize(int minWidth, int minHeight);
    // The size that decode() delivers, given the scaling asked for.
    int outputWidth() const;
    int outputHeight() const;

    // Decodes, handing each row in BGR to `row` (y from 0, top to bottom). Only a
    // few rows are held at a time, unless the picture is turned upright: all but
    // a mirrored one are then held whole at the output size. Raises Error on
    // corrupt or truncated data.
    void decode(const std::function<void(int y, const std::uint8_t *bgr)> &row);

    // Decodes the whole picture into an image whose rows are padded to `align`
    // bytes.
    Image decodeImage(int align = 4);

    // The most memory the decoder may use for one picture (its working buffers,
    // not the caller's image).
    static constexpr long kMemoryLimit = 768L * 1024 * 1024;
    // The file is read in pieces of this size.
    static constexpr std::size_t kReadBuffer = std::size_t{64} << 10;

    struct State;

private:
    void decodeStored(const std::function<void(int y, const std::uint8_t *bgr)> &row);

    std::unique_ptr<State> state_;
};

// Decodes a whole file at full size with rows padded to 4 bytes.
Image DecodeFile(const std::string &path);

// A picture of several scans (progressive, mostly) is held whole while it
// decodes, as DCT coefficients: two bytes a sample of the stored size, however
// small the output, so a file of a few hundred bytes may claim hundreds of
// megabytes. Every decoder of the process draws these buffers from one budget:
// a decode that would take the total past it waits in decode() until others
// have finished; one that alone needs more than the budget waits until it is
// the only one. Kept at Decoder::kMemoryLimit unless changed.
void SetWholePictureBudget(std::size_t bytes);
// What the decodes under way hold of that budget, and how many wait for it.
std::size_t WholePictureBytesInUse();
int WholePictureWaiters();

// A share of that budget for a picture that another decoder holds whole (the
// types other than JPEG are decoded whole by FFmpeg). take() waits as a JPEG
// decode does; the share is given back when the object ends.
class WholePictureShare
{
public:
    WholePictureShare() = default;
    ~WholePictureShare();
    WholePictureShare(const WholePictureShare &) = delete;
    WholePictureShare &operator=(const WholePictureShare &) = delete;

    // Once only: a holder that asked for more would wait for itself.
    void take(std::size_t bytes);
    bool taken() const { return taken_; }

private:
    std::size_t bytes_ = 0;
    bool taken_ = false;
};

} // namespace jpeg
