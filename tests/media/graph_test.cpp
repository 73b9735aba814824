// Building and running graphs: names, pins, connections with and without a
// converter, rendering the sound, running, waiting, stopping, and the ways a
// run fails.
#include "media_support.h"
#include "test_clip.h"
#include "testsupport.h"

#include "platform/win32/files.h"
#include "platform/win32/strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>
#include <unistd.h>

using namespace mediatest;
using testsupport::Rgb;

namespace {

std::u16string Wide(const std::string &text)
{
    return win32::AnsiToWide(text);
}

// Frames 0..24 grey, 25..49 white: two held pictures.
std::shared_ptr<PatternClip> TwoSlides(std::int64_t frames = 50, std::int64_t failAt = -1)
{
    return ColourClip(
        64, 48, frames,
        [](std::int64_t n) {
            return n < 25 ? Rgb{100, 100, 100} : Rgb{240, 240, 240};
        },
        failAt);
}

class Graph : public ::testing::Test
{
protected:
    void TearDown() override
    {
        g.reset();
        EXPECT_EQ(media::LiveComObjects(), 0);
    }

    // A graph with the clip as "Source", the compressor, the multiplexer and
    // the writer, not yet connected.
    void build(std::shared_ptr<avs::Clip> clip, int compressor, const std::string &output)
    {
        g = std::make_unique<RenderGraph>();
        ASSERT_EQ(g->addSource(ClipSource(std::move(clip)).Get()), S_OK);
        ASSERT_TRUE(g->addCompressor(compressor));
        ASSERT_EQ(g->setOutput(Wide(output)), S_OK);
    }

    testsupport::TempDir dir;
    std::unique_ptr<RenderGraph> g;
};

} // namespace

TEST_F(Graph, FiltersCarryTheirNamesAndDuplicatesAreNumbered)
{
    build(TwoSlides(), 0, dir.file("movie.avi"));
    EXPECT_EQ(FilterNames(g->graph.Get()),
              (std::vector<std::u16string>{u"Source", u"Compressor", u"AVI Mux", u"File writer"}));

    ComPtr<IBaseFilter> second = CompressorAt(0);
    EXPECT_EQ(g->graph->AddFilter(second.Get(), u"Compressor"), VFW_S_DUPLICATE_NAME);
    ComPtr<IBaseFilter> found;
    EXPECT_EQ(g->graph->FindFilterByName(u"Compressor 0001", found.Put()), S_OK);
    EXPECT_EQ(found.Get(), second.Get());
    EXPECT_EQ(g->graph->FindFilterByName(u"Music source", found.Put()), VFW_E_NOT_FOUND);
    EXPECT_FALSE(found);
    // A filter is in one graph at a time.
    EXPECT_EQ(g->graph->AddFilter(second.Get(), u"Again"), E_INVALIDARG);
    EXPECT_EQ(g->graph->AddFilter(nullptr, u"Nothing"), E_POINTER);
    EXPECT_EQ(g->graph->RemoveFilter(second.Get()), S_OK);
    EXPECT_EQ(g->graph->RemoveFilter(second.Get()), VFW_E_NOT_FOUND);

    FILTER_INFO info;
    ASSERT_EQ(g->mux->QueryFilterInfo(&info), S_OK);
    ComPtr<IFilterGraph> owner = ComPtr<IFilterGraph>::Attach(info.pGraph);
    ComPtr<IFilterGraph> graph;
    g->graph.As(&graph);
    EXPECT_EQ(owner.Get(), graph.Get());

    LPOLESTR file = nullptr;
    ASSERT_EQ(g->sink->GetCurFile(&file, nullptr), S_OK);
    EXPECT_EQ(std::u16string(file), Wide(dir.file("movie.avi")));
    media::CoTaskMemFree(file);
}

