// Movies rendered through every compressor of the category into every container
// that carries it, probed and decoded.
#include "media_support.h"
#include "test_clip.h"
#include "testsupport.h"

#include "app/job/script_writer.h"
#include "platform/win32/files.h"
#include "platform/win32/strings.h"

#include <gtest/gtest.h>

using namespace mediatest;
using testsupport::Rgb;

namespace {

constexpr int kWidth = 176;
constexpr int kHeight = 144;

// Two pictures held for two and one seconds with a one-second cross-fade
// between them: frames 0..49 picture A, 50..74 the fade, 75..99 picture B.
// The pictures are gradients, so a flipped or mirrored movie does not pass.
Rgb SlidePixel(std::int64_t picture, int x, int y)
{
    const int gx = x * 255 / (kWidth - 1);
    const int gy = y * 255 / (kHeight - 1);
    const Rgb a{std::uint8_t(gx), std::uint8_t(gy), 60};
    const Rgb b{40, std::uint8_t(255 - gy), std::uint8_t(gx)};
    if (picture == 0)
        return a;
    if (picture == 100)
        return b;
    auto mix
        = [&](int p, int q) { return std::uint8_t((p * (26 - picture) + q * picture + 13) / 26); };
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

std::int64_t SlidePicture(std::int64_t n)
{
    return n < 50 ? 0 : n < 75 ? n - 49 : 100;
}

std::shared_ptr<PatternClip> SlideShow()
{
    return std::make_shared<PatternClip>(kWidth, kHeight, 100, SlidePicture, SlidePixel);
}

// How far a decoded picture may be from the original, on average per channel:
// lossy coding at the default quality, and the 15-bit colour of Video 1.
double Tolerance(const std::string &key)
{
    if (key == "msvideo1" || key == "cinepak")
        return 8;
    return 3;
}

// A real slide show: two photos (a JPEG and a BMP of other sizes), NTSC Low,
// interval 1, written by the script writer: 75 frames, photo 0 held for frames
// 0..24, the cross-fade 25..49, photo 1 held 50..74.
// Each container with each compressor of the category that it carries.
using Pair = std::pair<media::Container, std::size_t>;

std::vector<Pair> OfferedPairs()
{
    std::vector<Pair> pairs;
    for (auto c : {media::Container::Avi, media::Container::Mp4, media::Container::Matroska,
                   media::Container::WebM})
        for (std::size_t i = 0; i < media::VideoCompressorCategory().size(); ++i)
            if (media::ContainerCarries(c, media::VideoCompressorCategory()[i]))
                pairs.emplace_back(c, i);
    return pairs;
}

// The formats libavformat reads them as.
const char *ReadAs(media::Container container)
{
    switch (container) {
    case media::Container::Avi:
        return "avi";
    case media::Container::Mp4:
        return "mov,mp4,m4a,3gp,3g2,mj2";
    default:
        return "matroska,webm";
    }
}

class Render : public ::testing::TestWithParam<Pair>
{
protected:
    void SetUp() override
    {
        testsupport::WriteJpeg(dir.file("first photo.jpg"), 400, 300, testsupport::Gradient(1));
        testsupport::WriteBmp24(dir.file("second.bmp"), 300, 400, testsupport::Gradient(2));
        quillon::WriteScript({dir.file("first photo.jpg"), dir.file("second.bmp")}, 0, 2, "1");
    }
    void TearDown() override { EXPECT_EQ(media::LiveComObjects(), 0); }

    // Frame n as the script engine makes it.
    std::vector<std::uint8_t> expected(std::int64_t n)
    {
        return Packed(*avs::OpenScript(win32::FixedScriptPath())->GetFrame(n));
    }

    testsupport::TempDir dir;
};

} // namespace

TEST_P(Render, EveryCompressorMakesAPlayableMovieOfTheScript)
{
    const auto [container, index] = GetParam();
    const media::CompressorEntry &entry = media::VideoCompressorCategory()[index];
    const std::string movie = dir.file(std::string("photo_video.") + ExtensionOf(container));
    {
        RenderGraph g;
        ASSERT_EQ(g.addSource(win32::AnsiToWide(win32::FixedScriptPath())), S_OK);
        ASSERT_TRUE(g.addCompressor(static_cast<int>(index)));
        ASSERT_EQ(g.setOutput(win32::AnsiToWide(movie), SubtypeOf(container)), S_OK);
        ASSERT_EQ(g.connectSourceToCompressor(), S_OK);
        ASSERT_EQ(g.connectCompressorToMux(), S_OK);
        ASSERT_EQ(g.run(), S_OK);
        std::vector<LONGLONG> positions;
        ASSERT_EQ(g.waitForEnd(&positions), EC_COMPLETE) << g.errorReason();
        EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
        EXPECT_EQ(positions.back(), 30000000);
        EXPECT_EQ(g.stop(), S_OK);
    }

    const AviInfo avi = ProbeAvi(movie);
    EXPECT_EQ(avi.format, ReadAs(container));
    ASSERT_EQ(avi.streams.size(), 1u);
    const StreamInfo &video = *avi.video();
    EXPECT_EQ(video.codec, avcodec_find_encoder_by_name(entry.key.c_str())->id);
    if (container == media::Container::Avi) {
        EXPECT_EQ(video.tag, media::FourccText(entry.fourcc));
        EXPECT_EQ(video.headerLength, 75);
    }
    EXPECT_EQ(video.width, 352);
    EXPECT_EQ(video.height, 240);
    EXPECT_EQ(video.frameRate.num, 25);
    EXPECT_EQ(video.frameRate.den, 1);
    EXPECT_EQ(video.frames, 75);
    EXPECT_DOUBLE_EQ(video.end, 3.0);
    // NTSC Low is a television frame that shows at 4:3; but for top-down RGB in
    // AVI, whose aspect GStreamer would take as negative.
    const bool square = container == media::Container::Avi && entry.fourcc == 0;
    const AVRational shape = square ? AVRational{0, 1} : AVRational{10, 11};
    EXPECT_EQ(av_cmp_q(video.sampleAspect, shape), 0)
        << video.sampleAspect.num << ":" << video.sampleAspect.den;

    const double held = MeanDifference(DecodeFrame(movie, 12), expected(12));
    const double fade = MeanDifference(DecodeFrame(movie, 37), expected(37));
    const double last = MeanDifference(DecodeFrame(movie, 74), expected(74));
    EXPECT_LE(held, Tolerance(entry.key)) << entry.key;
    EXPECT_LE(fade, Tolerance(entry.key)) << entry.key;
    EXPECT_LE(last, Tolerance(entry.key)) << entry.key;
    // The fade frame is neither photo.
    EXPECT_GT(MeanDifference(expected(37), expected(12)), 10);
    EXPECT_GT(MeanDifference(expected(37), expected(74)), 10);

    // A second player: every frame at the constant rate, and the shape.
    const GstView gst = PlayWithGstreamer(movie, dir.path(), 352, 240);
    if (!gst.ran)
        GTEST_SKIP() << "gst-launch-1.0 is not installed";
    EXPECT_EQ(gst.status, 0) << gst.err;
    EXPECT_EQ(gst.frames.size(), 75u);
    EXPECT_EQ(gst.pixelAspect, square ? "1/1" : "10/11");
}

INSTANTIATE_TEST_SUITE_P(Category, Render, ::testing::ValuesIn(OfferedPairs()),
                         [](const auto &info) {
                             return std::string(ExtensionOf(info.param.first)) + "_"
                                    + CompressorTestName(info.param.second);
                         });

namespace {

class Movie : public ::testing::Test
{
protected:
    void TearDown() override { EXPECT_EQ(media::LiveComObjects(), 0); }

