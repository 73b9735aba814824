// Pictures as ImageSource reads them: every JPEG kind, the BMP variants, other
// FFmpeg types, broken and missing files, and when the file is read.
#include "platform/avs/avs.h"
#include "platform/avs/filters.h"
#include "platform/avs/picture.h"
#include "platform/jpeg/jpeg.h"

#include "avs_helpers.h"
#include "pictures.h"
#include "testsupport.h"

#include "platform/win32/bitmap_masks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <limits>
#include <thread>

#include <malloc.h>

using namespace testsupport;
using avstest::Bgr;
using avstest::PixelAt;

namespace {

// Four blocks of colours that every palette and bit depth holds exactly.
Rgb blocks(int x, int y)
{
    if (y < 4)
        return x < 6 ? Rgb{0, 0, 255} : Rgb{255, 0, 0};
    return x < 6 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
}

class Pictures : public ::testing::Test
{
protected:
    avs::PClip source(const std::string &file)
    {
        return avs::MakeImageSource(env, dir.file(file), 0, 0, {25, 1});
    }

    // Runs a command line tool of the test set-up.
    void run(const std::string &command)
    {
        ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
    }

    std::string errorOfFrame(const avs::PClip &clip)
    {
        try {
            clip->GetFrame(0);
        } catch (const avs::Error &e) {
            return e.what();
        }
        ADD_FAILURE() << "no error";
        return {};
    }

    std::string errorOfOpen(const std::string &file)
    {
        try {
            source(file);
        } catch (const avs::Error &e) {
            return e.what();
        }
        ADD_FAILURE() << "no error for " << file;
        return {};
    }

    void expectBlocks(const std::string &file, bool twoColours = false)
    {
        SCOPED_TRACE(file);
        const avs::PClip clip = source(file);
        ASSERT_EQ(clip->GetVideoInfo().width, 13);
        ASSERT_EQ(clip->GetVideoInfo().height, 7);
        const avs::PFrame f = clip->GetFrame(0);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 13; ++x) {
                Rgb want = blocks(x, y);
                if (twoColours) // only white stays white
                    want = want.g == 255 ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
                const Bgr got = PixelAt(*f, x, y);
                ASSERT_EQ(got.r, want.r) << x << "," << y;
                ASSERT_EQ(got.g, want.g) << x << "," << y;
                ASSERT_EQ(got.b, want.b) << x << "," << y;
            }
    }

    TempDir dir;
    avs::PEnvironment env = std::make_shared<avs::Environment>();
};

const Rgb kPalette[4] = {{0, 0, 255}, {255, 0, 0}, {255, 255, 255}, {0, 0, 0}};

int paletteIndex(int x, int y)
{
    const Rgb c = blocks(x, y);
    for (int i = 0; i < 4; ++i)
        if (c.r == kPalette[i].r && c.g == kPalette[i].g && c.b == kPalette[i].b)
            return i;
    return 0;
}

