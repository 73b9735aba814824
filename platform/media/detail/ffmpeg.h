// Owning holders for FFmpeg's C objects and the small conversions the filters
// share.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "platform/media/com.h"

#include <memory>
#include <string>
#include <vector>

namespace media::detail {

struct FrameDeleter
{
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter
{
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
// Frees a codec context; an encoder that must be drained first is.
void FreeCodecContext(AVCodecContext *c);

struct CodecContextDeleter
{
    void operator()(AVCodecContext *c) const { FreeCodecContext(c); }
};
struct CodecParametersDeleter
{
    void operator()(AVCodecParameters *p) const { avcodec_parameters_free(&p); }
};
struct InputContextDeleter
{
    void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};
struct SwsDeleter
{
    void operator()(SwsContext *c) const { sws_freeContext(c); }
};
struct BufferPoolDeleter
{
    void operator()(AVBufferPool *p) const { av_buffer_pool_uninit(&p); }
};

using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using CodecParametersPtr = std::unique_ptr<AVCodecParameters, CodecParametersDeleter>;
using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using BufferPoolPtr = std::unique_ptr<AVBufferPool, BufferPoolDeleter>;

struct SwrDeleter
{
    void operator()(SwrContext *c) const { swr_free(&c); }
};
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

// The sample format, rate and channel layout of decoded sound: what a
// resampler was made for. A file may change them midway (two recordings
// joined), and its later frames then need a resampler of their own.
class SoundShape
{
public:
    SoundShape() = default;
    SoundShape(const SoundShape &) = delete;
    SoundShape &operator=(const SoundShape &) = delete;
    // A copy of a layout of custom order holds a channel map of its own.
    ~SoundShape() { av_channel_layout_uninit(&layout_); }

    // Whether `frame` is of this shape; never before the first Take. The layout
    // is compared as the decoder gave it.
    bool Fits(const AVFrame &frame) const;
    // Takes `frame`'s shape; false when the copy of its layout found no memory.
    bool Take(const AVFrame &frame);

    // A resampler from sound of this shape to `channels` channels (one or two)
    // of `format` at `rate`, or null when none can be made. A layout that names
    // no channels (a plain WAV's) counts as the usual one of its count, up to
    // 7.1 (three channels as left, right and centre, WAV's order); beyond, the
    // usual layouts (16 channels, 22.2) have channels the mix leaves out, so
    // such channels are folded by their order, the odd ones to the left and
    // the even ones to the right. So is a layout the mixer refuses. A mix into
    // fewer channels is scaled so that it cannot clip.
    SwrPtr NewResampler(int channels, AVSampleFormat format, int rate) const;

private:
    // `byName`: the channels as the layout names them; else by their order.
    SwrPtr NewResampler(int channels, AVSampleFormat format, int rate, bool byName) const;

    AVChannelLayout layout_{};
    int format_ = AV_SAMPLE_FMT_NONE;
    int rate_ = 0;
};

// The layout swscale writes for a full-range ("J") format, and whether the
// levels are full range (the J formats' and RGB's).
AVPixelFormat PixelLayout(AVPixelFormat format, bool *fullRange);

FramePtr NewFrame();   // raises std::bad_alloc
PacketPtr NewPacket(); // raises std::bad_alloc

// FFmpeg's text for an error code.
std::string AvError(int code);

// Whether `codec` is one of the plain PCM sample codings ("pcm_...").
bool IsPcm(AVCodecID codec);

// A file's sound stream, opened for decoding.
struct OpenSound
{
    InputContextPtr input;
    CodecContextPtr decoder;
    int stream = -1;
};

// Whether a sound stream's rate and channels are ones a sound has: a header
// that claims a hundred million samples a second would cost gigabytes of
// buffers before any sound was heard. "" when they are, else why not.
std::string SoundShapeRefusal(const std::string &path, int sampleRate, int channels);

// Opens the best sound stream of the file that FFmpeg opens by `name` (a
// /proc/self/fd name for a file opened as a plain file beforehand); `path` is
// the name given in `reason`, the text for the user, on failure.
bool OpenForDecoding(const std::string &name, const std::string &path, OpenSound *sound,
                     std::string *reason);

// Whether a decoder refused a packet for what it holds, as players pass over
// such a packet; only a want of memory is not the data's fault.
inline bool RefusedForItsData(int ret)
{
    return ret < 0 && ret != AVERROR(EAGAIN) && ret != AVERROR_EOF && ret != AVERROR(ENOMEM);
}

// Refusals one after another without a packet sent between them: a decoder
// that keeps refusing is stuck, not skipping.
constexpr int kMostRefusalsInARow = 64;

// An FFmpeg error as an HRESULT: out of memory, a file error by its errno, else
// E_FAIL.
HRESULT AvErrorToHresult(int code);

// An errno value as an HRESULT of the matching Win32 error.
HRESULT ErrnoToHresult(int error);

// The cores this process may run on (its CPU affinity, as taskset or a
// container sets it), at least 1.
int UsableCores();

constexpr AVRational kReferenceTimeBase{1, 10000000};

// A timestamp in `base` as 100-nanosecond units.
inline REFERENCE_TIME ToReferenceTime(std::int64_t ts, AVRational base)
{
    return av_rescale_q(ts, base, kReferenceTimeBase);
}

} // namespace media::detail