TEST_F(Graph, TheMultiplexerAlwaysHasOneFreeInput)
{
    build(TwoSlides(), 0, dir.file("movie.avi"));
    // Output first, then the inputs.
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(g->mux->EnumPins(pins.Put()), S_OK);
    IPin *all[4] = {};
    ULONG fetched = 0;
    EXPECT_EQ(pins->Next(4, all, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    PIN_DIRECTION d0, d1;
    all[0]->QueryDirection(&d0);
    all[1]->QueryDirection(&d1);
    EXPECT_EQ(d0, PINDIR_OUTPUT);
    EXPECT_EQ(d1, PINDIR_INPUT);
    for (ULONG i = 0; i < fetched; ++i)
        all[i]->Release();

    // The output is connected to the writer already.
    ComPtr<IPin> out = PinOf(g->mux.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> writerIn;
    ASSERT_EQ(out->ConnectedTo(writerIn.Put()), S_OK);
    PIN_INFO info;
    writerIn->QueryPinInfo(&info);
    ComPtr<IBaseFilter> writer = ComPtr<IBaseFilter>::Attach(info.pFilter);
    ComPtr<IFileSinkFilter> sink;
    EXPECT_EQ(writer.As(&sink), S_OK);
    EXPECT_EQ(sink.Get(), g->sink.Get());

    EXPECT_FALSE(PinOf(g->mux.Get(), PINDIR_INPUT, 1));
    ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
    ASSERT_EQ(g->connectCompressorToMux(), S_OK);
    ComPtr<IPin> first = PinOf(g->mux.Get(), PINDIR_INPUT, 0);
    ComPtr<IPin> second = PinOf(g->mux.Get(), PINDIR_INPUT, 1);
    ComPtr<IPin> peer;
    EXPECT_EQ(first->ConnectedTo(peer.Put()), S_OK);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->ConnectedTo(peer.Put()), VFW_E_NOT_CONNECTED);
    EXPECT_FALSE(peer);
    ASSERT_EQ(second->QueryPinInfo(&info), S_OK);
    info.pFilter->Release();
    EXPECT_EQ(std::u16string(info.achName), u"Input 02");
    EXPECT_FALSE(PinOf(g->mux.Get(), PINDIR_INPUT, 2));
}

TEST_F(Graph, ConnectInsertsAConverterOnlyWhenTheFormatsDiffer)
{
    build(TwoSlides(), IndexOf("mpeg4"), dir.file("movie.avi"));
    ComPtr<IPin> out = PinOf(g->source.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> in = PinOf(g->compressor.Get(), PINDIR_INPUT);
    // Pictures in RGB do not go into an MPEG-4 encoder as they are...
    EXPECT_EQ(g->graph->ConnectDirect(out.Get(), in.Get(), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
    // ...but through a converter that Connect puts in between.
    ASSERT_EQ(g->graph->Connect(out.Get(), in.Get()), S_OK);
    const auto names = FilterNames(g->graph.Get());
    EXPECT_NE(std::find(names.begin(), names.end(), u"Color Space Converter"), names.end());
    ComPtr<IPin> peer;
    ASSERT_EQ(out->ConnectedTo(peer.Put()), S_OK);
    PIN_INFO info;
    peer->QueryPinInfo(&info);
    ComPtr<IBaseFilter> converter = ComPtr<IBaseFilter>::Attach(info.pFilter);
    EXPECT_NE(converter.Get(), g->compressor.Get());
    EXPECT_EQ(g->graph->Connect(out.Get(), in.Get()), VFW_E_ALREADY_CONNECTED);

    const int raw = IndexOf("rawvideo");
    if (raw >= 0) {
        build(TwoSlides(), raw, dir.file("raw.avi"));
        ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
        EXPECT_EQ(FilterNames(g->graph.Get()).size(), 4u);
    }
}

TEST_F(Graph, ConnectionsThatCannotWorkFail)
{
    build(TwoSlides(), 0, dir.file("movie.avi"));
    WriteWav(dir.file("tune.wav"), 22050, 1, 0.5);
    ComPtr<IBaseFilter> sound;
    ASSERT_EQ(
        g->graph->AddSourceFilter(Wide(dir.file("tune.wav")).c_str(), u"Music source", sound.Put()),
        S_OK);
    ComPtr<IPin> soundOut = PinOf(sound.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> compressorIn = PinOf(g->compressor.Get(), PINDIR_INPUT);
    ComPtr<IPin> videoOut = PinOf(g->source.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> muxIn = PinOf(g->mux.Get(), PINDIR_INPUT);

    // Sound into a video compressor; pictures straight into the multiplexer.
    EXPECT_TRUE(FAILED(g->graph->Connect(soundOut.Get(), compressorIn.Get())));
    EXPECT_TRUE(FAILED(g->graph->Connect(videoOut.Get(), muxIn.Get())));
    EXPECT_EQ(FilterNames(g->graph.Get()).size(), 5u); // no converter left behind

    EXPECT_EQ(g->graph->Connect(nullptr, compressorIn.Get()), E_POINTER);
    EXPECT_EQ(g->graph->Connect(videoOut.Get(), nullptr), E_POINTER);
    EXPECT_EQ(g->graph->Connect(compressorIn.Get(), videoOut.Get()), VFW_E_INVALID_DIRECTION);
    ComPtr<IBaseFilter> outside = CompressorAt(0);
    EXPECT_EQ(g->graph->Connect(videoOut.Get(), PinOf(outside.Get(), PINDIR_INPUT).Get()),
              VFW_E_NOT_IN_GRAPH);
    // The compressor's output has nothing to offer before its input is connected.
    EXPECT_TRUE(
        FAILED(g->graph->Connect(PinOf(g->compressor.Get(), PINDIR_OUTPUT).Get(), muxIn.Get())));
    EXPECT_FALSE(PinOf(g->mux.Get(), PINDIR_INPUT, 1));
}

TEST_F(Graph, RenderJoinsTheSoundToAFreeMultiplexerInput)
{
    build(TwoSlides(), 0, dir.file("movie.avi"));
    ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
    ASSERT_EQ(g->connectCompressorToMux(), S_OK);
    WriteWav(dir.file("tune.wav"), 22050, 2, 0.5);
    ASSERT_EQ(g->addSound(Wide(dir.file("tune.wav"))), S_OK);
    ComPtr<IPin> peer;
    EXPECT_EQ(PinOf(g->mux.Get(), PINDIR_INPUT, 1)->ConnectedTo(peer.Put()), S_OK);
    EXPECT_TRUE(PinOf(g->mux.Get(), PINDIR_INPUT, 2));

    // A second video source has nowhere to go: the only free inputs take no pictures.
    ComPtr<IBaseFilter> other = ClipSource(TwoSlides());
    g->graph->AddFilter(other.Get(), u"Other");
    EXPECT_EQ(g->graph->Render(PinOf(other.Get(), PINDIR_OUTPUT).Get()), VFW_E_CANNOT_RENDER);
    EXPECT_EQ(g->graph->Render(nullptr), E_POINTER);
}

TEST_F(Graph, SourcesThatCannotBeOpenedYieldNoFilter)
{
    g = std::make_unique<RenderGraph>();
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(g->graph->AddSourceFilter(Wide(dir.file("missing.wav")).c_str(), u"Music source",
                                        filter.Put()),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(filter);
    EXPECT_NE(g->errorReason().find("missing.wav"), std::string::npos);

    testsupport::WriteFile(dir.file("notes.txt"), "not a sound\n");
    EXPECT_TRUE(FAILED(g->graph->AddSourceFilter(Wide(dir.file("notes.txt")).c_str(),
                                                 u"Music source", filter.Put())));
    EXPECT_FALSE(filter);

    testsupport::WriteFile(dir.file("broken.avs"), "return Nonsense(\r\n");
    EXPECT_TRUE(FAILED(
        g->graph->AddSourceFilter(Wide(dir.file("broken.avs")).c_str(), u"Source", filter.Put())));
    EXPECT_FALSE(filter);
    EXPECT_FALSE(g->errorReason().empty());
    EXPECT_EQ(g->graph->AddSourceFilter(nullptr, u"Source", filter.Put()), E_POINTER);
    EXPECT_EQ(FilterNames(g->graph.Get()).size(), 0u);
}

TEST_F(Graph, StopIsSafeInAnyStateAndWaitingNeedsARun)
{
    g = std::make_unique<RenderGraph>();
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    g->graph.As(&control);
    g->graph.As(&events);
    EXPECT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(control->Stop(), S_OK);
    LONG code = 99;
    EXPECT_EQ(events->WaitForCompletion(10, &code), VFW_E_WRONG_STATE);
    EXPECT_EQ(code, 0);
    OAFilterState state;
    control->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
}

TEST_F(Graph, RunFailsWhenTheFileCannotBeCreated)
{
    const std::string output = dir.file("no such folder/movie.avi");
    build(TwoSlides(), 0, output);
    ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
    ASSERT_EQ(g->connectCompressorToMux(), S_OK);
    EXPECT_EQ(g->run(), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(testsupport::Exists(output));
    EXPECT_NE(g->errorReason().find("no such folder/movie.avi"), std::string::npos);
    OAFilterState state;
    g->control->GetState(0, &state);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_EQ(g->stop(), S_OK);
    EXPECT_EQ(g->stop(), S_OK);

    // A file at the name that has another name too, or is another user's, is
    // neither emptied nor written.
    const std::string kept = dir.file("thesis.txt");
    testsupport::WriteFile(kept, "my thesis");
    ASSERT_EQ(::link(kept.c_str(), dir.file("linked.avi").c_str()), 0);
    testsupport::WriteFile(dir.file("theirs.avi"), "their file");
    std::vector<std::string> names{"linked.avi"};
    if (::geteuid() == 0) { // only root can give a file away
        ASSERT_EQ(::chown(dir.file("theirs.avi").c_str(), 65534, 65534), 0);
        names.push_back("theirs.avi");
    }
    for (const std::string &name : names) {
        build(TwoSlides(), 0, dir.file(name));
        ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
        ASSERT_EQ(g->connectCompressorToMux(), S_OK);
        EXPECT_TRUE(FAILED(g->run())) << name;
        EXPECT_NE(g->errorReason().find(name), std::string::npos) << g->errorReason();
        g->stop();
    }
    EXPECT_EQ(testsupport::ReadFile(kept), "my thesis");
    EXPECT_EQ(testsupport::ReadFile(dir.file("theirs.avi")), "their file");
}

// A writer handed the file made for the movie writes that file, every run,
// even once its name leads into another folder.
TEST_F(Graph, AFileHandedToTheWriterIsTheOneWrittenWhereverItsNameLeads)
{
    testsupport::MakeFolder(dir.file("out"));
    win32::FileBeside file;
    ASSERT_TRUE(file.Create(dir.file("out/movie.avi"), 0600));
    const std::string leaf = file.NewPath().substr(dir.file("out/").size());
    build(TwoSlides(), 0, file.NewPath());
    ComPtr<IFileSinkDescriptor> held;
    ASSERT_EQ(g->sink->QueryInterface(IID_IFileSinkDescriptor, held.PutVoid()), S_OK);
    ASSERT_EQ(held->SetFileDescriptor(file.Descriptor()), S_OK);
    ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
    ASSERT_EQ(g->connectCompressorToMux(), S_OK);
    ASSERT_EQ(::rename(dir.file("out").c_str(), dir.file("held").c_str()), 0);
    testsupport::MakeFolder(dir.file("out"));
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(g->run(), S_OK);
        EXPECT_EQ(g->waitForEnd(), EC_COMPLETE);
        EXPECT_EQ(g->stop(), S_OK);
        EXPECT_EQ(ProbeAvi(dir.file("held/" + leaf)).video()->frames, 50);
    }
    EXPECT_TRUE(win32::ListFolder(dir.file("out"))->empty());
    held.Reset();
    g.reset();
    file.Discard();
    EXPECT_TRUE(win32::ListFolder(dir.file("held"))->empty());
}

TEST_F(Graph, ARunEndsWithCompletionAndTheMoviesLength)
{
    build(TwoSlides(), 0, dir.file("movie.avi"));
    ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
    ASSERT_EQ(g->connectCompressorToMux(), S_OK);
    LONGLONG duration = 0;
    ComPtr<IMediaSeeking> seeking;
    g->graph.As(&seeking);
    seeking->GetDuration(&duration);
    EXPECT_EQ(duration, 20000000);

    ASSERT_EQ(g->run(), S_OK);
    std::vector<LONGLONG> positions;
    EXPECT_EQ(g->waitForEnd(&positions), EC_COMPLETE);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(positions.back(), 20000000);
    // The end stays reported until the graph stops.
    LONG code = 0;
    EXPECT_EQ(g->events->WaitForCompletion(0, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    LONG_PTR p1, p2;
    EXPECT_EQ(g->events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(g->events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    EXPECT_EQ(g->stop(), S_OK);
    EXPECT_EQ(g->stop(), S_OK);

    const AviInfo avi = ProbeAvi(dir.file("movie.avi"));
    ASSERT_TRUE(avi.video());
    EXPECT_EQ(avi.video()->frames, 50);
    EXPECT_EQ(avi.video()->tag, "DX50");
}

TEST_F(Graph, WaitingWhileTheGraphRunsLeavesTheCodeZero)
{
    // With the system clock the source plays in real time, so the graph is
    // still running when the wait ends.
    build(TwoSlides(25 * 20), 0, dir.file("movie.avi"));
    ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
    ASSERT_EQ(g->connectCompressorToMux(), S_OK);
    ASSERT_EQ(g->run(/*withoutClock=*/false), S_OK);
    for (int i = 0; i < 3; ++i) {
        LONG code = 99;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(g->events->WaitForCompletion(100, &code), E_ABORT);
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(code, 0);
        EXPECT_GE(waited, std::chrono::milliseconds(95));
        EXPECT_LT(waited, std::chrono::milliseconds(2000));
    }
    LONGLONG position = 0;
    g->seeking->GetCurrentPosition(&position);
    EXPECT_LT(position, 20 * 10000000LL);

    // Stopped in the middle, the file is finished with what it has.
    EXPECT_EQ(g->stop(), S_OK);
    EXPECT_EQ(g->stop(), S_OK);
    const AviInfo avi = ProbeAvi(dir.file("movie.avi"));
    ASSERT_TRUE(avi.video());
    EXPECT_GT(avi.video()->frames, 0);
    EXPECT_LT(avi.video()->frames, 500);
}

TEST_F(Graph, AFrameThatCannotBeMadeEndsTheRunWithErrorAbort)
{
    build(TwoSlides(200, 120), 0, dir.file("movie.avi"));
    ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
    ASSERT_EQ(g->connectCompressorToMux(), S_OK);
    ASSERT_EQ(g->run(), S_OK);
    EXPECT_EQ(g->waitForEnd(), EC_ERRORABORT);
    EXPECT_EQ(g->errorReason(), "Cannot open \"/photos/gone.jpg\": No such file or directory");
    LONG code;
    LONG_PTR p1, p2;
    ASSERT_EQ(g->events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_ERRORABORT);
    EXPECT_TRUE(FAILED(static_cast<HRESULT>(p1)));
    EXPECT_EQ(g->stop(), S_OK);
    // What was written before is a file players can open.
    const AviInfo avi = ProbeAvi(dir.file("movie.avi"));
    ASSERT_TRUE(avi.video());
    EXPECT_LE(avi.video()->frames, 120);
}

TEST_F(Graph, AFullDiskEndsTheRunWithErrorAbort)
{
    build(TwoSlides(25 * 60), IndexOf("rawvideo") >= 0 ? IndexOf("rawvideo") : 0, "/dev/full");
    ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
    ASSERT_EQ(g->connectCompressorToMux(), S_OK);
    ASSERT_EQ(g->run(), S_OK);
    EXPECT_EQ(g->waitForEnd(), EC_ERRORABORT);
    EXPECT_NE(g->errorReason().find("No space left on device"), std::string::npos)
        << g->errorReason();
    HRESULT code;
    std::string text;
    ComPtr<IGraphErrorInfo> info;
    g->graph.As(&info);
    info->GetErrorReason(&code, &text);
    EXPECT_EQ(code, HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_EQ(g->stop(), S_OK);
}

TEST_F(Graph, AGraphCanRunAgainAfterStopping)
{
    auto clip = TwoSlides();
    build(clip, 0, dir.file("movie.avi"));
    ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
    ASSERT_EQ(g->connectCompressorToMux(), S_OK);
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(g->run(), S_OK);
        EXPECT_EQ(g->waitForEnd(), EC_COMPLETE);
        EXPECT_EQ(g->stop(), S_OK);
        EXPECT_EQ(ProbeAvi(dir.file("movie.avi")).video()->frames, 50);
    }
}

TEST_F(Graph, AStreamThatLeadsNowhereStillEnds)
{
    // The converter's compressor is taken out again: the pictures have nowhere
    // to go, and the run ends all the same.
    g = std::make_unique<RenderGraph>();
    ASSERT_EQ(g->addSource(ClipSource(TwoSlides()).Get()), S_OK);
    ASSERT_TRUE(g->addCompressor(IndexOf("mpeg4")));
    ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
    ASSERT_EQ(g->graph->RemoveFilter(g->compressor.Get()), S_OK);
    ASSERT_EQ(FilterNames(g->graph.Get()),
              (std::vector<std::u16string>{u"Source", u"Color Space Converter"}));
    ASSERT_EQ(g->run(), S_OK);
    EXPECT_EQ(g->waitForEnd(), EC_COMPLETE);
    EXPECT_EQ(g->stop(), S_OK);

    // A multiplexer without inputs cannot make a file.
    g = std::make_unique<RenderGraph>();
    ASSERT_EQ(g->setOutput(Wide(dir.file("empty.avi"))), S_OK);
    EXPECT_EQ(g->run(), VFW_E_NOT_CONNECTED);
    EXPECT_FALSE(testsupport::Exists(dir.file("empty.avi")));
}

TEST_F(Graph, FramesMadeAtOnceAreHandedOnInOrder)
{
    const int raw = IndexOf("rawvideo");
    if (raw < 0)
        GTEST_SKIP() << "no uncompressed entry here";
    // Every frame its own picture, its number in its colour; some take longer,
    // so that frames made at once are finished out of order.
    auto numbered = [](std::int64_t failAt) {
        auto clip = std::make_shared<PatternClip>(
            32, 16, 60, [](std::int64_t n) { return n; },
            [](std::int64_t n, int, int) {
                return Rgb{std::uint8_t(n * 4), 0, std::uint8_t(255 - n)};
            },
            failAt);
        clip->setDelay(
            [](std::int64_t n) { return std::chrono::milliseconds(n % 5 == 0 ? 30 : 0); });
        return clip;
    };

    auto clip = numbered(-1);
    build(clip, raw, dir.file("movie.avi"));
    ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
    ASSERT_EQ(g->connectCompressorToMux(), S_OK);
    ASSERT_EQ(g->run(), S_OK);
    EXPECT_EQ(g->waitForEnd(), EC_COMPLETE);
    EXPECT_EQ(g->stop(), S_OK);
    const AviInfo avi = ProbeAvi(dir.file("movie.avi"));
    ASSERT_EQ(avi.video()->frames, 60);
    for (std::int64_t n = 0; n < 60; ++n)
        EXPECT_EQ(DecodeFrame(dir.file("movie.avi"), n), Packed(*clip->Make(n))) << n;

    // Frame 45 fails; later frames may be made already, but the run ends with
    // that frame's reason.
    build(numbered(45), raw, dir.file("failed.avi"));
    ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
    ASSERT_EQ(g->connectCompressorToMux(), S_OK);
    ASSERT_EQ(g->run(), S_OK);
    EXPECT_EQ(g->waitForEnd(), EC_ERRORABORT);
    EXPECT_EQ(g->errorReason(), "Cannot open \"/photos/gone.jpg\": No such file or directory");
    LONGLONG position = 0;
    g->seeking->GetCurrentPosition(&position);
    EXPECT_LT(position, 45 * 400000LL);
    EXPECT_EQ(g->stop(), S_OK);
}

TEST_F(Graph, ASlideThatWasShownIsLetGoWhileTheRunGoesOn)
{
    // Three held slides; the third one's frame 60 takes until the test lets it
    // go. By then the first slide is coded and nothing may keep its pixels.
    auto clip = ColourClip(64, 48, 75, [](std::int64_t n) {
        return n < 25 ? Rgb{200, 0, 0} : n < 50 ? Rgb{0, 200, 0} : Rgb{0, 0, 200};
    });
    std::weak_ptr<const avs::Frame> first = clip->GetFrame(0);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    clip->setDelay([released](std::int64_t n) {
        if (n == 60)
            released.wait();
        return std::chrono::milliseconds(0);
    });
    build(clip, 0, dir.file("movie.avi"));
    ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
    ASSERT_EQ(g->connectCompressorToMux(), S_OK);
    ASSERT_EQ(g->run(), S_OK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!first.expired() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool letGo = first.expired();
    release.set_value();
    EXPECT_TRUE(letGo) << "the first slide's frame was still held at frame 60";
    EXPECT_EQ(g->waitForEnd(), EC_COMPLETE);
    EXPECT_EQ(g->stop(), S_OK);
    EXPECT_EQ(ProbeAvi(dir.file("movie.avi")).video()->frames, 75);
}

namespace {

// Sound whose streaming thread runs out of memory at once.
class SoundOutOfMemory final : public media::detail::BaseFilter
{
public:
    SoundOutOfMemory()
        : BaseFilter(u"Sound out of memory")
    {
        output_ = addOutputPin(u"Sound");
    }
    std::optional<media::detail::MediaType>
    agreeOutput(const media::detail::OutputPin &,
                const media::detail::MediaType &wish) const override
    {
        if (!wish.isDecodedAudio())
            return std::nullopt;
        media::detail::MediaType type = wish;
        type.sampleRate = type.sampleRate ? type.sampleRate : 48000;
        type.channels = type.channels ? type.channels : 2;
        return type;
    }
    std::vector<media::detail::MediaType>
    outputTypes(const media::detail::OutputPin &pin) const override
    {
        media::detail::MediaType wish;
        wish.major = media::detail::Major::Audio;
        wish.sampleFormat = AV_SAMPLE_FMT_FLTP;
        return {*agreeOutput(pin, wish)};
    }
    void Start() override
    {
        startThread([] { throw std::bad_alloc(); });
    }

private:
    media::detail::OutputPin *output_;
};

} // namespace

// An allocation that fails on a streaming thread ended the process.
TEST_F(Graph, RunningOutOfMemoryOnAStreamingThreadEndsTheRunWithErrorAbort)
{
    build(TwoSlides(), 0, dir.file("movie.avi"));
    ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
    ASSERT_EQ(g->connectCompressorToMux(), S_OK);
    auto sound = media::detail::MakeCom<SoundOutOfMemory>();
    ASSERT_EQ(g->graph->AddFilter(sound.Get(), u"Music source"), S_OK);
    ASSERT_EQ(g->graph->Render(PinOf(sound.Get(), PINDIR_OUTPUT).Get()), S_OK);
    ASSERT_EQ(g->run(), S_OK);
    EXPECT_EQ(g->waitForEnd(), EC_ERRORABORT);
    EXPECT_EQ(g->errorReason(), "Out of memory");
    EXPECT_EQ(g->stop(), S_OK);
}
