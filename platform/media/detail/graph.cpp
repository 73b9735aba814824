#include "platform/media/detail/graph.h"

#include "platform/media/detail/enumerator.h"
#include "platform/media/detail/filters.h"
#include "platform/win32/strings.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>

namespace media::detail {

namespace {

class SystemClock : public ComObject<IReferenceClock>
{
public:
    HRESULT GetTime(REFERENCE_TIME *time) override
    {
        if (!time)
            return E_POINTER;
        using namespace std::chrono;
        *time = duration_cast<duration<REFERENCE_TIME, std::ratio<1, 10000000>>>(
                    steady_clock::now().time_since_epoch())
                    .count();
        return S_OK;
    }
};

std::u16string NumberedName(const std::u16string &name, int number)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, " %04d", number);
    std::u16string result = name;
    for (const char *p = digits; *p; ++p)
        result.push_back(static_cast<char16_t>(*p));
    return result;
}

} // namespace

ComPtr<IReferenceClock> MakeSystemClock()
{
    return MakeCom<SystemClock>();
}

Graph *AsOurGraph(IGraphBuilder *graph)
{
    return dynamic_cast<Graph *>(graph);
}

Graph::Graph()
    : clock_(MakeSystemClock())
{}

Graph::~Graph()
{
    std::lock_guard lock(apiMutex_);
    stopLocked();
    // Connected pins point at each other without references; both sides go
    // before the filters are let go.
    for (auto &ref : filters_) {
        BaseFilter *filter = AsOurFilter(ref.Get());
        for (Pin *pin : filter->pins())
            unlink(*pin);
    }
    for (auto &ref : filters_)
        AsOurFilter(ref.Get())->joinGraph(nullptr, {});
    filters_.clear();
}

HRESULT Graph::QueryInterface(REFIID riid, void **object)
{
    if (object && riid == IID_IFilterGraph) {
        *object = asFilterGraph();
        AddRef();
        return S_OK;
    }
    return ComObject::QueryInterface(riid, object);
}

// Building

bool Graph::contains(const BaseFilter &filter) const
{
    return filter.graph() == this;
}

HRESULT Graph::addFilterLocked(BaseFilter &filter, std::u16string name)
{
    if (filter.graph())
        return E_INVALIDARG;
    if (name.empty())
        name = filter.defaultName();
    auto taken = [&](const std::u16string &candidate) {
        return std::any_of(filters_.begin(), filters_.end(), [&](const ComPtr<IBaseFilter> &f) {
            return AsOurFilter(f.Get())->name() == candidate;
        });
    };
    HRESULT hr = S_OK;
    if (taken(name)) {
        int number = 1;
        while (taken(NumberedName(name, number)))
            ++number;
        name = NumberedName(name, number);
        hr = VFW_S_DUPLICATE_NAME;
    }
    filters_.emplace_back(static_cast<IBaseFilter *>(&filter));
    filter.joinGraph(this, name);
    return hr;
}

void Graph::removeFilterLocked(BaseFilter &filter)
{
    for (Pin *pin : filter.pins())
        unlink(*pin);
    filter.joinGraph(nullptr, {});
    // The last reference may go with the entry.
    auto it = std::find_if(filters_.begin(), filters_.end(),
                           [&](const ComPtr<IBaseFilter> &f) { return f.Get() == &filter; });
    if (it != filters_.end()) {
        ComPtr<IBaseFilter> keep = std::move(*it);
        filters_.erase(it);
    }
}

HRESULT Graph::AddFilter(IBaseFilter *filter, LPCWSTR name)
{
    if (!filter)
        return E_POINTER;
    BaseFilter *ours = AsOurFilter(filter);
    if (!ours)
        return E_INVALIDARG;
    std::lock_guard lock(apiMutex_);
    if (isRunning_)
        return VFW_E_NOT_STOPPED;
    return addFilterLocked(*ours, name ? std::u16string(name) : std::u16string());
}

