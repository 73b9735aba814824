// Brindle through its three exports, loaded by name as a host loads it.

#include "brindle_support.h"
#include "platform/win32/errors.h"

#include <algorithm>
#include <atomic>
#include <dlfcn.h>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <pthread.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace brindletest;
using testsupport::PixelFn;

namespace {

constexpr Rgb kRed{220, 30, 30};
constexpr Rgb kGreen{30, 200, 40};
constexpr Rgb kBlue{40, 50, 210};
constexpr Rgb kMarker{255, 0, 255}; // never served: shows what was not drawn
constexpr int kTolerance = 10;      // JPEG's loss on a flat colour

struct Rect
{
    int x, y, width, height;
    bool contains(int px, int py) const
    {
        return px >= x && px < x + width && py >= y && py < y + height;
    }
};

// Inside `rect` every pixel is near `colour`; everywhere else exactly black.
::testing::AssertionResult ShowsOnBlack(const Canvas &canvas, Rect rect, Rgb colour)
{
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x) {
            const Rgb p = canvas.at(x, y);
            const bool inside = rect.contains(x, y);
            if (inside ? Distance(p, colour) > kTolerance : Distance(p, kBlack) != 0)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") is (" << int(p.r) << ", " << int(p.g)
                       << ", " << int(p.b) << "), expected " << (inside ? "the photo" : "black");
        }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult AllOf(const Canvas &canvas, Rgb colour, int tolerance)
{
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (Distance(canvas.at(x, y), colour) > tolerance)
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") differs";
    return ::testing::AssertionSuccess();
}

bool Near(Rgb a, Rgb b)
{
    return Distance(a, b) <= kTolerance;
}

// Serves frames until the library says the show is over; the number served.
long long CountFrames(const BrindleLibrary &brindle, HDC dc, long long limit = 100000)
{
    long long n = 0;
    while (n < limit && brindle.getBitmap(dc) != 0)
        ++n;
    return n;
}

class Brindle : public ::testing::Test
{
protected:
    Job job;
    BrindleLibrary brindle;
};

} // namespace

TEST_F(Brindle, ThreePhotosAtIntervalTwoServe180FramesThenEndThenStartAgain)
{
    job.writeParams(352, 240, 2);
    job.writeList({job.solidPhoto("a.jpg", 352, 240, kRed),
                   job.solidPhoto("b.jpg", 352, 240, kGreen),
                   job.solidPhoto("c.jpg", 352, 240, kBlue)});
    Canvas canvas(352, 240);
    ASSERT_EQ(brindle.init(), -1);

    const Rgb expected[3] = {kRed, kGreen, kBlue};
    for (int n = 0; n < 180; ++n) {
        ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1) << "frame " << n;
        ASSERT_TRUE(Near(canvas.at(176, 120), expected[n / 60])) << "frame " << n;
    }
    ASSERT_TRUE(AllOf(canvas, kBlue, kTolerance));

    canvas.fill(kMarker);
    EXPECT_EQ(brindle.getBitmap(canvas.dc()), 0);
    EXPECT_TRUE(AllOf(canvas, kMarker, 0)) << "the end of the show draws nothing";

    EXPECT_EQ(brindle.getBitmap(canvas.dc()), 1);
    EXPECT_TRUE(AllOf(canvas, kRed, kTolerance)) << "the show starts again at frame 0";
    EXPECT_EQ(brindle.free(), -1);
}

TEST(BrindleLetterbox, PlacesEachPhotoOnBlack)
{
    struct Case
    {
        int w, h, frameWidth, frameHeight;
        Rect expected;
    };
    const Case cases[] = {
        {704, 480, 352, 240, {0, 0, 352, 240}},   // same aspect: fills the frame
        {1000, 500, 352, 240, {0, 32, 352, 176}}, // wider: bands above and below
        {300, 200, 352, 240, {26, 20, 300, 200}}, // smaller: never enlarged
        {200, 400, 352, 240, {116, 0, 120, 240}}, // taller: bands left and right
        {301, 201, 352, 240, {25, 19, 301, 201}}, // odd margins: halving truncates
        {352, 240, 352, 240, {0, 0, 352, 240}},   {1000, 500, 720, 576, {0, 108, 720, 360}},
        {641, 479, 640, 480, {0, 1, 640, 478}}, // 479 × 640 ÷ 641 = 478.25
        {3000, 2, 352, 240, {0, 0, 0, 0}},      // 2 × 352 ÷ 3000 = 0 rows: nothing to draw
    };
    BrindleLibrary brindle;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h) + " into "
                     + std::to_string(c.frameWidth) + " x " + std::to_string(c.frameHeight));
        Job job;
        job.writeParams(c.frameWidth, c.frameHeight, 1);
        const Rgb colour{250, 200, 20};
        job.writeList({job.solidPhoto("p.jpg", c.w, c.h, colour)});
        Canvas canvas(c.frameWidth, c.frameHeight);
        canvas.fill(kMarker);
        brindle.init();
        ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
        EXPECT_TRUE(ShowsOnBlack(canvas, c.expected, colour));
    }
}

