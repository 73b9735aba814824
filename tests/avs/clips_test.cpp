// The clips on their own: frame arithmetic of Loop, Dissolve and splicing, the
// blend weights, resizing against a reference, the shared frame cache, and
// frame requests from several threads.
#include "platform/avs/cache.h"
#include "platform/avs/filters.h"

#include "avs_helpers.h"
#include "pictures.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace testsupport;
using avstest::NumberedClip;
using avstest::NumberOf;

namespace {

// A clip of one grey level that hands out one Frame object for all its frames.
class SolidClip : public avs::Clip
{
public:
    SolidClip(std::int64_t frames, int level, int width = 6, int height = 3)
        : frame_(std::make_shared<avs::Frame>(width, height))
    {
        vi_.width = width;
        vi_.height = height;
        vi_.frameCount = frames;
        for (int y = 0; y < height; ++y)
            std::fill_n(frame_->mutableRow(y), width * 3, static_cast<std::uint8_t>(level));
    }
    const avs::VideoInfo &GetVideoInfo() const override { return vi_; }
    avs::PFrame GetFrame(std::int64_t) override { return frame_; }

private:
    avs::VideoInfo vi_;
    std::shared_ptr<avs::Frame> frame_;
};

std::vector<int> numbers(const avs::PClip &clip)
{
    std::vector<int> out;
    for (std::int64_t n = 0; n < clip->GetVideoInfo().frameCount; ++n)
        out.push_back(NumberOf(clip->GetFrame(n)));
    return out;
}

avs::PEnvironment env()
{
    return std::make_shared<avs::Environment>();
}

} // namespace

TEST(Loop, LengthsAndFrameOrderFollowTheDocumentation)
{
    const avs::PClip ten = std::make_shared<NumberedClip>(10);
    // Whole clip, three times.
    const avs::PClip thrice = avs::MakeLoop(ten, 3, 0, 9);
    EXPECT_EQ(thrice->GetVideoInfo().frameCount, 30);
    EXPECT_EQ(NumberOf(thrice->GetFrame(25)), 5);
    // Play to 1, frames 2–4 twice, then on to the end.
    EXPECT_EQ(numbers(avs::MakeLoop(ten, 2, 2, 4)),
              (std::vector<int>{0, 1, 2, 3, 4, 2, 3, 4, 5, 6, 7, 8, 9}));
    // Zero times deletes the segment.
    EXPECT_EQ(numbers(avs::MakeLoop(ten, 0, 2, 4)), (std::vector<int>{0, 1, 5, 6, 7, 8, 9}));
    // Once is the clip itself; an end past the clip is its last frame.
    EXPECT_EQ(avs::MakeLoop(ten, 1, 0, 9), ten);
    EXPECT_EQ(avs::MakeLoop(ten, 2, 8, 50)->GetVideoInfo().frameCount, 12);
    // -1: "very many" times.
    const avs::PClip endless = avs::MakeLoop(ten, -1, 0, 9);
    EXPECT_EQ(endless->GetVideoInfo().frameCount, 100000000);
    EXPECT_EQ(NumberOf(endless->GetFrame(99999999)), 9);
    // A segment that is empty leaves the clip as it is.
    EXPECT_EQ(avs::MakeLoop(ten, 5, 6, 3), ten);
    EXPECT_THROW(avs::MakeLoop(ten, 1000000000, 0, 9), avs::Error);
}

TEST(Loop, RepeatsOfOneFrameAreOneObject)
{
    const avs::PClip one = std::make_shared<SolidClip>(1, 7);
    const avs::PClip held = avs::MakeLoop(one, 75, 0, 0);
    ASSERT_EQ(held->GetVideoInfo().frameCount, 75);
    const avs::PFrame first = held->GetFrame(0);
    for (int n = 1; n < 75; ++n)
        EXPECT_EQ(held->GetFrame(n), first);
}

