// The machinery every filter shares: media types, the samples that stream
// between filters, pins with their bounded input queues, and the filter base
// with its part in running the graph.
//
// Streaming model: each filter that does work runs its own thread. An output
// pin hands a sample to the connected input pin, which queues it; the queue is
// bounded, so a fast upstream filter waits for a slow downstream one. A sample
// that carries the same picture object as the one before it costs no memory, so
// it counts only against the queue's sample limit, not its picture limit: a
// source can run far ahead through a held slide.
#pragma once

#include "platform/avs/avs.h"
#include "platform/media/detail/ffmpeg.h"
#include "platform/media/detail/object.h"
#include "platform/media/dshow.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace media::detail {

class BaseFilter;
class Graph;

enum class Major { None, Video, Audio, Stream };

struct MediaType
{
    Major major = Major::None;
    // Uncompressed video: the picture format; AV_PIX_FMT_NONE for compressed.
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    // Compressed video and audio: the codec.
    AVCodecID codec = AV_CODEC_ID_NONE;
    std::uint32_t fourcc = 0;
    int width = 0;
    int height = 0;
    AVRational frameRate{0, 1};
    std::int64_t frameCount = 0;
    // Video: how wide a pixel shows for its height.
    AVRational sampleAspect{1, 1};
    // Compressed video: the stream's headers stand apart from the pictures (as
    // MP4 and Matroska keep them) rather than in them (as AVI needs them).
    bool globalHeader = false;
    // Coded audio: the stream's parameters as the source found them.
    std::shared_ptr<const AVCodecParameters> audio;
    // Decoded audio: the sample format; 0 for the rate or the channels leaves
    // them open (a wish).
    AVSampleFormat sampleFormat = AV_SAMPLE_FMT_NONE;
    int sampleRate = 0;
    int channels = 0;

    bool isUncompressedVideo() const
    {
        return major == Major::Video && pixelFormat != AV_PIX_FMT_NONE;
    }
    bool isCompressedVideo() const { return major == Major::Video && codec != AV_CODEC_ID_NONE; }
    bool isDecodedAudio() const
    {
        return major == Major::Audio && sampleFormat != AV_SAMPLE_FMT_NONE;
    }
    bool isCodedAudio() const { return major == Major::Audio && codec != AV_CODEC_ID_NONE; }
};

// An uncompressed picture, immutable once made and shared by reference. The
// frame's buffers are reference-counted so that an encoder takes them without a
// copy.
//
// A picture of the script engine's frame keeps that frame and wraps its pixels
// only when frame() is first called, so a cross-fade frame that nobody reads as
// 24-bit RGB is never blended in it (the converter blends it in its own format).
class Picture
{
public:
    explicit Picture(FramePtr frame);
    explicit Picture(avs::PFrame engineFrame);
    Picture(const Picture &) = delete;
    Picture &operator=(const Picture &) = delete;

    // Raises std::bad_alloc when the pixels of an engine frame cannot be made.
    const AVFrame &frame() const;
    // The engine's frame this picture shows, or null.
    const avs::PFrame &engineFrame() const { return engine_; }

private:
    const avs::PFrame engine_;
    mutable std::once_flag wrapped_;
    mutable FramePtr frame_;
};
using PPicture = std::shared_ptr<const Picture>;

struct Sample
{
    bool endOfStream = false;
    PPicture picture; // uncompressed video
    PacketPtr packet; // compressed video and coded audio; timestamps in `timeBase`
    FramePtr sound;   // decoded audio
    AVRational timeBase{1, 1};
    std::int64_t index = 0;   // video: the frame number
    REFERENCE_TIME start = 0; // 100-nanosecond units from the start of the stream
    REFERENCE_TIME stop = 0;

    static Sample EndOfStream()
    {
        Sample s;
        s.endOfStream = true;
        return s;
    }
};