TEST(BrindleLetterbox, KeepsThePhotoTheRightWayRound)
{
    BrindleLibrary brindle;
    // Four quadrants, in the DCT-scaled path (exactly half) and in the scaler's.
    for (const auto &[w, h] : {std::pair{704, 480}, std::pair{1000, 500}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        Job job;
        job.writeParams(352, 240, 1);
        const PixelFn quadrants = [w = w, h = h](int x, int y) {
            if (y < h / 2)
                return x < w / 2 ? kRed : kGreen;
            return x < w / 2 ? kBlue : Rgb{240, 240, 240};
        };
        job.writeList({job.photo("q.jpg", w, h, quadrants)});
        Canvas canvas(352, 240);
        brindle.init();
        ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
        const int top = w == 704 ? 0 : 32, height = w == 704 ? 240 : 176;
        const int upper = top + height / 4, lower = top + height * 3 / 4;
        EXPECT_TRUE(Near(canvas.at(88, upper), kRed));
        EXPECT_TRUE(Near(canvas.at(264, upper), kGreen));
        EXPECT_TRUE(Near(canvas.at(88, lower), kBlue));
        EXPECT_TRUE(Near(canvas.at(264, lower), (Rgb{240, 240, 240})));
    }
}

TEST(BrindleLetterbox, ShrinkingAveragesFineDetail)
{
    // Black and white stripes finer than the frame's pixels: an averaging
    // filter turns them grey, picking the nearest pixel would leave black or
    // white. Stripes of one pixel are already averaged by the decoder's DCT
    // scaling; stripes of 8 (one JPEG block) come out of it as one-pixel
    // stripes at 1/8 size, 668 × 334, which the scaler itself must average
    // into 352 × 176.
    struct Case
    {
        int w, h, stripe;
    };
    BrindleLibrary brindle;
    for (const Case c : {Case{704, 480, 1}, Case{1000, 500, 1}, Case{5344, 2672, 8}}) {
        SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
        Job job;
        job.writeParams(352, 240, 1);
        const int stripe = c.stripe;
        const PixelFn stripes = [stripe](int x, int) {
            return (x / stripe) % 2 ? Rgb{255, 255, 255} : kBlack;
        };
        job.writeList({job.photo("s.jpg", c.w, c.h, stripes)});
        Canvas canvas(352, 240);
        brindle.init();
        ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
        const int top = c.w == 704 ? 0 : 32, bottom = c.w == 704 ? 240 : 208;
        long long sum = 0, count = 0;
        int lowest = 255, highest = 0;
        for (int y = top + 2; y < bottom - 2; ++y)
            for (int x = 2; x < 350; ++x) {
                const int g = canvas.at(x, y).g;
                lowest = std::min(lowest, g);
                highest = std::max(highest, g);
                sum += g;
                ++count;
            }
        EXPECT_NEAR(static_cast<double>(sum) / count, 127.5, 12.0);
        EXPECT_GE(lowest, 80);
        EXPECT_LE(highest, 175);
    }
}

TEST_F(Brindle, WithoutParamIniFramesAre352x240AndEachPhotoStays60Frames)
{
    job.writeList(
        {job.solidPhoto("a.jpg", 704, 480, kRed), job.solidPhoto("b.jpg", 704, 480, kBlue)});
    Canvas canvas(400, 300);
    canvas.fill(kMarker);
    brindle.init();

    ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
    EXPECT_TRUE(Near(canvas.at(0, 0), kRed));
    EXPECT_TRUE(Near(canvas.at(351, 239), kRed));
    EXPECT_EQ(Distance(canvas.at(352, 0), kMarker), 0) << "only 352 columns are drawn";
    EXPECT_EQ(Distance(canvas.at(0, 240), kMarker), 0) << "only 240 rows are drawn";

    EXPECT_EQ(CountFrames(brindle, canvas.dc()), 119);
    EXPECT_TRUE(Near(canvas.at(100, 100), kBlue));
}

TEST_F(Brindle, ParamValuesAreWholeNumbersInDecimalOrHex)
{
    Canvas canvas(400, 300);
    job.writeList({job.solidPhoto("a.jpg", 704, 480, kRed)});
    struct Case
    {
        const char *text;
        int width, height;
        long long frames;
    };
    const Case cases[] = {
        {"[Temp]\r\nOutputWidth=0x140\r\nOutputHeight=0XF0\r\nInterval=0x1\r\n", 320, 240, 30},
        {"[temp]\r\noutputwidth = 200\r\nOUTPUTHEIGHT=100\r\ninterval=3\r\n", 200, 100, 90},
        {"[Temp]\r\nOutputWidth=wide\r\nOutputHeight=\r\nInterval=1.5\r\n", 352, 240, 60},
        {"[Other]\r\nOutputWidth=100\r\nOutputHeight=100\r\nInterval=1\r\n", 352, 240, 60},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        job.writeParamText(c.text);
        canvas.fill(kMarker);
        brindle.init();
        ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
        EXPECT_TRUE(Near(canvas.at(c.width / 2, c.height / 2), kRed));
        EXPECT_NE(Distance(canvas.at(c.width - 1, c.height - 1), kMarker), 0);
        EXPECT_EQ(Distance(canvas.at(c.width, 0), kMarker), 0);
        EXPECT_EQ(Distance(canvas.at(0, c.height), kMarker), 0);
        EXPECT_EQ(1 + CountFrames(brindle, canvas.dc()), c.frames);
    }
}

TEST_F(Brindle, AnIntervalOfZeroOrLessEndsTheShowAtOnce)
{
    job.writeList({job.solidPhoto("a.jpg", 100, 100, kRed)});
    Canvas canvas(352, 240);
    for (int interval : {0, -1, -2147483647}) {
        job.writeParams(352, 240, interval);
        canvas.fill(kMarker);
        brindle.init();
        EXPECT_EQ(brindle.getBitmap(canvas.dc()), 0) << interval;
        EXPECT_TRUE(AllOf(canvas, kMarker, 0));
    }
}

TEST_F(Brindle, LongIntervalsDoNotWrapTheFrameCount)
{
    // 71582789 × 30 is just over 2^31: in 32 bits the total would turn
    // negative and the show would end before its first frame.
    Canvas canvas(352, 240);
    job.writeList(
        {job.solidPhoto("a.jpg", 352, 240, kRed), job.solidPhoto("b.jpg", 352, 240, kBlue)});
    for (int interval : {71582789, 2147483647}) {
        job.writeParams(352, 240, interval);
        brindle.init();
        for (int n = 0; n < 3; ++n) {
            ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1) << interval;
            EXPECT_TRUE(AllOf(canvas, kRed, kTolerance));
        }
    }
}

