#include "platform/media/detail/ffmpeg.h"

#include "platform/avs/demuxers.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cerrno>
#include <new>
#include <sched.h>
#include <string_view>
#include <thread>

namespace media::detail {

int UsableCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void FreeCodecContext(AVCodecContext *c)
{
    // The SVT-AV1 library waits for ever when an encoder is closed before it
    // was told that the stream ended, and it cannot be told so before it has
    // had a picture: an unused one gets a black picture, then the end, and
    // what it still holds is drained.
    if (c && c->codec && av_codec_is_encoder(c->codec)
        && std::string_view(c->codec->name) == "libsvtav1") {
        if (c->frame_number == 0) {
            AVFrame *black = av_frame_alloc();
            if (black) {
                black->format = c->pix_fmt;
                black->width = c->width;
                black->height = c->height;
                if (av_frame_get_buffer(black, 0) >= 0) {
                    const std::ptrdiff_t lines[4] = {black->linesize[0], black->linesize[1],
                                                     black->linesize[2], black->linesize[3]};
                    av_image_fill_black(black->data, lines, c->pix_fmt, AVCOL_RANGE_MPEG, c->width,
                                        c->height);
                    avcodec_send_frame(c, black);
                }
                av_frame_free(&black);
            }
        }
        avcodec_send_frame(c, nullptr);
        if (AVPacket *packet = av_packet_alloc()) {
            while (avcodec_receive_packet(c, packet) >= 0)
                av_packet_unref(packet);
            av_packet_free(&packet);
        }
    }
    avcodec_free_context(&c);
}

FramePtr NewFrame()
{
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw std::bad_alloc();
    return frame;
}

PacketPtr NewPacket()
{
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        throw std::bad_alloc();
    return packet;
}

bool IsPcm(AVCodecID codec)
{
    const AVCodecDescriptor *d = avcodec_descriptor_get(codec);
    return d && std::string_view(d->name).starts_with("pcm_");
}

std::string AvError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

AVPixelFormat PixelLayout(AVPixelFormat format, bool *fullRange)
{
    *fullRange = true;
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        return AV_PIX_FMT_YUV444P;
    default:
        *fullRange = (av_pix_fmt_desc_get(format)->flags & AV_PIX_FMT_FLAG_RGB) != 0;
        return format;
    }
}

namespace {

// The mix of `in` channels of no known layout into `out` (one or two), row by
// output channel: into one, all of them; into two, the first, third... to the
// left and the second, fourth... to the right, as they come in pairs. Each at
// the mean, which cannot clip.
std::vector<double> Folding(int in, int out)
{
    std::vector<double> matrix(static_cast<std::size_t>(in) * out, 0.0);
    for (int o = 0; o < out; ++o) {
        const int count = out == 1 ? in : (in - o + 1) / 2;
        for (int i = o; i < in; i += out)
            matrix[static_cast<std::size_t>(o) * in + i] = 1.0 / count;
    }
    return matrix;
}

} // namespace

bool SoundShape::Fits(const AVFrame &frame) const
{
    return format_ == frame.format && rate_ == frame.sample_rate
           && av_channel_layout_compare(&layout_, &frame.ch_layout) == 0;
}

bool SoundShape::Take(const AVFrame &frame)
{
    format_ = frame.format;
    rate_ = frame.sample_rate;
    return av_channel_layout_copy(&layout_, &frame.ch_layout) >= 0;
}

SwrPtr SoundShape::NewResampler(int channels, AVSampleFormat format, int rate) const
{
    // A layout the mixer cannot take (a pair that is not front left and right,
    // such as rear or side stems) is mixed by the order of its channels, as
    // one that names none.
    const bool named = layout_.order != AV_CHANNEL_ORDER_UNSPEC;
    if (SwrPtr made = NewResampler(channels, format, rate, named); made || !named)
        return made;
    return NewResampler(channels, format, rate, false);
}