// What a running filter tells the graph. Every method may be called from any
// streaming thread.
class RunContext
{
public:
    // Ends the run with EC_ERRORABORT; the first reason is kept.
    virtual void ErrorAbort(HRESULT hr, const std::string &reason) = 0;
    // A filter at the end of a stream has handled its end.
    virtual void EndpointComplete() = 0;
    // The multiplexer's position.
    virtual void SetPosition(REFERENCE_TIME position) = 0;
    // The clock that paces sources, or null; and its time when the run started.
    virtual IReferenceClock *Clock() const = 0;
    virtual REFERENCE_TIME ClockStart() const = 0;
    virtual bool Aborted() const = 0;
    // The length of the pictures of the run: the longest source of video; 0
    // when there is none.
    virtual REFERENCE_TIME PicturesLength() const = 0;

protected:
    ~RunContext() = default;
};

class Pin : public IPin
{
public:
    Pin(BaseFilter &filter, PIN_DIRECTION direction, std::u16string name);
    virtual ~Pin() = default;
    Pin(const Pin &) = delete;
    Pin &operator=(const Pin &) = delete;

    // A pin lives as long as its filter: its references are the filter's.
    HRESULT QueryInterface(REFIID riid, void **object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT ConnectedTo(IPin **pin) override;
    HRESULT QueryPinInfo(PIN_INFO *info) override;
    HRESULT QueryDirection(PIN_DIRECTION *direction) override;

    BaseFilter &filter() const { return filter_; }
    PIN_DIRECTION direction() const { return direction_; }
    const std::u16string &name() const { return name_; }
    Pin *peer() const;
    MediaType type() const;
    bool isConnected() const { return peer() != nullptr; }

private:
    friend class Graph;
    void setConnection(Pin *peer, const MediaType &type);

    BaseFilter &filter_;
    const PIN_DIRECTION direction_;
    const std::u16string name_;
    mutable std::mutex mutex_;
    Pin *peer_ = nullptr; // both filters are in the graph while connected
    MediaType type_;
};

class InputPin : public Pin
{
public:
    // At most `maxSamples` queued samples, of which at most `maxPictures` carry a
    // picture of their own or a packet.
    InputPin(BaseFilter &filter, std::u16string name, std::size_t maxSamples = 256,
             std::size_t maxPictures = 4);

    // Upstream's thread: queues the sample, waiting while the queue is full.
    // False when the filter is not streaming (stopped or aborted).
    bool Receive(Sample &&sample);

    // The owning filter's side, under the filter's stream lock.
    bool hasSampleLocked() const { return !queue_.empty(); }
    const Sample &frontLocked() const { return queue_.front().sample; }
    Sample popLocked();
    void clearLocked();

private:
    struct Entry
    {
        Sample sample;
        bool counted; // counts against maxPictures
    };
    const std::size_t maxSamples_;
    const std::size_t maxPictures_;
    std::deque<Entry> queue_;
    std::size_t pictures_ = 0;
    const Picture *lastPicture_ = nullptr; // identity only; never dereferenced
};

class OutputPin : public Pin
{
public:
    OutputPin(BaseFilter &filter, std::u16string name);

    // Hands the sample to the connected input pin; a pin that is not connected
    // drops it. False when downstream no longer takes samples.
    bool Deliver(Sample &&sample);
};

class BaseFilter : public ComObject<IBaseFilter>
{
public:
    explicit BaseFilter(std::u16string defaultName);

    HRESULT EnumPins(IEnumPins **pins) override;
    HRESULT QueryFilterInfo(FILTER_INFO *info) override;

    // The pins in enumeration order.
    std::vector<Pin *> pins() const;
    const std::u16string &defaultName() const { return defaultName_; }

    // Membership of a graph, kept by the graph.
    void joinGraph(Graph *graph, const std::u16string &name);
    Graph *graph() const { return graph_; }
    const std::u16string &name() const { return name_; }