TEST_F(Brindle, EachPhotoIsDecodedOncePerPass)
{
    // The photo file changes under the library: what it serves shows when it
    // read the file.
    job.writeParams(352, 240, 1);
    const std::string a = job.solidPhoto("a.jpg", 352, 240, kRed);
    job.writeList({a, job.solidPhoto("b.jpg", 352, 240, kBlue)});
    Canvas canvas(352, 240);
    brindle.init();

    ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
    EXPECT_TRUE(AllOf(canvas, kRed, kTolerance));
    job.solidPhoto("a.jpg", 352, 240, kGreen);
    for (int n = 1; n < 30; ++n) {
        ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
        ASSERT_TRUE(Near(canvas.at(10, 10), kRed)) << "frame " << n << " decoded the photo again";
    }
    ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
    EXPECT_TRUE(AllOf(canvas, kBlue, kTolerance));
    EXPECT_EQ(CountFrames(brindle, canvas.dc()), 29);

    // The next pass decodes photo 0 again, since photo 1 is the one held.
    ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
    EXPECT_TRUE(AllOf(canvas, kGreen, kTolerance));
}

TEST_F(Brindle, CallsFromTwoThreadsAreServedOneAtATime)
{
    // A host that pulls frames on a worker while its window's thread starts
    // the show again and frees it.
    job.writeParams(352, 240, 1);
    job.writeList(
        {job.solidPhoto("a.jpg", 704, 480, kRed), job.solidPhoto("b.jpg", 704, 480, kBlue)});
    brindle.init();
    std::atomic<bool> done = false;
    std::atomic<int> served = 0;
    std::thread worker([&] {
        Canvas canvas(352, 240);
        while (!done) {
            brindle.getBitmap(canvas.dc());
            ++served;
        }
    });
    for (int n = 0; n < 2000 || served < 2000; ++n) {
        brindle.free();
        brindle.init();
    }
    done = true;
    worker.join();

    Canvas canvas(352, 240);
    brindle.init();
    EXPECT_EQ(CountFrames(brindle, canvas.dc()), 60);
    EXPECT_TRUE(AllOf(canvas, kBlue, kTolerance));
    brindle.free();
}

