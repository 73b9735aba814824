#include "platform/jpeg/jpeg.h"

#include "pictures.h"
#include "testsupport.h"

#include <chrono>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace testsupport;

namespace {

// Largest difference of any channel between the decoded picture and `pixel`.
int maxError(const jpeg::Image &image, const PixelFn &pixel)
{
    int worst = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t *p = image.pixels.data() + y * image.stride + x * 3;
            Rgb c = pixel(x, y);
            worst = std::max(
                {worst, std::abs(p[0] - c.b), std::abs(p[1] - c.g), std::abs(p[2] - c.r)});
        }
    return worst;
}

} // namespace

class Jpeg : public ::testing::Test
{
protected:
    TempDir dir;
};

TEST_F(Jpeg, EveryColourSpaceComesOutAsBgr)
{
    const PixelFn colour = Solid({200, 120, 40});
    for (auto kind : {JpegKind::Baseline, JpegKind::Progressive, JpegKind::Cmyk}) {
        WriteJpeg(dir.file("p.jpg"), 33, 17, colour, kind);
        jpeg::Image image = jpeg::DecodeFile(dir.file("p.jpg"));
        EXPECT_EQ(image.width, 33);
        EXPECT_EQ(image.height, 17);
        EXPECT_EQ(image.stride, 100); // 99 bytes padded to 4
        EXPECT_LE(maxError(image, colour), 3) << static_cast<int>(kind);
    }
    // Rows that fill their stride exactly still leave room for a vector load
    // past the last pixel.
    WriteJpeg(dir.file("w.jpg"), 16, 5, colour);
    const jpeg::Image exact = jpeg::Decoder(dir.file("w.jpg")).decodeImage(16);
    EXPECT_EQ(exact.pixels.size(), 48u * 5);
    EXPECT_GE(exact.pixels.capacity() - exact.pixels.size(), jpeg::kImageTail);
    WriteJpeg(dir.file("g.jpg"), 8, 8, Solid({90, 90, 90}), JpegKind::Greyscale);
    jpeg::Decoder grey(dir.file("g.jpg"));
    EXPECT_EQ(grey.header().components, 1);
    EXPECT_LE(maxError(grey.decodeImage(), Solid({90, 90, 90})), 2);
}

TEST_F(Jpeg, ScalingPicksTheSmallestSizeThatCovers)
{
    WriteJpeg(dir.file("big.jpg"), 4000, 3000, Gradient());
    jpeg::Decoder decoder(dir.file("big.jpg"));
    EXPECT_EQ(decoder.header().width, 4000);
    decoder.setMinimumOutputSize(720, 480);
    EXPECT_EQ(decoder.outputWidth(), 1000); // 2/8: 1000 × 750 covers 720 × 480
    EXPECT_EQ(decoder.outputHeight(), 750);
    decoder.setMinimumOutputSize(3001, 1);
    EXPECT_EQ(decoder.outputWidth(), 3500);
    decoder.setMinimumOutputSize(0, 0);
    EXPECT_EQ(decoder.outputWidth(), 4000);
    decoder.setMinimumOutputSize(9000, 9000); // cannot be covered: full size
    EXPECT_EQ(decoder.outputWidth(), 4000);
    decoder.setMinimumOutputSize(720, 480);
    int rows = 0;
    decoder.decode([&](int y, const std::uint8_t *) { EXPECT_EQ(y, rows++); });
    EXPECT_EQ(rows, 750);
}

