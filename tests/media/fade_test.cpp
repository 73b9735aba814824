// Cross-fades through the converter: a fade frame of the script is blended in
// the encoder's planar format from the converted pictures of its two slides,
// with the engine's weights, and its 24-bit RGB pixels are never made.
#include "media_support.h"
#include "pictures.h"
#include "test_clip.h"
#include "testsupport.h"

#include "platform/media/compressors.h"
#include "platform/win32/strings.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace mediatest;

namespace {

// The clip's frames as plain pictures, each made anew: what the converter saw
// before fades were described rather than blended.
class Materialised : public avs::Clip
{
public:
    explicit Materialised(avs::PClip clip)
        : clip_(std::move(clip))
    {}
    const avs::VideoInfo &GetVideoInfo() const override { return clip_->GetVideoInfo(); }
    avs::PFrame GetFrame(std::int64_t n) override
    {
        const avs::PFrame in = clip_->GetFrame(n);
        auto out = std::make_shared<avs::Frame>(in->width(), in->height());
        for (int y = 0; y < in->height(); ++y)
            std::copy_n(in->row(y), in->width() * 3, out->mutableRow(y));
        return out;
    }

private:
    avs::PClip clip_;
};

class Fade : public ::testing::Test
{
protected:
    void SetUp() override
    {
        lossless_ = IndexOf("ffv1");
        if (lossless_ < 0)
            GTEST_SKIP() << "no FFV1 entry here";
        // Two photo-like pictures of an odd size, so that the chroma planes
        // have a half block at the edges; 2 frames of each, then a 4-frame fade.
        testsupport::WriteBmp24(dir.file("a.bmp"), 70, 46, testsupport::Gradient(3));
        testsupport::WriteBmp24(dir.file("b.bmp"), 70, 46, testsupport::Gradient(8));
        clip_ = avs::OpenScriptText("a=ImageSource(\"a.bmp\", 0, 5, 25)\n"
                                    "b=ImageSource(\"b.bmp\", 0, 5, 25)\n"
                                    "return Dissolve(a, b, 4)\n",
                                    dir.file("fade.avs"));
    }

    std::string render(avs::PClip clip, const std::string &name)
    {
        const std::string path = dir.file(name);
        RenderGraph g;
        EXPECT_EQ(g.render(std::move(clip), lossless_, win32::AnsiToWide(path)), S_OK)
            << g.errorReason();
        return path;
    }

    testsupport::TempDir dir;
    int lossless_ = -1;
    avs::PClip clip_;
};

} // namespace

TEST_F(Fade, FadeFramesAreBlendedFromTheConvertedSlides)
{
    ASSERT_EQ(clip_->GetVideoInfo().frameCount, 8);
    const std::string movie = render(clip_, "fade.avi");
    ASSERT_EQ(ProbeAvi(movie).video()->frames, 8);

    const DecodedPlanes a = DecodePlanes(movie, 0);
    const DecodedPlanes b = DecodePlanes(movie, 7);
    ASSERT_EQ(a.format, AV_PIX_FMT_YUV420P);
    ASSERT_EQ(a.width[1], 35);
    ASSERT_EQ(a.height[1], 23);
    for (int k = 0; k < 4; ++k) {
        const DecodedPlanes fade = DecodePlanes(movie, 2 + k);
        const int wa = 4 - k, wb = k + 1;
        for (int p = 0; p < 3; ++p) {
            ASSERT_EQ(fade.plane[p].size(), a.plane[p].size());
            for (std::size_t i = 0; i < fade.plane[p].size(); ++i) {
                const int expected = (a.plane[p][i] * wa + b.plane[p][i] * wb + 2) / 5;
                ASSERT_EQ(fade.plane[p][i], expected) << "fade frame " << k << " plane " << p;
            }
        }
    }
    // The script's fade frames were handed on without their RGB pixels, and
    // none were made for them.
    for (int n = 2; n < 6; ++n) {
        const avs::PFrame f = clip_->GetFrame(n);
        ASSERT_NE(f->blend(), nullptr);
        EXPECT_FALSE(f->hasPixels()) << n;
    }
}

TEST_F(Fade, BlendingAfterTheConversionMovesASampleByLittle)
{
    const std::string now = render(clip_, "now.avi");
    const std::string then = render(std::make_shared<Materialised>(clip_), "then.avi");
    for (int n = 0; n < 8; ++n) {
        const DecodedPlanes x = DecodePlanes(now, n);
        const DecodedPlanes y = DecodePlanes(then, n);
        int worst[3] = {};
        for (int p = 0; p < 3; ++p) {
            ASSERT_EQ(x.plane[p].size(), y.plane[p].size());
            for (std::size_t i = 0; i < x.plane[p].size(); ++i)
                worst[p] = std::max(worst[p], std::abs(int(x.plane[p][i]) - int(y.plane[p][i])));
        }
        // The slides themselves are converted exactly as before; in a fade,
        // luma moves by at most one level and chroma, very rarely, by two.
        const int luma = n < 2 || n > 5 ? 0 : 1;
        const int chroma = n < 2 || n > 5 ? 0 : 2;
        EXPECT_LE(worst[0], luma) << n;
        EXPECT_LE(worst[1], chroma) << n;
        EXPECT_LE(worst[2], chroma) << n;
    }
}
