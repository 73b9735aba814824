// Owning holders for FFmpeg's C objects and the small conversions the filters
// share.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
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

// A layout that frees what it holds however the scope is left: a copy of a
// layout of custom order holds a channel map of its own.
struct OwnedLayout
{
    AVChannelLayout layout{};

    OwnedLayout() = default;
    OwnedLayout(const OwnedLayout &) = delete;
    OwnedLayout &operator=(const OwnedLayout &) = delete;
    ~OwnedLayout() { av_channel_layout_uninit(&layout); }
};

FramePtr NewFrame();   // raises std::bad_alloc
PacketPtr NewPacket(); // raises std::bad_alloc

// FFmpeg's text for an error code.
std::string AvError(int code);

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

// What a resampler that mixes into `out` channels (one or two) is given for
// sound decoded in `decoded`: a layout that names no channels (a plain WAV's)
// counts as the usual one of its count, up to 7.1; beyond, the usual layouts
// (16 channels, 22.2) have channels the mix leaves out, so such channels are
// folded by their order: `fold` is then the matrix for swr_set_matrix, row by
// output channel (empty when the resampler mixes by itself). `layout` may
// share `decoded`'s channel map.
struct SoundMix
{
    AVChannelLayout layout{};
    std::vector<double> fold;
};
SoundMix MixOf(const AVChannelLayout &decoded, int out);

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