    // The slide show through the first compressor, with `sound` when given.
    void render(const std::string &movie, const std::string &sound = "")
    {
        RenderGraph g;
        ASSERT_EQ(g.addSource(ClipSource(SlideShow()).Get()), S_OK);
        ASSERT_TRUE(g.addCompressor(0));
        ASSERT_EQ(g.setOutput(win32::AnsiToWide(movie)), S_OK);
        ASSERT_EQ(g.connectSourceToCompressor(), S_OK);
        ASSERT_EQ(g.connectCompressorToMux(), S_OK);
        if (!sound.empty()) {
            ASSERT_EQ(g.addSound(win32::AnsiToWide(sound)), S_OK);
        }
        ASSERT_EQ(g.run(), S_OK);
        std::vector<LONGLONG> positions;
        ASSERT_EQ(g.waitForEnd(&positions), EC_COMPLETE) << g.errorReason();
        // The position follows the video, whatever the sound's length.
        EXPECT_EQ(positions.back(), 40000000);
        ASSERT_EQ(g.stop(), S_OK);
    }

    testsupport::TempDir dir;
};

} // namespace

TEST_F(Movie, TheSoundTrackKeepsTheWavsFormatAndLength)
{
    struct Case
    {
        int rate, channels;
        double seconds; // the video lasts 4 s
    };
    for (const Case c : {Case{44100, 2, 2.5}, Case{22050, 1, 6.0}}) {
        WriteWav(dir.file("tune.wav"), c.rate, c.channels, c.seconds);
        const std::string movie = dir.file("with sound.avi");
        render(movie, dir.file("tune.wav"));
        const AviInfo avi = ProbeAvi(movie);
        ASSERT_EQ(avi.streams.size(), 2u);
        ASSERT_TRUE(avi.video() && avi.audio());
        EXPECT_EQ(avi.video()->frames, 100);
        const StreamInfo &audio = *avi.audio();
        EXPECT_EQ(audio.codec, AV_CODEC_ID_PCM_S16LE);
        EXPECT_EQ(audio.sampleRate, c.rate);
        EXPECT_EQ(audio.channels, c.channels);
        // All of it, as the header says and as the file holds it.
        EXPECT_EQ(audio.headerLength, std::lround(c.rate * c.seconds));
        EXPECT_EQ(audio.audioSamples, std::lround(c.rate * c.seconds));
    }
}

TEST_F(Movie, TheCompressorsSettingsReachTheEncoder)
{
    const std::string plain = dir.file("plain.avi");
    render(plain);
    EXPECT_LT(ProbeAvi(plain).video()->keyPackets, 5);

    // The settings are read when the compressor is bound, so the next render
    // has them.
    setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    const media::CompressorEntry &entry = media::VideoCompressorCategory()[0];
    const std::string fine = dir.file("fine.avi");
    ASSERT_TRUE(media::WriteCompressorSettings(entry, {95, 1}));
    render(fine);
    const std::string rough = dir.file("rough.avi");
    ASSERT_TRUE(media::WriteCompressorSettings(entry, {20, 1}));
    render(rough);

    // Held frames are empty chunks unless the settings ask for every frame.
    EXPECT_LT(ProbeAvi(plain).video()->packets, 40);
    const std::string every = dir.file("every.avi");
    ASSERT_TRUE(media::WriteCompressorSettings(entry, {95, 250, true}));
    render(every);
    EXPECT_EQ(ProbeAvi(every).video()->packets, 100);
    unsetenv("XDG_CONFIG_HOME");

    EXPECT_EQ(ProbeAvi(fine).video()->keyPackets, 100);
    EXPECT_EQ(ProbeAvi(rough).video()->keyPackets, 100);
    EXPECT_LT(testsupport::ReadFile(rough).size(), testsupport::ReadFile(fine).size() / 2);
    const auto original = Packed(*SlideShow()->Make(0));
    EXPECT_GT(MeanDifference(DecodeFrame(rough, 20), original),
              MeanDifference(DecodeFrame(fine, 20), original) + 1);
}

namespace {

class Script : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testsupport::WriteJpeg(dir.file("a.jpg"), 320, 240, testsupport::Gradient(3));
        testsupport::WriteJpeg(dir.file("b.jpg"), 320, 240, testsupport::Gradient(4));
        testsupport::WriteJpeg(dir.file("c.jpg"), 320, 240, testsupport::Gradient(5));
    }
    void TearDown() override
    {
        g.reset();
        EXPECT_EQ(media::LiveComObjects(), 0);
    }