TEST_F(Jpeg, BrokenFilesRaiseClearErrors)
{
    auto expectError = [&](const std::string &path, const std::string &part) {
        try {
            jpeg::DecodeFile(path);
            ADD_FAILURE() << "decoded " << path;
        } catch (const jpeg::Error &e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    };
    expectError(dir.file("missing.jpg"), "No such file");
    WriteFile(dir.file("empty.jpg"), "");
    expectError(dir.file("empty.jpg"), "Cannot read the picture");
    WriteFile(dir.file("text.jpg"), "this is not a picture");
    expectError(dir.file("text.jpg"), "Not a JPEG file");

    WriteJpeg(dir.file("whole.jpg"), 300, 200, Gradient());
    const std::string whole = ReadFile(dir.file("whole.jpg"));
    WriteFile(dir.file("cut.jpg"), whole.substr(0, whole.size() / 2));
    expectError(dir.file("cut.jpg"), "Premature end");
    // Cut the same way, then closed with an end-of-image marker.
    WriteFile(dir.file("closed.jpg"), whole.substr(0, whole.size() / 2) + "\xFF\xD9");
    expectError(dir.file("closed.jpg"), "premature end of data segment");
}

TEST_F(Jpeg, HugeDeclaredSizeFailsWithoutAllocatingForIt)
{
    // A small real JPEG whose frame header claims 60000 × 60000.
    WriteJpeg(dir.file("small.jpg"), 16, 16, Gradient(), JpegKind::Progressive);
    std::string bytes = ReadFile(dir.file("small.jpg"));
    for (std::size_t i = 0; i + 8 < bytes.size(); ++i) {
        auto b = static_cast<unsigned char>(bytes[i + 1]);
        if (static_cast<unsigned char>(bytes[i]) == 0xFF && (b == 0xC0 || b == 0xC2)) {
            bytes[i + 5] = static_cast<char>(0xEA), bytes[i + 6] = static_cast<char>(0x60);
            bytes[i + 7] = static_cast<char>(0xEA), bytes[i + 8] = static_cast<char>(0x60);
            break;
        }
    }
    WriteFile(dir.file("huge.jpg"), bytes);
    jpeg::Decoder decoder(dir.file("huge.jpg"));
    EXPECT_EQ(decoder.header().width, 60000);
    EXPECT_THROW(decoder.decodeImage(), jpeg::Error);
}

TEST_F(Jpeg, UprightDecodingFollowsEveryOrientation)
{
    // 64 × 48 upright: the quadrants must land where they belong whichever way
    // the file stores them, at full size and DCT-scaled.
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        WriteOrientedJpeg(dir.file("o.jpg"), 64, 48, Quadrants(64, 48), orientation);
        jpeg::Decoder asStored(dir.file("o.jpg"));
        EXPECT_EQ(asStored.header().orientation, orientation);
        EXPECT_EQ(asStored.outputWidth(), orientation >= 5 ? 48 : 64);

        for (int minWidth : {0, 16}) {
            jpeg::Decoder decoder(dir.file("o.jpg"));
            decoder.setUpright(true);
            // The minimum is upright too: 16 × 12 is a quarter of 64 × 48.
            decoder.setMinimumOutputSize(minWidth, minWidth * 3 / 4);
            const int scale = minWidth ? 4 : 1;
            const jpeg::Image image = decoder.decodeImage();
            ASSERT_EQ(image.width, 64 / scale);
            ASSERT_EQ(image.height, 48 / scale);
            const PixelFn expected = Quadrants(image.width, image.height);
            for (int qy : {0, 1})
                for (int qx : {0, 1}) {
                    const int x = image.width / 4 + qx * image.width / 2;
                    const int y = image.height / 4 + qy * image.height / 2;
                    const std::uint8_t *p = image.pixels.data() + y * image.stride + x * 3;
                    const Rgb want = expected(x, y);
                    EXPECT_NEAR(p[2], want.r, 24) << x << "," << y;
                    EXPECT_NEAR(p[1], want.g, 24) << x << "," << y;
                    EXPECT_NEAR(p[0], want.b, 24) << x << "," << y;
                }
        }
    }
}

TEST_F(Jpeg, OrientationTagIsReadOnlyFromAWellFormedExifBlock)
{
    auto orientation = [](std::string bytes) {
        return jpeg::OrientationFromExif(reinterpret_cast<const std::uint8_t *>(bytes.data()),
                                         bytes.size());
    };
    using namespace std::string_literals;
    // Little-endian, the tag after another entry.
    const std::string little = "Exif\0\0II\x2A\0\x08\0\0\0\x02\0"
                               "\x0F\x01\x02\0\x04\0\0\0ABC\0"
                               "\x12\x01\x03\0\x01\0\0\0\x06\0\0\0"s;
    EXPECT_EQ(orientation(little), 6);
    EXPECT_EQ(orientation(little.substr(0, little.size() - 6)), 1); // cut inside the entry
    std::string wrongType = little;
    wrongType[30] = 4; // a LONG
    EXPECT_EQ(orientation(wrongType), 1);
    std::string outOfRange = little;
    outOfRange[36] = 9;
    EXPECT_EQ(orientation(outOfRange), 1);
    std::string farDirectory = little;
    farDirectory[10] = '\xF0'; // the directory offset points past the block
    EXPECT_EQ(orientation(farDirectory), 1);
    EXPECT_EQ(orientation("Exif\0\0XX\x2A\0\x08\0\0\0"s), 1);
    EXPECT_EQ(orientation("http://ns.adobe.com/xap/1.0/\0"s), 1); // XMP, also APP1
    EXPECT_EQ(orientation(""), 1);
}

