#include "app/photos/Thumbnail.h"
#include "app/photos/photo_check.h"

#include "pictures.h"
#include "testsupport.h"

#include "platform/forms/errors.h"
#include "platform/jpeg/jpeg.h"

#include <QImage>
#include <QImageReader>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <thread>
#include <tuple>
#include <vector>

using namespace quillon;
using forms::TBitmap;
using testsupport::Rgb;

namespace {

// A 24-bit bitmap whose blue, green and red come from `pixel`.
TBitmap Make24(int w, int h, const std::function<Rgb(int x, int y)> &pixel)
{
    TBitmap bitmap(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint8_t *row = bitmap.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            const Rgb c = pixel(x, y);
            row[x * 3 + 0] = c.b;
            row[x * 3 + 1] = c.g;
            row[x * 3 + 2] = c.r;
        }
    }
    return bitmap;
}

int Blue(const TBitmap &b, int x, int y)
{
    return b.ScanLine(y)[x * 3 + 0];
}
int Green(const TBitmap &b, int x, int y)
{
    return b.ScanLine(y)[x * 3 + 1];
}
int Red(const TBitmap &b, int x, int y)
{
    return b.ScanLine(y)[x * 3 + 2];
}

TBitmap Shrink(const TBitmap &source)
{
    TBitmap thumb;
    MakeThumbnail(source, thumb, 100, 75);
    return thumb;
}

} // namespace

TEST(MakeThumbnail, PicturesThatFitTheBoxAreCopiedUnchanged)
{
    const TBitmap exact = Make24(100, 75, testsupport::Gradient(1));
    const TBitmap thumb = Shrink(exact);
    EXPECT_EQ(thumb.Width(), 100);
    EXPECT_EQ(thumb.Height(), 75);
    EXPECT_TRUE(thumb == exact); // neither averaged nor sharpened

    QImage indexed(30, 20, QImage::Format_Indexed8);
    indexed.setColorCount(2);
    indexed.setColor(0, qRgb(0, 0, 0));
    indexed.setColor(1, qRgb(255, 0, 0));
    indexed.fill(1);
    const TBitmap small(indexed);
    const TBitmap copy = Shrink(small);
    EXPECT_EQ(copy.PixelFormat(), forms::TPixelFormat::pf8bit); // the same layout
    EXPECT_TRUE(copy == small);

    EXPECT_TRUE(Shrink(TBitmap()).Empty());
}

TEST(MakeThumbnail, SixHundredFortyByFourEightyUsesBlocksOfSixOrSeven)
{
    // One bright blue column at the start of each expected span and one bright
    // red row at the start of each expected row span: a block that holds one of
    // them shows 255 / width (or height), so each span's width can be read off,
    // and a misplaced boundary would show 0 or a double value.
    const std::set<int> starts = {0, 6, 12, 19, 25, 32, 38, 44, 51, 57};
    const TBitmap source = Make24(640, 480, [&](int x, int y) {
        return Rgb{static_cast<std::uint8_t>(starts.count(y) ? 255 : 0), 100,
                   static_cast<std::uint8_t>(starts.count(x) ? 255 : 0)};
    });
    const TBitmap thumb = Shrink(source);
    ASSERT_EQ(thumb.Width(), 100);
    ASSERT_EQ(thumb.Height(), 75);
    ASSERT_EQ(thumb.PixelFormat(), forms::TPixelFormat::pf24bit);
    // Row 0 is 6 high: a 6-wide block gives (255*6 * (65535 div 36)) >> 16 = 42,
    // a 7-wide one (255*6 * (65535 div 42)) >> 16 = 36.
    const std::vector<int> expected = {42, 42, 36, 42, 36, 42, 42, 36, 42, 36};
    for (int c = 0; c < 10; ++c)
        EXPECT_EQ(Blue(thumb, c, 0), expected[static_cast<std::size_t>(c)]) << "column " << c;
    // Column 0 is 6 wide, so the rows read the same way.
    for (int r = 0; r < 10; ++r)
        EXPECT_EQ(Red(thumb, 0, r), expected[static_cast<std::size_t>(r)]) << "row " << r;
    // A uniform 100 comes out as 99 (slightly below the mean) and sharpening a
    // flat area keeps it.
    EXPECT_EQ(Green(thumb, 0, 0), 99);
    EXPECT_EQ(Green(thumb, 50, 40), 99);
    EXPECT_EQ(Green(thumb, 99, 74), 99);
}

