#include "platform/media/detail/filter.h"

#include "platform/media/detail/enumerator.h"
#include "platform/media/detail/graph.h"

#include <algorithm>
#include <pthread.h>

namespace media::detail {

void CopyName(const std::u16string &name, OLECHAR (&out)[128])
{
    const std::size_t n = std::min<std::size_t>(name.size(), 127);
    std::copy_n(name.begin(), n, out);
    out[n] = 0;
}

// Picture

namespace {

// The engine's frame is wrapped, not copied: the buffer keeps the frame alive
// for as long as any later stage holds it.
void ReleaseEngineFrame(void *opaque, std::uint8_t *)
{
    delete static_cast<avs::PFrame *>(opaque);
}

} // namespace

Picture::Picture(FramePtr frame)
    : frame_(std::move(frame))
{}

Picture::Picture(avs::PFrame engineFrame)
    : engine_(std::move(engineFrame))
{}

const AVFrame &Picture::frame() const
{
    if (engine_)
        std::call_once(wrapped_, [this] {
            const std::uint8_t *pixels = engine_->data();
            FramePtr wrapped = NewFrame();
            const std::size_t bytes = std::size_t(engine_->stride()) * engine_->height();
            auto *holder = new avs::PFrame(engine_);
            wrapped->buf[0] = av_buffer_create(const_cast<std::uint8_t *>(pixels), bytes,
                                               ReleaseEngineFrame, holder, AV_BUFFER_FLAG_READONLY);
            if (!wrapped->buf[0]) {
                delete holder;
                throw std::bad_alloc();
            }
            wrapped->data[0] = const_cast<std::uint8_t *>(pixels);
            wrapped->linesize[0] = engine_->stride();
            wrapped->format = AV_PIX_FMT_BGR24;
            wrapped->width = engine_->width();
            wrapped->height = engine_->height();
            frame_ = std::move(wrapped);
        });
    return *frame_;
}

// Pin

Pin::Pin(BaseFilter &filter, PIN_DIRECTION direction, std::u16string name)
    : filter_(filter)
    , direction_(direction)
    , name_(std::move(name))
{}

HRESULT Pin::QueryInterface(REFIID riid, void **object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!(riid == IID_IUnknown || riid == IID_IPin))
        return E_NOINTERFACE;
    *object = static_cast<IPin *>(this);
    AddRef();
    return S_OK;
}

ULONG Pin::AddRef()
{
    return filter_.AddRef();
}
ULONG Pin::Release()
{
    return filter_.Release();
}