TEST(Dissolve, LengthAndTheFramesAroundTheFade)
{
    const avs::PClip a = std::make_shared<SolidClip>(30, 10);
    const avs::PClip b = std::make_shared<SolidClip>(20, 250);
    const avs::PClip d = avs::MakeDissolve(env(), {a, b}, 5);
    EXPECT_EQ(d->GetVideoInfo().frameCount, 30 + 20 - 5);
    // Outside the overlap frames are passed on, not copied.
    EXPECT_EQ(d->GetFrame(24), a->GetFrame(0));
    EXPECT_EQ(d->GetFrame(30), b->GetFrame(0));
    EXPECT_NE(d->GetFrame(25), a->GetFrame(0));
    // A fade frame asked for twice is the same object.
    EXPECT_EQ(d->GetFrame(27), d->GetFrame(27));
    // Three clips: two overlaps.
    EXPECT_EQ(avs::MakeDissolve(env(), {a, b, a}, 5)->GetVideoInfo().frameCount, 30 + 20 + 30 - 10);
    // No overlap is a plain splice.
    EXPECT_EQ(avs::MakeDissolve(env(), {a, b}, 0)->GetVideoInfo().frameCount, 50);
    EXPECT_THROW(avs::MakeDissolve(env(), {a, b}, -1), avs::Error);
    EXPECT_THROW(avs::MakeDissolve(env(), {a, b}, 21), avs::Error);
}

TEST(Dissolve, BlendWeightsAreExact)
{
    // Frame k of an overlap of n is (n − k)/(n + 1) of the first clip and
    // (k + 1)/(n + 1) of the second, rounded to nearest with halves up.
    for (const int overlap : {1, 3, 25, 255, 256, 300}) {
        for (const auto &[from, to] : {std::pair{200, 0}, std::pair{0, 255}, std::pair{13, 14}}) {
            const avs::PClip a = std::make_shared<SolidClip>(overlap, from);
            const avs::PClip b = std::make_shared<SolidClip>(overlap, to);
            const avs::PClip d = avs::MakeDissolve(env(), {a, b}, overlap);
            for (int k = 0; k < overlap; ++k) {
                const std::int64_t sum = static_cast<std::int64_t>(from) * (overlap - k)
                                         + static_cast<std::int64_t>(to) * (k + 1);
                const int expected
                    = static_cast<int>((2 * sum + overlap + 1) / (2 * (overlap + 1)));
                const avs::PFrame f = d->GetFrame(k);
                ASSERT_EQ(f->row(2)[17], expected)
                    << "overlap " << overlap << " frame " << k << " from " << from << " to " << to;
                ASSERT_EQ(f->row(0)[0], expected);
            }
        }
    }
}

TEST(Dissolve, AFadeFrameIsMadeOfItsTwoFramesAndBlendedWhenFirstRead)
{
    const avs::PClip a = std::make_shared<SolidClip>(10, 40, 64, 9);
    const avs::PClip b = std::make_shared<SolidClip>(10, 201, 64, 9);
    const avs::PClip d = avs::MakeDissolve(env(), {a, b}, 4);
    const avs::PFrame f = d->GetFrame(7); // the fade's frame k = 1: weights 3 and 2
    const avs::Frame::Blend *blend = f->blend();
    ASSERT_NE(blend, nullptr);
    EXPECT_EQ(blend->a, a->GetFrame(7));
    EXPECT_EQ(blend->b, b->GetFrame(1));
    EXPECT_EQ(blend->weightA, 3u);
    EXPECT_EQ(blend->weightB, 2u);
    EXPECT_FALSE(f->hasPixels());
    EXPECT_EQ(d->GetFrame(5)->blend(), nullptr); // before the fade: a's own frame

    // Threads reading it at once all see one set of pixels, made once.
    std::vector<const std::uint8_t *> seen(4);
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i)
        readers.emplace_back([&, i] { seen[static_cast<std::size_t>(i)] = f->row(8); });
    for (auto &t : readers)
        t.join();
    EXPECT_TRUE(f->hasPixels());
    for (const std::uint8_t *row : seen)
        EXPECT_EQ(row, f->row(8));
    const int expected = (40 * 3 + 201 * 2 + 2) / 5;
    for (int x = 0; x < 64 * 3; ++x)
        ASSERT_EQ(f->row(8)[x], expected) << x;
    // Frames that do not agree in size are not blended.
    const avs::PFrame small = std::make_shared<avs::Frame>(8, 9);
    EXPECT_THROW(avs::Frame(a->GetFrame(0), small, 1, 1), avs::Error);
    EXPECT_THROW(avs::Frame(a->GetFrame(0), b->GetFrame(0), 0, 0), avs::Error);
}

