#include "platform/avs/picture.h"

#include "platform/avs/avs.h"
#include "platform/avs/demuxers.h"
#include "platform/jpeg/jpeg.h"
#include "platform/win32/bitmap_masks.h"
#include "platform/win32/files.h"
#include "platform/win32/large_memory.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace avs::picture {

namespace {

// Pictures are read into memory whole before FFmpeg sees them; nothing that
// large is a photo.
constexpr long long kMaxFileBytes = 1LL << 30;

[[noreturn]] void fail(const std::string &path, const std::string &reason)
{
    throw Error("Cannot read the picture \"" + path + "\": " + reason);
}

// Whether the thread's stop flag is set.
bool stopped()
{
    const std::atomic<bool> *stop = StopOn::flag();
    return stop && stop->load(std::memory_order_relaxed);
}

void throwIfStopped()
{
    if (stopped())
        throw Stopped();
}

std::string avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// An open file descriptor that is closed on every way out.
class File
{
public:
    explicit File(const std::string &path)
        : path_(path)
    {
        // A FIFO or a device could block or never end; only plain files are pictures.
        std::string reason;
        fd_ = win32::OpenInputFile(path, &reason);
        if (fd_ < 0)
            fail(path, reason);
        struct stat st
        {};
        if (::fstat(fd_, &st) != 0) {
            const int e = errno;
            ::close(fd_);
            fail(path, std::strerror(e));
        }
        size_ = st.st_size;
    }
    ~File() { ::close(fd_); }
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    long long size() const { return size_; }

    // Up to `count` bytes from the start; fewer only when the file is shorter.
    std::vector<std::uint8_t> readPrefix(std::size_t count)
    {
        std::vector<std::uint8_t> bytes(count);
        bytes.resize(readUpTo(bytes.data(), count, false));
        return bytes;
    }

    // The whole file; with `mayStop`, given up once the thread's stop flag is set.
    std::vector<std::uint8_t> readAll(bool mayStop)
    {
        checkWholeSize();
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size_));
        bytes.resize(readUpTo(bytes.data(), bytes.size(), mayStop));
        return bytes;
    }

    // Up to `count` bytes from the start into `into`, a few megabytes at a
    // time, with a look at the thread's stop flag between them when `mayStop`;
    // fewer only when the file is shorter.
    std::size_t readUpTo(std::uint8_t *into, std::size_t count, bool mayStop)
    {
        constexpr std::size_t kPiece = 8u << 20;
        std::size_t got = 0;
        while (got < count) {
            if (mayStop)
                throwIfStopped();
            const ssize_t n
                = ::pread(fd_, into + got, std::min(count - got, kPiece), static_cast<off_t>(got));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                fail(path_, std::strerror(errno));
            }
            if (n == 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        return got;
    }

    void checkWholeSize() const
    {
        if (size_ > kMaxFileBytes)
            fail(path_, "the file is too large");
    }

private:
    std::string path_;
    int fd_ = -1;
    long long size_ = 0;
};

std::uint32_t le16(const std::uint8_t *p)
{
    return p[0] | (p[1] << 8);
}