TEST(MakeThumbnail, OneHundredOneByVentyFiveIsSharpenedInPlaceTopToBottom)
{
    // 101 columns into 100 gives spans of 1 (the last source column unused), so
    // the average of a pixel v is v - 1. A dark dot at (50, 40) in a field of
    // 200 then sharpens as worked out by hand; the dot itself reads its upper
    // neighbours already sharpened (212), which gives 47 rather than 50.
    const TBitmap source = Make24(101, 75, [](int x, int y) {
        const std::uint8_t v = (x == 50 && y == 40) ? 101 : 201;
        return Rgb{v, v, v};
    });
    const TBitmap thumb = Shrink(source);
    ASSERT_EQ(thumb.Width(), 100);
    ASSERT_EQ(thumb.Height(), 75);
    EXPECT_EQ(Blue(thumb, 0, 0), 200);
    EXPECT_EQ(Blue(thumb, 10, 10), 200);
    EXPECT_EQ(Blue(thumb, 49, 39), 212);
    EXPECT_EQ(Blue(thumb, 51, 39), 212);
    EXPECT_EQ(Blue(thumb, 50, 39), 200);
    EXPECT_EQ(Blue(thumb, 50, 40), 47);
    EXPECT_EQ(Blue(thumb, 48, 40), 198);
    EXPECT_EQ(Blue(thumb, 52, 40), 198);
    EXPECT_EQ(Blue(thumb, 49, 41), 219);
    EXPECT_EQ(Blue(thumb, 51, 41), 219);
    EXPECT_EQ(Blue(thumb, 50, 41), 200);
    EXPECT_EQ(Red(thumb, 50, 40), 47);
}

TEST(MakeThumbnail, SharpeningClampsAndKeepsTheBorder)
{
    // A bright dot on black: the dot overshoots to 255, its diagonal neighbours
    // would go negative and stay 0; a dot on the border is left alone.
    const TBitmap source = Make24(101, 75, [](int x, int y) {
        const std::uint8_t v = ((x == 20 && y == 20) || (x == 0 && y == 30)) ? 201 : 0;
        return Rgb{v, v, v};
    });
    const TBitmap thumb = Shrink(source);
    EXPECT_EQ(Green(thumb, 20, 20), 255);
    EXPECT_EQ(Green(thumb, 19, 19), 0);
    EXPECT_EQ(Green(thumb, 21, 21), 0);
    EXPECT_EQ(Green(thumb, 0, 30), 200);
}

TEST(MakeThumbnail, FourThousandByOneHundredHasRowSpansOneOneTwo)
{
    // Blocks are 40 columns wide. Bright red rows at 0, 1, 2, 4, 5, 6, ...: a
    // block one row high reads (255*40 * (65535 div 40)) >> 16 = 254, a block two
    // rows high with one bright row (255*40 * (65535 div 80)) >> 16 = 127.
    const TBitmap source = Make24(4000, 100, [](int, int y) {
        return Rgb{static_cast<std::uint8_t>(y % 4 == 3 ? 0 : 255), 0, 0};
    });
    const TBitmap thumb = Shrink(source);
    ASSERT_EQ(thumb.Width(), 100);
    ASSERT_EQ(thumb.Height(), 75);
    const std::vector<int> expected = {254, 254, 127, 254, 254, 127, 254, 254, 127};
    for (int r = 0; r < 9; ++r)
        EXPECT_EQ(Red(thumb, 0, r), expected[static_cast<std::size_t>(r)]) << "row " << r;
    EXPECT_EQ(Red(thumb, 0, 74), 127); // the last span ends at row 100
}