TEST_F(Brindle, AHostsThreadMayHaveASmallStackOrBeCancelledInACall)
{
    // A photo of noise, read in many pieces: each read is a point where a
    // cancellation is acted on.
    job.writeParams(64, 48, 1);
    job.writeList({job.folder() + "noise.jpg", job.folder() + "noise.jpg"});
    testsupport::WriteJpeg(job.folder() + "noise.jpg", 2000, 1500, [](int x, int y) {
        const auto v = static_cast<std::uint8_t>((x * 7919 + y * 104729) ^ (x * y));
        return Rgb{v, static_cast<std::uint8_t>(v * 3), static_cast<std::uint8_t>(v + y)};
    });
    const auto inChild = [](const std::function<bool()> &body) {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(body() ? 0 : 1);
        int status = 0;
        ::waitpid(child, &status, 0);
        return status;
    };
    const auto onThread = [](std::size_t stack, void *(*run)(void *), void *arg) {
        pthread_attr_t attr;
        pthread_t thread;
        ::pthread_attr_init(&attr);
        ::pthread_attr_setstacksize(&attr, stack);
        const bool made = ::pthread_create(&thread, &attr, run, arg) == 0;
        ::pthread_attr_destroy(&attr);
        return made ? std::optional<pthread_t>(thread) : std::nullopt;
    };
    using Library = decltype(brindle);

#ifndef QUILLON_TEST_SANITIZED
    // 64 KiB, as many libraries give their workers.
    EXPECT_EQ(inChild([&] {
                  const auto thread = onThread(
                      64 * 1024,
                      [](void *arg) -> void * {
                          const auto &library = *static_cast<const Library *>(arg);
                          Canvas canvas(64, 48);
                          library.init();
                          const bool lit = library.getBitmap(canvas.dc()) == 1
                                           && canvas.at(32, 24).r + canvas.at(32, 24).g > 0;
                          library.free();
                          return lit ? arg : nullptr;
                      },
                      &brindle);
                  void *result = nullptr;
                  return thread && ::pthread_join(*thread, &result) == 0 && result;
              }),
              0);
#endif

    // A thread cancelled while it serves frames ends, though its loop has no
    // cancellation point of its own; the host goes on.
    EXPECT_EQ(inChild([&] {
                  for (int round = 0; round < 5; ++round) {
                      const auto thread = onThread(
                          8 << 20,
                          [](void *arg) -> void * {
                              const auto &library = *static_cast<const Library *>(arg);
                              Canvas canvas(64, 48);
                              for (;;) {
                                  library.init();
                                  while (library.getBitmap(canvas.dc()) == 1) {
                                  }
                                  library.free();
                              }
                          },
                          &brindle);
                      if (!thread)
                          return false;
                      std::this_thread::sleep_for(std::chrono::milliseconds(30 + 7 * round));
                      ::pthread_cancel(*thread);
                      void *result = nullptr;
                      if (::pthread_join(*thread, &result) != 0 || result != PTHREAD_CANCELED)
                          return false;
                  }
                  Canvas canvas(64, 48);
                  brindle.init();
                  return CountFrames(brindle, canvas.dc()) == 60;
              }),
              0);
}

TEST_F(Brindle, ASinglePhotoStaysHeldFromPassToPass)
{
    job.writeParams(352, 240, 1);
    job.writeList({job.solidPhoto("a.jpg", 352, 240, kRed)});
    Canvas canvas(352, 240);
    brindle.init();
    EXPECT_EQ(CountFrames(brindle, canvas.dc()), 30);
    job.solidPhoto("a.jpg", 352, 240, kGreen);
    ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
    EXPECT_TRUE(AllOf(canvas, kRed, kTolerance)) << "photo 0 is still the one held";

    // A new initialisation forgets the held photo.
    brindle.init();
    ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
    EXPECT_TRUE(AllOf(canvas, kGreen, kTolerance));
}

namespace {

// Bytes this process has read through read(2) and its kin: every decode reads
// its photo file once more.
long long BytesRead()
{
    return testsupport::IoCount("rchar");
}

} // namespace

