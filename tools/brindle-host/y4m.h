// A YUV4MPEG2 stream: the plainest form of raw video that players and encoders
// read from a pipe. 4:2:0, BT.601 studio range, square pixels, progressive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace brindlehost {

class Y4mWriter
{
public:
    // Writes nothing yet; the descriptor `out` stays the caller's. The stream
    // is written straight to it, never buffered.
    Y4mWriter(int out, int width, int height, int framesPerSecond);

    // The stream header, e.g. "YUV4MPEG2 W352 H240 F30:1 Ip A1:1 C420jpeg\n".
    std::string header() const;

    // Written before any frame, so that even a show without frames is a
    // stream a reader accepts. False when the write fails (errno tells why),
    // or when a stop signal came while a reader took no more (EINTR): the
    // rest is given up then.
    bool writeHeader();

    // Converts one BGR frame (rows `stride` bytes apart, top-down) and writes
    // it. False as writeHeader is; a frame given up is cut short.
    bool writeFrame(const std::uint8_t *bgr, int stride);

private:
    bool write(const std::uint8_t *bytes, std::size_t size);

    int out_;
    int width_;
    int height_;
    int framesPerSecond_;
    std::vector<std::uint8_t> frame_; // "FRAME\n" and the planes Y, Cb, Cr
};

} // namespace brindlehost