TEST(MakeThumbnail, LargePhotosAreNotDarkened)
{
    // Blocks of 40 x 40: 65535 div 1600 would read a uniform 200 as 195, and
    // a photo of 50 megapixels 8 % darker; the mean rounded down gives 199 as
    // for a small photo. A bright row in each block reads as its share.
    const TBitmap source = Make24(4000, 3000, [](int, int y) {
        const std::uint8_t v = y % 40 == 0 ? 255 : 200;
        return Rgb{0, 200, v};
    });
    const TBitmap thumb = Shrink(source);
    ASSERT_EQ(thumb.Width(), 100);
    ASSERT_EQ(thumb.Height(), 75);
    EXPECT_EQ(Green(thumb, 0, 0), 199);
    EXPECT_EQ(Green(thumb, 50, 40), 199);
    EXPECT_EQ(Blue(thumb, 0, 0), 201); // (255 + 39 * 200) / 40 = 201.375
    EXPECT_EQ(Red(thumb, 99, 74), 0);
}

TEST(MakeThumbnail, SpansOfZeroWidthTakeTheColumnAtTheirPosition)
{
    // 60 × 200: columns go 0.6 source columns per target column, so some spans
    // are 0 wide; each of those takes the one source column where it stands.
    // Each column holds 4x + 1, and a single column averaged over 2 or 3 rows is
    // v - 1.
    const TBitmap source = Make24(60, 200, [](int x, int) {
        return Rgb{0, 0, static_cast<std::uint8_t>(4 * x + 1)};
    });
    const TBitmap thumb = Shrink(source);
    ASSERT_EQ(thumb.Width(), 100);
    ASSERT_EQ(thumb.Height(), 75);
    const std::vector<int> expected = {0, 0, 4, 4, 8, 12, 12, 16, 16, 20};
    for (int c = 0; c < 10; ++c)
        EXPECT_EQ(Blue(thumb, c, 0), expected[static_cast<std::size_t>(c)]) << "column " << c;
    EXPECT_EQ(Blue(thumb, 99, 0), 4 * 59);

    // 400 × 50 has rows of height 0 instead.
    const TBitmap wide = Make24(400, 50, [](int, int y) {
        return Rgb{static_cast<std::uint8_t>(4 * y + 1), 0, 0};
    });
    const TBitmap flat = Shrink(wide);
    ASSERT_EQ(flat.Height(), 75);
    // Rows: 50/75 = 0.6667 per target row; row 0 takes source row 0, row 1 too.
    EXPECT_EQ(Red(flat, 0, 0), 0);
    EXPECT_EQ(Red(flat, 0, 1), 0);
    EXPECT_EQ(Red(flat, 0, 74), 4 * 49);
}

TEST(MakeThumbnail, ThirtyTwoBitSourcesGiveTheSameThumbnailAsTwentyFourBit)
{
    const TBitmap bgr = Make24(333, 211, testsupport::Gradient(3));
    TBitmap bgra = bgr;
    bgra.SetPixelFormat(forms::TPixelFormat::pf32bit);
    ASSERT_EQ(bgra.PixelFormat(), forms::TPixelFormat::pf32bit);
    EXPECT_TRUE(Shrink(bgra) == Shrink(bgr));

    QImage rgb = bgr.Image().convertToFormat(QImage::Format_RGB888);
    EXPECT_TRUE(Shrink(TBitmap(rgb)) == Shrink(bgr));
}

namespace {

class JpegThumbnails : public ::testing::Test
{
protected:
    testsupport::TempDir dir;
};

// What the strips must equal: the whole picture decoded (upright, or as
// stored), then shrunk.
TBitmap FullDecodeThenShrink(const std::string &path, bool upright = false)
{
    jpeg::Decoder decoder(path);
    decoder.setUpright(upright);
    const jpeg::Image image = decoder.decodeImage();
    TBitmap full(image.width, image.height);
    for (int y = 0; y < image.height; ++y)
        std::memcpy(full.ScanLine(y),
                    image.pixels.data() + static_cast<std::size_t>(y) * image.stride,
                    static_cast<std::size_t>(image.width) * 3);
    return Shrink(full);
}

} // namespace

