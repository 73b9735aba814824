// The filter graph manager.
#pragma once

#include "platform/media/detail/filter.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace media::detail {

class Graph final : public ComObject<IGraphBuilder, IMediaControl, IMediaFilter, IMediaEvent,
                                     IMediaSeeking, IGraphErrorInfo>,
                    private RunContext
{
public:
    Graph();

    HRESULT QueryInterface(REFIID riid, void **object) override;
    IFilterGraph *asFilterGraph() { return static_cast<IGraphBuilder *>(this); }

    // IFilterGraph
    HRESULT AddFilter(IBaseFilter *filter, LPCWSTR name) override;
    HRESULT RemoveFilter(IBaseFilter *filter) override;
    HRESULT EnumFilters(IEnumFilters **filters) override;
    HRESULT FindFilterByName(LPCWSTR name, IBaseFilter **filter) override;
    HRESULT ConnectDirect(IPin *output, IPin *input, const AM_MEDIA_TYPE *type) override;

    // IGraphBuilder
    HRESULT Connect(IPin *output, IPin *input) override;
    HRESULT Render(IPin *output) override;
    HRESULT AddSourceFilter(LPCWSTR fileName, LPCWSTR filterName, IBaseFilter **filter) override;

    // IMediaControl and IMediaFilter
    HRESULT Run() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(LONG msTimeout, OAFilterState *state) override;
    HRESULT GetState(DWORD msTimeout, FILTER_STATE *state) override;
    HRESULT SetSyncSource(IReferenceClock *clock) override;
    HRESULT GetSyncSource(IReferenceClock **clock) override;

    // IMediaEvent
    HRESULT GetEvent(LONG *code, LONG_PTR *param1, LONG_PTR *param2, LONG msTimeout) override;
    HRESULT WaitForCompletion(LONG msTimeout, LONG *code) override;
    HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) override;

    // IMediaSeeking
    HRESULT GetCurrentPosition(LONGLONG *position) override;
    HRESULT GetDuration(LONGLONG *duration) override;

    // IGraphErrorInfo
    HRESULT GetErrorReason(HRESULT *code, std::string *text) override;

    // For the capture graph builder, which builds inside the graph.
    HRESULT addFilter(BaseFilter &filter, const std::u16string &name);
    HRESULT connectDirect(OutputPin &output, InputPin &input);

private:
    ~Graph() override;

    // RunContext
    void ErrorAbort(HRESULT hr, const std::string &reason) override;
    void EndpointComplete() override;
    void SetPosition(REFERENCE_TIME position) override;
    IReferenceClock *Clock() const override { return runClock_.Get(); }
    REFERENCE_TIME ClockStart() const override { return clockStart_; }
    bool Aborted() const override { return aborted_.load(); }
    REFERENCE_TIME PicturesLength() const override { return picturesLength_; }

    // Everything below with apiMutex_ held.
    HRESULT addFilterLocked(BaseFilter &filter, std::u16string name);
    void removeFilterLocked(BaseFilter &filter);
    bool contains(const BaseFilter &filter) const;
    HRESULT checkPinsLocked(IPin *output, IPin *input, OutputPin **out, InputPin **in) const;
    HRESULT connectDirectLocked(OutputPin &output, InputPin &input);
    HRESULT connectLocked(OutputPin &output, InputPin &input);
    static void link(OutputPin &output, InputPin &input, const MediaType &type);
    static void unlink(Pin &pin);
    std::vector<BaseFilter *> streamingOrder() const;
    void stopLocked();
    void setError(HRESULT hr, const std::string &text);

    struct Event
    {
        LONG code;
        LONG_PTR param1;
    };

    std::mutex apiMutex_;
    std::vector<ComPtr<IBaseFilter>> filters_; // in the order they were added
    ComPtr<IReferenceClock> clock_;

    // One run: fixed between Run and the end of Stop.
    std::vector<BaseFilter *> running_;
    ComPtr<IReferenceClock> runClock_;
    REFERENCE_TIME clockStart_ = 0;
    REFERENCE_TIME picturesLength_ = 0;
    std::atomic<bool> aborted_{false};
    std::atomic<bool> isRunning_{false};
    std::atomic<REFERENCE_TIME> position_{0};

    std::mutex eventMutex_;
    std::condition_variable eventCv_;
    int endpointsLeft_ = 0;
    LONG completion_ = 0;
    std::deque<Event> events_;
    HRESULT errorCode_ = S_OK;
    std::string errorText_;
};

// The graph behind an interface pointer, when it is ours.
Graph *AsOurGraph(IGraphBuilder *graph);

// The system clock: time since some moment, in 100-nanosecond units.
ComPtr<IReferenceClock> MakeSystemClock();

} // namespace media::detail
