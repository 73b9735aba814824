// The filters that frame a picture (AddBorders, Crop, Overlay, GaussianBlur),
// the numbers that size it (Min, Max, Round), and pictures turned upright by
// ImageSource.
#include "platform/avs/filters.h"

#include "avs_helpers.h"
#include "pictures.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace testsupport;
using avstest::PixelAt;

namespace {

// One picture for every frame, the same Frame object each time.
class PictureClip : public avs::Clip
{
public:
    PictureClip(int width, int height, const PixelFn &pixel, std::int64_t frames = 1)
        : frame_(std::make_shared<avs::Frame>(width, height))
    {
        vi_.width = width;
        vi_.height = height;
        vi_.frameCount = frames;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const Rgb c = pixel(x, y);
                std::uint8_t *p = frame_->mutableRow(y) + x * 3;
                p[0] = c.b, p[1] = c.g, p[2] = c.r;
            }
    }
    const avs::VideoInfo &GetVideoInfo() const override { return vi_; }
    avs::PFrame GetFrame(std::int64_t) override { return frame_; }

private:
    avs::VideoInfo vi_;
    std::shared_ptr<avs::Frame> frame_;
};

bool Is(const avstest::Bgr &p, Rgb c, int tolerance = 0)
{
    return std::abs(p.r - c.r) <= tolerance && std::abs(p.g - c.g) <= tolerance
           && std::abs(p.b - c.b) <= tolerance;
}

constexpr Rgb kRed{200, 10, 10};
constexpr Rgb kBlue{10, 20, 220};

} // namespace

class Framing : public ::testing::Test
{
protected:
    avs::PEnvironment env = std::make_shared<avs::Environment>();
    TempDir dir;
};

TEST_F(Framing, AddBordersPutsThePictureInsideBandsOfItsColour)
{
    const avs::PClip red = std::make_shared<PictureClip>(10, 6, Solid(kRed), 40);
    const avs::PClip framed = avs::MakeAddBorders(env, red, 3, 1, 4, 2, 0x0A14DC);
    ASSERT_EQ(framed->GetVideoInfo().width, 17);
    ASSERT_EQ(framed->GetVideoInfo().height, 9);
    EXPECT_EQ(framed->GetVideoInfo().frameCount, 40);
    const avs::PFrame f = framed->GetFrame(7);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 17; ++x) {
            const bool inside = x >= 3 && x < 13 && y >= 1 && y < 7;
            EXPECT_TRUE(Is(PixelAt(*f, x, y), inside ? kRed : kBlue)) << x << "," << y;
        }
    // A held picture gets one framed picture, whichever frame asks.
    EXPECT_EQ(framed->GetFrame(39), f);
    EXPECT_EQ(avs::MakeAddBorders(env, red, 0, 0, 0, 0), red);
    EXPECT_THROW(avs::MakeAddBorders(env, red, -1, 0, 0, 0), avs::Error);
    EXPECT_THROW(avs::MakeAddBorders(env, red, 0, 0, 32767, 0), avs::Error);
    EXPECT_THROW(avs::MakeAddBorders(env, red, 0, 0, 0, 0, 0x1000000), avs::Error);
}

TEST_F(Framing, CropTakesTheAreaAndCountsNegativeSidesFromTheFarEdges)
{
    const avs::PClip quadrants = std::make_shared<PictureClip>(20, 10, Quadrants(20, 10));
    // The bottom right quadrant, once by size and once by what is cut off.
    for (const auto &[w, h] : {std::pair{10, 5}, std::pair{0, 0}}) {
        const avs::PClip cut = avs::MakeCrop(env, quadrants, 10, 5, w, h);
        ASSERT_EQ(cut->GetVideoInfo().width, 10);
        ASSERT_EQ(cut->GetVideoInfo().height, 5);
        const avs::PFrame f = cut->GetFrame(0);
        EXPECT_TRUE(Is(PixelAt(*f, 0, 0), kQuadrantColours[3]));
        EXPECT_TRUE(Is(PixelAt(*f, 9, 4), kQuadrantColours[3]));
    }
    const avs::PFrame left = avs::MakeCrop(env, quadrants, 0, 0, -10, -5)->GetFrame(0);
    EXPECT_EQ(left->width(), 10);
    EXPECT_TRUE(Is(PixelAt(*left, 9, 4), kQuadrantColours[0]));
    EXPECT_EQ(avs::MakeCrop(env, quadrants, 0, 0, 20, 10), quadrants);
    EXPECT_THROW(avs::MakeCrop(env, quadrants, 11, 0, 10, 10), avs::Error);
    EXPECT_THROW(avs::MakeCrop(env, quadrants, -1, 0, 10, 10), avs::Error);
    EXPECT_THROW(avs::MakeCrop(env, quadrants, 0, 0, -20, 0), avs::Error);
}