// A 13 × 7 BMP written by hand: the header, `extra` (palette or bit masks),
// then the pixel data.
void WriteBmp(const std::string &path, int bits, int compression,
              const std::vector<std::uint8_t> &extra, int colours,
              const std::vector<std::uint8_t> &data)
{
    const std::uint32_t offset = 14 + 40 + static_cast<std::uint32_t>(extra.size());
    std::vector<std::uint8_t> out(offset, 0);
    auto put = [&](std::size_t at, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put(2, offset + static_cast<std::uint32_t>(data.size()), 4);
    put(10, offset, 4);
    put(14, 40, 4);
    put(18, 13, 4);
    put(22, 7, 4);
    put(26, 1, 2);
    put(28, static_cast<std::uint32_t>(bits), 2);
    put(30, static_cast<std::uint32_t>(compression), 4);
    put(34, static_cast<std::uint32_t>(data.size()), 4);
    put(46, static_cast<std::uint32_t>(colours), 4);
    std::copy(extra.begin(), extra.end(), out.begin() + 54);
    out.insert(out.end(), data.begin(), data.end());
    WriteFile(path, std::string(out.begin(), out.end()));
}

std::vector<std::uint8_t> palette(int entries)
{
    std::vector<std::uint8_t> p;
    for (int i = 0; i < entries; ++i) {
        const Rgb c = i < 4 ? kPalette[i] : Rgb{0, 0, 0};
        p.insert(p.end(), {c.b, c.g, c.r, 0});
    }
    return p;
}

// 1, 4 or 8 bits an index, rows bottom-up and padded to 4 bytes. With one bit
// only the first two colours of the palette exist, so the blocks are made of
// those (`twoColours` in expectBlocks maps them the same way).
void WritePalettedBmp(const std::string &path, int bits)
{
    const int stride = ((13 * bits + 31) / 32) * 4;
    std::vector<std::uint8_t> data(static_cast<std::size_t>(stride) * 7, 0);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) {
            int index = paletteIndex(x, y);
            if (bits == 1)
                index = (index == 2) ? 1 : 0; // white, else black
            const std::size_t bit = static_cast<std::size_t>(x) * bits;
            std::uint8_t &byte = data[static_cast<std::size_t>(6 - y) * stride + bit / 8];
            byte |= static_cast<std::uint8_t>(index << (8 - bits - bit % 8));
        }
    std::vector<std::uint8_t> pal;
    if (bits == 1)
        pal = {0, 0, 0, 0, 255, 255, 255, 0};
    else
        pal = palette(1 << bits);
    WriteBmp(path, bits, 0, pal, 1 << bits, data);
}

// 16 bits a pixel: 5-5-5 plain, or 5-6-5 with bit masks.
void Write16BitBmp(const std::string &path, bool rgb565)
{
    const int stride = (13 * 2 + 3) & ~3;
    std::vector<std::uint8_t> data(static_cast<std::size_t>(stride) * 7, 0);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) {
            const Rgb c = blocks(x, y);
            const std::uint16_t v
                = rgb565
                      ? static_cast<std::uint16_t>((c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3)
                      : static_cast<std::uint16_t>((c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3);
            std::uint8_t *p = &data[static_cast<std::size_t>(6 - y) * stride + x * 2];
            p[0] = static_cast<std::uint8_t>(v);
            p[1] = static_cast<std::uint8_t>(v >> 8);
        }
    std::vector<std::uint8_t> masks;
    if (rgb565)
        masks = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
    WriteBmp(path, 16, rgb565 ? 3 : 0, masks, 0, data);
}

// Palette of the four colours, RLE4 runs of two pixels.
void WriteBmpRle4(const std::string &path)
{
    std::vector<std::uint8_t> data;
    for (int y = 6; y >= 0; --y) { // bottom-up
        for (int x = 0; x < 13; x += 2) {
            const int count = std::min(2, 13 - x);
            const int hi = paletteIndex(x, y), lo = count == 2 ? paletteIndex(x + 1, y) : 0;
            data.push_back(static_cast<std::uint8_t>(count));
            data.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
        }
        data.push_back(0);
        data.push_back(y > 0 ? 0 : 1); // end of line, or of the bitmap after the last
    }
    WriteBmp(path, 4, 2, palette(16), 16, data);
}

// The 24-bit BMP turned top-down: rows in reading order and a negative height.
void MakeTopDown(const std::string &from, const std::string &to)
{
    std::string bmp = ReadFile(from);
    const int stride = (13 * 3 + 3) & ~3;
    std::string flipped = bmp.substr(0, 54);
    for (int y = 6; y >= 0; --y)
        flipped += bmp.substr(54 + static_cast<std::size_t>(y) * stride, stride);
    const std::int32_t negative = -7;
    std::memcpy(&flipped[22], &negative, 4);
    WriteFile(to, flipped);
}

} // namespace