namespace {

// A run-length coded 8-bit bitmap of `runs` with a palette of red and blue.
std::string Rle8Bitmap(int width, int height, const std::string &runs)
{
    auto le = [](std::uint32_t v, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>((v >> (8 * i)) & 0xff);
        return out;
    };
    const std::string palette = std::string("\x00\x00\xff\x00\xff\x00\x00\x00", 8);
    const std::uint32_t offset = 14 + 40 + static_cast<std::uint32_t>(palette.size());
    return "BM" + le(offset + static_cast<std::uint32_t>(runs.size()), 4) + le(0, 4) + le(offset, 4)
           + le(40, 4) + le(width, 4) + le(height, 4) + le(1, 2) + le(8, 2) + le(1, 4)
           + le(static_cast<std::uint32_t>(runs.size()), 4) + le(2835, 4) + le(2835, 4) + le(2, 4)
           + le(0, 4) + palette + runs;
}

} // namespace

// A run-length coded bitmap may skip pixels (a "delta") or end before its last
// row: those are colour 0, not whatever the memory the picture was read into
// held before; also in a picture of several megabytes, read into a block of
// its own.
TEST(BitmapFiles, PixelsThatARunLengthBitmapSkipsAreColourZero)
{
    testsupport::TempDir dir;
    // The bottom row: 2 pixels, 48 skipped, 14 pixels; then the end, the
    // other rows never written.
    const std::string rle("\x02\x01\x00\x02\x30\x00\x0e\x01\x00\x00\x00\x01", 12);
    for (const auto &[width, height, rounds] : {std::tuple{64, 8, 3}, std::tuple{4201, 2100, 1}})
        for (int round = 0; round < rounds; ++round) {
            SCOPED_TRACE(width);
            testsupport::WriteFile(dir.file("rle8.bmp"), Rle8Bitmap(width, height, rle));
            // Memory of the picture's size, just given back dirty.
            void *dirty = std::malloc(static_cast<std::size_t>(width) * height);
            std::memset(dirty, 0x5a, static_cast<std::size_t>(width) * height);
            std::free(dirty);
            TBitmap bitmap;
            bitmap.LoadFromFile(dir.file("rle8.bmp"));
            const QImage &image = bitmap.Image();
            ASSERT_EQ(image.size(), QSize(width, height));
            const int bottom = height - 1;
            for (const int x : {2, 30, 49})
                EXPECT_EQ(image.pixel(x, bottom), QColor(Qt::red).rgb()) << x;
            EXPECT_EQ(image.pixel(1, bottom), QColor(Qt::blue).rgb());
            EXPECT_EQ(image.pixel(50, bottom), QColor(Qt::blue).rgb());
            for (const int y : {0, 3, bottom - 1})
                EXPECT_EQ(image.pixel(7, y), QColor(Qt::red).rgb()) << y;
        }
}