TEST_F(Framing, OverlayIsCutToTheBaseAndHoldsItsLastFrame)
{
    const avs::PClip base = std::make_shared<PictureClip>(12, 8, Solid(kBlue), 30);
    const avs::PClip small = std::make_shared<PictureClip>(5, 4, Solid(kRed), 2);
    // Hanging over the right and bottom edges: only the part inside shows.
    const avs::PClip laid = avs::MakeOverlay(env, base, small, 9, 6);
    ASSERT_EQ(laid->GetVideoInfo().frameCount, 30);
    ASSERT_EQ(laid->GetVideoInfo().width, 12);
    const avs::PFrame f = laid->GetFrame(20); // past the overlay's two frames
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x)
            EXPECT_TRUE(Is(PixelAt(*f, x, y), x >= 9 && y >= 6 ? kRed : kBlue)) << x << "," << y;
    EXPECT_EQ(laid->GetFrame(29), f);
    // Off the top left: the overlay's bottom right corner shows.
    const avs::PFrame g = avs::MakeOverlay(env, base, small, -4, -3)->GetFrame(0);
    EXPECT_TRUE(Is(PixelAt(*g, 0, 0), kRed));
    EXPECT_TRUE(Is(PixelAt(*g, 1, 0), kBlue));
    EXPECT_TRUE(Is(PixelAt(*g, 0, 1), kBlue));
}

TEST_F(Framing, GaussianBlurSpreadsALineBySigmaAndKeepsAFlatPictureFlat)
{
    // A flat picture stays exactly flat, at its edges too: the edges are
    // extended, not darkened by what lies beyond them.
    const avs::PClip flat = std::make_shared<PictureClip>(40, 30, Solid({90, 150, 210}));
    const avs::PFrame f = avs::MakeGaussianBlur(env, flat, 6)->GetFrame(0);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_TRUE(Is(PixelAt(*f, x, y), {90, 150, 210})) << x << "," << y;

    // A bright column in the middle spreads into a bell of standard deviation
    // close to sigma, and keeps its brightness in total.
    for (double sigma : {2.0, 8.0, 20.0}) {
        const avs::PClip line = std::make_shared<PictureClip>(301, 5, [](int x, int) {
            return x == 150 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
        });
        const avs::PFrame b = avs::MakeGaussianBlur(env, line, sigma)->GetFrame(0);
        double total = 0, spread = 0;
        for (int x = 0; x < 301; ++x) {
            const int v = PixelAt(*b, x, 2).g;
            total += v;
            spread += v * (x - 150.0) * (x - 150.0);
            EXPECT_EQ(PixelAt(*b, x, 2).g, PixelAt(*b, 300 - x, 2).g) << x;
        }
        EXPECT_NEAR(total, 255, 255 * 0.08) << sigma;
        EXPECT_NEAR(std::sqrt(spread / total), sigma, sigma * 0.12) << sigma;
    }
    EXPECT_EQ(avs::MakeGaussianBlur(env, flat, 0), flat);
    EXPECT_THROW(avs::MakeGaussianBlur(env, flat, -1), avs::Error);
    EXPECT_THROW(avs::MakeGaussianBlur(env, flat, 1001), avs::Error);
}

TEST_F(Framing, SizingArithmeticInScripts)
{
    // Min and Max keep integers integers, Round rounds halves away from zero.
    const std::string script = "w=Max(Min(7,3),2)*10+Round(2.5)\n"
                               "h=Round(Min(4,2.4)*10)\n"
                               "BicubicResize(ImageSource(\"q.bmp\",0,0,25),w,h)\n";
    WriteBmp24(dir.file("q.bmp"), 20, 10, Quadrants(20, 10));
    const avs::PClip clip = avs::OpenScriptText(script, dir.file("s.avs"));
    EXPECT_EQ(clip->GetVideoInfo().width, 33);
    EXPECT_EQ(clip->GetVideoInfo().height, 24);
    EXPECT_THROW(avs::OpenScriptText("BicubicResize(ImageSource(\"q.bmp\",0,0,25),Max(2,3.0),8)",
                                     dir.file("s.avs")),
                 avs::Error);
}

TEST_F(Framing, ImageSourceTurnsJpegPhotosUprightUnlessToldNotTo)
{
    // 64 × 48 upright; a quarter of the way in from each corner lies the
    // middle of each quadrant, whatever the size it is shown at.
    auto corners = [](const avs::Frame &f) {
        int found = 0;
        for (int q = 0; q < 4; ++q) {
            const int x = f.width() / 4 + (q % 2) * f.width() / 2;
            const int y = f.height() / 4 + (q / 2) * f.height() / 2;
            found += Is(PixelAt(f, x, y), kQuadrantColours[q], 40) ? 1 : 0;
        }
        return found;
    };
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        WriteOrientedJpeg(dir.file("o.jpg"), 64, 48, Quadrants(64, 48), orientation);
        const std::string source = "ImageSource(\"o.jpg\", 1,1,25";
        for (const std::string &shown : {source + ")", "BicubicResize(" + source + "),32,24)"}) {
            const avs::PClip clip = avs::OpenScriptText(shown, dir.file("s.avs"));
            const avs::PFrame f = clip->GetFrame(0);
            EXPECT_EQ(f->width() * 3, f->height() * 4) << shown;
            EXPECT_EQ(corners(*f), 4) << shown;
        }
        // As stored, a turned picture stands on its side and its quadrants are
        // out of place.
        const avs::PClip stored
            = avs::OpenScriptText(source + ", auto_rotate=false)", dir.file("s.avs"));
        EXPECT_EQ(stored->GetVideoInfo().width, orientation >= 5 ? 48 : 64);
        EXPECT_EQ(corners(*stored->GetFrame(0)) == 4, orientation == 1);
    }
}
