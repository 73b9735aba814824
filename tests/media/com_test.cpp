// The COM shape: creation, interfaces, reference counts, strings.
#include "platform/media/dshow.h"

#include <gtest/gtest.h>

namespace {

// Every test starts and ends with no object of the library alive.
class Com : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(media::LiveComObjects(), 0); }
    void TearDown() override { EXPECT_EQ(media::LiveComObjects(), 0); }
};

} // namespace

TEST_F(Com, CoInitializeCountsPerThread)
{
    EXPECT_EQ(media::CoInitialize(nullptr), S_OK);
    EXPECT_EQ(media::CoInitialize(nullptr), S_FALSE);
    media::CoUninitialize();
    media::CoUninitialize();
    EXPECT_EQ(media::CoInitialize(nullptr), S_OK);
    media::CoUninitialize();
}

TEST_F(Com, CreatesTheThreeClassesWithTheRenderersContext)
{
    ComPtr<IGraphBuilder> graph;
    ASSERT_EQ(
        media::CoCreateInstance(CLSID_FilterGraph, nullptr, 7, IID_IGraphBuilder, graph.PutVoid()),
        S_OK);
    ComPtr<ICaptureGraphBuilder> builder;
    ASSERT_EQ(media::CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, 7,
                                      IID_ICaptureGraphBuilder, builder.PutVoid()),
              S_OK);
    ComPtr<ICreateDevEnum> devices;
    ASSERT_EQ(media::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_ICreateDevEnum, devices.PutVoid()),
              S_OK);
    EXPECT_TRUE(graph && builder && devices);
    EXPECT_GT(media::LiveComObjects(), 2);
}

TEST_F(Com, CreationFailuresLeaveTheOutPointerNull)
{
    void *object = reinterpret_cast<void *>(1);
    EXPECT_EQ(media::CoCreateInstance(MEDIASUBTYPE_Avi, nullptr, 7, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);

    ComPtr<IGraphBuilder> outer;
    media::CoCreateInstance(CLSID_FilterGraph, nullptr, 7, IID_IGraphBuilder, outer.PutVoid());
    EXPECT_EQ(media::CoCreateInstance(CLSID_FilterGraph, outer.Get(), 7, IID_IUnknown, &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(media::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                      &object),
              REGDB_E_CLASSNOTREG);
    // A class that exists, asked for an interface it does not have: nothing
    // stays alive.
    EXPECT_EQ(
        media::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, 7, IID_IGraphBuilder, &object),
        E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(media::CoCreateInstance(CLSID_FilterGraph, nullptr, 7, IID_IUnknown, nullptr),
              E_POINTER);
}

TEST_F(Com, TheGraphAnswersEveryInterfaceTheRendererAsksFor)
{
    ComPtr<IGraphBuilder> graph;
    media::CoCreateInstance(CLSID_FilterGraph, nullptr, 7, IID_IGraphBuilder, graph.PutVoid());
    ComPtr<IMediaControl> control;
    ComPtr<IMediaFilter> filter;
    ComPtr<IMediaEvent> events;
    ComPtr<IMediaSeeking> seeking;
    ComPtr<IFilterGraph> filterGraph;
    EXPECT_EQ(graph.As(&control), S_OK);
    EXPECT_EQ(graph.As(&filter), S_OK);
    EXPECT_EQ(graph.As(&events), S_OK);
    EXPECT_EQ(graph.As(&seeking), S_OK);
    EXPECT_EQ(graph.As(&filterGraph), S_OK);
    ComPtr<ICreateDevEnum> notThere;
    EXPECT_EQ(graph.As(&notThere), E_NOINTERFACE);
    EXPECT_FALSE(notThere);

    // Every interface of one object gives the same IUnknown.
    ComPtr<IUnknown> a, b;
    control.As(&a);
    seeking.As(&b);
    EXPECT_EQ(a.Get(), b.Get());
}

TEST_F(Com, ComPtrCountsForItsHolder)
{
    ComPtr<IGraphBuilder> graph;
    media::CoCreateInstance(CLSID_FilterGraph, nullptr, 7, IID_IGraphBuilder, graph.PutVoid());
    {
        ComPtr<IGraphBuilder> copy = graph;
        ComPtr<IGraphBuilder> moved = std::move(copy);
        EXPECT_FALSE(copy);
        EXPECT_EQ(moved.Get(), graph.Get());
        // AddRef and Release report the count.
        EXPECT_EQ(graph->AddRef(), 3u);
        EXPECT_EQ(graph->Release(), 2u);
    }
    IGraphBuilder *raw = graph.Detach();
    EXPECT_GT(media::LiveComObjects(), 0);
    ComPtr<IGraphBuilder> again = ComPtr<IGraphBuilder>::Attach(raw);
    again = nullptr;
}

TEST_F(Com, StringsAndVariants)
{
    BSTR text = media::SysAllocString(u"DivX? 5");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(media::SysStringLen(text), 7u);
    EXPECT_EQ(std::u16string(text), u"DivX? 5");
    media::SysFreeString(text);
    EXPECT_EQ(media::SysAllocString(nullptr), nullptr);
    EXPECT_EQ(media::SysStringLen(nullptr), 0u);

    VARIANT var;
    media::VariantInit(&var);
    EXPECT_EQ(var.vt, VT_EMPTY);
    var.vt = VT_BSTR;
    var.bstrVal = media::SysAllocStringLen(u"abc", 3);
    EXPECT_EQ(media::VariantClear(&var), S_OK);
    EXPECT_EQ(var.vt, VT_EMPTY);

    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), static_cast<HRESULT>(0x80070003));
    EXPECT_TRUE(FAILED(E_FAIL));
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
}