TEST_F(Brindle, ThePhotoFileIsReadOnceForAllItsFrames)
{
    if (BytesRead() < 0)
        GTEST_SKIP() << "no I/O accounting in /proc/self/io";
    job.writeParams(352, 240, 2);
    const std::string a = job.photo("a.jpg", 1600, 1200, testsupport::Gradient(1));
    const std::string b = job.photo("b.jpg", 1200, 1600, testsupport::Gradient(2));
    job.writeList({a, b});
    const long long sizeA = static_cast<long long>(testsupport::ReadFile(a).size());
    const long long sizeB = static_cast<long long>(testsupport::ReadFile(b).size());
    ASSERT_GT(sizeA, 16384);
    ASSERT_GT(sizeB, 16384);
    Canvas canvas(352, 240);
    brindle.init();

    // Reading /proc/self/io counts too, a hundred bytes or so; reads may stop a
    // buffer short of the end once the picture is complete.
    const long long ownReads = 1024, slack = 8192;
    long long before = BytesRead();
    ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
    long long read = BytesRead() - before;
    EXPECT_GE(read, sizeA - slack);
    EXPECT_LE(read, sizeA + ownReads);

    before = BytesRead();
    for (int n = 1; n < 60; ++n)
        ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
    EXPECT_LE(BytesRead() - before, ownReads) << "frames 1 to 59 read the photo again";

    before = BytesRead();
    for (int n = 60; n < 120; ++n)
        ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
    read = BytesRead() - before;
    EXPECT_GE(read, sizeB - slack);
    EXPECT_LE(read, sizeB + ownReads);
}

// One read of param.ini gives every value, so that all of them are of one
// job even while the program writes the next one.
TEST_F(Brindle, ParamIniIsReadOnceForAllItsValues)
{
    if (BytesRead() < 0)
        GTEST_SKIP() << "no I/O accounting in /proc/self/io";
    const std::string padding = "; " + std::string(256 * 1024, '-') + "\r\n";
    job.writeParamText(padding + "[Temp]\r\nOutputWidth=64\r\nOutputHeight=48\r\nInterval=1\r\n");
    job.writeList({job.solidPhoto("a.jpg", 64, 48, kRed)});
    const long long before = BytesRead();
    brindle.init();
    EXPECT_LT(BytesRead() - before, 2 * static_cast<long long>(padding.size()));
    Canvas canvas(64, 48);
    EXPECT_EQ(CountFrames(brindle, canvas.dc()), 30);
    EXPECT_TRUE(AllOf(canvas, kRed, kTolerance));
}

TEST_F(Brindle, PhotoListLinesEndAtCrLfOrBothAndNulEndsTheText)
{
    job.writeParams(352, 240, 1);
    const std::string a = job.solidPhoto("a.jpg", 64, 48, kRed);
    const std::string b = job.solidPhoto("b.jpg", 64, 48, kGreen);
    const std::string c = job.solidPhoto("c.jpg", 64, 48, kBlue);
    struct Case
    {
        std::string text;
        std::vector<Rgb> slots; // black: an empty entry
    };
    const Case cases[] = {
        {a + "\r\n\r\n" + b + "\r\n", {kRed, kBlack, kGreen}},
        {a + "\r" + b + "\n" + c, {kRed, kGreen, kBlue}},
        {a + "\r\r\n" + b, {kRed, kBlack, kGreen}},
        {a + "\n\n", {kRed, kBlack}},
        {a + "\r\n" + std::string(1, '\0') + b + "\r\n", {kRed}},
        {a + std::string(1, '\0') + "\r\n" + b, {kRed}},
        {"\r\n", {kBlack}},
        {"", {}},
    };
    Canvas canvas(352, 240);
    for (const Case &k : cases) {
        SCOPED_TRACE(::testing::PrintToString(k.text));
        job.writeListText(k.text);
        brindle.init();
        for (std::size_t slot = 0; slot < k.slots.size(); ++slot) {
            canvas.fill(kMarker);
            ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
            EXPECT_TRUE(Near(canvas.at(176, 120), k.slots[slot])) << "slot " << slot;
            ASSERT_EQ(CountFrames(brindle, canvas.dc(), 29), 29);
        }
        EXPECT_EQ(brindle.getBitmap(canvas.dc()), 0);
    }
}

TEST_F(Brindle, WithoutAPhotoListTheShowIsEmpty)
{
    Canvas canvas(352, 240);
    canvas.fill(kMarker);
    brindle.init();
    EXPECT_EQ(brindle.getBitmap(canvas.dc()), 0);

    testsupport::MakeFolder(job.folder() + "pelloryfilelist.txt");
    brindle.init();
    EXPECT_EQ(brindle.getBitmap(canvas.dc()), 0);
    EXPECT_TRUE(AllOf(canvas, kMarker, 0));
}