TEST(Splice, JoinsEndToEndAndFlattens)
{
    const avs::PClip a = std::make_shared<NumberedClip>(3);
    const avs::PClip b = std::make_shared<NumberedClip>(2);
    const avs::PClip empty = avs::MakeLoop(a, 0, 0, 2);
    ASSERT_EQ(empty->GetVideoInfo().frameCount, 0);
    EXPECT_EQ(numbers(avs::MakeSplice({a, empty, b, a})),
              (std::vector<int>{0, 1, 2, 0, 1, 0, 1, 2}));

    // A thousand joins, one at a time as `+` makes them, stay one level deep.
    avs::PClip all = a;
    for (int i = 0; i < 1000; ++i)
        all = avs::MakeSplice({all, b});
    EXPECT_EQ(all->GetVideoInfo().frameCount, 3 + 2000);
    EXPECT_EQ(NumberOf(all->GetFrame(2002)), 1);
    EXPECT_EQ(NumberOf(all->GetFrame(3)), 0);

    const avs::PClip wide = std::make_shared<NumberedClip>(3, 9, 4);
    EXPECT_THROW(avs::MakeSplice({a, wide}), avs::Error);
    const avs::PClip fast = std::make_shared<NumberedClip>(3, 8, 4, 50);
    EXPECT_THROW(avs::MakeSplice({a, fast}), avs::Error);
}

TEST(Clips, FramesOutsideTheClipAreRefused)
{
    const avs::PClip a = std::make_shared<NumberedClip>(3);
    const avs::PClip l = avs::MakeLoop(a, 2, 0, 2);
    EXPECT_THROW(l->GetFrame(6), avs::Error);
    EXPECT_THROW(l->GetFrame(-1), avs::Error);
}

TEST(Clips, ChainsTooDeepForTheStackAreRefused)
{
    avs::PClip c = std::make_shared<NumberedClip>(2);
    EXPECT_THROW(
        {
            for (int i = 0; i < avs::kMaxDepth + 1; ++i)
                c = avs::MakeLoop(c, 2, 0, 0);
        },
        avs::Error);
}

class Resize : public ::testing::Test
{
protected:
    TempDir dir;
};

TEST_F(Resize, MatchesTheMitchellNetravaliReference)
{
    const int w = 301, h = 207;
    WriteBmp24(dir.file("p.bmp"), w, h, avstest::Photo());
    const auto source = avstest::Render(avstest::Photo(), w, h);
    const avs::PEnvironment e = env();
    const avs::PClip picture = avs::MakeImageSource(e, dir.file("p.bmp"), 0, 0, {25, 1});
    struct Case
    {
        int w, h;
        double b, c;
    };
    for (const Case &k : {Case{200, 120, 1.0 / 3, 1.0 / 3}, Case{640, 400, 1.0 / 3, 1.0 / 3},
                          Case{97, 300, 0, 0.75}, Case{301, 100, 1, 0}}) {
        const avs::PFrame f = avs::MakeBicubicResize(e, picture, k.w, k.h, k.b, k.c)->GetFrame(0);
        ASSERT_EQ(f->width(), k.w);
        ASSERT_EQ(f->height(), k.h);
        const avstest::Difference d
            = avstest::Compare(*f, avstest::ReferenceResize(k.b, k.c).run(source, w, h, k.w, k.h));
        EXPECT_LE(d.worst, 2.5) << k.w << "x" << k.h << " b=" << k.b << " c=" << k.c;
        EXPECT_LE(d.mean, 0.6) << k.w << "x" << k.h;
    }
}

TEST_F(Resize, ShrinkingAJpegWhileDecodingStaysCloseToTheFullPicture)
{
    const int w = 1600, h = 1200;
    WriteJpeg(dir.file("big.jpg"), w, h, avstest::Photo(3), JpegKind::Baseline, 98);
    const avs::PEnvironment e = env();
    const avs::PClip picture = avs::MakeImageSource(e, dir.file("big.jpg"), 0, 0, {25, 1});
    const avs::PFrame f = avs::MakeBicubicResize(e, picture, 352, 288)->GetFrame(0);
    const auto ref = avstest::ReferenceResize(1.0 / 3, 1.0 / 3)
                         .run(avstest::Render(avstest::Photo(3), w, h), w, h, 352, 288);
    const avstest::Difference d = avstest::Compare(*f, ref);
    EXPECT_LE(d.mean, 1.5);
    EXPECT_LE(d.worst, 12);

    // A cut-out, off centre, is shrunk with the picture too: what it shows
    // stays where it is, within half a pixel of the shrunk picture.
    const int left = 403, top = 161, cw = 1000, ch = 750;
    const avs::PFrame g
        = avs::MakeBicubicResize(e, avs::MakeCrop(e, picture, left, top, cw, ch), 320, 240)
              ->GetFrame(0);
    const auto cutRef
        = avstest::ReferenceResize(1.0 / 3, 1.0 / 3)
              .run(avstest::Render(
                       [](int x, int y) { return avstest::Photo(3)(x + left, y + top); }, cw, ch),
                   cw, ch, 320, 240);
    const avstest::Difference cut = avstest::Compare(*g, cutRef);
    EXPECT_LE(cut.mean, 1.5);
    EXPECT_LE(cut.worst, 12);
}

