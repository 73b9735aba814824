// The scripts that the slide-show script writer produces, evaluated end to end.
#include "app/job/script_writer.h"
#include "platform/avs/avs.h"
#include "platform/win32/files.h"

#include "avs_helpers.h"
#include "pictures.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

using namespace testsupport;
using avstest::PixelAt;

namespace {

class SlideShow : public ::testing::Test
{
protected:
    avs::PClip write(const std::vector<std::string> &photos, int standard, int resolution,
                     const std::string &interval)
    {
        quillon::WriteScript(photos, standard, resolution, interval);
        return avs::OpenScript(win32::FixedScriptPath());
    }

    TempDir dir;
};

// Frame n of a clip whose every frame is one colour, as that colour.
avstest::Bgr colourOf(const avs::PClip &clip, std::int64_t n)
{
    return PixelAt(*clip->GetFrame(n), 100, 100);
}

} // namespace

TEST_F(SlideShow, TheWorkedExample)
{
    // beach.jpg, dunes.bmp, harbour.jpg; NTSC, High, 3 seconds.
    const int w = 1024, h = 768;
    WriteJpeg(dir.file("beach.jpg"), w, h, avstest::Photo(1));
    WriteBmp24(dir.file("dunes.bmp"), 800, 600, avstest::Photo(2));
    WriteJpeg(dir.file("harbour.jpg"), 600, 800, avstest::Photo(3), JpegKind::Progressive);
    const avs::PClip movie
        = write({dir.file("beach.jpg"), dir.file("dunes.bmp"), dir.file("harbour.jpg")}, 0, 0, "3");

    const avs::VideoInfo &vi = movie->GetVideoInfo();
    EXPECT_EQ(vi.frameCount, 275);
    EXPECT_EQ(vi.width, 720);
    EXPECT_EQ(vi.height, 480);
    EXPECT_EQ(vi.fpsNumerator, 25u);
    EXPECT_EQ(vi.fpsDenominator, 1u);
    EXPECT_EQ(vi.pixelType, avs::PixelType::BGR24);

    // Slide 0 is frames 0–74, the fade 75–99, slide 1 100–174, the fade
    // 175–199, slide 2 200–274. A held slide is one frame object throughout.
    for (const auto &[first, last] : {std::pair{0, 74}, std::pair{100, 174}, std::pair{200, 274}}) {
        const avs::PFrame held = movie->GetFrame(first);
        for (int n = first + 1; n <= last; ++n)
            ASSERT_EQ(movie->GetFrame(n), held) << n;
    }
    EXPECT_NE(movie->GetFrame(74), movie->GetFrame(75));
    // The splices and the final resize to the size the slides already have
    // hand the frames on as they are: a fade frame is made of the very frames
    // of the slides around it, so later stages can reuse their work on them.
    for (const auto &[fade, before, after] : {std::tuple{75, 74, 100}, std::tuple{199, 174, 200}}) {
        const avs::Frame::Blend *blend = movie->GetFrame(fade)->blend();
        ASSERT_NE(blend, nullptr) << fade;
        EXPECT_EQ(blend->a, movie->GetFrame(before));
        EXPECT_EQ(blend->b, movie->GetFrame(after));
    }

    // The middle of slide 1 is the BMP stretched to 720 × 480.
    const avstest::Difference d = avstest::Compare(
        *movie->GetFrame(137),
        avstest::ReferenceResize(1.0 / 3, 1.0 / 3)
            .run(avstest::Render(avstest::Photo(2), 800, 600), 800, 600, 720, 480));
    EXPECT_LE(d.worst, 2.5);
    EXPECT_LE(d.mean, 0.6);
}

TEST_F(SlideShow, ACrossFadeMovesFromOnePhotoToTheNext)
{
    WriteJpeg(dir.file("red.jpg"), 640, 480, Solid({230, 20, 20}));
    WriteBmp24(dir.file("blue.bmp"), 300, 200, Solid({10, 40, 240}));
    const avs::PClip movie = write({dir.file("red.jpg"), dir.file("blue.bmp")}, 0, 2, "1");
    ASSERT_EQ(movie->GetVideoInfo().frameCount, 25 * (2 * 2 - 1));
    const avstest::Bgr a = colourOf(movie, 0);
    const avstest::Bgr b = colourOf(movie, 74);
    // Fade frame k (0–24) is (25 − k)/26 of the first photo and (k + 1)/26 of
    // the second.
    avstest::Bgr previous = a;
    for (int k = 0; k < 25; ++k) {
        const avstest::Bgr c = colourOf(movie, 25 + k);
        auto expected
            = [&](int from, int to) { return (from * (25 - k) + to * (k + 1) + 13) / 26; };
        EXPECT_EQ(c.r, expected(a.r, b.r)) << k;
        EXPECT_EQ(c.g, expected(a.g, b.g)) << k;
        EXPECT_EQ(c.b, expected(a.b, b.b)) << k;
        EXPECT_LE(c.r, previous.r);
        EXPECT_GE(c.b, previous.b);
        previous = c;
    }
    EXPECT_NE(colourOf(movie, 25).r, a.r);
    EXPECT_NE(colourOf(movie, 49).b, b.b);
}

TEST_F(SlideShow, OnePhotoPalLow)
{
    WriteJpeg(dir.file("one.jpg"), 500, 375, avstest::Photo());
    const avs::PClip movie = write({dir.file("one.jpg")}, 1, 2, "2");
    EXPECT_EQ(movie->GetVideoInfo().frameCount, 50);
    EXPECT_EQ(movie->GetVideoInfo().width, 352);
    EXPECT_EQ(movie->GetVideoInfo().height, 288);
    EXPECT_EQ(movie->GetFrame(0), movie->GetFrame(49));
}

TEST_F(SlideShow, ThreadsReadingAtOnceSeeTheSameFrames)
{
    std::vector<std::string> photos;
    for (int i = 0; i < 6; ++i) {
        photos.push_back(dir.file("p" + std::to_string(i) + ".jpg"));
        WriteJpeg(photos.back(), 400 + i * 10, 300, avstest::Photo(i));
    }
    const avs::PClip movie = write(photos, 0, 1, "1");
    const std::int64_t frames = movie->GetVideoInfo().frameCount;
    ASSERT_EQ(frames, 25 * (6 * 2 - 1));
    std::vector<std::vector<avs::PFrame>> seen(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            // Two threads go forward, two backward, so they meet mid-way.
            for (std::int64_t i = 0; i < frames; ++i)
                seen[t].push_back(movie->GetFrame(t % 2 ? frames - 1 - i : i));
        });
    for (auto &th : threads)
        th.join();
    for (std::int64_t n = 0; n < frames; ++n) {
        const avs::PFrame &f = seen[0][n];
        EXPECT_EQ(seen[2][n], f) << n;
        EXPECT_EQ(seen[1][frames - 1 - n], f) << n;
        EXPECT_EQ(seen[3][frames - 1 - n], f) << n;
    }
}
