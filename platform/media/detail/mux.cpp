// The multiplexers, on libavformat's muxers: AVI (which moves on to OpenDML
// RIFF chunks when the file outgrows the first gigabyte), MP4, Matroska and
// WebM. Each always has one free input pin. It takes the next packet from
// whichever input is earliest in time, so that streams interleave in the file
// and no input runs far ahead.
//
// A repeat (an empty packet: the picture before it shown again) stays an empty
// chunk in AVI, which has no timestamps. MP4 and Matroska have them: a repeat
// is simply left out, and the picture before it lasts until the next one. The
// compressor codes the last frame of every held stretch and of the movie, so a
// player that counts frames at a constant rate counts every frame, and the last
// one lasts one frame.
#include "platform/media/detail/file_writer.h"
#include "platform/media/detail/filters.h"

extern "C" {
#include <libavutil/crc.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace media::detail {

namespace {

constexpr int kIoBufferSize = 1 << 20;

struct Format
{
    const char16_t *filterName;
    const char16_t *outputName;
    const char *muxer; // libavformat's name
    AVCodecID audio;   // the sound's codec; PCM stands for any PCM
    bool timestamps;   // repeats can be left out
};

const Format &FormatOf(Container container)
{
    static const Format kAvi{u"AVI Mux", u"AVI Out", "avi", AV_CODEC_ID_PCM_S16LE, false};
    static const Format kMp4{u"MP4 Mux", u"MP4 Out", "mp4", AV_CODEC_ID_AAC, true};
    static const Format kMatroska{u"Matroska Mux", u"Matroska Out", "matroska", AV_CODEC_ID_AAC,
                                  true};
    static const Format kWebM{u"WebM Mux", u"WebM Out", "webm", AV_CODEC_ID_OPUS, true};
    switch (container) {
    case Container::Mp4:
        return kMp4;
    case Container::Matroska:
        return kMatroska;
    case Container::WebM:
        return kWebM;
    case Container::Avi:
        break;
    }
    return kAvi;
}

// Whether a PCM stream's blocks each hold one sample of every channel, as its
// header is copied into the movie: a WAV whose header says otherwise made a
// movie that declared 8 s of sound for 2 s, which players could not play. Such
// a file goes through the decoder instead.
bool PcmBlocksFit(const MediaType &type)
{
    if (!type.audio)
        return true;
    const int bits = av_get_bits_per_sample(type.codec);
    return bits > 0 && bits % 8 == 0
           && type.audio->block_align == type.audio->ch_layout.nb_channels * (bits / 8);
}

// --- Matroska's CodecDelay --------------------------------------------------
//
// An AAC encoder's first 1,024 samples only prime it. MP4 says so in an edit
// list; Matroska in the track's CodecDelay element, which players take from
// every timestamp of the track, whose packets themselves start at 0. The
// muxer of libavformat 59 writes CodecDelay for Opus alone, so it is added to
// the track's entry once the file is complete, in room the entry already has:
// the muxer writes each TrackEntry's size on eight bytes, where one holds it
// up to 126, and the seven bytes over take the element. Nothing else in the
// file moves; the CRC-32 of the Tracks element is made anew.

namespace ebml {

constexpr std::uint32_t kEbmlHeader = 0x1A45DFA3;
constexpr std::uint32_t kSegment = 0x18538067;
constexpr std::uint32_t kTracks = 0x1654AE6B;
constexpr std::uint32_t kCluster = 0x1F43B675;
constexpr std::uint32_t kCrc32 = 0xBF;
constexpr std::uint32_t kTrackEntry = 0xAE;
constexpr std::uint32_t kTrackNumber = 0xD7;
constexpr std::uint32_t kCodecDelay = 0x56AA;

struct Element
{
    std::uint32_t id = 0;
    std::size_t at = 0;     // where the element starts
    std::size_t data = 0;   // where its contents start
    std::uint64_t size = 0; // of its contents
    std::size_t sizeLength = 0;
    bool unknownSize = false; // a Segment still being written
};

// The element at `at`, when its header lies within `bytes`.
std::optional<Element> At(const std::vector<std::uint8_t> &bytes, std::size_t at)
{
    // A variable-length number: its length is told by the first byte's
    // leading zeros, and the id keeps its length marker while a size drops it.
    const auto number
        = [&](std::size_t i, bool keepMarker, std::uint64_t *value, std::size_t *length) {
              if (i >= bytes.size() || bytes[i] == 0)
                  return false;
              std::size_t n = 1;
              while (!(bytes[i] & (0x80 >> (n - 1))))
                  ++n;
              if (i + n > bytes.size())
                  return false;
              std::uint64_t v = keepMarker ? bytes[i] : bytes[i] & (0xFF >> n);
              for (std::size_t k = 1; k < n; ++k)
                  v = v << 8 | bytes[i + k];
              *value = v;
              *length = n;
              return true;
          };
    Element e;
    e.at = at;
    std::uint64_t id = 0;
    std::size_t idLength = 0;
    if (!number(at, true, &id, &idLength) || idLength > 4
        || !number(at + idLength, false, &e.size, &e.sizeLength))
        return std::nullopt;
    e.id = static_cast<std::uint32_t>(id);
    e.data = at + idLength + e.sizeLength;
    e.unknownSize = e.size == (std::uint64_t{1} << (7 * e.sizeLength)) - 1;
    return e;
}

std::uint32_t Crc32(const std::uint8_t *data, std::size_t size)
{
    return av_crc(av_crc_get_table(AV_CRC_32_IEEE_LE), UINT32_MAX, data, size) ^ UINT32_MAX;
}

// Sets CodecDelay to `nanoseconds` in the entry of track `track` in `header`
// (the file's start, through its Tracks), changing bytes of the Tracks element
// alone. False, and `header` as it was, when the file is not laid out as the
// muxer lays it out or the entry has a CodecDelay already.
bool AddCodecDelay(std::vector<std::uint8_t> &header, std::uint64_t track,
                   std::uint32_t nanoseconds)
{
    auto e = At(header, 0);
    if (!e || e->id != kEbmlHeader)
        return false;
    e = At(header, e->data + e->size);
    if (!e || e->id != kSegment)
        return false;
    // The Segment's first children, up to the Tracks.
    std::size_t at = e->data;
    for (;;) {
        e = At(header, at);
        if (!e || e->id == kCluster || e->unknownSize || e->data + e->size > header.size())
            return false;
        if (e->id == kTracks)
            break;
        at = e->data + e->size;
    }
    const Element tracks = *e;
    const std::size_t end = tracks.data + tracks.size;
    std::optional<Element> crc;
    for (at = tracks.data; at < end; at = e->data + e->size) {
        e = At(header, at);
        if (!e || e->unknownSize || e->data + e->size > end)
            return false;
        if (e->id == kCrc32 && at == tracks.data && e->size == 4)
            crc = e;
        if (e->id != kTrackEntry)
            continue;
        const Element entry = *e;
        bool ours = false;
        for (std::size_t in = entry.data; in < entry.data + entry.size;) {
            const auto child = At(header, in);
            if (!child || child->data + child->size > entry.data + entry.size)
                return false;
            if (child->id == kCodecDelay)
                return false;
            if (child->id == kTrackNumber && child->size >= 1 && child->size <= 8) {
                std::uint64_t n = 0;
                for (std::size_t k = 0; k < child->size; ++k)
                    n = n << 8 | header[child->data + k];
                ours = n == track;
            }
            in = child->data + child->size;
        }
        if (!ours)
            continue;
        constexpr std::size_t kDelayLength = 3 + 4; // id, size, four bytes of value
        if (entry.sizeLength != 8 || entry.size + kDelayLength > 126)
            return false;
        if (crc) {
            const std::uint8_t *stored = &header[crc->data];
            const std::uint32_t was = stored[0] | stored[1] << 8 | stored[2] << 16
                                      | static_cast<std::uint32_t>(stored[3]) << 24;
            if (Crc32(&header[crc->data + 4], end - crc->data - 4) != was)
                return false;
        }
        // The contents move back over the seven bytes the size no longer
        // needs, and the element follows them.
        std::uint8_t *size = &header[entry.at + 1];
        size[0] = static_cast<std::uint8_t>(0x80 | (entry.size + kDelayLength));
        std::memmove(size + 1, &header[entry.data], entry.size);
        std::uint8_t *delay = size + 1 + entry.size;
        const std::uint8_t element[kDelayLength] = {kCodecDelay >> 8,
                                                    kCodecDelay & 0xFF,
                                                    0x84, // a size of four bytes
                                                    static_cast<std::uint8_t>(nanoseconds >> 24),
                                                    static_cast<std::uint8_t>(nanoseconds >> 16),
                                                    static_cast<std::uint8_t>(nanoseconds >> 8),
                                                    static_cast<std::uint8_t>(nanoseconds)};
        std::memcpy(delay, element, kDelayLength);
        if (crc) {
            const std::uint32_t now = Crc32(&header[crc->data + 4], end - crc->data - 4);
            for (int k = 0; k < 4; ++k)
                header[crc->data + k] = static_cast<std::uint8_t>(now >> (8 * k));
        }
        return true;
    }
    return false;
}

} // namespace ebml

class FileMux final : public BaseFilter
{
public:
    explicit FileMux(Container container)
        : BaseFilter(FormatOf(container).filterName)
        , container_(container)
        , format_(FormatOf(container))
    {
        output_ = addOutputPin(format_.outputName);
        addInput();
    }

    std::vector<MediaType> outputTypes(const OutputPin &) const override
    {
        MediaType t;
        t.major = Major::Stream;
        return {t};
    }

    bool acceptsInput(const InputPin &, const MediaType &type) const override
    {
        const AVOutputFormat *muxer = av_guess_format(format_.muxer, nullptr, nullptr);
        if (!muxer)
            return false;
        if (type.isCompressedVideo()) {
            if (type.width <= 0 || type.height <= 0 || type.frameRate.num <= 0)
                return false;
            if (container_ == Container::Avi)
                return !type.globalHeader
                       && (type.fourcc != 0 || avformat_query_codec(muxer, type.codec, 0) == 1);
            return type.globalHeader && avformat_query_codec(muxer, type.codec, 0) == 1;
        }
        if (type.isCodedAudio())
            return format_.audio == AV_CODEC_ID_PCM_S16LE
                       ? IsPcm(type.codec) && avformat_query_codec(muxer, type.codec, 0) == 1
                             && PcmBlocksFit(type)
                       : type.codec == format_.audio;
        return false;
    }

    // Sound that is not in the container's codec yet is to be coded in it.
    std::vector<MediaType> inputPreferences(const InputPin &) const override
    {
        MediaType sound;
        sound.major = Major::Audio;
        sound.codec = format_.audio;
        return {sound};
    }

    void connectionChanged(Pin &pin) override
    {
        if (pin.direction() != PINDIR_INPUT)
            return;
        const auto all = pins();
        const bool freePin = std::any_of(all.begin(), all.end(), [](Pin *p) {
            return p->direction() == PINDIR_INPUT && !p->isConnected();
        });
        if (!freePin)
            addInput();
    }

    HRESULT prepare(std::string *reason) override
    {
        writer_ = output_->isConnected() ? dynamic_cast<FileWriter *>(&output_->peer()->filter())
                                         : nullptr;
        inputs_.clear();
        for (Pin *pin : pins())
            if (pin->direction() == PINDIR_INPUT && pin->isConnected())
                inputs_.push_back({static_cast<InputPin *>(pin)});
        if (!writer_ || inputs_.empty()) {
            *reason = "The multiplexer is not connected";
            return VFW_E_NOT_CONNECTED;
        }
        if (HRESULT hr = writer_->Open(reason); FAILED(hr))
            return hr;
        const HRESULT hr = startFile(reason);
        if (FAILED(hr)) {
            closeFile();
            writer_->Discard();
        }
        return hr;
    }

    void Start() override
    {
        if (headerWritten_)
            startThread([this] { stream(); });
    }

    void Finish() override
    {
        // A run that did not get to the end (stopped, or aborted) still leaves a
        // file that players can open, with what was written.
        if (headerWritten_ && !trailerWritten_) {
            if (av_write_trailer(file_) >= 0)
                signalCodecDelay();
            trailerWritten_ = true;
        }
        closeFile();
        if (writer_)
            writer_->Close();
        writer_ = nullptr;
    }

private:
    struct Input
    {
        InputPin *pin;
        AVStream *stream = nullptr;
        bool video = false;
        bool ended = false;
        std::int64_t shift = -1; // added to every timestamp; -1 until the first packet
    };

    void addInput()
    {
        int inputs = 0;
        for (Pin *p : pins())
            inputs += p->direction() == PINDIR_INPUT;
        char name[24];
        std::snprintf(name, sizeof name, "Input %02d", inputs + 1);
        // Packets are small except for uncompressed pictures; a few are enough
        // to keep the writer busy.
        addInputPin(std::u16string(name, name + std::char_traits<char>::length(name)), 16, 16);
    }

    static int WritePacket(void *opaque, std::uint8_t *data, int size)
    {
        return static_cast<FileWriter *>(opaque)->Write(data, size);
    }
    static std::int64_t SeekFile(void *opaque, std::int64_t offset, int whence)
    {
        return static_cast<FileWriter *>(opaque)->Seek(offset, whence);
    }

    // The MP4 muxer reads the file back to move its index to the front; it may
    // open nothing else.
    static int OpenForReading(AVFormatContext *s, AVIOContext **pb, const char *, int flags,
                              AVDictionary **)
    {
        *pb = nullptr;
        if (flags & AVIO_FLAG_WRITE)
            return AVERROR(EPERM);
        auto *self = static_cast<FileMux *>(s->opaque);
        auto *buffer = static_cast<std::uint8_t *>(av_malloc(kIoBufferSize));
        auto *reader = new (std::nothrow) Reader{self->writer_, 0};
        if (buffer && reader)
            *pb = avio_alloc_context(buffer, kIoBufferSize, 0, reader, ReadPacket, nullptr,
                                     SeekReader);
        if (!*pb) {
            av_free(buffer);
            delete reader;
            return AVERROR(ENOMEM);
        }
        return 0;
    }
    static int CloseReading(AVFormatContext *, AVIOContext *pb)
    {
        if (!pb)
            return 0;
        delete static_cast<Reader *>(pb->opaque);
        av_freep(&pb->buffer);
        avio_context_free(&pb);
        return 0;
    }

    struct Reader
    {
        FileWriter *writer;
        std::int64_t position;
    };
    static int ReadPacket(void *opaque, std::uint8_t *data, int size)
    {
        auto *reader = static_cast<Reader *>(opaque);
        const int n = reader->writer->ReadAt(reader->position, data, size);
        if (n > 0)
            reader->position += n;
        return n;
    }
    static std::int64_t SeekReader(void *opaque, std::int64_t offset, int whence)
    {
        auto *reader = static_cast<Reader *>(opaque);
        const std::int64_t size = reader->writer->Size();
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return size;
        case SEEK_SET:
            break;
        case SEEK_CUR:
            offset += reader->position;
            break;
        case SEEK_END:
            offset += size;
            break;
        default:
            return AVERROR(EINVAL);
        }
        if (offset < 0)
            return AVERROR(EINVAL);
        reader->position = offset;
        return offset;
    }

    HRESULT startFile(std::string *reason)
    {
        if (avformat_alloc_output_context2(&file_, nullptr, format_.muxer, nullptr) < 0 || !file_)
            return E_OUTOFMEMORY;
        auto *buffer = static_cast<std::uint8_t *>(av_malloc(kIoBufferSize));
        if (!buffer)
            return E_OUTOFMEMORY;
        file_->pb
            = avio_alloc_context(buffer, kIoBufferSize, 1, writer_, nullptr, WritePacket, SeekFile);
        if (!file_->pb) {
            av_free(buffer);
            return E_OUTOFMEMORY;
        }
        file_->flags |= AVFMT_FLAG_CUSTOM_IO;
        file_->opaque = this;
        file_->io_open = OpenForReading;
        file_->io_close2 = CloseReading;

        for (Input &in : inputs_) {
            Pin *upstream = in.pin->peer();
            AVRational timeBase{0, 1};
            const AVCodecParameters *parameters = upstream->filter().streamParameters(
                static_cast<const OutputPin &>(*upstream), &timeBase);
            if (!parameters) {
                *reason = "The multiplexer got no stream format";
                return VFW_E_NOT_CONNECTED;
            }
            in.stream = avformat_new_stream(file_, nullptr);
            if (!in.stream || avcodec_parameters_copy(in.stream->codecpar, parameters) < 0)
                return E_OUTOFMEMORY;
            in.stream->time_base = timeBase;
            in.video = parameters->codec_type == AVMEDIA_TYPE_VIDEO;
            if (in.video) {
                const MediaType type = in.pin->type();
                in.stream->avg_frame_rate = type.frameRate;
                in.stream->r_frame_rate = type.frameRate;
                // Uncompressed RGB goes into AVI top down, and GStreamer turns the
                // aspect of such a picture into a negative one: it keeps square
                // pixels there.
                if (container_ == Container::Avi && parameters->codec_tag == 0)
                    in.stream->codecpar->sample_aspect_ratio = AVRational{0, 1};
                else
                    in.stream->sample_aspect_ratio = parameters->sample_aspect_ratio;
                // AVI keeps the compressor's FourCC; the others name the codec
                // their own way, which the muxer knows. Browsers and Apple's
                // players take H.265 in MP4 only with its headers apart ("hvc1").
                if (container_ != Container::Avi)
                    in.stream->codecpar->codec_tag
                        = container_ == Container::Mp4 && parameters->codec_id == AV_CODEC_ID_HEVC
                              ? MKTAG('h', 'v', 'c', '1')
                              : 0;
            } else {
                // The muxer picks the tag of the codec.
                in.stream->codecpar->codec_tag = 0;
            }
        }
        // Packets gather in the 1 MB buffer instead of each going to the file
        // on its own (a held frame's empty chunk is 8 bytes).
        file_->flush_packets = 0;
        AVDictionary *options = nullptr;
        // The index in front, so that a browser starts playing before the
        // whole file has arrived.
        if (container_ == Container::Mp4)
            av_dict_set(&options, "movflags", "+faststart+write_colr", 0);
        const int ret = avformat_write_header(file_, &options);
        av_dict_free(&options);
        if (ret < 0) {
            *reason = writer_->failureCode() != S_OK
                          ? writer_->failure()
                          : std::string("Could not start the ") + ContainerName(container_)
                                + " file: " + AvError(ret);
            return writer_->failureCode() != S_OK ? writer_->failureCode() : AvErrorToHresult(ret);
        }
        headerWritten_ = true;
        trailerWritten_ = false;
        return S_OK;
    }

    // Says in a complete Matroska file how many samples at the start of each
    // AAC track only prime the codec (see ebml::AddCodecDelay). A negative
    // AVERROR when the file could not be read or written.
    int signalCodecDelay()
    {
        if (container_ != Container::Matroska)
            return 0;
        std::vector<std::uint8_t> header, before;
        for (const Input &in : inputs_) {
            const AVCodecParameters *par = in.stream->codecpar;
            if (in.shift <= 0 || par->codec_id != AV_CODEC_ID_AAC || par->sample_rate <= 0)
                continue;
            // The priming as the encoder reports it, else the shift it took.
            const std::int64_t delay
                = par->initial_padding > 0
                      ? av_rescale(par->initial_padding, 1000000000, par->sample_rate)
                      : av_rescale_q(in.shift, in.stream->time_base, AVRational{1, 1000000000});
            if (delay <= 0 || delay > UINT32_MAX)
                continue;
            if (header.empty()) {
                if (const int ret = readHeader(header); ret < 0)
                    return ret;
                before = header;
            }
            // libavformat numbers the tracks from 1 in the order of the streams.
            ebml::AddCodecDelay(header, static_cast<std::uint64_t>(in.stream->index) + 1,
                                static_cast<std::uint32_t>(delay));
        }
        // Only the bytes that changed are written again.
        const auto first = std::mismatch(header.begin(), header.end(), before.begin()).first;
        const auto last = std::mismatch(header.rbegin(), header.rend(), before.rbegin()).first;
        const auto from = static_cast<std::int64_t>(first - header.begin());
        const auto to = static_cast<std::int64_t>(header.rend() - last);
        if (from >= to)
            return 0;
        const std::int64_t end = avio_tell(file_->pb);
        if (avio_seek(file_->pb, from, SEEK_SET) < 0)
            return file_->pb->error < 0 ? file_->pb->error : AVERROR(EIO);
        avio_write(file_->pb, header.data() + from, static_cast<int>(to - from));
        avio_seek(file_->pb, end, SEEK_SET);
        avio_flush(file_->pb);
        return file_->pb->error < 0 ? file_->pb->error : 0;
    }

    // The file's first bytes as written so far: the Tracks come within the
    // first few kilobytes.
    int readHeader(std::vector<std::uint8_t> &header)
    {
        avio_flush(file_->pb);
        if (file_->pb->error < 0)
            return file_->pb->error;
        const std::int64_t size = writer_->Size();
        if (size < 0)
            return static_cast<int>(size);
        header.resize(static_cast<std::size_t>(std::min<std::int64_t>(size, 1 << 16)));
        std::size_t got = 0;
        while (got < header.size()) {
            const int n = writer_->ReadAt(static_cast<std::int64_t>(got), header.data() + got,
                                          static_cast<int>(header.size() - got));
            if (n <= 0)
                return n < 0 ? n : AVERROR_EOF;
            got += static_cast<std::size_t>(n);
        }
        return 0;
    }

    void closeFile()
    {
        if (file_) {
            if (file_->pb) {
                avio_flush(file_->pb);
                av_freep(&file_->pb->buffer);
                avio_context_free(&file_->pb);
            }
            avformat_free_context(file_);
            file_ = nullptr;
        }
        headerWritten_ = false;
    }

    // The input whose next packet comes first in time, once every input that
    // has not ended has one waiting; null when the run was stopped or every
    // input has ended.
    Input *next(Sample *sample)
    {
        std::unique_lock lock(streamMutex_);
        for (;;) {
            streamCv_.wait(lock, [&] {
                return !streaming_ || std::all_of(inputs_.begin(), inputs_.end(), [](Input &in) {
                    return in.ended || in.pin->hasSampleLocked();
                });
            });
            if (!streaming_)
                return nullptr;
            Input *earliest = nullptr;
            for (Input &in : inputs_) {
                if (in.ended)
                    continue;
                if (in.pin->frontLocked().endOfStream) {
                    in.pin->popLocked();
                    in.ended = true;
                    earliest = nullptr;
                    break; // look again: the waiting condition has changed
                }
                if (!earliest || in.pin->frontLocked().start < earliest->pin->frontLocked().start)
                    earliest = &in;
            }
            if (earliest) {
                *sample = earliest->pin->popLocked();
                lock.unlock();
                streamCv_.notify_all();
                return earliest;
            }
            lock.unlock();
            streamCv_.notify_all();
            if (std::all_of(inputs_.begin(), inputs_.end(), [](Input &in) { return in.ended; }))
                return nullptr;
            lock.lock();
        }
    }

    void writeFailed(int ret)
    {
        const HRESULT code = writer_->failureCode();
        context().ErrorAbort(code != S_OK ? code : AvErrorToHresult(ret),
                             code != S_OK
                                 ? writer_->failure()
                                 : std::string("Could not write the ") + ContainerName(container_)
                                       + " file: " + AvError(ret));
    }

    void stream()
    {
        REFERENCE_TIME videoEnd = 0;
        for (;;) {
            Sample sample;
            Input *in = next(&sample);
            if (!in)
                break;
            AVPacket *packet = sample.packet.get();
            packet->stream_index = in->stream->index;
            av_packet_rescale_ts(packet, sample.timeBase, in->stream->time_base);
            // AAC and Opus start before 0 (the encoder's priming), which
            // Matroska and WebM cannot store: their muxer would start the
            // pictures late instead, and a player counting frames at a constant
            // rate would count one more. The sound's packets start at 0, and the
            // track's CodecDelay tells players that its first samples come
            // before 0: the muxer writes it for Opus, and for AAC it is added
            // once the file is complete (see signalCodecDelay).
            if (in->shift < 0) {
                const AVCodecID codec = in->stream->codecpar->codec_id;
                const bool primed = (container_ == Container::Matroska && codec == AV_CODEC_ID_AAC)
                                    || (container_ == Container::WebM && codec == AV_CODEC_ID_OPUS);
                in->shift = primed && packet->dts != AV_NOPTS_VALUE
                                ? std::max<std::int64_t>(0, -packet->dts)
                                : 0;
            }
            if (in->shift > 0) {
                packet->pts += in->shift;
                packet->dts += in->shift;
            }
            if (in->video) {
                context().SetPosition(sample.start);
                videoEnd = std::max(videoEnd, sample.stop);
                if (packet->size == 0 && format_.timestamps)
                    continue;
            }
            if (int ret = av_interleaved_write_frame(file_, packet); ret < 0) {
                writeFailed(ret);
                return;
            }
        }
        if (isAborted()
            || !std::all_of(inputs_.begin(), inputs_.end(), [](Input &in) { return in.ended; }))
            return;
        trailerWritten_ = true;
        int ret = av_write_trailer(file_);
        if (ret >= 0)
            ret = signalCodecDelay();
        if (ret >= 0) {
            avio_flush(file_->pb);
            ret = file_->pb->error;
        }
        if (ret < 0 || !writer_->Close()) {
            writeFailed(ret);
            return;
        }
        context().SetPosition(videoEnd);
        writer_->Completed();
    }

    OutputPin *output_;
    FileWriter *writer_ = nullptr; // the filter our output pin is connected to
    std::vector<Input> inputs_;
    const Container container_;
    const Format &format_;
    AVFormatContext *file_ = nullptr;
    bool headerWritten_ = false;
    bool trailerWritten_ = false;
};

} // namespace

ComPtr<BaseFilter> MakeMux(Container container)
{
    return MakeCom<FileMux>(container);
}

} // namespace media::detail
