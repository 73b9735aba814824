// The capture graph builder and the system device enumerator with the video
// compressor category.
#include "platform/media/detail/builders.h"

#include "platform/media/detail/enumerator.h"
#include "platform/media/detail/filters.h"
#include "platform/media/detail/graph.h"

#include <cstring>
#include <mutex>

namespace media::detail {

namespace {

class CaptureGraphBuilder : public ComObject<ICaptureGraphBuilder>
{
public:
    HRESULT SetFiltergraph(IGraphBuilder *graph) override
    {
        if (!graph)
            return E_POINTER;
        if (graph_)
            return E_UNEXPECTED;
        if (!AsOurGraph(graph))
            return E_INVALIDARG;
        graph_ = ComPtr<IGraphBuilder>(graph);
        return S_OK;
    }

    HRESULT GetFiltergraph(IGraphBuilder **graph) override
    {
        if (!graph)
            return E_POINTER;
        return graph_.CopyTo(graph);
    }

    HRESULT SetOutputFileName(const GUID *type, LPCOLESTR fileName, IBaseFilter **mux,
                              IFileSinkFilter **sink) override
    {
        if (!type || !fileName || !mux)
            return E_POINTER;
        *mux = nullptr;
        if (sink)
            *sink = nullptr;
        Container container = Container::Avi;
        if (*type == MEDIASUBTYPE_Mp4)
            container = Container::Mp4;
        else if (*type == MEDIASUBTYPE_Matroska)
            container = Container::Matroska;
        else if (*type == MEDIASUBTYPE_WebM)
            container = Container::WebM;
        else if (!(*type == MEDIASUBTYPE_Avi))
            return E_INVALIDARG;
        if (!*fileName)
            return E_INVALIDARG;
        if (!graph_) {
            HRESULT hr = CreateObject(CLSID_FilterGraph, IID_IGraphBuilder, graph_.PutVoid());
            if (FAILED(hr))
                return hr;
        }
        Graph *graph = AsOurGraph(graph_.Get());
        ComPtr<BaseFilter> muxFilter = MakeMux(container);
        ComPtr<BaseFilter> writer = MakeFileWriter(fileName);
        HRESULT hr = graph->addFilter(*muxFilter, muxFilter->defaultName());
        if (FAILED(hr))
            return hr;
        hr = graph->addFilter(*writer, writer->defaultName());
        if (SUCCEEDED(hr))
            hr = graph->connectDirect(static_cast<OutputPin &>(*muxFilter->pins()[0]),
                                      static_cast<InputPin &>(*writer->pins()[0]));
        if (FAILED(hr)) {
            graph->RemoveFilter(writer.Get());
            graph->RemoveFilter(muxFilter.Get());
            return hr;
        }
        if (sink) {
            hr = writer->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void **>(sink));
            if (FAILED(hr))
                return hr;
        }
        *mux = static_cast<IBaseFilter *>(muxFilter.Detach());
        return S_OK;
    }

private:
    ComPtr<IGraphBuilder> graph_;
};

class PropertyBag : public ComObject<IPropertyBag>
{
public:
    explicit PropertyBag(const CompressorEntry &entry)
        : entry_(entry)
    {}

    HRESULT Read(LPCOLESTR name, VARIANT *var, IErrorLog *) override
    {
        if (!name || !var)
            return E_POINTER;
        const std::u16string key = name;
        std::string value;
        if (key == u"FriendlyName")
            value = entry_.friendlyName;
        else if (key == u"FccHandler")
            value = FourccText(entry_.fourcc);
        else
            return E_INVALIDARG;
        if (var->vt != VT_EMPTY && var->vt != VT_BSTR)
            return E_FAIL;
        // The names are ASCII, so each byte is one UTF-16 unit.
        std::u16string wide(value.begin(), value.end());
        VariantClear(var);
        var->vt = VT_BSTR;
        var->bstrVal = SysAllocStringLen(wide.data(), static_cast<unsigned>(wide.size()));
        return var->bstrVal ? S_OK : E_OUTOFMEMORY;
    }

    HRESULT Write(LPCOLESTR, VARIANT *) override { return E_FAIL; }

private:
    const CompressorEntry entry_;
};

class CompressorMoniker : public ComObject<IMoniker>
{
public:
    explicit CompressorMoniker(const CompressorEntry &entry)
        : entry_(entry)
    {}

    HRESULT BindToObject(IBindCtx *, IMoniker *, REFIID riid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        ComPtr<BaseFilter> filter = MakeCompressor(entry_);
        if (!filter)
            return E_FAIL;
        return filter->QueryInterface(riid, object);
    }

    HRESULT BindToStorage(IBindCtx *, IMoniker *, REFIID riid, void **object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (!(riid == IID_IPropertyBag))
            return E_NOINTERFACE;
        *object = static_cast<IPropertyBag *>(MakeCom<PropertyBag>(entry_).Detach());
        return S_OK;
    }

private:
    const CompressorEntry entry_;
};

class SystemDeviceEnum : public ComObject<ICreateDevEnum>
{
public:
    HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker **monikers, DWORD) override
    {
        if (!monikers)
            return E_POINTER;
        *monikers = nullptr;
        if (!(category == CLSID_VideoCompressorCategory))
            return S_FALSE;
        std::vector<ComPtr<IMoniker>> items;
        for (const CompressorEntry &entry : VideoCompressorCategory())
            items.push_back(MakeCom<CompressorMoniker>(entry));
        if (items.empty())
            return S_FALSE;
        *monikers = MakeCom<Enumerator<IEnumMoniker, IMoniker>>(std::move(items)).Detach();
        return S_OK;
    }
};

} // namespace

HRESULT CreateObject(REFCLSID clsid, REFIID riid, void **object)
{
    // The graph reports its failures itself; FFmpeg's own chatter (encoder
    // statistics, decoder warnings) would only clutter the terminal. A host that
    // chose a log level of its own keeps it.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        if (av_log_get_level() == AV_LOG_INFO)
            av_log_set_level(AV_LOG_QUIET);
    });
    ComPtr<IUnknown> created;
    if (clsid == CLSID_FilterGraph)
        created = ComPtr<IUnknown>::Attach(static_cast<IGraphBuilder *>(new Graph()));
    else if (clsid == CLSID_CaptureGraphBuilder)
        created = MakeCom<CaptureGraphBuilder>();
    else if (clsid == CLSID_SystemDeviceEnum)
        created = MakeCom<SystemDeviceEnum>();
    else if (clsid == CLSID_SoundTrack)
        created = MakeSoundTrack();
    else
        return REGDB_E_CLASSNOTREG;
    return created->QueryInterface(riid, object);
}

} // namespace media::detail