TEST_F(Resize, SameSizeIsTheClipAndCroppingCuts)
{
    const avs::PEnvironment e = env();
    const avs::PClip grey = std::make_shared<SolidClip>(4, 90, 40, 20);
    EXPECT_EQ(avs::MakeBicubicResize(e, grey, 40, 20), grey);
    EXPECT_THROW(avs::MakeBicubicResize(e, grey, 0, 20), avs::Error);
    EXPECT_THROW(avs::MakeBicubicResize(e, grey, 40, -3), avs::Error);

    // Left half of a picture that is black left and white right, shown at the
    // same size: still black.
    WriteBmp24(dir.file("two.bmp"), 40, 20, [](int x, int) {
        return x < 20 ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
    });
    const avs::PClip two = avs::MakeImageSource(e, dir.file("two.bmp"), 0, 0, {25, 1});
    avs::Crop left{0, 0, 16, 0};
    const avs::PFrame f
        = avs::MakeBicubicResize(e, two, 16, 20, 1.0 / 3, 1.0 / 3, left)->GetFrame(0);
    EXPECT_EQ(avstest::PixelAt(*f, 15, 10).g, 0);
    avs::Crop right{24, 0, -0.0, 0};
    const avs::PFrame g
        = avs::MakeBicubicResize(e, two, 16, 20, 1.0 / 3, 1.0 / 3, right)->GetFrame(0);
    EXPECT_EQ(avstest::PixelAt(*g, 0, 10).g, 255);
    EXPECT_THROW(avs::MakeBicubicResize(e, two, 16, 20, 1.0 / 3, 1.0 / 3, avs::Crop{0.5, 0, 0, 0}),
                 avs::Error);
    EXPECT_THROW(avs::MakeBicubicResize(e, two, 16, 20, 1.0 / 3, 1.0 / 3, avs::Crop{30, 0, 20, 0}),
                 avs::Error);
}

// A strip far thinner than the frame, 45 times wider or taller: beyond what
// the scaler shrinks at once, yet stretched as any photo is.
TEST_F(Resize, AStripFarThinnerThanTheFrameIsStretchedToo)
{
    const avs::PEnvironment e = env();
    for (const bool wide : {true, false}) {
        // Red in its first half along the long side, blue in the second.
        const std::string name = dir.file(wide ? "wide.bmp" : "tall.bmp");
        WriteBmp24(name, wide ? 16000 : 16, wide ? 16 : 16000, [&](int x, int y) {
            return (wide ? x : y) < 8000 ? Rgb{255, 0, 0} : Rgb{0, 0, 255};
        });
        const avs::PFrame f
            = avs::MakeBicubicResize(e, avs::MakeImageSource(e, name, 0, 0, {25, 1}),
                                     wide ? 352 : 240, wide ? 240 : 352)
                  ->GetFrame(0);
        const auto along = [&](int at) {
            return wide ? avstest::PixelAt(*f, at, 120) : avstest::PixelAt(*f, 120, at);
        };
        EXPECT_EQ(along(40).r, 255) << name;
        EXPECT_EQ(along(310).b, 255) << name;
        EXPECT_EQ(along(310).r, 0) << name;
    }
}

// A photo a single pixel wide, beyond what the scaler spreads at once over a
// frame thousands of pixels wide, fills it as any photo does.
TEST_F(Resize, APhotoOnePixelWideFillsAWideFrame)
{
    const avs::PEnvironment e = env();
    const std::string name = dir.file("thread.bmp");
    WriteBmp24(name, 1, 2, [](int, int y) { return y == 0 ? Rgb{255, 0, 0} : Rgb{0, 0, 255}; });
    const avs::PFrame f
        = avs::MakeBicubicResize(e, avs::MakeImageSource(e, name, 0, 0, {25, 1}), 8192, 64)
              ->GetFrame(0);
    for (const int x : {0, 4096, 8191}) {
        EXPECT_EQ(avstest::PixelAt(*f, x, 2).r, 255) << x;
        EXPECT_EQ(avstest::PixelAt(*f, x, 61).b, 255) << x;
        EXPECT_EQ(avstest::PixelAt(*f, x, 61).r, 0) << x;
    }
}