// Some image editors save bitmaps with the 56-byte header (the 40 bytes, then
// red, green, blue and alpha masks), which the movie reads: the list reads
// them too, with masks, plain 24-bit, and 8-bit with the colour table after
// that header.
TEST(BitmapFiles, BitmapsWithThe56ByteHeaderAreRead)
{
    testsupport::TempDir dir;
    auto le = [](std::uint32_t v, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>((v >> (8 * i)) & 0xff);
        return out;
    };
    // 2 x 2 pixels, rows stored bottom-up: blue, white; then red, green.
    auto bitmap = [&](int bits, std::uint32_t compression, const std::string &table,
                      const std::string &rows) {
        const std::string masks = compression == 3
                                      ? le(0xff0000, 4) + le(0xff00, 4) + le(0xff, 4) + le(0, 4)
                                      : std::string(16, '\0');
        const auto offset = static_cast<std::uint32_t>(14 + 56 + table.size());
        return "BM" + le(offset + static_cast<std::uint32_t>(rows.size()), 4) + le(0, 4)
               + le(offset, 4) + le(56, 4) + le(2, 4) + le(2, 4) + le(1, 2) + le(bits, 2)
               + le(compression, 4) + le(static_cast<std::uint32_t>(rows.size()), 4) + le(2835, 4)
               + le(2835, 4) + le(static_cast<std::uint32_t>(table.size() / 4), 4) + le(0, 4)
               + masks + table + rows;
    };
    const std::string pad(2, '\0');
    testsupport::WriteFile(
        dir.file("masks.bmp"),
        bitmap(32, 3, "", le(0x0000ff, 4) + le(0xffffff, 4) + le(0xff0000, 4) + le(0x00ff00, 4)));
    testsupport::WriteFile(
        dir.file("plain.bmp"),
        bitmap(24, 0, "",
               le(0x0000ff, 3) + le(0xffffff, 3) + pad + le(0xff0000, 3) + le(0x00ff00, 3) + pad));
    testsupport::WriteFile(
        dir.file("table.bmp"),
        bitmap(8, 0, le(0xff0000, 4) + le(0x00ff00, 4) + le(0x0000ff, 4) + le(0xffffff, 4),
               std::string("\x02\x03\0\0\x00\x01\0\0", 8)));
    for (const char *name : {"masks.bmp", "plain.bmp", "table.bmp"}) {
        TBitmap bitmap;
        ASSERT_NO_THROW(bitmap.LoadFromFile(dir.file(name))) << name;
        const QImage &image = bitmap.Image();
        ASSERT_EQ(image.size(), QSize(2, 2)) << name;
        EXPECT_EQ(image.pixel(0, 0), QColor(Qt::red).rgb()) << name;
        EXPECT_EQ(image.pixel(1, 0), QColor(Qt::green).rgb()) << name;
        EXPECT_EQ(image.pixel(0, 1), QColor(Qt::blue).rgb()) << name;
        EXPECT_EQ(image.pixel(1, 1), QColor(Qt::white).rgb()) << name;
    }
}

// Qt's reader holds pictures to its own allocation limit (128 MB: a photo of
// 48 megapixels is over it) and calls those over it not valid. Bitmaps are read
// up to the movie's limits whatever Qt's; past those the reason is the size.
TEST(BitmapFiles, LargeBitmapsAreReadUpToTheMoviesLimits)
{
    testsupport::TempDir dir;
    testsupport::WriteBmp24(dir.file("photo.bmp"), 800, 600, testsupport::Solid({9, 99, 199}));
    const int limit = QImageReader::allocationLimit();
    struct Restore
    {
        int limit;
        ~Restore() { QImageReader::setAllocationLimit(limit); }
    } restore{limit};
    QImageReader::setAllocationLimit(1); // megabyte, as 128 is to the photo of 48 megapixels
    TBitmap bitmap;
    ASSERT_NO_THROW(bitmap.LoadFromFile(dir.file("photo.bmp")));
    EXPECT_EQ(bitmap.Width(), 800);
    EXPECT_EQ(bitmap.Image().pixel(5, 5), QColor(9, 99, 199).rgb());

    // A run-length bitmap of a few bytes that claims more than the limits.
    testsupport::WriteFile(dir.file("claim.bmp"),
                           Rle8Bitmap(20000, 20000, std::string("\x00\x01", 2)));
    try {
        bitmap.LoadFromFile(dir.file("claim.bmp"));
        ADD_FAILURE() << "read";
    } catch (const forms::EInvalidGraphic &e) {
        EXPECT_STREQ(e.what(), ("Cannot read the picture \"" + dir.file("claim.bmp")
                                + "\": it is too large (20000 x 20000 pixels)")
                                   .c_str());
    }
}