TEST_F(Brindle, UninitialisedCallsReturn1AndDrawNothing)
{
    Canvas canvas(352, 240);
    canvas.fill(kMarker);
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(brindle.getBitmap(canvas.dc()), 1) << "before InitEffectManager";
    EXPECT_TRUE(AllOf(canvas, kMarker, 0));

    job.writeList({job.solidPhoto("a.jpg", 352, 240, kRed)});
    brindle.init();
    ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
    EXPECT_TRUE(AllOf(canvas, kRed, kTolerance));
    EXPECT_EQ(brindle.free(), -1);
    EXPECT_EQ(brindle.free(), -1) << "freeing twice is harmless";

    canvas.fill(kMarker);
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(brindle.getBitmap(canvas.dc()), 1) << "after FreeEffectManager";
    EXPECT_TRUE(AllOf(canvas, kMarker, 0));
}

TEST_F(Brindle, PhotosThatCannotBeShownGiveBlackFramesAndTheFullCount)
{
    job.writeParams(352, 240, 1);
    const std::string folder = job.folder();
    testsupport::WriteFile(folder + "text.jpg", "not a picture\n");
    testsupport::WriteBmp24(folder + "flower.bmp", 64, 48, testsupport::Solid(kGreen));
    const std::string whole
        = testsupport::ReadFile(job.photo("w.jpg", 352, 240, testsupport::Gradient(3)));
    testsupport::WriteFile(folder + "cut.jpg", whole.substr(0, whole.size() / 2));
    testsupport::MakeFolder(folder + "folder.jpg");
    ASSERT_EQ(::mkfifo((folder + "pipe.jpg").c_str(), 0600), 0); // opening it would block
    job.writeList({job.solidPhoto("a.jpg", 352, 240, kRed), folder + "missing.jpg",
                   folder + "text.jpg", folder + "flower.bmp", folder + "cut.jpg",
                   folder + "folder.jpg", folder + "pipe.jpg",
                   job.solidPhoto("b.jpg", 352, 240, kBlue)});
    Canvas canvas(352, 240);
    brindle.init();

    const Rgb first[8] = {kRed, kBlack, kBlack, kBlack, kBlack, kBlack, kBlack, kBlue};
    for (int slot = 0; slot < 8; ++slot) {
        canvas.fill(kMarker);
        ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
        EXPECT_TRUE(
            AllOf(canvas, first[slot], first[slot].r == 0 && first[slot].b == 0 ? 0 : kTolerance))
            << "slot " << slot;
        ASSERT_EQ(CountFrames(brindle, canvas.dc(), 29), 29);
    }
    EXPECT_EQ(brindle.getBitmap(canvas.dc()), 0);
}

TEST_F(Brindle, NullOrUnknownDeviceContextsAreRefusedButCounted)
{
    job.writeParams(352, 240, 1);
    job.writeList({job.solidPhoto("a.jpg", 352, 240, kRed)});
    Canvas canvas(352, 240);
    brindle.init();
    long long served = 0;
    for (int n = 0; n < 10; ++n) {
        served += brindle.getBitmap(nullptr);
        served += brindle.getBitmap(reinterpret_cast<HDC>(std::uintptr_t{0x1234}));
        served += brindle.getBitmap(canvas.dc());
    }
    EXPECT_EQ(served, 30);
    EXPECT_TRUE(AllOf(canvas, kRed, kTolerance));
    EXPECT_EQ(brindle.getBitmap(nullptr), 0);
}

TEST_F(Brindle, JobFilesAreReadOnlyByInitialisation)
{
    job.writeParams(352, 240, 1);
    job.writeList({job.solidPhoto("a.jpg", 352, 240, kRed)});
    Canvas canvas(352, 240);
    brindle.init();
    ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);

    job.writeParams(352, 240, 2);
    job.writeList(
        {job.solidPhoto("b.jpg", 352, 240, kBlue), job.solidPhoto("c.jpg", 352, 240, kGreen)});
    EXPECT_EQ(CountFrames(brindle, canvas.dc()), 29) << "the running show keeps its job";
    EXPECT_TRUE(AllOf(canvas, kRed, kTolerance));

    brindle.init();
    ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
    EXPECT_TRUE(AllOf(canvas, kBlue, kTolerance));
    EXPECT_EQ(1 + CountFrames(brindle, canvas.dc()), 120);
}