HRESULT Graph::addFilter(BaseFilter &filter, const std::u16string &name)
{
    std::lock_guard lock(apiMutex_);
    if (isRunning_)
        return VFW_E_NOT_STOPPED;
    return addFilterLocked(filter, name);
}

HRESULT Graph::RemoveFilter(IBaseFilter *filter)
{
    if (!filter)
        return E_POINTER;
    BaseFilter *ours = AsOurFilter(filter);
    std::lock_guard lock(apiMutex_);
    if (!ours || !contains(*ours))
        return VFW_E_NOT_FOUND;
    if (isRunning_)
        return VFW_E_NOT_STOPPED;
    removeFilterLocked(*ours);
    return S_OK;
}

HRESULT Graph::EnumFilters(IEnumFilters **filters)
{
    if (!filters)
        return E_POINTER;
    std::lock_guard lock(apiMutex_);
    *filters = MakeCom<Enumerator<IEnumFilters, IBaseFilter>>(filters_).Detach();
    return S_OK;
}

HRESULT Graph::FindFilterByName(LPCWSTR name, IBaseFilter **filter)
{
    if (!name || !filter)
        return E_POINTER;
    *filter = nullptr;
    std::lock_guard lock(apiMutex_);
    for (auto &f : filters_)
        if (AsOurFilter(f.Get())->name() == name)
            return f.CopyTo(filter);
    return VFW_E_NOT_FOUND;
}

void Graph::link(OutputPin &output, InputPin &input, const MediaType &type)
{
    output.setConnection(&input, type);
    input.setConnection(&output, type);
    output.filter().connectionChanged(output);
    input.filter().connectionChanged(input);
}

void Graph::unlink(Pin &pin)
{
    Pin *peer = pin.peer();
    if (!peer)
        return;
    pin.setConnection(nullptr, {});
    peer->setConnection(nullptr, {});
    pin.filter().connectionChanged(pin);
    peer->filter().connectionChanged(*peer);
}

HRESULT Graph::checkPinsLocked(IPin *output, IPin *input, OutputPin **out, InputPin **in) const
{
    if (!output || !input)
        return E_POINTER;
    Pin *o = AsOurPin(output);
    Pin *i = AsOurPin(input);
    if (!o || !i)
        return E_INVALIDARG;
    if (!contains(o->filter()) || !contains(i->filter()))
        return VFW_E_NOT_IN_GRAPH;
    if (isRunning_)
        return VFW_E_NOT_STOPPED;
    if (o->direction() != PINDIR_OUTPUT || i->direction() != PINDIR_INPUT)
        return VFW_E_INVALID_DIRECTION;
    if (o->isConnected() || i->isConnected())
        return VFW_E_ALREADY_CONNECTED;
    if (&o->filter() == &i->filter())
        return VFW_E_CANNOT_CONNECT;
    *out = static_cast<OutputPin *>(o);
    *in = static_cast<InputPin *>(i);
    return S_OK;
}

