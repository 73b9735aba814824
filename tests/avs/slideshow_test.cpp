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
                     const std::string &interval, const quillon::MovieOptions &movie = {})
    {
        quillon::WriteScript(photos, standard, resolution, interval, movie);
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

TEST_F(SlideShow, FrameRatesAndSizesGiveTheirFrameCounts)
{
    const std::vector<std::string> photos
        = {dir.file("a.jpg"), dir.file("b.jpg"), dir.file("c.jpg")};
    for (std::size_t i = 0; i < photos.size(); ++i)
        WriteJpeg(photos[i], 160, 120, avstest::Photo(static_cast<int>(i)));
    for (int fps : quillon::FrameRates) {
        SCOPED_TRACE(fps);
        quillon::MovieOptions movie;
        movie.framesPerSecond = fps;
        movie.width = 320;
        movie.height = 180;
        const avs::PClip clip = write(photos, 0, 0, "2", movie);
        const avs::VideoInfo &vi = clip->GetVideoInfo();
        // fps × (n × (N + 1) − 1): each slide 2 seconds, each fade one.
        EXPECT_EQ(vi.frameCount, fps * (3 * 3 - 1));
        EXPECT_EQ(vi.fpsNumerator, static_cast<std::uint32_t>(fps));
        EXPECT_EQ(vi.fpsDenominator, 1u);
        EXPECT_EQ(vi.width, 320);
        EXPECT_EQ(vi.height, 180);
        EXPECT_EQ(clip->GetFrame(2 * fps - 1)->blend(), nullptr);
        EXPECT_NE(clip->GetFrame(2 * fps)->blend(), nullptr);
        EXPECT_NE(clip->GetFrame(3 * fps - 1)->blend(), nullptr);
        EXPECT_EQ(clip->GetFrame(3 * fps)->blend(), nullptr);
    }
}

namespace {

// A checkerboard of red and yellow squares `cell` photo pixels wide.
PixelFn Checker(int cell)
{
    return [cell](int x, int y) {
        return (x / cell + y / cell) % 2 ? Rgb{230, 220, 20} : Rgb{230, 20, 20};
    };
}

// What a line of the frame shows: where the picture starts and ends (the
// first and last pixel that is not black) and how far apart the squares'
// edges lie.
struct Line
{
    int first = -1, last = -1;
    double squareSize = 0;
};

Line ReadLine(const avs::Frame &f, bool across, int at)
{
    const int length = across ? f.width() : f.height();
    auto pixel = [&](int i) { return across ? PixelAt(f, i, at) : PixelAt(f, at, i); };
    Line line;
    std::vector<int> edges;
    for (int i = 0; i < length; ++i) {
        const avstest::Bgr p = pixel(i);
        if (std::max({p.r, p.g, p.b}) > 60) {
            if (line.first < 0)
                line.first = i;
            line.last = i;
        }
        if (i > 0 && (pixel(i - 1).g > 120) != (p.g > 120))
            edges.push_back(i);
    }
    if (edges.size() >= 2)
        line.squareSize = static_cast<double>(edges.back() - edges.front()) / (edges.size() - 1);
    return line;
}

quillon::MovieOptions Framed(int width, int height, quillon::MovieOptions::Fit fit)
{
    quillon::MovieOptions movie;
    movie.width = width;
    movie.height = height;
    movie.fit = fit;
    return movie;
}

} // namespace

// A photo of three pixels in a row, in a frame 8,192 high: beyond what the
// scaler stretches at once, yet shown as any photo is.
TEST_F(SlideShow, APhotoBeyondTheScalerAtOnceIsShown)
{
    WriteBmp24(dir.file("sliver.bmp"), 3, 1, Solid({200, 30, 30}));
    for (const auto fit : {quillon::MovieOptions::Fit::Stretch, quillon::MovieOptions::Fit::Crop}) {
        SCOPED_TRACE(static_cast<int>(fit));
        const quillon::MovieOptions movie = Framed(16, 8192, fit);
        const avs::PClip clip = write({dir.file("sliver.bmp")}, 0, 0, "1", movie);
        const avs::PFrame f = clip->GetFrame(0);
        for (const int y : {0, 4096, 8191}) {
            EXPECT_NEAR(PixelAt(*f, 8, y).r, 200, 2) << y;
            EXPECT_NEAR(PixelAt(*f, 8, y).g, 30, 2) << y;
        }
    }
}

// A held slide is made once and handed out as one frame, however large the
// frame and whatever the fit: at 2160p a fitted slide's chain of frames (the
// photo resized, its blurred background, the two together) is more than the
// cache's first budget, and each held frame was made anew.
TEST_F(SlideShow, AHeldSlideIsMadeOnceAtEveryFitAndSize)
{
    WriteJpeg(dir.file("a.jpg"), 400, 300, avstest::Photo(1));
    WriteJpeg(dir.file("b.jpg"), 300, 400, avstest::Photo(2));
    for (const auto fit : {quillon::MovieOptions::Fit::Crop, quillon::MovieOptions::Fit::Blur}) {
        SCOPED_TRACE(static_cast<int>(fit));
        const quillon::MovieOptions movie = Framed(3840, 2160, fit);
        const avs::PClip clip = write({dir.file("a.jpg"), dir.file("b.jpg")}, 0, 0, "1", movie);
        ASSERT_EQ(clip->GetVideoInfo().frameCount, 75);
        // Asked for in order and let go, as an encoder does: a frame made
        // anew is a new object, and the first one is gone.
        std::weak_ptr<const avs::Frame> first, second;
        for (std::int64_t n = 0; n < 75; ++n) {
            const avs::PFrame frame = clip->GetFrame(n);
            if (n == 0)
                first = frame;
            else if (n < 25)
                EXPECT_EQ(frame, first.lock()) << n;
            if (n == 50)
                second = frame;
            else if (n > 50)
                EXPECT_EQ(frame, second.lock()) << n;
        }
    }
}

TEST_F(SlideShow, EveryFitKeepsThePhotosProportionsOnTheFramesDisplay)
{
    // A 2:1 and a 1:2 photo of 40-pixel squares, in a 720 × 480 frame that
    // shows at 4:3 (pixels 8:9) and a 1280 × 720 one of square pixels.
    WriteJpeg(dir.file("wide.jpg"), 480, 240, Checker(40), JpegKind::Baseline, 98);
    WriteJpeg(dir.file("tall.jpg"), 240, 480, Checker(40), JpegKind::Baseline, 98);
    // A 66:1 panorama: made to cover a 2160p frame whole, it would be 144,000
    // pixels wide, and its blurred background 35,752, both beyond the engine.
    WriteJpeg(dir.file("panorama.jpg"), 18000, 270, Checker(45), JpegKind::Baseline, 98);
    struct Case
    {
        const char *photo;
        int width, height; // 0 × 0: NTSC High
        int left, top;     // where the letterboxed photo stands
    };
    const Case cases[] = {
        {"wide.jpg", 0, 0, 0, 80},            // 720 × 320 shows as 640 × 320
        {"tall.jpg", 0, 0, 225, 0},           // 270 × 480 shows as 240 × 480
        {"wide.jpg", 1280, 720, 0, 40},       // 1280 × 640
        {"tall.jpg", 1280, 720, 460, 0},      // 360 × 720
        {"panorama.jpg", 3840, 2160, 0, 1051} // 3840 × 58
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.photo) + " in " + std::to_string(c.width));
        quillon::MovieOptions movie;
        movie.width = c.width;
        movie.height = c.height;
        const double pixelAspect = c.width ? 1.0 : 8.0 / 9.0;
        avs::PFrame framed[4];
        for (auto fit : {quillon::MovieOptions::Fit::Letterbox, quillon::MovieOptions::Fit::Crop,
                         quillon::MovieOptions::Fit::Blur}) {
            movie.fit = fit;
            const avs::PFrame f = write({dir.file(c.photo)}, 0, 0, "1", movie)->GetFrame(0);
            framed[static_cast<int>(fit)] = f;
            const int W = f->width(), H = f->height();
            ASSERT_EQ(W, c.width ? c.width : 720);
            if (fit == quillon::MovieOptions::Fit::Blur)
                continue; // its photo is the letterboxed one, see below
            // Lines through the middle, just off the squares' edges there.
            const Line across = ReadLine(*f, true, H / 2 - 5);
            const Line down = ReadLine(*f, false, W / 2 - 5);
            // Squares stay square on the display: not distorted.
            EXPECT_NEAR(across.squareSize * pixelAspect, down.squareSize, down.squareSize * 0.03)
                << quillon::FitWord(fit);
            if (fit == quillon::MovieOptions::Fit::Letterbox) {
                EXPECT_EQ(across.first, c.left);
                EXPECT_EQ(across.last, W - 1 - c.left);
                EXPECT_EQ(down.first, c.top);
                EXPECT_EQ(down.last, H - 1 - c.top);
            } else if (fit == quillon::MovieOptions::Fit::Crop) {
                // No bands, and a square's edge in the middle: centred.
                EXPECT_EQ(across.first, 0);
                EXPECT_EQ(down.last, H - 1);
                const bool middleEdge = (PixelAt(*f, W / 2 - 3, H / 2 - 5).g > 120)
                                        != (PixelAt(*f, W / 2 + 2, H / 2 - 5).g > 120);
                const bool middleEdgeDown = (PixelAt(*f, W / 2 - 5, H / 2 - 3).g > 120)
                                            != (PixelAt(*f, W / 2 - 5, H / 2 + 2).g > 120);
                EXPECT_TRUE(middleEdge && middleEdgeDown);
            }
        }
        // Blur: the letterboxed photo exactly, over a background that is not
        // black and has no sharp edge left.
        const avs::Frame &letterbox = *framed[1];
        const avs::Frame &blur = *framed[3];
        int sharpest = 0, darkest = 255;
        for (int y = 0; y < blur.height(); y += 3)
            for (int x = 1; x < blur.width(); ++x) {
                const bool inPhoto = x >= c.left && x < blur.width() - c.left && y >= c.top
                                     && y < blur.height() - c.top;
                if (inPhoto) {
                    ASSERT_EQ(PixelAt(blur, x, y).g, PixelAt(letterbox, x, y).g) << x << "," << y;
                } else if (x - 1 < c.left || x - 1 >= blur.width() - c.left || !c.left) {
                    sharpest = std::max(
                        sharpest, std::abs(PixelAt(blur, x, y).g - PixelAt(blur, x - 1, y).g));
                    darkest = std::min(darkest, PixelAt(blur, x, y).r);
                }
            }
        EXPECT_GT(darkest, 100);
        EXPECT_LT(sharpest, 12);
    }
}