TEST_F(Brindle, AFrameSizeThatCannotBeMadeServesFramesWithoutDrawing)
{
    job.writeList({job.solidPhoto("a.jpg", 64, 48, kRed)});
    Canvas canvas(64, 48);
    for (auto [w, h] : {std::pair{0, 240}, std::pair{-352, 240}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        job.writeParams(w, h, 1);
        canvas.fill(kMarker);
        brindle.init();
        EXPECT_EQ(CountFrames(brindle, canvas.dc()), 30);
        EXPECT_TRUE(AllOf(canvas, kMarker, 0));
    }
}

namespace {

// Lets this process allocate `megabytes` more than it holds now, and no more.
bool LimitDataTo(long long megabytes)
{
    long long dataKb = -1;
    std::istringstream status(testsupport::ReadFile("/proc/self/status"));
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmData:"))
            dataKb = std::stoll(line.substr(7));
    const rlim_t limit = static_cast<rlim_t>(dataKb + megabytes * 1024) * 1024;
    const rlimit data{limit, limit};
    return dataKb >= 0 && ::setrlimit(RLIMIT_DATA, &data) == 0;
}

} // namespace

// The exports' results cannot say that memory ran out; the thread's last
// error does, and the show is empty.
TEST_F(Brindle, MemoryThatRunsOutIsTheLastErrorNotAnEmptyJob)
{
#ifdef QUILLON_TEST_SANITIZED
    GTEST_SKIP() << "the sanitizer's allocator ends the program where memory runs out";
#endif
    job.writeParams(8192, 8192, 1);
    job.writeList({job.solidPhoto("a.jpg", 64, 48, kRed)});
    Canvas canvas(64, 48);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Room for 100 MB more than the process holds: a frame of 8192 × 8192
        // needs 200.
        if (!LimitDataTo(100))
            ::_exit(2);
        win32::SetLastError(win32::ERROR_SUCCESS);
        brindle.init();
        const bool said = win32::GetLastError() == win32::ERROR_NOT_ENOUGH_MEMORY;
        const bool empty = brindle.getBitmap(canvas.dc()) == 0;
        ::_exit(said && empty ? 0 : 1);
    }
    int waitStatus = 0;
    ASSERT_EQ(::waitpid(child, &waitStatus, 0), child);
    EXPECT_EQ(testsupport::ExitStatus(waitStatus), 0);

    job.writeParams(64, 48, 1);
    brindle.init();
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_SUCCESS);
    EXPECT_EQ(brindle.getBitmap(canvas.dc()), 1);
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_SUCCESS);
}

// A photo the host's process could not read, for want of memory (a
// progressive JPEG is decoded whole) or of file descriptors, is said in the
// last error; only a missing or damaged photo is a black slot and no more.
TEST_F(Brindle, APhotoTheProcessCouldNotReadIsTheLastError)
{
#ifdef QUILLON_TEST_SANITIZED
    GTEST_SKIP() << "the sanitizer's allocator ends the program where memory runs out";
#endif
    job.writeParams(64, 48, 1);
    const std::string big = job.folder() + "big.jpg";
    testsupport::WriteJpeg(
        big, 4000, 3000,
        [](int x, int y) {
            return Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 90};
        },
        testsupport::JpegKind::Progressive);
    job.writeList({big});
    Canvas canvas(64, 48);
    const auto lastErrorOfAFrame = [&](int resource) {
        const pid_t child = ::fork();
        if (child == 0) {
            brindle.init();
            if (resource == RLIMIT_DATA) {
                // The photo's coefficients need 36 MB.
                if (!LimitDataTo(10))
                    ::_exit(100);
            }
            std::vector<int> taken;
            if (resource == RLIMIT_NOFILE) {
                const rlimit files{64, 64};
                if (::setrlimit(RLIMIT_NOFILE, &files) != 0)
                    ::_exit(100);
                for (int fd; (fd = ::dup(0)) >= 0;)
                    taken.push_back(fd);
            }
            win32::SetLastError(win32::ERROR_SUCCESS);
            const bool served = brindle.getBitmap(canvas.dc()) == 1;
            const DWORD error = win32::GetLastError();
            // With descriptors free again, the next frame shows the photo.
            for (const int fd : taken)
                ::close(fd);
            if (!taken.empty()
                && (brindle.getBitmap(canvas.dc()) != 1
                    || win32::GetLastError() != win32::ERROR_SUCCESS || canvas.at(32, 24).b == 0))
                ::_exit(102);
            ::_exit(served ? static_cast<int>(error) : 101);
        }
        int waitStatus = 0;
        ::waitpid(child, &waitStatus, 0);
        return testsupport::ExitStatus(waitStatus);
    };
    EXPECT_EQ(lastErrorOfAFrame(RLIMIT_DATA), static_cast<int>(win32::ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(lastErrorOfAFrame(RLIMIT_NOFILE), static_cast<int>(win32::ERROR_TOO_MANY_OPEN_FILES));

    brindle.init();
    EXPECT_EQ(brindle.getBitmap(canvas.dc()), 1);
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_SUCCESS);
    job.writeList({job.folder() + "gone.jpg"});
    brindle.init();
    EXPECT_EQ(brindle.getBitmap(canvas.dc()), 1);
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_SUCCESS);
}

