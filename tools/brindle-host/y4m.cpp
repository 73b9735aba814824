#include "y4m.h"

#include "tools/stop_signals.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace brindlehost {

namespace {

// ITU-R BT.601 in 8-bit integer form, studio range (Y 16..235, Cb/Cr 16..240).
std::uint8_t lumaOf(int r, int g, int b)
{
    return static_cast<std::uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}

std::uint8_t blueDifferenceOf(int r, int g, int b)
{
    return static_cast<std::uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
}

std::uint8_t redDifferenceOf(int r, int g, int b)
{
    return static_cast<std::uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

} // namespace

Y4mWriter::Y4mWriter(int out, int width, int height, int framesPerSecond)
    : out_(out)
    , width_(width)
    , height_(height)
    , framesPerSecond_(framesPerSecond)
{}

std::string Y4mWriter::header() const
{
    return "YUV4MPEG2 W" + std::to_string(width_) + " H" + std::to_string(height_) + " F"
           + std::to_string(framesPerSecond_) + ":1 Ip A1:1 C420jpeg\n";
}

// A reader that keeps a pipe open but reads nothing holds a write to it for
// as long as it likes. A stop signal (caught without SA_RESTART) ends such a
// write early, with what was written so far or EINTR; the rest is then given
// up, where stdio would write on and wait for the reader again.
bool Y4mWriter::write(const std::uint8_t *bytes, std::size_t size)
{
    while (size > 0) {
        // A signal that came since the last write is seen before the next one
        // can wait on the reader (only one that lands in between the two goes
        // unseen until the reader reads or a second signal comes).
        if (toolsignals::stopSignal) {
            errno = EINTR;
            return false;
        }
        const ssize_t written = ::write(out_, bytes, size);
        if (written < 0 && errno != EINTR)
            return false;
        if (written > 0) {
            bytes += written;
            size -= static_cast<std::size_t>(written);
        }
        if (size > 0 && toolsignals::stopSignal) {
            errno = EINTR;
            return false;
        }
    }
    return true;
}

bool Y4mWriter::writeHeader()
{
    const std::string text = header();
    return write(reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
}

bool Y4mWriter::writeFrame(const std::uint8_t *bgr, int stride)
{
    // Odd sizes round the chroma planes up; the last column or row then
    // averages only the pixels that exist.
    const int chromaWidth = (width_ + 1) / 2;
    const int chromaHeight = (height_ + 1) / 2;
    const std::size_t lumaSize = static_cast<std::size_t>(width_) * height_;
    const std::size_t chromaSize = static_cast<std::size_t>(chromaWidth) * chromaHeight;
    static constexpr char kFrame[] = "FRAME\n";
    constexpr std::size_t kFrameSize = sizeof kFrame - 1;
    frame_.resize(kFrameSize + lumaSize + 2 * chromaSize);
    std::memcpy(frame_.data(), kFrame, kFrameSize);
    std::uint8_t *y = frame_.data() + kFrameSize;
    std::uint8_t *cb = y + lumaSize;
    std::uint8_t *cr = cb + chromaSize;

    for (int row = 0; row < height_; ++row) {
        const std::uint8_t *p = bgr + static_cast<std::size_t>(row) * stride;
        for (int x = 0; x < width_; ++x, p += 3)
            y[static_cast<std::size_t>(row) * width_ + x] = lumaOf(p[2], p[1], p[0]);
    }
    for (int cy = 0; cy < chromaHeight; ++cy)
        for (int cx = 0; cx < chromaWidth; ++cx) {
            int r = 0, g = 0, b = 0, n = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    const int px = 2 * cx + dx, py = 2 * cy + dy;
                    if (px >= width_ || py >= height_)
                        continue;
                    const std::uint8_t *p = bgr + static_cast<std::size_t>(py) * stride + px * 3;
                    b += p[0];
                    g += p[1];
                    r += p[2];
                    ++n;
                }
            r = (r + n / 2) / n;
            g = (g + n / 2) / n;
            b = (b + n / 2) / n;
            const std::size_t at = static_cast<std::size_t>(cy) * chromaWidth + cx;
            cb[at] = blueDifferenceOf(r, g, b);
            cr[at] = redDifferenceOf(r, g, b);
        }

    return write(frame_.data(), frame_.size());
}

} // namespace brindlehost