// A photo with two EXIF blocks turns as the first says, as other viewers turn
// it; an XMP block before them is no EXIF block.
TEST_F(Jpeg, TheFirstExifBlockDecidesTheOrientation)
{
    using namespace std::string_literals;
    WriteOrientedJpeg(dir.file("six.jpg"), 64, 48, Quadrants(64, 48), 6);
    const std::string six = ReadFile(dir.file("six.jpg"));
    const auto app1 = [](const std::string &payload) {
        const std::size_t length = payload.size() + 2;
        return "\xFF\xE1"s + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF)
               + payload;
    };
    const std::string upright = app1("Exif\0\0II\x2A\0\x08\0\0\0\x01\0"
                                     "\x12\x01\x03\0\x01\0\0\0\x01\0\0\0"s);
    const std::string xmp = app1("http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>"s);
    const auto orientation = [&](const std::string &inserted) {
        WriteFile(dir.file("o.jpg"), six.substr(0, 2) + inserted + six.substr(2));
        return jpeg::Decoder(dir.file("o.jpg")).header().orientation;
    };
    EXPECT_EQ(orientation(upright), 1);
    EXPECT_EQ(orientation(xmp), 6);
    EXPECT_EQ(orientation(xmp + upright), 1);
}

TEST_F(Jpeg, ThePhotoIsReadInLargePieces)
{
    // Noise, so that the file is large; its read calls are counted by the
    // kernel for this process (the test runs on one thread).
    WriteJpeg(dir.file("noise.jpg"), 1200, 900, [](int x, int y) {
        const std::uint32_t h = (static_cast<std::uint32_t>(x) * 2654435761u) ^ (y * 40503u);
        return Rgb{std::uint8_t(h >> 3), std::uint8_t(h >> 11), std::uint8_t(h >> 19)};
    });
    const long long bytes = static_cast<long long>(ReadFile(dir.file("noise.jpg")).size());
    ASSERT_GT(bytes, 256 * 1024);
    const long long before = IoCount("syscr");
    if (before < 0)
        GTEST_SKIP() << "the kernel does not count read calls here";
    jpeg::Image image = jpeg::DecodeFile(dir.file("noise.jpg"));
    const long long calls = IoCount("syscr") - before;
    EXPECT_EQ(image.width, 1200);
    // 4 KB a call would be more than 60 calls for this file.
    EXPECT_LE(calls, bytes / (16 * 1024) + 4) << bytes << " bytes";
}

TEST_F(Jpeg, MarkersLongerThanTheReadBufferAreSkippedWhole)
{
    // Three APP2 segments of the largest size (as ICC profiles come) after the
    // start marker: libjpeg skips them, across two ends of the read buffer.
    WriteJpeg(dir.file("plain.jpg"), 64, 48, Gradient());
    const std::string plain = ReadFile(dir.file("plain.jpg"));
    std::string segments;
    for (int i = 0; i < 3; ++i)
        segments
            += std::string("\xFF\xE2\xFF\xFF") + std::string(65533, static_cast<char>('a' + i));
    ASSERT_GT(segments.size(), 2 * jpeg::Decoder::kReadBuffer);
    WriteFile(dir.file("marked.jpg"), plain.substr(0, 2) + segments + plain.substr(2));
    const jpeg::Image expected = jpeg::DecodeFile(dir.file("plain.jpg"));
    const jpeg::Image got = jpeg::DecodeFile(dir.file("marked.jpg"));
    EXPECT_EQ(got.width, 64);
    EXPECT_EQ(got.pixels, expected.pixels);
}