TEST_F(Pictures, EveryJpegKindComesOutInColour)
{
    const Rgb colour{200, 120, 40};
    for (auto kind : {JpegKind::Baseline, JpegKind::Progressive, JpegKind::Cmyk, JpegKind::Ycck}) {
        WriteJpeg(dir.file("p.jpg"), 48, 32, Solid(colour), kind);
        const avs::PFrame f = source("p.jpg")->GetFrame(0);
        const Bgr c = PixelAt(*f, 20, 20);
        EXPECT_NEAR(c.r, colour.r, 3) << static_cast<int>(kind);
        EXPECT_NEAR(c.g, colour.g, 3) << static_cast<int>(kind);
        EXPECT_NEAR(c.b, colour.b, 3) << static_cast<int>(kind);
    }
    WriteJpeg(dir.file("g.jpg"), 48, 32, Solid({90, 90, 90}), JpegKind::Greyscale);
    const Bgr g = PixelAt(*source("g.jpg")->GetFrame(0), 5, 5);
    EXPECT_NEAR(g.r, 90, 2);
    EXPECT_EQ(g.r, g.g);
    EXPECT_EQ(g.g, g.b);
}

TEST_F(Pictures, BmpOfEveryBitDepthAndLayout)
{
    WriteBmp24(dir.file("24.bmp"), 13, 7, blocks);
    expectBlocks("24.bmp");
    MakeTopDown(dir.file("24.bmp"), dir.file("topdown.bmp"));
    expectBlocks("topdown.bmp");
    WritePalettedBmp(dir.file("1.bmp"), 1);
    expectBlocks("1.bmp", true);
    WritePalettedBmp(dir.file("4.bmp"), 4);
    expectBlocks("4.bmp");
    WritePalettedBmp(dir.file("8.bmp"), 8);
    expectBlocks("8.bmp");
    Write16BitBmp(dir.file("555.bmp"), false);
    expectBlocks("555.bmp");
    Write16BitBmp(dir.file("565.bmp"), true);
    expectBlocks("565.bmp");
    WriteBmpRle4(dir.file("rle4.bmp"));
    expectBlocks("rle4.bmp");

    // What other programs write: RLE8, 32 bits with alpha in a version 5
    // header, 32 bits plain.
    const std::string in = dir.file("24.bmp");
    run("convert " + in + " -type palette -compress RLE BMP3:" + dir.file("rle8.bmp"));
    expectBlocks("rle8.bmp");
    run("convert " + in + " -type TrueColorAlpha BMP:" + dir.file("32v5.bmp"));
    expectBlocks("32v5.bmp");
    run("ffmpeg -v error -y -i " + in + " -pix_fmt bgra " + dir.file("32.bmp"));
    expectBlocks("32.bmp");
    // The declared file size is not the file's: other readers, the photo list's
    // among them, pay it no heed.
    for (const std::uint32_t declared : {0u, 100u, 1u << 30}) {
        std::string bmp = ReadFile(in);
        std::memcpy(&bmp[2], &declared, 4);
        WriteFile(dir.file("size.bmp"), bmp);
        expectBlocks("size.bmp");
    }
}

// A bitmap of tens of megabytes is read into blocks of its own, in pieces that
// a stop comes between.
TEST_F(Pictures, ALargeBitmapIsReadWholeAndAStopGivesItUp)
{
    constexpr int kWidth = 3000, kHeight = 3000;
    WriteBmp24(dir.file("24.bmp"), kWidth, kHeight, Quadrants(kWidth, kHeight));
    run("convert " + dir.file("24.bmp") + " -type palette BMP3:" + dir.file("8.bmp"));
    for (const char *name : {"24.bmp", "8.bmp"}) {
        SCOPED_TRACE(name);
        const avs::PFrame f = source(name)->GetFrame(0);
        const int at[4][2] = {{0, 0}, {kWidth - 1, 0}, {0, kHeight - 1}, {kWidth - 1, kHeight - 1}};
        for (int q = 0; q < 4; ++q) {
            const Bgr got = PixelAt(*f, at[q][0], at[q][1]);
            const Rgb want = kQuadrantColours[q];
            EXPECT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b) << q;
        }
    }
    std::atomic<bool> stop{true};
    const avs::StopOn stopOn(&stop);
    EXPECT_THROW(source("24.bmp")->GetFrame(0), avs::Stopped);
}

