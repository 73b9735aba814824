// Held pictures written as repeats (empty chunks in AVI, pictures that last in
// MP4) against the same movie with every frame encoded, for every compressor of
// the category: the same frames as FFmpeg and GStreamer show them, key frames
// where a seek needs them.
#include "media_support.h"
#include "test_clip.h"
#include "testsupport.h"

#include "platform/media/compressors.h"
#include "platform/win32/strings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <mutex>

using namespace mediatest;
using testsupport::Rgb;

namespace {

constexpr int kWidth = 128;
constexpr int kHeight = 96;
constexpr int kFrames = 100;
constexpr int kKeyInterval = 30;

// Picture A held for frames 0..49, a cross-fade 50..74, picture B held 75..99.
// Key frame positions 0, 30, 60 and 90 fall into both holds and the fade.
std::int64_t Shot(std::int64_t n)
{
    return n < 50 ? 0 : n < 75 ? n - 49 : 100;
}

Rgb Pixel(std::int64_t picture, int x, int y)
{
    const Rgb a{std::uint8_t(x * 255 / kWidth), std::uint8_t(y * 255 / kHeight), 50};
    const Rgb b{30, std::uint8_t(255 - y * 255 / kHeight), std::uint8_t(x * 255 / kWidth)};
    const int w = picture == 100 ? 26 : static_cast<int>(picture);
    auto mix = [&](int p, int q) { return std::uint8_t((p * (26 - w) + q * w + 13) / 26); };
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

// The pattern's pictures made once each and kept, so that every frame of a
// picture is one object whichever order the source's threads ask in, as the
// script engine hands out a held picture.
class HeldPictures : public avs::Clip
{
public:
    HeldPictures()
        : pattern_(kWidth, kHeight, kFrames, Shot, Pixel)
    {}
    const avs::VideoInfo &GetVideoInfo() const override { return pattern_.GetVideoInfo(); }
    avs::PFrame GetFrame(std::int64_t n) override
    {
        std::lock_guard lock(mutex_);
        avs::PFrame &frame = made_[Shot(n)];
        if (!frame)
            frame = pattern_.Make(Shot(n));
        return frame;
    }

private:
    PatternClip pattern_;
    std::mutex mutex_;
    std::map<std::int64_t, avs::PFrame> made_;
};

// The held pictures through the compressor at `index` of the category into
// `movie`, with every frame encoded or held frames written as repeats.
void RenderHeldPictures(std::size_t index, const std::string &movie, media::Container container,
                        bool everyFrame)
{
    media::SetEncodeEveryFrameForAll(everyFrame);
    RenderGraph g;
    EXPECT_EQ(g.render(std::make_shared<HeldPictures>(), static_cast<int>(index),
                       win32::AnsiToWide(movie), SubtypeOf(container)),
              S_OK)
        << g.errorReason();
    media::SetEncodeEveryFrameForAll(false);
}

bool Lossless(const std::string &key)
{
    return key == "huffyuv" || key == "ffv1" || key == "rawvideo";
}

bool InterCoded(const media::CompressorEntry &entry)
{
    return entry.hasKeyFrames;
}

class Repeats : public ::testing::TestWithParam<std::size_t>
{
protected:
    void SetUp() override
    {
        setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        const media::CompressorEntry &e = entry();
        ASSERT_TRUE(media::WriteCompressorSettings(e, {e.defaultQuality, kKeyInterval, false}));
        RenderHeldPictures(GetParam(), repeats, container, false);
        RenderHeldPictures(GetParam(), full, container, true);
    }
    void TearDown() override
    {
        unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(media::LiveComObjects(), 0);
    }

    const media::CompressorEntry &entry() const
    {
        return media::VideoCompressorCategory()[GetParam()];
    }

    testsupport::TempDir dir;
    // The new compressors go into MP4, where a held picture is one frame that lasts.
    const media::Container container = FirstContainerOf(entry());
    const std::string repeats = dir.file(std::string("repeats.") + ExtensionOf(container));
    const std::string full = dir.file(std::string("full.") + ExtensionOf(container));
};

} // namespace

// One test a compressor: the two movies are made once, which for the slow
// vector-quantising encoders takes a few seconds.
TEST_P(Repeats, HeldFramesAreEmptyChunksAndPlayersShowTheSameMovie)
{
    const std::string key = entry().key;
    const bool inter = InterCoded(entry());
    {
        SCOPED_TRACE("the file");
        const AviInfo a = ProbeAvi(repeats);
        const AviInfo b = ProbeAvi(full);
        for (const AviInfo *info : {&a, &b}) {
            ASSERT_TRUE(info->video());
            EXPECT_EQ(info->video()->frames, kFrames);
            EXPECT_DOUBLE_EQ(info->video()->end, kFrames / 25.0);
            if (container == media::Container::Avi) {
                EXPECT_EQ(info->video()->headerLength, kFrames);
                EXPECT_DOUBLE_EQ(info->video()->seconds, kFrames / 25.0);
            }
        }
        EXPECT_EQ(b.video()->packets, kFrames);
        // Coded: the first frame of each picture, every fade frame, the end of
        // the first hold, the last two frames; for inter-coded streams also the
        // key frame positions inside the holds (30 and 90).
        EXPECT_EQ(a.video()->packets, 1 + 1 + 25 + 1 + 2 + (inter ? 2 : 0));
        if (inter) {
            for (std::int64_t k = 0; k < kFrames; k += kKeyInterval) {
                EXPECT_NE(std::find(a.video()->keyFrames.begin(), a.video()->keyFrames.end(), k),
                          a.video()->keyFrames.end())
                    << "no key frame at " << k;
            }
        }
    }

    // Intra-only and lossless streams code a picture the same way either way;
    // an inter-coded stream's pictures differ within its own loss.
    const double loss = Lossless(key) || !inter ? 0 : key == "msvideo1" || key == "cinepak" ? 8 : 3;
    const auto expected = DecodeAllFrames(full);
    ASSERT_EQ(expected.size(), std::size_t(kFrames));
    {
        SCOPED_TRACE("FFmpeg");
        const auto shown = DecodeAllFrames(repeats);
        ASSERT_EQ(shown.size(), std::size_t(kFrames));
        for (std::size_t n = 0; n < shown.size(); ++n)
            ASSERT_LE(MeanDifference(shown[n], expected[n]), loss) << key << " frame " << n;
        // Each picture is in its place: the fade is neither held picture.
        EXPECT_GT(MeanDifference(shown[62], shown[20]), 10);
        EXPECT_GT(MeanDifference(shown[62], shown[90]), 10);
        // Seeking into a hold, past a key frame position in it, and into the fade.
        for (std::int64_t n : {20, 40, 62, 95})
            EXPECT_LE(MeanDifference(SeekToFrame(repeats, n), expected[n]), loss)
                << key << " seeking to frame " << n;
    }

    // GStreamer's AVI demuxer passes no buffer for an empty chunk, and MP4 and
    // Matroska have no frame where a picture lasts; its rate converter then
    // fills each gap from the nearer of the pictures around it. The coded
    // frames at the ends of holds keep that right.
    SCOPED_TRACE("GStreamer");
    const GstView gst = PlayWithGstreamer(repeats, dir.path(), kWidth, kHeight);
    if (!gst.ran)
        GTEST_SKIP() << "gst-launch-1.0 is not installed";
    ASSERT_EQ(gst.status, 0) << gst.err;
    ASSERT_EQ(gst.frames.size(), std::size_t(kFrames));
    // GStreamer converts colours its own way, a few levels apart from FFmpeg's.
    for (std::size_t n = 0; n < expected.size(); ++n)
        ASSERT_LE(MeanDifference(gst.frames[n], expected[n]), loss + 3) << key << " frame " << n;
}

INSTANTIATE_TEST_SUITE_P(Category, Repeats,
                         ::testing::Range<std::size_t>(0, media::VideoCompressorCategory().size()),
                         [](const auto &info) { return CompressorTestName(info.param); });

// The chunks gather in the multiplexer's buffer on their way to the file: not a
// write call for each, least of all for the 8 bytes of an empty one. (The first
// compressor's encoder prints nothing, so in a plain build the process's write
// calls are the file's.)
TEST(RepeatsInTheFile, ChunksAreWrittenTogether)
{
#ifdef QUILLON_TEST_SANITIZED
    GTEST_SKIP() << "the sanitizer's runtime makes write calls of its own (to probe memory)";
#endif
    const long long before = testsupport::IoCount("syscw");
    if (before < 0)
        GTEST_SKIP() << "the kernel does not count write calls here";
    testsupport::TempDir dir;
    const std::string movie = dir.file("repeats.avi");
    setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    RenderHeldPictures(0, movie, media::Container::Avi, false);
    unsetenv("XDG_CONFIG_HOME");
    const long long writes = testsupport::IoCount("syscw") - before;
    ASSERT_FALSE(HasFailure());
    EXPECT_LT(writes, kFrames / 4);
    EXPECT_EQ(ProbeAvi(movie).video()->frames, kFrames);
    EXPECT_EQ(media::LiveComObjects(), 0);
}