    // The renderer's steps up to the connections, with the script at the fixed
    // path and the first compressor.
    void build()
    {
        g = std::make_unique<RenderGraph>();
        ASSERT_EQ(g->addSource(win32::AnsiToWide(win32::FixedScriptPath())), S_OK)
            << g->errorReason();
        ASSERT_TRUE(g->addCompressor(0));
        ASSERT_EQ(g->setOutput(win32::AnsiToWide(dir.file("photo_video.avi"))), S_OK);
        ASSERT_EQ(g->connectSourceToCompressor(), S_OK);
        ASSERT_EQ(g->connectCompressorToMux(), S_OK);
    }

    testsupport::TempDir dir;
    std::unique_ptr<RenderGraph> g;
};

} // namespace

TEST_F(Script, APictureDeletedAfterOpeningEndsTheRunWithErrorAbort)
{
    quillon::WriteScript({dir.file("a.jpg"), dir.file("b.jpg"), dir.file("c.jpg")}, 0, 2, "1");
    ASSERT_NO_FATAL_FAILURE(build());
    // The script is open; its pictures are read only as their frames are needed.
    std::remove(dir.file("c.jpg").c_str());
    ASSERT_EQ(g->run(), S_OK);
    EXPECT_EQ(g->waitForEnd(), EC_ERRORABORT);
    EXPECT_NE(g->errorReason().find(dir.file("c.jpg")), std::string::npos) << g->errorReason();
    EXPECT_EQ(g->stop(), S_OK);
    EXPECT_EQ(g->stop(), S_OK);
}