HRESULT Pin::ConnectedTo(IPin **pin)
{
    if (!pin)
        return E_POINTER;
    std::lock_guard lock(mutex_);
    *pin = peer_;
    if (!peer_)
        return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

HRESULT Pin::QueryPinInfo(PIN_INFO *info)
{
    if (!info)
        return E_POINTER;
    info->pFilter = &filter_;
    filter_.AddRef();
    info->dir = direction_;
    CopyName(name_, info->achName);
    return S_OK;
}

HRESULT Pin::QueryDirection(PIN_DIRECTION *direction)
{
    if (!direction)
        return E_POINTER;
    *direction = direction_;
    return S_OK;
}

Pin *Pin::peer() const
{
    std::lock_guard lock(mutex_);
    return peer_;
}

MediaType Pin::type() const
{
    std::lock_guard lock(mutex_);
    return type_;
}

void Pin::setConnection(Pin *peer, const MediaType &type)
{
    std::lock_guard lock(mutex_);
    peer_ = peer;
    type_ = peer ? type : MediaType{};
}

// InputPin

InputPin::InputPin(BaseFilter &filter, std::u16string name, std::size_t maxSamples,
                   std::size_t maxPictures)
    : Pin(filter, PINDIR_INPUT, std::move(name))
    , maxSamples_(std::max<std::size_t>(maxSamples, 1))
    , maxPictures_(std::max<std::size_t>(maxPictures, 1))
{}

bool InputPin::Receive(Sample &&sample)
{
    BaseFilter &owner = filter();
    std::unique_lock lock(owner.streamMutex_);
    const bool counted = !sample.endOfStream
                         && (sample.packet || sample.sound || sample.picture.get() != lastPicture_);
    owner.streamCv_.wait(lock, [&] {
        return !owner.streaming_
               || (queue_.size() < maxSamples_ && (!counted || pictures_ < maxPictures_));
    });
    if (!owner.streaming_)
        return false;
    if (sample.picture)
        lastPicture_ = sample.picture.get();
    if (counted)
        ++pictures_;
    queue_.push_back({std::move(sample), counted});
    owner.streamCv_.notify_all();
    return true;
}

Sample InputPin::popLocked()
{
    Entry entry = std::move(queue_.front());
    queue_.pop_front();
    if (entry.counted)
        --pictures_;
    return std::move(entry.sample);
}

void InputPin::clearLocked()
{
    queue_.clear();
    pictures_ = 0;
    lastPicture_ = nullptr;
}

// OutputPin

OutputPin::OutputPin(BaseFilter &filter, std::u16string name)
    : Pin(filter, PINDIR_OUTPUT, std::move(name))
{}

bool OutputPin::Deliver(Sample &&sample)
{
    Pin *to = peer();
    if (!to)
        return true;
    return static_cast<InputPin *>(to)->Receive(std::move(sample));
}

// BaseFilter

BaseFilter::BaseFilter(std::u16string defaultName)
    : defaultName_(std::move(defaultName))
{}

BaseFilter::~BaseFilter()
{
    // A filter goes only after its graph stopped and let it go, so no thread of
    // it can still run; joining here keeps that true for a filter never run.
    if (thread_.joinable())
        thread_.join();
}

HRESULT BaseFilter::EnumPins(IEnumPins **pins)
{
    if (!pins)
        return E_POINTER;
    std::vector<ComPtr<IPin>> snapshot;
    for (Pin *pin : this->pins())
        snapshot.emplace_back(pin);
    *pins = MakeCom<Enumerator<IEnumPins, IPin>>(std::move(snapshot)).Detach();
    return S_OK;
}

HRESULT BaseFilter::QueryFilterInfo(FILTER_INFO *info)
{
    if (!info)
        return E_POINTER;
    CopyName(graph_ ? name_ : defaultName_, info->achName);
    info->pGraph = graph_ ? graph_->asFilterGraph() : nullptr;
    if (info->pGraph)
        info->pGraph->AddRef();
    return S_OK;
}

std::vector<Pin *> BaseFilter::pins() const
{
    std::lock_guard lock(pinsMutex_);
    std::vector<Pin *> result;
    for (const auto &pin : pins_)
        result.push_back(pin.get());
    return result;
}

void BaseFilter::joinGraph(Graph *graph, const std::u16string &name)
{
    graph_ = graph;
    name_ = graph ? name : std::u16string();
}

std::vector<MediaType> BaseFilter::outputTypes(const OutputPin &) const
{
    return {};
}
bool BaseFilter::acceptsInput(const InputPin &, const MediaType &) const
{
    return false;
}
std::string BaseFilter::inputRefusal(const InputPin &) const
{
    return {};
}
std::vector<MediaType> BaseFilter::inputPreferences(const InputPin &) const
{
    return {};
}
std::optional<MediaType> BaseFilter::agreeOutput(const OutputPin &, const MediaType &) const
{
    return std::nullopt;
}
void BaseFilter::connectionChanged(Pin &) {}

const AVCodecParameters *BaseFilter::streamParameters(const OutputPin &, AVRational *) const
{
    return nullptr;
}

InputPin *BaseFilter::addInputPin(std::u16string name, std::size_t maxSamples,
                                  std::size_t maxPictures)
{
    auto pin = std::make_unique<InputPin>(*this, std::move(name), maxSamples, maxPictures);
    InputPin *result = pin.get();
    std::lock_guard lock(pinsMutex_);
    pins_.push_back(std::move(pin));
    return result;
}

OutputPin *BaseFilter::addOutputPin(std::u16string name)
{
    auto pin = std::make_unique<OutputPin>(*this, std::move(name));
    OutputPin *result = pin.get();
    std::lock_guard lock(pinsMutex_);
    pins_.push_back(std::move(pin));
    return result;
}

bool BaseFilter::isActive() const
{
    const auto all = pins();
    return std::any_of(all.begin(), all.end(), [](Pin *p) { return p->isConnected(); });
}

bool BaseFilter::isEndpoint() const
{
    if (!isActive())
        return false;
    const auto all = pins();
    return std::none_of(all.begin(), all.end(),
                        [](Pin *p) { return p->direction() == PINDIR_OUTPUT && p->isConnected(); });
}

HRESULT BaseFilter::Prepare(RunContext &context, std::string *reason)
{
    context_ = &context;
    {
        std::lock_guard lock(streamMutex_);
        streaming_ = true;
        for (Pin *pin : pins())
            if (pin->direction() == PINDIR_INPUT)
                static_cast<InputPin *>(pin)->clearLocked();
    }
    return prepare(reason);
}

HRESULT BaseFilter::prepare(std::string *)
{
    return S_OK;
}

void BaseFilter::Abort()
{
    {
        std::lock_guard lock(streamMutex_);
        streaming_ = false;
        for (Pin *pin : pins())
            if (pin->direction() == PINDIR_INPUT)
                static_cast<InputPin *>(pin)->clearLocked();
    }
    streamCv_.notify_all();
    aborted();
}

void BaseFilter::nameThread() const
{
    std::string name;
    for (char16_t c : defaultName_)
        if (name.size() < 15) // the kernel's limit
            name.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    pthread_setname_np(pthread_self(), name.c_str());
}

void BaseFilter::Join()
{
    if (thread_.joinable())
        thread_.join();
}

bool BaseFilter::isAborted() const
{
    return context_ && context_->Aborted();
}

std::optional<Sample> BaseFilter::take(InputPin &pin)
{
    std::unique_lock lock(streamMutex_);
    streamCv_.wait(lock, [&] { return !streaming_ || pin.hasSampleLocked(); });
    if (!streaming_)
        return std::nullopt;
    Sample sample = pin.popLocked();
    lock.unlock();
    streamCv_.notify_all();
    return sample;
}

void BaseFilter::endOfStream()
{
    bool handedOn = false;
    for (Pin *pin : pins())
        if (pin->direction() == PINDIR_OUTPUT && pin->isConnected()) {
            static_cast<OutputPin *>(pin)->Deliver(Sample::EndOfStream());
            handedOn = true;
        }
    if (!handedOn)
        context().EndpointComplete();
}

BaseFilter *AsOurFilter(IBaseFilter *filter)
{
    return dynamic_cast<BaseFilter *>(filter);
}

Pin *AsOurPin(IPin *pin)
{
    return dynamic_cast<Pin *>(pin);
}

const AVCodecParameters *EncoderFilter::streamParameters(const OutputPin &,
                                                         AVRational *timeBase) const
{
    if (!parameters_)
        return nullptr;
    if (timeBase)
        *timeBase = encoder_->time_base;
    return parameters_.get();
}

void EncoderFilter::Finish()
{
    encoder_.reset();
    parameters_.reset();
}

HRESULT EncoderFilter::keepEncoder(CodecContextPtr encoder)
{
    encoder_ = std::move(encoder);
    parameters_.reset(avcodec_parameters_alloc());
    if (!parameters_ || avcodec_parameters_from_context(parameters_.get(), encoder_.get()) < 0)
        return E_OUTOFMEMORY;
    return S_OK;
}

} // namespace media::detail
