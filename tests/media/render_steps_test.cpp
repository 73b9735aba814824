// The render's steps literally: every call the renderer makes, with raw
// interface pointers released by hand in the renderer's order, so that a
// reference too many or too few shows (here as live objects, under the
// sanitizer as a leak or a use after free).
#include "media_support.h"
#include "pictures.h"
#include "platform/media/compressors.h"
#include "testsupport.h"

#include "app/job/script_writer.h"
#include "platform/win32/files.h"
#include "platform/win32/strings.h"

#include <gtest/gtest.h>

using namespace mediatest;

namespace {

IPin *PinByDirection(IBaseFilter *filter, PIN_DIRECTION direction)
{
    if (!filter)
        return nullptr;
    IEnumPins *pins = nullptr;
    if (FAILED(filter->EnumPins(&pins)))
        return nullptr;
    IPin *found = nullptr;
    IPin *pin = nullptr;
    ULONG fetched = 0;
    while (pins->Next(1, &pin, &fetched) == S_OK) {
        PIN_DIRECTION d = PIN_DIRECTION(3);
        pin->QueryDirection(&d);
        if (d == direction) {
            found = pin;
            break;
        }
        pin->Release();
    }
    pins->Release();
    return found;
}

IBaseFilter *GetCompressor(int index)
{
    IBaseFilter *filter = nullptr;
    ICreateDevEnum *devices = nullptr;
    if (FAILED(media::CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_ICreateDevEnum, reinterpret_cast<void **>(&devices))))
        return nullptr;
    IEnumMoniker *monikers = nullptr;
    if (FAILED(devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0))) {
        devices->Release();
        return nullptr;
    }
    if (monikers) {
        monikers->Reset();
        IMoniker *moniker = nullptr;
        while (monikers->Next(1, &moniker, nullptr), moniker) {
            if (index != 0) {
                --index;
                moniker->Release();
                moniker = nullptr;
                continue;
            }
            moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                  reinterpret_cast<void **>(&filter));
            moniker->Release();
            break;
        }
        monikers->Release();
    }
    devices->Release();
    return filter;
}

class RenderSteps : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::WriteJpeg(dir.file("a.jpg"), 200, 150, testsupport::Gradient(7));
        testsupport::WriteBmp24(dir.file("b.bmp"), 150, 200, testsupport::Gradient(8));
        quillon::WriteScript({dir.file("a.jpg"), dir.file("b.bmp")}, 0, 2, "1");
        WriteWav(dir.file("tune.wav"), 44100, 2, 1.0);
    }
    void TearDown() override { EXPECT_EQ(media::LiveComObjects(), 0); }
    testsupport::TempDir dir;
};

} // namespace

