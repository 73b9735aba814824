// The AVI multiplexer, on libavformat's AVI muxer (which moves on to OpenDML
// RIFF chunks when the file outgrows the first gigabyte). It always has one
// free input pin. It takes the next packet from whichever input is earliest in
// time, so that streams interleave in the file and no input runs far ahead.
#include "platform/media/detail/file_writer.h"
#include "platform/media/detail/filters.h"

#include <algorithm>
#include <cstdio>

namespace media::detail {

namespace {

constexpr int kIoBufferSize = 1 << 20;

class AviMux final : public BaseFilter
{
public:
    AviMux()
        : BaseFilter(u"AVI Mux")
    {
        output_ = addOutputPin(u"AVI Out");
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
        const AVOutputFormat *avi = av_guess_format("avi", nullptr, nullptr);
        if (!avi)
            return false;
        if (type.isCompressedVideo())
            return type.width > 0 && type.height > 0 && type.frameRate.num > 0
                   && (type.fourcc != 0 || avformat_query_codec(avi, type.codec, 0) == 1);
        if (type.major == Major::Audio)
            return type.codec != AV_CODEC_ID_NONE && avformat_query_codec(avi, type.codec, 0) == 1;
        return false;
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
            *reason = "The AVI multiplexer is not connected";
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
            av_write_trailer(format_);
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

    HRESULT startFile(std::string *reason)
    {
        if (avformat_alloc_output_context2(&format_, nullptr, "avi", nullptr) < 0 || !format_)
            return E_OUTOFMEMORY;
        auto *buffer = static_cast<std::uint8_t *>(av_malloc(kIoBufferSize));
        if (!buffer)
            return E_OUTOFMEMORY;
        format_->pb
            = avio_alloc_context(buffer, kIoBufferSize, 1, writer_, nullptr, WritePacket, SeekFile);
        if (!format_->pb) {
            av_free(buffer);
            return E_OUTOFMEMORY;
        }
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;

        for (Input &in : inputs_) {
            Pin *upstream = in.pin->peer();
            AVRational timeBase{0, 1};
            const AVCodecParameters *parameters = upstream->filter().streamParameters(
                static_cast<const OutputPin &>(*upstream), &timeBase);
            if (!parameters) {
                *reason = "The AVI multiplexer got no stream format";
                return VFW_E_NOT_CONNECTED;
            }
            in.stream = avformat_new_stream(format_, nullptr);
            if (!in.stream || avcodec_parameters_copy(in.stream->codecpar, parameters) < 0)
                return E_OUTOFMEMORY;
            in.stream->time_base = timeBase;
            in.video = parameters->codec_type == AVMEDIA_TYPE_VIDEO;
            if (in.video) {
                const MediaType type = in.pin->type();
                in.stream->avg_frame_rate = type.frameRate;
                in.stream->r_frame_rate = type.frameRate;
            } else {
                // The muxer picks the AVI tag of the codec.
                in.stream->codecpar->codec_tag = 0;
            }
        }
        if (int ret = avformat_write_header(format_, nullptr); ret < 0) {
            *reason = writer_->failureCode() != S_OK
                          ? writer_->failure()
                          : "Could not start the AVI file: " + AvError(ret);
            return writer_->failureCode() != S_OK ? writer_->failureCode() : AvErrorToHresult(ret);
        }
        headerWritten_ = true;
        trailerWritten_ = false;
        return S_OK;
    }

    void closeFile()
    {
        if (format_) {
            if (format_->pb) {
                avio_flush(format_->pb);
                av_freep(&format_->pb->buffer);
                avio_context_free(&format_->pb);
            }
            avformat_free_context(format_);
            format_ = nullptr;
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
                             code != S_OK ? writer_->failure()
                                          : "Could not write the AVI file: " + AvError(ret));
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
            if (in->video) {
                context().SetPosition(sample.start);
                videoEnd = std::max(videoEnd, sample.stop);
            }
            if (int ret = av_interleaved_write_frame(format_, packet); ret < 0) {
                writeFailed(ret);
                return;
            }
        }
        if (isAborted()
            || !std::all_of(inputs_.begin(), inputs_.end(), [](Input &in) { return in.ended; }))
            return;
        trailerWritten_ = true;
        int ret = av_write_trailer(format_);
        if (ret >= 0) {
            avio_flush(format_->pb);
            ret = format_->pb->error;
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
    AVFormatContext *format_ = nullptr;
    bool headerWritten_ = false;
    bool trailerWritten_ = false;
};

} // namespace

ComPtr<BaseFilter> MakeAviMux()
{
    return MakeCom<AviMux>();
}

} // namespace media::detail