// The list stops (the window closes) without waiting for a large bitmap being
// read.
TEST(BitmapFiles, AStopGivesUpABitmapBeingRead)
{
    testsupport::TempDir dir;
    testsupport::WriteBmp24(dir.file("photo.bmp"), 1600, 1200, testsupport::Gradient());
    std::atomic<bool> stop{true};
    EXPECT_THROW(MakePhotoThumbnail(dir.file("photo.bmp"), true, &stop), ThumbnailStopped);
    stop = false;
    EXPECT_EQ(MakePhotoThumbnail(dir.file("photo.bmp"), true, &stop).PictureWidth, 1600);
}

// Bitmaps are read whole, so their thumbnails wait for a share of the budget
// that whole pictures share, as progressive JPEGs' do: a folder of tiny
// run-length bitmaps claiming 16384 x 16384 pixels each is read one at a time.
TEST(BitmapFiles, ThumbnailsWaitForTheirShareOfTheWholePictureBudget)
{
    testsupport::TempDir dir;
    testsupport::WriteBmp24(dir.file("photo.bmp"), 80, 60, testsupport::Solid({9, 99, 199}));
    struct Restore
    {
        ~Restore() { jpeg::SetWholePictureBudget(jpeg::Decoder::kMemoryLimit); }
    } restore;
    jpeg::SetWholePictureBudget(1);
    std::atomic<bool> made{false};
    std::thread reader;
    {
        jpeg::WholePictureShare another; // a picture being read elsewhere
        another.take(1);
        reader = std::thread([&] {
            MakePhotoThumbnail(dir.file("photo.bmp"), true);
            made = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (jpeg::WholePictureWaiters() == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_EQ(jpeg::WholePictureWaiters(), 1);
        EXPECT_FALSE(made);
    }
    reader.join();
    EXPECT_TRUE(made);
    EXPECT_EQ(jpeg::WholePictureBytesInUse(), 0u);
}

TEST_F(JpegThumbnails, StripsGiveExactlyTheThumbnailOfTheWholePicture)
{
    struct Case
    {
        int w, h;
        testsupport::JpegKind kind;
    };
    const std::vector<Case> cases = {
        {640, 480, testsupport::JpegKind::Baseline},    {101, 75, testsupport::JpegKind::Baseline},
        {333, 777, testsupport::JpegKind::Progressive}, {60, 200, testsupport::JpegKind::Greyscale},
        {4000, 100, testsupport::JpegKind::Baseline},   {250, 90, testsupport::JpegKind::Cmyk},
        {80, 60, testsupport::JpegKind::Baseline},
    };
    int n = 0;
    for (const Case &c : cases) {
        const std::string path = dir.file("p" + std::to_string(n++) + ".jpg");
        testsupport::WriteJpeg(path, c.w, c.h, testsupport::Gradient(n), c.kind);
        const TBitmap strips = MakeJpegThumbnail(path, 100, 75);
        const TBitmap expected = FullDecodeThenShrink(path);
        EXPECT_EQ(strips.Width(), std::min(c.w, 100) == c.w && c.h <= 75 ? c.w : 100);
        EXPECT_TRUE(strips == expected) << c.w << " x " << c.h;
        EXPECT_EQ(strips.PixelFormat(), forms::TPixelFormat::pf24bit);
    }
}

TEST_F(JpegThumbnails, DamagedAndMissingFilesRaiseClearErrors)
{
    const std::string good = dir.file("good.jpg");
    testsupport::WriteJpeg(good, 300, 200, testsupport::Gradient());
    const std::string bytes = testsupport::ReadFile(good);

    const std::string cut = dir.file("cut.jpg");
    testsupport::WriteFile(cut, bytes.substr(0, bytes.size() / 2));
    const std::string text = dir.file("text.jpg");
    testsupport::WriteFile(text, "not a picture at all");

    for (const std::string &path : {cut, text, dir.file("missing.jpg")}) {
        try {
            MakeJpegThumbnail(path, 100, 75);
            ADD_FAILURE() << path << " was accepted";
        } catch (const forms::EInvalidGraphic &e) {
            EXPECT_NE(std::string(e.what()).find("\"" + path + "\""), std::string::npos)
                << e.what();
        }
    }
    try {
        MakeJpegThumbnail(dir.file("missing.jpg"), 100, 75);
    } catch (const forms::EInvalidGraphic &e) {
        EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos);
    }

    // A list that is stopped (the window closing) does not wait for a large
    // progressive photo to be read to its end, damaged or not.
    testsupport::WriteJpeg(dir.file("p.jpg"), 400, 300, testsupport::Gradient(),
                           testsupport::JpegKind::Progressive);
    const std::string progressive = testsupport::ReadFile(dir.file("p.jpg"));
    testsupport::WriteFile(cut, progressive.substr(0, progressive.size() / 2));
    const std::atomic<bool> stop{true};
    EXPECT_THROW(MakeJpegThumbnail(cut, 100, 75, true, nullptr, nullptr, &stop), ThumbnailStopped);
}

// The headless tool leaves out of a show the photos that the list leaves out,
// without making thumbnails: the same verdict for damage anywhere in a file
// (the data decoded to its smallest scale reads as much of it), and for a
// JPEG the same words.
TEST_F(JpegThumbnails, TheCheckWithoutThumbnailsRefusesWhatTheListRefuses)
{
    const std::string good = dir.file("good.JPG");
    testsupport::WriteJpeg(good, 300, 200, testsupport::Gradient());
    const std::string bytes = testsupport::ReadFile(good);
    testsupport::WriteJpeg(dir.file("progressive.jpg"), 333, 777, testsupport::Gradient(1),
                           testsupport::JpegKind::Progressive);
    const std::string progressive = testsupport::ReadFile(dir.file("progressive.jpg"));
    testsupport::WriteFile(dir.file("cut.jpg"), bytes.substr(0, bytes.size() * 3 / 4));
    testsupport::WriteFile(dir.file("cut progressive.jpg"),
                           progressive.substr(0, progressive.size() - 40));
    std::string marked = bytes;
    marked.replace(marked.size() - 300, 2, "\xFF\xD3"); // a restart marker inside the data
    testsupport::WriteFile(dir.file("marked.jpg"), marked);
    testsupport::WriteFile(dir.file("text.jpg"), "not a picture at all");
    testsupport::WriteBmp24(dir.file("good.bmp"), 40, 30, testsupport::Gradient(2));
    const std::string bitmap = testsupport::ReadFile(dir.file("good.bmp"));
    testsupport::WriteFile(dir.file("cut.bmp"), bitmap.substr(0, bitmap.size() - 100));
    testsupport::WriteFile(dir.file("png.jpg"), "\x89PNG\r\n\x1A\n" + bitmap);
    testsupport::WriteFile(dir.file("jpeg.bmp"), bytes);
    testsupport::WriteFile(dir.file("text.png"), "read by the movie, not the list");

    const std::vector<std::string> photos = {good,
                                             dir.file("progressive.jpg"),
                                             dir.file("cut.jpg"),
                                             dir.file("cut progressive.jpg"),
                                             dir.file("marked.jpg"),
                                             dir.file("text.jpg"),
                                             dir.file("good.bmp"),
                                             dir.file("cut.bmp"),
                                             dir.file("png.jpg"),
                                             dir.file("jpeg.bmp"),
                                             dir.file("text.png")};
    const std::vector<std::string> refusals = PhotoListRefusals(photos, true, 3);
    ASSERT_EQ(refusals.size(), photos.size());
    int refused = 0;
    for (std::size_t i = 0; i < photos.size(); ++i) {
        std::string listed;
        try {
            MakePhotoThumbnail(photos[i]);
        } catch (const forms::EInvalidGraphic &e) {
            listed = e.what();
        }
        EXPECT_EQ(refusals[i], PhotoListRefusal(photos[i])) << photos[i];
        if (PhotoKindOf(photos[i]) == TPhotoKind::Jpeg)
            EXPECT_EQ(refusals[i], listed) << photos[i];
        else
            EXPECT_EQ(refusals[i].empty(), listed.empty()) << photos[i] << ": " << listed;
        refused += !listed.empty();
    }
    EXPECT_EQ(refused, 7);
}

TEST_F(JpegThumbnails, TurnedPhotosGiveTheThumbnailOfTheirUprightPicture)
{
    // Sizes with blocks of every kind: 6 or 7 wide, spans of width 0 (60
    // across 100), a picture that fits the box as it is.
    const std::pair<int, int> sizes[] = {{640, 480}, {333, 777}, {60, 200}, {80, 60}};
    for (int orientation = 1; orientation <= 8; ++orientation)
        for (const auto &[w, h] : sizes) {
            SCOPED_TRACE(std::to_string(orientation) + ": " + std::to_string(w) + " x "
                         + std::to_string(h));
            const std::string path = dir.file("turned.jpg");
            testsupport::WriteOrientedJpeg(path, w, h, testsupport::Gradient(orientation),
                                           orientation);
            const TBitmap upright = MakeJpegThumbnail(path, 100, 75);
            EXPECT_TRUE(upright == FullDecodeThenShrink(path, true));
            EXPECT_EQ(upright.Width(), w <= 100 && h <= 75 ? w : 100);
            EXPECT_TRUE(MakeJpegThumbnail(path, 100, 75, false) == FullDecodeThenShrink(path));
        }
}

TEST_F(JpegThumbnails, UprightPicturesAgreeWithQtsOwnReadingOfTheTag)
{
    // Qt's image reader turns photos by the tag on its own: an independent
    // witness of which way each orientation turns and mirrors.
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const std::string path = dir.file("o" + std::to_string(orientation) + ".jpg");
        testsupport::WriteOrientedJpeg(path, 90, 60, testsupport::Gradient(3), orientation);
        QImageReader reader(QString::fromStdString(path));
        reader.setAutoTransform(true);
        const QImage qt = reader.read().convertToFormat(QImage::Format_RGB888);
        jpeg::Decoder decoder(path);
        decoder.setUpright(true);
        const jpeg::Image ours = decoder.decodeImage();
        ASSERT_EQ(qt.width(), ours.width) << orientation;
        ASSERT_EQ(qt.height(), ours.height) << orientation;
        int worst = 0;
        for (int y = 0; y < ours.height; ++y)
            for (int x = 0; x < ours.width; ++x) {
                const std::uint8_t *p = ours.pixels.data() + y * ours.stride + x * 3;
                const std::uint8_t *q = qt.constScanLine(y) + x * 3;
                worst = std::max(
                    {worst, std::abs(p[2] - q[0]), std::abs(p[1] - q[1]), std::abs(p[0] - q[2])});
            }
        EXPECT_LE(worst, 6) << orientation;
    }
}

TEST_F(JpegThumbnails, AVeryLargePhotoIsShrunkWithoutHoldingItWhole)
{
    // 48 megapixels: 144 MB as a 24-bit bitmap, a few rows in strips, also
    // when it is stored on its side.
    for (int orientation : {1, 6}) {
        const std::string path = dir.file("large.jpg");
        testsupport::WriteOrientedJpeg(path, 8000, 6000, testsupport::Solid({10, 120, 230}),
                                       orientation);
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        const TBitmap thumb = MakeJpegThumbnail(path, 100, 75);
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        ASSERT_EQ(thumb.Width(), 100);
        EXPECT_NEAR(Red(thumb, 50, 40), 10, 8); // JPEG colour error
        EXPECT_NEAR(Blue(thumb, 50, 40), 230, 8);
        const long grownKb = after.ru_maxrss - before.ru_maxrss;
        EXPECT_LT(grownKb, 48 * 1024) << "peak memory grew by " << grownKb << " kB";
    }
}