// 16 bits with masks in blue-green-red order, and 10 bits a channel at 32:
// valid bitmaps that the decoder does not read, refused as the script opens
// with what is wrong (the photo list says the same).
TEST_F(Pictures, BitmapMasksThatCannotBeReadAreNamedAsTheReason)
{
    WriteBmp(dir.file("bgr565.bmp"), 16, 3, {0x1F, 0, 0, 0, 0xE0, 0x07, 0, 0, 0x00, 0xF8, 0, 0}, 0,
             std::vector<std::uint8_t>(28 * 7));
    WriteBmp(dir.file("ten.bmp"), 32, 3, {0, 0, 0xF0, 0x3F, 0, 0xFC, 0x0F, 0, 0xFF, 0x03, 0, 0}, 0,
             std::vector<std::uint8_t>(52 * 7));
    for (const char *name : {"bgr565.bmp", "ten.bmp"})
        EXPECT_EQ(errorOfOpen(name), "ImageSource: Cannot read the picture \"" + dir.file(name)
                                         + "\": " + win32::kBitmapMasksUnreadable);
}

TEST_F(Pictures, OtherTypesThroughFfmpegWhateverTheName)
{
    WriteBmp24(dir.file("24.bmp"), 13, 7, blocks);
    run("ffmpeg -v error -y -i " + dir.file("24.bmp") + " " + dir.file("blocks.png"));
    // The type is read from the content; '%' and blanks are only characters.
    std::filesystem::rename(dir.file("blocks.png"), dir.file("100% sure ünïcode.jpg"));
    expectBlocks("100% sure ünïcode.jpg");
    run("convert " + dir.file("24.bmp") + " -compress none " + dir.file("blocks.tif"));
    expectBlocks("blocks.tif");

    // A "picture" that is a list naming another file (relative names are
    // taken from the current folder) is refused, not shown as that file.
    const std::string here = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    WriteFile(dir.file("list.bmp"), "ffconcat version 1.0\nfile blocks.tif\n");
    const std::string error = errorOfOpen("list.bmp");
    std::filesystem::current_path(here);
    EXPECT_EQ(error, "ImageSource: Cannot read the picture \"" + dir.file("list.bmp")
                         + "\": Invalid argument");
}

// A run-length BMP of a few bytes may claim a picture of many megapixels. Its
// rows reach the receiver a strip at a time: no second whole picture is made
// in BGR on the way.
TEST_F(Pictures, OtherTypesReachTheReceiverWithoutAWholeCopy)
{
    WriteBmp(dir.file("rle8.bmp"), 8, 1, palette(256), 256, {0, 1}); // the bitmap ends at once
    std::string bmp = ReadFile(dir.file("rle8.bmp"));
    const std::int32_t width = 3000, height = 2000;
    std::memcpy(&bmp[18], &width, 4);
    std::memcpy(&bmp[22], &height, 4);
    WriteFile(dir.file("rle8.bmp"), bmp);

    class Measuring : public avs::picture::Sink
    {
    public:
        void begin(int, int) override { atBegin = heapInUse(); }
        void row(int y, const std::uint8_t *) override
        {
            if (y == 0)
                growth = heapInUse() - atBegin;
            ++rows;
        }
        static long long heapInUse()
        {
            const struct mallinfo2 m = mallinfo2();
            return static_cast<long long>(m.uordblks + m.hblkhd);
        }
        long long atBegin = 0;
        long long growth = 0;
        int rows = 0;
    } sink;
    const std::string path = dir.file("rle8.bmp");
    avs::picture::Decode(path, avs::picture::ReadInfo(path, true), 0, 0, sink);
    EXPECT_EQ(sink.rows, height);
    EXPECT_LT(sink.growth, width * height); // the whole picture in BGR is three times that
}