TEST_F(Brindle, SizesNoPictureCouldHaveTakeTheDefaults)
{
    // Each side on its own: 8192 is the largest that is taken.
    job.writeList({job.solidPhoto("a.jpg", 64, 48, kRed)});
    for (auto [w, h, servedW, servedH] :
         {std::tuple{2000000000, 2000000000, 352, 240}, std::tuple{25000, 100, 352, 100},
          std::tuple{100, 8193, 100, 240}, std::tuple{8192, 8, 8192, 8}}) {
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
        job.writeParams(w, h, 1);
        Canvas canvas(servedW + 1, servedH + 1);
        canvas.fill(kMarker);
        brindle.init();
        ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
        // Black bands and the photo cover the frame exactly, and nothing beyond it.
        EXPECT_NE(Distance(canvas.at(servedW - 1, servedH - 1), kMarker), 0);
        EXPECT_EQ(Distance(canvas.at(servedW, servedH - 1), kMarker), 0);
        EXPECT_EQ(Distance(canvas.at(servedW - 1, servedH), kMarker), 0);
    }
}

TEST(BrindleLibraryFile, ExportsExactlyTheThreeFunctions)
{
    testsupport::TempDir scratch;
    const Outcome nm
        = RunProgram("/usr/bin/nm", {"-D", "--defined-only", BRINDLE_LIBRARY}, scratch.path());
    if (nm.status == 127)
        GTEST_SKIP() << "nm is not installed";
    ASSERT_EQ(nm.status, 0) << nm.err;
    std::vector<std::string> names;
    std::istringstream lines(nm.out);
    for (std::string line; std::getline(lines, line);)
        names.push_back(line.substr(line.rfind(' ') + 1));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"FreeEffectManager", "GetEffectBitmap",
                                               "InitEffectManager"}));
}

TEST(BrindleLibraryFile, APlainDlopenFindsItByName)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's dlopen wrapper searches its own RUNPATH, not this program's";
#endif
    void *handle = dlopen(brindle::kLibraryName, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    for (const char *name : {"InitEffectManager", "GetEffectBitmap", "FreeEffectManager"})
        EXPECT_NE(dlsym(handle, name), nullptr) << name;
    dlclose(handle);
}

TEST_F(Brindle, PhotosStandUprightInTheJobsSizeUnlessTheJobSaysOtherwise)
{
    // Eight photos of 96 × 72 upright, one for each EXIF orientation, in a
    // 1280 × 720 frame: never enlarged, so each stands centred at its own size.
    std::vector<std::string> photos;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        photos.push_back(job.folder() + "o" + std::to_string(orientation) + ".jpg");
        testsupport::WriteOrientedJpeg(photos.back(), 96, 72, testsupport::Quadrants(96, 72),
                                       orientation);
    }
    job.writeList(photos);
    Canvas canvas(1280, 720);
    for (const bool upright : {true, false}) {
        job.writeParams(1280, 720, 1);
        if (!upright)
            job.writeParam("AutoRotate", "0");
        brindle.init();
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(orientation);
            canvas.fill(kMarker);
            ASSERT_EQ(brindle.getBitmap(canvas.dc()), 1);
            const bool turned = !upright && orientation >= 5;
            const int w = turned ? 72 : 96, h = turned ? 96 : 72;
            const int x = (1280 - w) / 2, y = (720 - h) / 2;
            EXPECT_EQ(Distance(canvas.at(x - 1, y + h / 2), kBlack), 0);
            int inPlace = 0;
            for (int q = 0; q < 4; ++q)
                inPlace += Near(canvas.at(x + w / 4 + (q % 2) * w / 2, y + h / 4 + (q / 2) * h / 2),
                                testsupport::kQuadrantColours[q])
                               ? 1
                               : 0;
            EXPECT_EQ(inPlace == 4, upright || orientation == 1) << inPlace;
            for (int skip = 1; skip < 30; ++skip)
                brindle.getBitmap(canvas.dc());
        }
        brindle.free();
    }
}