TEST_F(Resize, AHeldFrameIsResizedOnce)
{
    const avs::PEnvironment e = env();
    const auto one = std::make_shared<NumberedClip>(1, 16, 16);
    const avs::PClip held = avs::MakeLoop(one, 50, 0, 0);
    const avs::PClip big = avs::MakeBicubicResize(e, held, 32, 32);
    // NumberedClip makes a new frame for every request, so only the cache of
    // the resize keeps its output one object for frame 0.
    EXPECT_EQ(big->GetFrame(0), big->GetFrame(0));
    EXPECT_EQ(NumberOf(big->GetFrame(10)), 0);
}

TEST(FrameCache, StaysWithinItsBudgetAndKeepsHeldFramesOneObject)
{
    const std::size_t frameBytes = avs::Frame(100, 100).stride() * 100u;
    avs::FrameCache cache(frameBytes * 4);
    const std::uint64_t owner = cache.newOwner();
    int made = 0;
    auto make = [&] {
        ++made;
        return std::make_shared<avs::Frame>(100, 100);
    };
    const avs::PFrame kept = cache.get(owner, 0, make);
    for (int n = 1; n < 50; ++n) {
        cache.get(owner, n, make);
        EXPECT_LE(cache.bytes(), cache.budget());
    }
    EXPECT_EQ(made, 50);
    // Frame 0 left the cache long ago, but it is still held here: it is handed
    // out again rather than made anew.
    EXPECT_EQ(cache.get(owner, 0, make), kept);
    EXPECT_EQ(made, 50);
    // Frame 1 is held by nobody and is made again.
    cache.get(owner, 1, make);
    EXPECT_EQ(made, 51);
    // Owners do not see each other's frames.
    EXPECT_NE(cache.get(cache.newOwner(), 0, make), kept);
}

TEST(FrameCache, AFailureIsNotCachedAndOthersMayTryAgain)
{
    avs::FrameCache cache;
    const std::uint64_t owner = cache.newOwner();
    EXPECT_THROW(cache.get(owner, 0, []() -> avs::PFrame { throw avs::Error("no"); }), avs::Error);
    EXPECT_NE(cache.get(owner, 0, [] { return std::make_shared<avs::Frame>(1, 1); }), nullptr);
}

TEST(FrameCache, ThreadsAskingForTheSameFrameGetOneObject)
{
    avs::FrameCache cache;
    const std::uint64_t owner = cache.newOwner();
    std::atomic<int> made{0};
    std::vector<avs::PFrame> got(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            got[t] = cache.get(owner, 42, [&] {
                made.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                return std::make_shared<avs::Frame>(8, 8);
            });
        });
    for (auto &th : threads)
        th.join();
    EXPECT_EQ(made.load(), 1);
    for (const auto &f : got)
        EXPECT_EQ(f, got[0]);
}

TEST(FrameCache, UnderNoWaitAFrameBeingMadeElsewhereIsBusy)
{
    avs::FrameCache cache;
    const std::uint64_t owner = cache.newOwner();
    std::promise<void> started, release;
    std::shared_future<void> go = release.get_future().share();
    std::thread maker([&] {
        cache.get(owner, 7, [&] {
            started.set_value();
            go.wait();
            return std::make_shared<avs::Frame>(4, 4);
        });
    });
    started.get_future().wait();
    {
        const avs::NoWait noWait;
        EXPECT_TRUE(avs::NoWait::active());
        EXPECT_THROW(cache.get(owner, 7, [] { return std::make_shared<avs::Frame>(4, 4); }),
                     avs::Busy);
        // Another frame is made at once, and scopes nest.
        {
            const avs::NoWait inner;
        }
        EXPECT_TRUE(avs::NoWait::active());
        EXPECT_NE(cache.get(owner, 8, [] { return std::make_shared<avs::Frame>(4, 4); }), nullptr);
    }
    EXPECT_FALSE(avs::NoWait::active());
    release.set_value();
    maker.join();
    // Once made, the frame is there for everybody, with or without waiting.
    const avs::NoWait noWait;
    int made = 0;
    const avs::PFrame f = cache.get(owner, 7, [&] {
        ++made;
        return std::make_shared<avs::Frame>(4, 4);
    });
    EXPECT_EQ(made, 0);
    EXPECT_EQ(f->width(), 4);
}