    // Media types. An output pin offers its types; an input pin accepts or
    // refuses a type and may say which it would like, which an output pin may
    // agree to produce, completing what the wish leaves open (the size).
    virtual std::vector<MediaType> outputTypes(const OutputPin &pin) const;
    virtual bool acceptsInput(const InputPin &pin, const MediaType &type) const;
    // Why the last type offered to the pin was refused, for the user; "" where
    // the filter does not say (a type it simply does not take).
    virtual std::string inputRefusal(const InputPin &pin) const;
    virtual std::vector<MediaType> inputPreferences(const InputPin &pin) const;
    virtual std::optional<MediaType> agreeOutput(const OutputPin &pin, const MediaType &wish) const;
    // After a pin was connected or disconnected (the multiplexer adds a pin).
    virtual void connectionChanged(Pin &pin);

    // The stream an output pin carries once the filter is prepared, for the
    // multiplexer: codec parameters and their time base. Null for pictures.
    virtual const AVCodecParameters *streamParameters(const OutputPin &pin,
                                                      AVRational *timeBase) const;
    // The length of what a source delivers; 0 for other filters.
    virtual REFERENCE_TIME duration() const { return 0; }

    // Running, driven by the graph. Prepare runs on the caller's thread in
    // upstream-to-downstream order and may refuse the run; Start starts the
    // streaming threads; Abort makes them end soon without waiting for them;
    // Join waits for them; Finish completes the output (the multiplexer writes
    // its index) and frees what the run used.
    HRESULT Prepare(RunContext &context, std::string *reason);
    virtual void Start() {}
    void Abort();
    void Join();
    virtual void Finish() {}

    bool isActive() const;   // has a connected pin
    bool isEndpoint() const; // active, and no connected output pin

protected:
    ~BaseFilter() override;

    virtual HRESULT prepare(std::string *reason);
    virtual void aborted() {}

    InputPin *addInputPin(std::u16string name, std::size_t maxSamples = 256,
                          std::size_t maxPictures = 4);
    OutputPin *addOutputPin(std::u16string name);

    // Streaming helpers for the filter's thread.
    template <class F>
    void startThread(F body)
    {
        thread_ = std::thread([this, body = std::move(body)]() mutable {
            nameThread();
            // What a streaming thread raises (an allocation that failed) ends
            // the run as any other error does; out of the thread it would end
            // the process.
            try {
                body();
            } catch (const std::bad_alloc &) {
                context().ErrorAbort(E_OUTOFMEMORY, "Out of memory");
            } catch (const std::exception &e) {
                context().ErrorAbort(E_FAIL, e.what());
            }
        });
    }
    // The next sample of `pin`, or nothing when the run was aborted.
    std::optional<Sample> take(InputPin &pin);
    // End of stream reached: handed on downstream, or reported to the graph by a
    // filter at the end of a stream.
    void endOfStream();
    RunContext &context() const { return *context_; }
    // Names the calling thread after the filter, for debuggers and profilers.
    void nameThread() const;
    bool isAborted() const;

    std::mutex streamMutex_;
    std::condition_variable streamCv_;
    bool streaming_ = false; // under streamMutex_

private:
    friend class InputPin;

    const std::u16string defaultName_;
    Graph *graph_ = nullptr;
    std::u16string name_;
    mutable std::mutex pinsMutex_;
    std::vector<std::unique_ptr<Pin>> pins_;
    RunContext *context_ = nullptr;
    std::thread thread_;
};

// A filter that codes its stream with an FFmpeg encoder; the multiplexer takes
// the stream's parameters from it.
class EncoderFilter : public BaseFilter
{
public:
    using BaseFilter::BaseFilter;

    const AVCodecParameters *streamParameters(const OutputPin &pin,
                                              AVRational *timeBase) const override;
    // Frees the encoder; a filter with more to free calls this from its own.
    void Finish() override;

protected:
    ~EncoderFilter() override = default;

    // Keeps the opened encoder and the parameters of the stream it makes.
    HRESULT keepEncoder(CodecContextPtr encoder);

    CodecContextPtr encoder_;
    CodecParametersPtr parameters_;
};

// The filter behind an interface pointer, when it is one of ours.
BaseFilter *AsOurFilter(IBaseFilter *filter);
Pin *AsOurPin(IPin *pin);

// The UTF-16 name copied into a fixed OLECHAR array, cut to fit.
void CopyName(const std::u16string &name, OLECHAR (&out)[128]);

} // namespace media::detail