// FFmpeg holds such a picture whole, and its receiver does too: these decodes
// draw on the budget that progressive JPEGs share. With a budget of one byte
// a second one waits until the first has finished.
TEST_F(Pictures, OtherTypesShareTheWholePictureBudget)
{
    WritePalettedBmp(dir.file("a.bmp"), 8);
    WritePalettedBmp(dir.file("b.bmp"), 8);
    struct Restore
    {
        ~Restore() { jpeg::SetWholePictureBudget(jpeg::Decoder::kMemoryLimit); }
    } restore;
    jpeg::SetWholePictureBudget(1);
    class Rows : public avs::picture::Sink
    {
    public:
        explicit Rows(std::function<void(int)> onRow)
            : onRow_(std::move(onRow))
        {}
        void begin(int, int) override {}
        void row(int y, const std::uint8_t *) override { onRow_(y); }

    private:
        std::function<void(int)> onRow_;
    };
    const auto decode = [&](const std::string &file, Rows &sink) {
        const std::string path = dir.file(file);
        avs::picture::Decode(path, avs::picture::ReadInfo(path, true), 0, 0, sink);
    };

    std::promise<std::size_t> aHolds;
    std::promise<void> aMayGoOn;
    std::thread a([&] {
        Rows sink([&](int y) {
            if (y == 0) {
                aHolds.set_value(jpeg::WholePictureBytesInUse());
                aMayGoOn.get_future().wait();
            }
        });
        decode("a.bmp", sink);
    });
    // The 8-bit picture and its rows in BGR.
    EXPECT_GE(aHolds.get_future().get(), std::size_t{13 * 7 * (1 + 3)});

    std::atomic<int> bRows{0};
    std::thread b([&] {
        Rows sink([&](int) { ++bRows; });
        decode("b.bmp", sink);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (jpeg::WholePictureWaiters() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(jpeg::WholePictureWaiters(), 1);
    EXPECT_EQ(bRows.load(), 0);

    aMayGoOn.set_value();
    a.join();
    b.join();
    EXPECT_EQ(bRows.load(), 7);
    EXPECT_EQ(jpeg::WholePictureBytesInUse(), 0u);
}

TEST_F(Pictures, ThePictureIsReadWhenItsFirstFrameIsAskedFor)
{
    WriteBmp24(dir.file("p.bmp"), 20, 10, Solid({10, 10, 10}));
    const avs::PClip clip = source("p.bmp");
    // Changed after the script was opened but before the first frame: the
    // frame shows the new picture.
    WriteBmp24(dir.file("p.bmp"), 20, 10, Solid({250, 250, 250}));
    EXPECT_EQ(PixelAt(*clip->GetFrame(0), 3, 3).r, 250);

    // A picture that cannot be read any more fails the frame request that needs
    // it, naming the file.
    WriteJpeg(dir.file("q.jpg"), 20, 10, Solid({1, 2, 3}));
    const avs::PClip later = source("q.jpg");
    std::filesystem::remove(dir.file("q.jpg"));
    EXPECT_EQ(errorOfFrame(later), "ImageSource: Cannot read the picture \"" + dir.file("q.jpg")
                                       + "\": No such file or directory");

    WriteBmp24(dir.file("r.bmp"), 20, 10, Solid({1, 2, 3}));
    const avs::PClip resized = source("r.bmp");
    WriteBmp24(dir.file("r.bmp"), 21, 10, Solid({1, 2, 3}));
    EXPECT_NE(errorOfFrame(resized).find("the picture changed since the script was opened"),
              std::string::npos);
}

// A run that stops does not wait for a photo being decoded: a progressive
// one is given up while its scans are read (this one would fail at its cut
// end), and nothing is kept, so the photo is made when asked again.
TEST_F(Pictures, AStopGivesUpThePhotoBeingDecoded)
{
    WriteJpeg(dir.file("p.jpg"), 400, 300, avstest::Photo(), JpegKind::Progressive);
    const std::string whole = ReadFile(dir.file("p.jpg"));
    WriteFile(dir.file("cut.jpg"), whole.substr(0, whole.size() / 2));
    const avs::PClip cut = source("cut.jpg");
    const avs::PClip photo = source("p.jpg");
    std::atomic<bool> stop{true};
    {
        const avs::StopOn stopOn(&stop);
        EXPECT_THROW(cut->GetFrame(0), avs::Stopped);
        EXPECT_THROW(photo->GetFrame(0), avs::Stopped);
        stop = false;
        EXPECT_EQ(photo->GetFrame(0)->width(), 400);
    }
    EXPECT_EQ(avs::StopOn::flag(), nullptr);
    EXPECT_NE(errorOfFrame(cut).find("Premature end"), std::string::npos);
}

TEST_F(Pictures, BrokenFilesGiveClearErrors)
{
    WriteJpeg(dir.file("whole.jpg"), 200, 150, avstest::Photo());
    const std::string whole = ReadFile(dir.file("whole.jpg"));
    // Cut in the middle of the picture data: the header reads, the frame fails.
    WriteFile(dir.file("cut.jpg"), whole.substr(0, whole.size() / 2));
    const avs::PClip cut = source("cut.jpg");
    const std::string cutError = errorOfFrame(cut);
    EXPECT_EQ(
        cutError.rfind("ImageSource: Cannot read the picture \"" + dir.file("cut.jpg") + "\": ", 0),
        0u)
        << cutError;
    // Cut inside the header: the script does not open.
    WriteFile(dir.file("stub.jpg"), whole.substr(0, 40));
    EXPECT_NE(errorOfOpen("stub.jpg").find(dir.file("stub.jpg")), std::string::npos);

    WriteFile(dir.file("text.jpg"), "this is not a picture at all");
    EXPECT_EQ(
        errorOfOpen("text.jpg")
            .rfind("ImageSource: Cannot read the picture \"" + dir.file("text.jpg") + "\": ", 0),
        0u);
    WriteFile(dir.file("empty.bmp"), "");
    EXPECT_EQ(errorOfOpen("empty.bmp"), "ImageSource: Cannot read the picture \""
                                            + dir.file("empty.bmp") + "\": the file is empty");
    MakeFolder(dir.file("folder.jpg"));
    EXPECT_EQ(errorOfOpen("folder.jpg"), "ImageSource: Cannot read the picture \""
                                             + dir.file("folder.jpg") + "\": Is a directory");
    // A BMP that claims a size no photo has is refused before anything is made.
    WriteBmp24(dir.file("huge.bmp"), 2, 2, Solid({0, 0, 0}));
    std::string huge = ReadFile(dir.file("huge.bmp"));
    const std::int32_t side = 100000;
    std::memcpy(&huge[18], &side, 4);
    std::memcpy(&huge[22], &side, 4);
    WriteFile(dir.file("huge.bmp"), huge);
    EXPECT_NE(errorOfOpen("huge.bmp").find("too large"), std::string::npos);
}

TEST_F(Pictures, AllFramesOfAPictureAreOneObject)
{
    WriteBmp24(dir.file("p.bmp"), 20, 10, Solid({10, 10, 10}));
    const avs::PClip clip = avs::MakeImageSource(env, dir.file("p.bmp"), 3, 12, {25, 1});
    ASSERT_EQ(clip->GetVideoInfo().frameCount, 10);
    EXPECT_EQ(clip->GetFrame(0), clip->GetFrame(9));
    EXPECT_THROW(avs::MakeImageSource(env, dir.file("p.bmp"), 5, 4, {25, 1}), avs::Error);
    EXPECT_THROW(avs::MakeImageSource(env, dir.file("p.bmp"),
                                      std::numeric_limits<std::int64_t>::min(),
                                      std::numeric_limits<std::int64_t>::max(), {25, 1}),
                 avs::Error);
}