TEST_F(RenderSteps, TheRenderersCallsAndReleasesInItsOrder)
{
    const std::string output = dir.file("photo_video.avi");
    const std::u16string wideOutput = win32::AnsiToWide(output);
    const std::u16string script = win32::AnsiToWide(win32::FixedScriptPath());
    const std::u16string sound = win32::AnsiToWide(dir.file("tune.wav"));

    media::CoInitialize(nullptr);
    IGraphBuilder *graph = nullptr;
    ASSERT_EQ(media::CoCreateInstance(CLSID_FilterGraph, nullptr, 7, IID_IGraphBuilder,
                                      reinterpret_cast<void **>(&graph)),
              S_OK);
    IBaseFilter *source = nullptr;
    graph->AddSourceFilter(script.c_str(), u"Source", &source);
    ASSERT_TRUE(source);
    IBaseFilter *compressor = GetCompressor(0);
    ASSERT_TRUE(compressor);
    graph->AddFilter(compressor, u"Compressor");
    ICaptureGraphBuilder *builder = nullptr;
    ASSERT_EQ(media::CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, 7,
                                      IID_ICaptureGraphBuilder,
                                      reinterpret_cast<void **>(&builder)),
              S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph), S_OK);
    IBaseFilter *mux = nullptr;
    IFileSinkFilter *sink = nullptr;
    ASSERT_EQ(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, wideOutput.c_str(), &mux, &sink), S_OK);
    IPin *sourceOut = PinByDirection(source, PINDIR_OUTPUT);
    IPin *compressorIn = PinByDirection(compressor, PINDIR_INPUT);
    IPin *compressorOut = PinByDirection(compressor, PINDIR_OUTPUT);
    IPin *muxIn = PinByDirection(mux, PINDIR_INPUT);
    EXPECT_EQ(graph->Connect(sourceOut, compressorIn), S_OK);
    EXPECT_EQ(graph->Connect(compressorOut, muxIn), S_OK);

    IBaseFilter *music = nullptr;
    graph->AddSourceFilter(sound.c_str(), u"Music source", &music);
    ASSERT_TRUE(music);
    IPin *musicOut = PinByDirection(music, PINDIR_OUTPUT);
    graph->Render(musicOut);
    musicOut->Release();
    music->Release();

    IMediaControl *control = nullptr;
    IMediaFilter *filter = nullptr;
    IMediaEvent *events = nullptr;
    IMediaSeeking *seeking = nullptr;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&control)), S_OK);
    ASSERT_EQ(graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void **>(&filter)), S_OK);
    ASSERT_EQ(graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void **>(&events)), S_OK);
    ASSERT_EQ(graph->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void **>(&seeking)), S_OK);
    EXPECT_EQ(filter->SetSyncSource(nullptr), S_OK);
    ASSERT_EQ(control->Run(), S_OK);

    LONG code = 0;
    LONGLONG position = 0;
    std::vector<std::uint32_t> milliseconds;
    do {
        code = 0;
        events->WaitForCompletion(100, &code);
        position = 0;
        seeking->GetCurrentPosition(&position);
        milliseconds.push_back(static_cast<std::uint32_t>(position / 10000));
    } while (code == 0);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(milliseconds.back(), 3000u);
    control->Stop();

    seeking->Release();
    events->Release();
    filter->Release();
    control->Release();
    muxIn->Release();
    compressorOut->Release();
    compressorIn->Release();
    sourceOut->Release();
    builder->Release();
    sink->Release();
    mux->Release();
    compressor->Release();
    source->Release();
    graph->Release();

    const AviInfo avi = ProbeAvi(output);
    ASSERT_TRUE(avi.video() && avi.audio());
    EXPECT_EQ(avi.video()->frames, 75);
    EXPECT_EQ(avi.audio()->audioSamples, 44100);
}

TEST_F(RenderSteps, AMissingCompressorFailsAtTheFirstConnection)
{
    const auto count = static_cast<int>(media::VideoCompressorCategory().size());
    EXPECT_EQ(GetCompressor(count), nullptr);
    EXPECT_EQ(GetCompressor(-1), nullptr);

    RenderGraph g;
    ASSERT_EQ(g.addSource(win32::AnsiToWide(win32::FixedScriptPath())), S_OK);
    EXPECT_FALSE(g.addCompressor(count));
    ASSERT_EQ(g.setOutput(win32::AnsiToWide(dir.file("photo_video.avi"))), S_OK);
    EXPECT_TRUE(FAILED(g.connectSourceToCompressor()));
}

TEST_F(RenderSteps, SetOutputFileNameWantsAnAviAndAName)
{
    ICaptureGraphBuilder *builder = nullptr;
    media::CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, 7, IID_ICaptureGraphBuilder,
                            reinterpret_cast<void **>(&builder));
    IBaseFilter *mux = nullptr;
    EXPECT_EQ(builder->SetOutputFileName(&MEDIATYPE_Video, u"/tmp/x.avi", &mux, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, u"", &mux, nullptr), E_INVALIDARG);
    EXPECT_EQ(builder->SetFiltergraph(nullptr), E_POINTER);
    EXPECT_EQ(mux, nullptr);
    // Without a graph of its own the builder makes one.
    EXPECT_EQ(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, u"/tmp/x.avi", &mux, nullptr), S_OK);
    IGraphBuilder *graph = nullptr;
    EXPECT_EQ(builder->GetFiltergraph(&graph), S_OK);
    ASSERT_TRUE(graph && mux);
    EXPECT_EQ(FilterNames(graph), (std::vector<std::u16string>{u"AVI Mux", u"File writer"}));
    graph->Release();
    mux->Release();
    builder->Release();
}