TEST_F(Script, AScriptThatDoesNotEvaluateYieldsNoSource)
{
    testsupport::WriteFile(win32::FixedScriptPath(), "p0=ImageSource(\"" + dir.file("a.jpg")
                                                         + "\", 1,1,25)\r\nreturn q0\r\n");
    RenderGraph graph;
    ComPtr<IBaseFilter> source;
    EXPECT_TRUE(FAILED(graph.graph->AddSourceFilter(
        win32::AnsiToWide(win32::FixedScriptPath()).c_str(), u"Source", source.Put())));
    EXPECT_FALSE(source);
    // The engine's message, with the line, is kept.
    EXPECT_NE(graph.errorReason().find("line 2"), std::string::npos) << graph.errorReason();
    EXPECT_TRUE(FilterNames(graph.graph.Get()).empty());

    std::remove(win32::FixedScriptPath().c_str());
    EXPECT_EQ(graph.graph->AddSourceFilter(win32::AnsiToWide(win32::FixedScriptPath()).c_str(),
                                           u"Source", source.Put()),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

// The six frame sizes of the NTSC and PAL choices show at 4:3 in the container
// and in the stream's own headers (MPEG-4 in AVI, H.264 in MP4); other sizes
// have square pixels.
TEST(Shape, TelevisionFramesShowAtFourToThree)
{
    testsupport::TempDir dir;
    struct Case
    {
        int width, height;
        AVRational aspect;
    };
    const int h264 = IndexOf("libx264");
    ASSERT_GE(h264, 0);
    for (const Case &c :
         {Case{720, 480, {8, 9}}, Case{720, 576, {16, 15}}, Case{352, 480, {20, 11}},
          Case{352, 576, {24, 11}}, Case{352, 240, {10, 11}}, Case{352, 288, {12, 11}},
          Case{640, 480, {1, 1}}}) {
        for (auto [container, compressor] :
             {std::pair{media::Container::Avi, 0}, std::pair{media::Container::Mp4, h264}}) {
            const std::string movie
                = dir.file(std::to_string(c.width) + "x" + std::to_string(c.height) + "."
                           + ExtensionOf(container));
            SCOPED_TRACE(movie);
            RenderGraph g;
            ASSERT_EQ(
                g.render(std::make_shared<PatternClip>(
                             c.width, c.height, 2, [](std::int64_t) { return 0; }, SlidePixel),
                         compressor, win32::AnsiToWide(movie), SubtypeOf(container)),
                S_OK)
                << g.errorReason();
            const AVRational said = ProbeAvi(movie).video()->sampleAspect;
            const AVRational coded = CodedSampleAspect(movie);
            EXPECT_EQ(av_cmp_q(said, c.aspect), 0) << said.num << ":" << said.den;
            EXPECT_EQ(av_cmp_q(coded, c.aspect), 0) << coded.num << ":" << coded.den;
        }
    }
    EXPECT_EQ(media::LiveComObjects(), 0);
}