// Progressive pictures are held whole while they decode, whatever their output
// size: decodes in parallel must not add those buffers up past the budget. With
// a budget of one byte a progressive decode runs only alone; a baseline one
// needs none and never waits; a decode that ends early gives its share back.
TEST_F(Jpeg, ProgressiveDecodesShareOneMemoryBudget)
{
    WriteJpeg(dir.file("a.jpg"), 512, 384, Gradient(), JpegKind::Progressive);
    WriteJpeg(dir.file("b.jpg"), 512, 384, Gradient(), JpegKind::Progressive);
    WriteJpeg(dir.file("plain.jpg"), 512, 384, Gradient());
    struct Restore
    {
        ~Restore() { jpeg::SetWholePictureBudget(jpeg::Decoder::kMemoryLimit); }
    } restore;
    jpeg::SetWholePictureBudget(1);

    std::promise<std::size_t> aHolds;
    std::promise<void> aMayGoOn;
    std::thread a([&] {
        jpeg::Decoder decoder(dir.file("a.jpg"));
        bool first = true;
        decoder.decode([&](int, const std::uint8_t *) {
            if (!std::exchange(first, false)) {
                return;
            }
            aHolds.set_value(jpeg::WholePictureBytesInUse());
            aMayGoOn.get_future().wait();
        });
    });
    const std::size_t held = aHolds.get_future().get();
    EXPECT_GE(held, std::size_t{512 / 8 * 384 / 8 * 128}); // the luma's coefficients at least

    std::atomic<int> bRows{0};
    std::thread b([&] {
        jpeg::Decoder decoder(dir.file("b.jpg"));
        decoder.decode([&](int, const std::uint8_t *) { ++bRows; });
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (jpeg::WholePictureWaiters() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(jpeg::WholePictureWaiters(), 1);
    EXPECT_EQ(bRows.load(), 0);
    EXPECT_EQ(jpeg::DecodeFile(dir.file("plain.jpg")).height, 384);

    aMayGoOn.set_value();
    a.join();
    b.join();
    EXPECT_EQ(bRows.load(), 384);
    EXPECT_EQ(jpeg::WholePictureBytesInUse(), 0u);

    // A sink that gives up (as a stopped thumbnail does) releases the share.
    jpeg::Decoder stopped(dir.file("a.jpg"));
    EXPECT_THROW(
        stopped.decode([](int, const std::uint8_t *) { throw std::runtime_error("stop"); }),
        std::runtime_error);
    ASSERT_EQ(jpeg::WholePictureBytesInUse(), 0u);
    EXPECT_EQ(jpeg::DecodeFile(dir.file("b.jpg")).height, 384);
}

// A progressive file is read whole before its first row: the stop is looked at
// while it is read. Cut short, the file would fail at its end; stopped, it
// never gets there.
TEST_F(Jpeg, AStopEndsTheDecodeAlsoWhileAProgressiveFileIsRead)
{
    WriteJpeg(dir.file("p.jpg"), 512, 384, Gradient(), JpegKind::Progressive);
    const std::string whole = ReadFile(dir.file("p.jpg"));
    WriteFile(dir.file("cut.jpg"), whole.substr(0, whole.size() / 2));
    std::atomic<bool> stop{true};
    int rows = 0;
    jpeg::Decoder cut(dir.file("cut.jpg"));
    cut.setStop(&stop);
    EXPECT_THROW(cut.decode([&](int, const std::uint8_t *) { ++rows; }), jpeg::Stopped);
    EXPECT_EQ(rows, 0);
    EXPECT_EQ(jpeg::WholePictureBytesInUse(), 0u);

    // Set while its rows come, it ends it at the next.
    stop = false;
    jpeg::Decoder rowsAtATime(dir.file("p.jpg"));
    rowsAtATime.setStop(&stop);
    EXPECT_THROW(rowsAtATime.decode([&](int y, const std::uint8_t *) {
        rows = y + 1;
        stop = y == 9;
    }),
                 jpeg::Stopped);
    EXPECT_EQ(rows, 10);

    jpeg::Decoder unset(dir.file("p.jpg"));
    unset.setStop(&stop);
    stop = false;
    rows = 0;
    unset.decode([&](int, const std::uint8_t *) { ++rows; });
    EXPECT_EQ(rows, 384);
}