HRESULT Graph::connectDirectLocked(OutputPin &output, InputPin &input)
{
    BaseFilter &from = output.filter();
    BaseFilter &to = input.filter();
    for (const MediaType &type : from.outputTypes(output))
        if (to.acceptsInput(input, type)) {
            link(output, input, type);
            return S_OK;
        }
    for (const MediaType &wish : to.inputPreferences(input))
        if (auto type = from.agreeOutput(output, wish); type && to.acceptsInput(input, *type)) {
            link(output, input, *type);
            return S_OK;
        }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT Graph::connectLocked(OutputPin &output, InputPin &input)
{
    if (SUCCEEDED(connectDirectLocked(output, input)))
        return S_OK;

    // Pictures in a format the input does not take go through a colour
    // converter; decoded sound into an input that wants it coded, through an
    // audio encoder.
    const auto offered = output.filter().outputTypes(output);
    const auto wished = input.filter().inputPreferences(input);
    auto offers = [&](auto kind) { return std::any_of(offered.begin(), offered.end(), kind); };
    auto uncompressed = [](const MediaType &t) { return t.isUncompressedVideo(); };
    ComPtr<BaseFilter> between;
    if (offers(uncompressed) && std::any_of(wished.begin(), wished.end(), uncompressed)) {
        between = MakeColourConverter();
    } else if (offers([](const MediaType &t) { return t.isDecodedAudio(); })) {
        const auto coded = std::find_if(wished.begin(), wished.end(),
                                        [](const MediaType &t) { return t.isCodedAudio(); });
        if (coded != wished.end())
            between = MakeAudioEncoder(coded->codec);
    }
    if (between && SUCCEEDED(addFilterLocked(*between, between->defaultName()))) {
        const auto pins = between->pins();
        auto *betweenIn = static_cast<InputPin *>(pins[0]);
        auto *betweenOut = static_cast<OutputPin *>(pins[1]);
        if (SUCCEEDED(connectDirectLocked(output, *betweenIn))
            && SUCCEEDED(connectDirectLocked(*betweenOut, input)))
            return S_OK;
        removeFilterLocked(*between);
    }
    if (const std::string why = input.filter().inputRefusal(input); !why.empty())
        setError(VFW_E_CANNOT_CONNECT, why);
    return VFW_E_CANNOT_CONNECT;
}

HRESULT Graph::ConnectDirect(IPin *output, IPin *input, const AM_MEDIA_TYPE *type)
{
    if (type)
        return E_INVALIDARG;
    std::lock_guard lock(apiMutex_);
    OutputPin *out = nullptr;
    InputPin *in = nullptr;
    if (HRESULT hr = checkPinsLocked(output, input, &out, &in); FAILED(hr))
        return hr;
    return connectDirectLocked(*out, *in);
}

HRESULT Graph::connectDirect(OutputPin &output, InputPin &input)
{
    return ConnectDirect(&output, &input, nullptr);
}

HRESULT Graph::Connect(IPin *output, IPin *input)
{
    std::lock_guard lock(apiMutex_);
    OutputPin *out = nullptr;
    InputPin *in = nullptr;
    if (HRESULT hr = checkPinsLocked(output, input, &out, &in); FAILED(hr))
        return hr;
    return connectLocked(*out, *in);
}

HRESULT Graph::Render(IPin *output)
{
    if (!output)
        return E_POINTER;
    Pin *o = AsOurPin(output);
    if (!o)
        return E_INVALIDARG;
    std::lock_guard lock(apiMutex_);
    if (!contains(o->filter()))
        return VFW_E_NOT_IN_GRAPH;
    if (isRunning_)
        return VFW_E_NOT_STOPPED;
    if (o->direction() != PINDIR_OUTPUT)
        return VFW_E_INVALID_DIRECTION;
    if (o->isConnected())
        return VFW_E_ALREADY_CONNECTED;
    auto &out = static_cast<OutputPin &>(*o);
    // Connecting may add a converter to the graph: walk a copy.
    const std::vector<ComPtr<IBaseFilter>> candidates = filters_;
    for (const auto &ref : candidates) {
        BaseFilter *filter = AsOurFilter(ref.Get());
        if (filter == &out.filter() || !contains(*filter))
            continue;
        for (Pin *pin : filter->pins())
            if (pin->direction() == PINDIR_INPUT && !pin->isConnected()
                && SUCCEEDED(connectLocked(out, static_cast<InputPin &>(*pin))))
                return S_OK;
    }
    return VFW_E_CANNOT_RENDER;
}

HRESULT Graph::AddSourceFilter(LPCWSTR fileName, LPCWSTR filterName, IBaseFilter **filter)
{
    if (!fileName || !filter)
        return E_POINTER;
    *filter = nullptr;
    std::lock_guard lock(apiMutex_);
    if (isRunning_)
        return VFW_E_NOT_STOPPED;
    ComPtr<BaseFilter> source;
    std::string reason;
    const std::u16string path = fileName;
    if (HRESULT hr = OpenSourceFilter(win32::WideToAnsi(path), &source, &reason); FAILED(hr)) {
        setError(hr, reason);
        return hr;
    }
    const HRESULT hr = addFilterLocked(*source, filterName ? std::u16string(filterName) : path);
    *filter = static_cast<IBaseFilter *>(source.Detach());
    return hr;
}

// Running

std::vector<BaseFilter *> Graph::streamingOrder() const
{
    std::vector<BaseFilter *> pending;
    for (const auto &ref : filters_)
        if (BaseFilter *f = AsOurFilter(ref.Get()); f->isActive())
            pending.push_back(f);
    std::vector<BaseFilter *> order;
    std::set<const BaseFilter *> placed;
    while (!pending.empty()) {
        auto ready = std::find_if(pending.begin(), pending.end(), [&](BaseFilter *f) {
            const auto pins = f->pins();
            return std::all_of(pins.begin(), pins.end(), [&](Pin *p) {
                Pin *peer = p->direction() == PINDIR_INPUT ? p->peer() : nullptr;
                return !peer || placed.count(&peer->filter());
            });
        });
        if (ready == pending.end()) // not possible with the filters we have
            ready = pending.begin();
        placed.insert(*ready);
        order.push_back(*ready);
        pending.erase(ready);
    }
    return order;
}

HRESULT Graph::Run()
{
    std::lock_guard lock(apiMutex_);
    if (isRunning_)
        return S_OK;

    running_ = streamingOrder();
    picturesLength_ = 0;
    for (BaseFilter *f : running_)
        for (Pin *pin : f->pins())
            if (pin->direction() == PINDIR_OUTPUT && pin->isConnected()
                && pin->type().major == Major::Video)
                picturesLength_ = std::max(picturesLength_, f->duration());
    runClock_ = clock_;
    clockStart_ = 0;
    if (runClock_)
        runClock_->GetTime(&clockStart_);
    position_ = 0;
    aborted_ = false;
    {
        std::lock_guard events(eventMutex_);
        completion_ = 0;
        events_.clear();
        errorCode_ = S_OK;
        errorText_.clear();
        endpointsLeft_ = static_cast<int>(std::count_if(
            running_.begin(), running_.end(), [](BaseFilter *f) { return f->isEndpoint(); }));
    }

    for (std::size_t i = 0; i < running_.size(); ++i) {
        std::string reason;
        const HRESULT hr = running_[i]->Prepare(*this, &reason);
        if (FAILED(hr)) {
            aborted_ = true;
            for (std::size_t j = 0; j <= i; ++j) {
                running_[j]->Abort();
                running_[j]->Finish();
            }
            running_.clear();
            runClock_.Reset();
            setError(hr, reason);
            return hr;
        }
    }

    isRunning_ = true;
    for (auto it = running_.rbegin(); it != running_.rend(); ++it)
        (*it)->Start();
    {
        std::lock_guard events(eventMutex_);
        if (endpointsLeft_ == 0 && completion_ == 0) {
            completion_ = EC_COMPLETE;
            events_.push_back({EC_COMPLETE, S_OK});
        }
    }
    eventCv_.notify_all();
    return S_OK;
}

HRESULT Graph::Run(REFERENCE_TIME)
{
    return Run();
}

HRESULT Graph::Pause()
{
    return E_NOTIMPL;
}

void Graph::stopLocked()
{
    if (!isRunning_)
        return;
    aborted_ = true; // what the threads report while they end is not news
    for (BaseFilter *f : running_)
        f->Abort();
    for (BaseFilter *f : running_)
        f->Join();
    for (BaseFilter *f : running_)
        f->Finish();
    running_.clear();
    runClock_.Reset();
    isRunning_ = false;
    eventCv_.notify_all();
}

HRESULT Graph::Stop()
{
    std::lock_guard lock(apiMutex_);
    stopLocked();
    return S_OK;
}

HRESULT Graph::GetState(LONG, OAFilterState *state)
{
    if (!state)
        return E_POINTER;
    *state = isRunning_ ? State_Running : State_Stopped;
    return S_OK;
}

HRESULT Graph::GetState(DWORD, FILTER_STATE *state)
{
    if (!state)
        return E_POINTER;
    *state = isRunning_ ? State_Running : State_Stopped;
    return S_OK;
}

HRESULT Graph::SetSyncSource(IReferenceClock *clock)
{
    std::lock_guard lock(apiMutex_);
    clock_ = ComPtr<IReferenceClock>(clock);
    return S_OK;
}

HRESULT Graph::GetSyncSource(IReferenceClock **clock)
{
    std::lock_guard lock(apiMutex_);
    return clock_.CopyTo(clock);
}

// Events and position

void Graph::ErrorAbort(HRESULT hr, const std::string &reason)
{
    {
        std::lock_guard lock(eventMutex_);
        if (aborted_ || completion_ != 0)
            return;
        aborted_ = true;
        completion_ = EC_ERRORABORT;
        events_.push_back({EC_ERRORABORT, hr});
        errorCode_ = FAILED(hr) ? hr : E_FAIL;
        errorText_ = reason;
    }
    eventCv_.notify_all();
    // Called from a streaming thread before it ends, so running_ stays as it is
    // until Stop has joined that thread.
    for (BaseFilter *f : running_)
        f->Abort();
}

void Graph::EndpointComplete()
{
    {
        std::lock_guard lock(eventMutex_);
        if (aborted_ || completion_ != 0 || --endpointsLeft_ > 0)
            return;
        completion_ = EC_COMPLETE;
        events_.push_back({EC_COMPLETE, S_OK});
    }
    eventCv_.notify_all();
}

void Graph::SetPosition(REFERENCE_TIME position)
{
    position_ = position;
}

void Graph::setError(HRESULT hr, const std::string &text)
{
    std::lock_guard lock(eventMutex_);
    errorCode_ = hr;
    errorText_ = text;
}

HRESULT Graph::GetEvent(LONG *code, LONG_PTR *param1, LONG_PTR *param2, LONG msTimeout)
{
    if (!code || !param1 || !param2)
        return E_POINTER;
    *code = 0;
    *param1 = *param2 = 0;
    std::unique_lock lock(eventMutex_);
    auto any = [&] { return !events_.empty(); };
    if (msTimeout < 0)
        eventCv_.wait(lock, any);
    else
        eventCv_.wait_for(lock, std::chrono::milliseconds(msTimeout), any);
    if (events_.empty())
        return E_ABORT;
    *code = events_.front().code;
    *param1 = events_.front().param1;
    events_.pop_front();
    return S_OK;
}

HRESULT Graph::WaitForCompletion(LONG msTimeout, LONG *code)
{
    if (!code)
        return E_POINTER;
    *code = 0;
    std::unique_lock lock(eventMutex_);
    auto ended = [&] { return completion_ != 0 || !isRunning_; };
    if (msTimeout < 0)
        eventCv_.wait(lock, ended);
    else
        eventCv_.wait_for(lock, std::chrono::milliseconds(msTimeout), ended);
    if (!isRunning_)
        return VFW_E_WRONG_STATE;
    if (completion_ == 0)
        return E_ABORT;
    *code = completion_;
    return S_OK;
}

HRESULT Graph::FreeEventParams(LONG, LONG_PTR, LONG_PTR)
{
    return S_OK;
}

HRESULT Graph::GetCurrentPosition(LONGLONG *position)
{
    if (!position)
        return E_POINTER;
    *position = position_;
    return S_OK;
}

HRESULT Graph::GetDuration(LONGLONG *duration)
{
    if (!duration)
        return E_POINTER;
    std::lock_guard lock(apiMutex_);
    *duration = 0;
    for (auto &f : filters_)
        *duration = std::max(*duration, AsOurFilter(f.Get())->duration());
    return S_OK;
}

HRESULT Graph::GetErrorReason(HRESULT *code, std::string *text)
{
    if (!code || !text)
        return E_POINTER;
    std::lock_guard lock(eventMutex_);
    *code = errorCode_;
    *text = errorText_;
    return errorCode_ == S_OK ? S_FALSE : S_OK;
}

} // namespace media::detail