SwrPtr SoundShape::NewResampler(int channels, AVSampleFormat format, int rate, bool byName) const
{
    AVChannelLayout from = layout_;
    if (!byName) {
        from = AVChannelLayout{};
        from.order = AV_CHANNEL_ORDER_UNSPEC;
        from.nb_channels = layout_.nb_channels;
        // WAV's own order of three channels ends in the centre, not in the
        // low-frequency channel of FFmpeg's usual layout of three.
        if (from.nb_channels == 3)
            from = AV_CHANNEL_LAYOUT_SURROUND;
        else if (from.nb_channels <= 8)
            av_channel_layout_default(&from, from.nb_channels);
    }
    // Channels that no layout names cannot be mixed by where they stand.
    const std::vector<double> fold
        = from.order == AV_CHANNEL_ORDER_UNSPEC && from.nb_channels != channels
              ? Folding(from.nb_channels, channels)
              : std::vector<double>{};
    AVChannelLayout to{};
    av_channel_layout_default(&to, channels);
    SwrContext *raw = nullptr;
    if (swr_alloc_set_opts2(&raw, &to, format, rate, &from, static_cast<AVSampleFormat>(format_),
                            rate_, 0, nullptr)
            < 0
        || (!fold.empty() && swr_set_matrix(raw, fold.data(), from.nb_channels) < 0)
        // A mix of many channels into few is scaled so that it cannot clip,
        // as it is into whole numbers; in floating point it is not by itself.
        || av_opt_set_double(raw, "rematrix_maxval", 1.0, 0) < 0 || swr_init(raw) < 0) {
        swr_free(&raw);
        return nullptr;
    }
    return SwrPtr(raw);
}

std::string SoundShapeRefusal(const std::string &path, int sampleRate, int channels)
{
    // The highest rate studio recorders write, and the most channels of any layout.
    constexpr int kHighestRate = 768000;
    constexpr int kMostChannels = 64;
    // Below this nothing is audible, and bringing it up to a usual rate costs
    // memory out of all proportion to the file (gigabytes at 1 Hz).
    constexpr int kLowestRate = 1000;
    if (sampleRate <= 0 || channels <= 0)
        return "\"" + path + "\" has no sound that can be played";
    if (sampleRate < kLowestRate)
        return "\"" + path + "\" claims " + std::to_string(sampleRate)
               + " samples a second, fewer than any sound has (at least "
               + std::to_string(kLowestRate) + ")";
    if (sampleRate > kHighestRate || channels > kMostChannels)
        return "\"" + path + "\" claims " + std::to_string(sampleRate) + " samples a second in "
               + std::to_string(channels) + " channels, which no sound has";
    return {};
}

bool OpenForDecoding(const std::string &name, const std::string &path, OpenSound *sound,
                     std::string *reason)
{
    AVFormatContext *raw = nullptr;
    int ret = avs::OpenInputAlone(&raw, name.c_str());
    if (ret < 0) {
        *reason = "Cannot open \"" + path + "\": " + AvError(ret);
        return false;
    }
    sound->input.reset(raw);
    if ((ret = avformat_find_stream_info(raw, nullptr)) < 0) {
        *reason = "Cannot read \"" + path + "\": " + AvError(ret);
        return false;
    }
    const AVCodec *codec = nullptr;
    ret = av_find_best_stream(raw, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (ret < 0 || !codec) {
        *reason = "\"" + path + "\" has no sound that can be played";
        return false;
    }
    sound->stream = ret;
    const AVStream *stream = raw->streams[ret];
    sound->decoder.reset(avcodec_alloc_context3(codec));
    if (!sound->decoder
        || avcodec_parameters_to_context(sound->decoder.get(), stream->codecpar) < 0) {
        *reason = "Out of memory";
        return false;
    }
    sound->decoder->pkt_timebase = stream->time_base;
    if ((ret = avcodec_open2(sound->decoder.get(), codec, nullptr)) < 0) {
        *reason = "Cannot decode the sound of \"" + path + "\": " + AvError(ret);
        return false;
    }
    *reason = SoundShapeRefusal(path, sound->decoder->sample_rate,
                                sound->decoder->ch_layout.nb_channels);
    return reason->empty();
}

HRESULT ErrnoToHresult(int error)
{
    switch (error) {
    case 0:
        return E_FAIL;
    case ENOENT:
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case ENAMETOOLONG:
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    case ENOMEM:
        return E_OUTOFMEMORY;
    case EIO:
        return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    default:
        return E_FAIL;
    }
}

HRESULT AvErrorToHresult(int code)
{
    if (code == AVERROR(ENOMEM))
        return E_OUTOFMEMORY;
    if (code < 0 && code > -4096)
        return ErrnoToHresult(AVUNERROR(code));
    return E_FAIL;
}

} // namespace media::detail