std::uint32_t le32(const std::uint8_t *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint32_t be32(const std::uint8_t *p)
{
    return (static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

Format sniff(const std::vector<std::uint8_t> &head)
{
    static const std::uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
        return Format::Jpeg;
    if (head.size() >= 2 && head[0] == 'B' && head[1] == 'M')
        return Format::Bmp;
    if (head.size() >= 8 && std::memcmp(head.data(), png, 8) == 0)
        return Format::Png;
    return Format::Other;
}

// The size from a BMP or PNG header, or false when the header is not one that
// can be trusted without decoding (the decoder then says what is wrong).
bool headerSize(Format format, const std::vector<std::uint8_t> &h, long long &w, long long &ht)
{
    if (format == Format::Bmp && h.size() >= 26) {
        const std::uint32_t dib = le32(&h[14]);
        if (dib == 12) {
            w = le16(&h[18]);
            ht = le16(&h[20]);
        } else if (dib >= 40 && dib <= 124) {
            w = static_cast<std::int32_t>(le32(&h[18]));
            ht = static_cast<std::int32_t>(le32(&h[22]));
            if (ht < 0)
                ht = -ht; // rows stored top-down
        } else {
            return false;
        }
        return w > 0 && ht > 0;
    }
    if (format == Format::Png && h.size() >= 24 && std::memcmp(&h[12], "IHDR", 4) == 0) {
        w = be32(&h[16]);
        ht = be32(&h[20]);
        return w > 0 && ht > 0;
    }
    return false;
}

// --- FFmpeg -------------------------------------------------------------------

struct MemoryInput
{
    const std::uint8_t *data;
    std::int64_t size;
    std::int64_t pos = 0;
};

int readPacket(void *opaque, std::uint8_t *buf, int bufSize)
{
    auto *in = static_cast<MemoryInput *>(opaque);
    if (stopped())
        return AVERROR_EXIT;
    const std::int64_t left = in->size - in->pos;
    if (left <= 0)
        return AVERROR_EOF;
    const int n = static_cast<int>(std::min<std::int64_t>(left, bufSize));
    std::memcpy(buf, in->data + in->pos, static_cast<std::size_t>(n));
    in->pos += n;
    return n;
}

std::int64_t seekPacket(void *opaque, std::int64_t offset, int whence)
{
    auto *in = static_cast<MemoryInput *>(opaque);
    std::int64_t to;
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return in->size;
    case SEEK_SET:
        to = offset;
        break;
    case SEEK_CUR:
        to = in->pos + offset;
        break;
    case SEEK_END:
        to = in->size + offset;
        break;
    default:
        return AVERROR(EINVAL);
    }
    if (to < 0 || to > in->size)
        return AVERROR(EINVAL);
    in->pos = to;
    return to;
}

struct IoDeleter
{
    void operator()(AVIOContext *io) const
    {
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }
};
struct FormatDeleter
{
    void operator()(AVFormatContext *f) const { avformat_close_input(&f); }
};
struct CodecDeleter
{
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameDeleter
{
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter
{
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct SwsDeleter
{
    void operator()(SwsContext *s) const { sws_freeContext(s); }
};

// Converts the decoded picture to BGR a strip of rows at a time, so that no
// second whole picture is ever held. Each strip is worked out from the whole
// source, as the scaler's own slice threads do, so the rows come out as one
// conversion of the whole picture would make them.
void convertInStrips(const std::string &path, SwsContext *convert, AVFrame *frame, Sink &sink)
{
    const int width = frame->width;
    const int height = frame->height;
    const int stride = FFALIGN(width * 3, 32);
    // About a megabyte a strip, in whole steps of the rows the scaler can start at.
    const int align = std::max(1, static_cast<int>(sws_receive_slice_alignment(convert)));
    const int wanted = std::clamp((1 << 20) / stride, 16, 256);
    const int rows = std::min((wanted + align - 1) / align * align, height);
    std::vector<std::uint8_t> strip(static_cast<std::size_t>(stride) * rows + 32);
    AVBufferRef *buffer = av_buffer_create(
        strip.data(), static_cast<int>(strip.size()), [](void *, std::uint8_t *) {}, nullptr, 0);
    std::unique_ptr<AVFrame, FrameDeleter> out(av_frame_alloc());
    if (!buffer || !out) {
        av_buffer_unref(&buffer);
        fail(path, "out of memory");
    }
    out->buf[0] = buffer;
    out->width = width;
    out->height = height;
    out->format = AV_PIX_FMT_BGR24;
    out->linesize[0] = stride;
    for (int top = 0; top < height; top += rows) {
        throwIfStopped();
        const int count = std::min(rows, height - top);
        // The scaler writes row y at data[0] + y * linesize: this strip's first
        // row is to land at the start of the buffer.
        out->data[0]
            = reinterpret_cast<std::uint8_t *>(reinterpret_cast<std::uintptr_t>(strip.data())
                                               - static_cast<std::uintptr_t>(top) * stride);
        int rc = sws_frame_start(convert, out.get(), frame);
        if (rc >= 0)
            rc = sws_send_slice(convert, 0, static_cast<unsigned>(height));
        if (rc >= 0)
            rc = sws_receive_slice(convert, static_cast<unsigned>(top),
                                   static_cast<unsigned>(count));
        sws_frame_end(convert);
        if (rc < 0)
            fail(path, avError(rc));
        for (int y = 0; y < count; ++y)
            sink.row(top + y, strip.data() + static_cast<std::size_t>(y) * stride);
    }
}

// FFmpeg decodes a picture whole, and the receiver of its rows holds it whole
// at full size too. Both are drawn from the budget that progressive JPEGs
// share, when the decoder asks for the picture's memory, so that pictures of a
// few bytes that claim hundreds of megapixels are not decoded side by side.
struct PictureShare
{
    jpeg::WholePictureShare share;
    bool handedOver = true; // the rows go to a receiver

    static int getBuffer(AVCodecContext *ctx, AVFrame *frame, int flags)
    {
        auto *self = static_cast<PictureShare *>(ctx->opaque);
        const AVPixFmtDescriptor *format
            = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
        if (!self->share.taken() && format && frame->width > 0 && frame->height > 0) {
            const std::size_t pixels = static_cast<std::size_t>(frame->width) * frame->height;
            const std::size_t bits = static_cast<std::size_t>(av_get_padded_bits_per_pixel(format));
            self->share.take(pixels * bits / 8 + (self->handedOver ? pixels * 3 : 0));
        }
        return largeBuffer(ctx, frame) ? 0 : avcodec_default_get_buffer2(ctx, frame, flags);
    }

    // A large picture in a block of its own (see AllocateLarge), cleared as the
    // decoders' own buffers are: a run-length bitmap leaves the pixels it skips
    // as they were. False for a small picture, or one this cannot lay out.
    static bool largeBuffer(AVCodecContext *ctx, AVFrame *frame)
    {
        const auto format = static_cast<AVPixelFormat>(frame->format);
        const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
        if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL) || frame->width <= 0
            || frame->height <= 0)
            return false;
        int width = frame->width;
        int height = frame->height;
        int align[AV_NUM_DATA_POINTERS] = {};
        avcodec_align_dimensions2(ctx, &width, &height, align);
        int linesize[4] = {};
        if (av_image_fill_linesizes(linesize, format, width) < 0)
            return false;
        ptrdiff_t strides[4] = {};
        for (int i = 0; i < 4; ++i) {
            linesize[i] = FFALIGN(linesize[i], 64);
            strides[i] = linesize[i];
        }
        std::size_t planes[4] = {};
        if (av_image_fill_plane_sizes(planes, format, height, strides) < 0)
            return false;
        std::size_t total = 0;
        for (const std::size_t size : planes)
            total += FFALIGN(size, 64);
        constexpr std::size_t kOverread = 256; // what vector code may read past the end
        if (total < win32::kLargeBlock)
            return false;
        std::uint8_t *block = win32::AllocateLarge(total + kOverread);
        if (!block)
            return false;
        AVBufferRef *buffer = av_buffer_create(
            block, total + kOverread, [](void *, std::uint8_t *data) { win32::FreeLarge(data); },
            nullptr, 0);
        if (!buffer) {
            win32::FreeLarge(block);
            return false;
        }
        frame->buf[0] = buffer;
        std::uint8_t *at = block;
        for (int i = 0; i < 4; ++i) {
            frame->linesize[i] = linesize[i];
            frame->data[i] = planes[i] ? at : nullptr;
            at += FFALIGN(planes[i], 64);
        }
        frame->extended_data = frame->data;
        return true;
    }
};

// The decoder, with one thread (so no frame threads: FFmpeg would warn about
// the callback) and the picture's memory drawn from `share`.
std::unique_ptr<AVCodecContext, CodecDeleter> openDecoder(const std::string &path,
                                                          const AVCodec *codec,
                                                          const AVCodecParameters *par,
                                                          PictureShare &share)
{
    if (!codec)
        fail(path, "there is no decoder for its type");
    std::unique_ptr<AVCodecContext, CodecDeleter> ctx(avcodec_alloc_context3(codec));
    if (!ctx)
        fail(path, "out of memory");
    if (par)
        if (int rc = avcodec_parameters_to_context(ctx.get(), par); rc < 0)
            fail(path, avError(rc));
    ctx->max_pixels = kMaxPixels;
    ctx->opaque = &share;
    ctx->get_buffer2 = PictureShare::getBuffer;
    ctx->thread_count = 1;
    ctx->thread_type = 0;
    if (int rc = avcodec_open2(ctx.get(), codec, nullptr); rc < 0)
        fail(path, avError(rc));
    return ctx;
}

// A bitmap whose header was read is one picture, the whole file: read straight
// into a packet of its own, it goes to the decoder as it is, where the demuxer
// would pass it through a parser a few kilobytes at a time and copy it twice
// more. Its declared file size is made the file's own, which the photo list's
// reader and most others ignore; the decoder would refuse a picture that
// declares 0 there.
std::unique_ptr<AVPacket, PacketDeleter> wholeBitmap(const std::string &path, File &file)
{
    file.checkWholeSize();
    const auto size = static_cast<std::size_t>(file.size());
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    std::uint8_t *block
        = packet ? win32::AllocateLarge(size + AV_INPUT_BUFFER_PADDING_SIZE) : nullptr;
    if (block)
        packet->buf = av_buffer_create(
            block, size + AV_INPUT_BUFFER_PADDING_SIZE,
            [](void *, std::uint8_t *data) { win32::FreeLarge(data); }, nullptr, 0);
    if (!packet || !packet->buf) {
        win32::FreeLarge(block);
        fail(path, "out of memory");
    }
    const std::size_t got = file.readUpTo(block, size, true);
    packet->data = block;
    packet->size = static_cast<int>(got);
    if (got >= 6)
        for (int i = 0; i < 4; ++i)
            packet->data[2 + i] = static_cast<std::uint8_t>(got >> (8 * i));
    return packet;
}

// Decodes the first picture of the file with whichever FFmpeg image decoder its
// content asks for. The file name plays no part, so a '%' in it is only a '%'.
// With `sizeOnly` the sink is told the size and gets no rows.
void decodeWithFfmpeg(const std::string &path, File &file, Format format, Sink &sink,
                      bool sizeOnly = false)
{
    // Given back after the codec context, and the frames it pools, are freed.
    PictureShare share;
    share.handedOver = !sizeOnly;
    std::unique_ptr<AVCodecContext, CodecDeleter> ctx;
    std::unique_ptr<AVFrame, FrameDeleter> frame(av_frame_alloc());
    if (!frame)
        fail(path, "out of memory");
    bool got = false;
    int lastError = 0;

    if (format == Format::Bmp) {
        std::unique_ptr<AVPacket, PacketDeleter> packet = wholeBitmap(path, file);
        ctx = openDecoder(path, avcodec_find_decoder(AV_CODEC_ID_BMP), nullptr, share);
        int rc = avcodec_send_packet(ctx.get(), packet.get());
        if (rc < 0 && rc != AVERROR(EAGAIN))
            lastError = rc;
        packet.reset();
        avcodec_send_packet(ctx.get(), nullptr);
        rc = avcodec_receive_frame(ctx.get(), frame.get());
        got = rc == 0;
        if (!got && rc != AVERROR_EOF && rc != AVERROR(EAGAIN))
            fail(path, avError(rc));
    } else {
        const std::vector<std::uint8_t> bytes = file.readAll(!sizeOnly);
        MemoryInput input{bytes.data(), static_cast<std::int64_t>(bytes.size())};

        constexpr int kIoBuffer = 64 * 1024;
        auto *ioBuffer = static_cast<std::uint8_t *>(av_malloc(kIoBuffer));
        if (!ioBuffer)
            fail(path, "out of memory");
        std::unique_ptr<AVIOContext, IoDeleter> io(
            avio_alloc_context(ioBuffer, kIoBuffer, 0, &input, readPacket, nullptr, seekPacket));
        if (!io) {
            av_free(ioBuffer);
            fail(path, "out of memory");
        }

        AVFormatContext *rawFormat = avformat_alloc_context();
        if (!rawFormat)
            fail(path, "out of memory");
        rawFormat->pb = io.get();
        rawFormat->flags |= AVFMT_FLAG_CUSTOM_IO;
        if (int rc = OpenInputAlone(&rawFormat, ""); rc < 0) {
            throwIfStopped();
            fail(path, avError(rc)); // and the context is freed
        }
        std::unique_ptr<AVFormatContext, FormatDeleter> demuxer(rawFormat);

        int streamIndex = -1;
        for (unsigned i = 0; i < demuxer->nb_streams; ++i)
            if (demuxer->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
                streamIndex = static_cast<int>(i);
                break;
            }
        if (streamIndex < 0)
            fail(path, "it is not a picture");
        const AVCodecParameters *par = demuxer->streams[streamIndex]->codecpar;
        ctx = openDecoder(path, avcodec_find_decoder(par->codec_id), par, share);

        std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
        if (!packet)
            fail(path, "out of memory");
        bool flushed = false;
        while (!got) {
            int rc = avcodec_receive_frame(ctx.get(), frame.get());
            if (rc == 0) {
                got = true;
                break;
            }
            if (rc == AVERROR_EOF)
                break;
            if (rc != AVERROR(EAGAIN))
                fail(path, avError(rc));
            if (flushed)
                break;
            rc = av_read_frame(demuxer.get(), packet.get());
            if (rc == AVERROR_EOF) {
                avcodec_send_packet(ctx.get(), nullptr);
                flushed = true;
                continue;
            }
            if (rc < 0) {
                throwIfStopped();
                fail(path, avError(rc));
            }
            if (packet->stream_index == streamIndex) {
                rc = avcodec_send_packet(ctx.get(), packet.get());
                if (rc < 0 && rc != AVERROR(EAGAIN))
                    lastError = rc;
            }
            av_packet_unref(packet.get());
        }
    }
    if (!got)
        fail(path, lastError ? avError(lastError) : "it holds no picture");
    throwIfStopped();

    const int width = frame->width;
    const int height = frame->height;
    CheckSize(path, width, height);
    sink.begin(width, height);
    if (sizeOnly)
        return;

    if (frame->format == AV_PIX_FMT_BGR24) {
        for (int y = 0; y < height; ++y) {
            if (y % 256 == 0)
                throwIfStopped();
            sink.row(y, frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0]);
        }
        return;
    }
    std::unique_ptr<SwsContext, SwsDeleter> convert(sws_getContext(
        width, height, static_cast<AVPixelFormat>(frame->format), width, height, AV_PIX_FMT_BGR24,
        SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr));
    if (!convert)
        fail(path, "its pixel format cannot be converted");
    convertInStrips(path, convert.get(), frame.get(), sink);
}

// A sink that only wants the size.
class SizeOnly : public Sink
{
public:
    void begin(int w, int h) override
    {
        width = w;
        height = h;
    }
    void row(int, const std::uint8_t *) override {}
    int width = 0;
    int height = 0;
};

void decodeJpeg(const std::string &path, const Info &info, int minWidth, int minHeight, Sink &sink)
{
    try {
        jpeg::Decoder decoder(path);
        decoder.setUpright(info.upright);
        if (decoder.outputWidth() != info.width || decoder.outputHeight() != info.height)
            fail(path, "the picture changed since the script was opened");
        if (minWidth > 0 || minHeight > 0)
            decoder.setMinimumOutputSize(minWidth, minHeight);
        decoder.setStop(StopOn::flag());
        sink.begin(decoder.outputWidth(), decoder.outputHeight());
        decoder.decode([&](int y, const std::uint8_t *bgr) { sink.row(y, bgr); });
    } catch (const jpeg::Stopped &) {
        throw Stopped();
    } catch (const jpeg::Error &e) {
        throw Error(e.what());
    }
}

} // namespace

Sink::~Sink() = default;

void CheckSize(const std::string &path, long long width, long long height)
{
    if (width <= 0 || height <= 0)
        fail(path, "it has no pixels");
    if (width > kMaxSide || height > kMaxSide || width * height > kMaxPixels)
        fail(path, "it is too large (" + std::to_string(width) + " x " + std::to_string(height)
                       + " pixels)");
}

long long CheckClaimedSize(const std::string &path)
{
    File file(path);
    const std::vector<std::uint8_t> head = file.readPrefix(32);
    long long w = 0, h = 0;
    if (!headerSize(sniff(head), head, w, h))
        return 0;
    CheckSize(path, w, h);
    return w * h;
}

Info ReadInfo(const std::string &path, bool upright)
{
    File file(path);
    // Enough for every header read here, a bitmap's colour masks included.
    const std::vector<std::uint8_t> head = file.readPrefix(win32::kBitmapMasksEnd);
    Info info;
    info.format = sniff(head);
    if (info.format == Format::Jpeg) {
        try {
            jpeg::Decoder decoder(path);
            decoder.setUpright(upright);
            info.width = decoder.outputWidth();
            info.height = decoder.outputHeight();
            info.upright = upright;
        } catch (const jpeg::Error &e) {
            throw Error(e.what());
        }
        CheckSize(path, info.width, info.height);
        return info;
    }
    long long w = 0, h = 0;
    if (headerSize(info.format, head, w, h)) {
        CheckSize(path, w, h);
        if (info.format == Format::Bmp && !win32::BitmapMasksReadable(head.data(), head.size()))
            fail(path, win32::kBitmapMasksUnreadable);
        info.width = static_cast<int>(w);
        info.height = static_cast<int>(h);
        return info;
    }
    if (head.empty())
        fail(path, "the file is empty");
    // Decoding is the only sure way to learn the size of the other types.
    info.format = Format::Other;
    SizeOnly size;
    decodeWithFfmpeg(path, file, info.format, size, true);
    info.width = size.width;
    info.height = size.height;
    return info;
}

void Decode(const std::string &path, const Info &info, int minWidth, int minHeight, Sink &sink)
{
    File file(path);
    if (info.format == Format::Jpeg) {
        decodeJpeg(path, info, minWidth, minHeight, sink);
        return;
    }
    // Checks the size before any row reaches the sink, which was sized for it.
    class Checked : public Sink
    {
    public:
        Checked(const std::string &path, const Info &info, Sink &inner)
            : path_(path)
            , info_(info)
            , inner_(inner)
        {}
        void begin(int w, int h) override
        {
            if (w != info_.width || h != info_.height)
                fail(path_, "the picture changed since the script was opened");
            inner_.begin(w, h);
        }
        void row(int y, const std::uint8_t *bgr) override { inner_.row(y, bgr); }

    private:
        const std::string &path_;
        const Info &info_;
        Sink &inner_;
    } checked(path, info, sink);
    decodeWithFfmpeg(path, file, info.format, checked);
}

} // namespace avs::picture
