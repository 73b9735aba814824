#include "platform/jpeg/jpeg.h"

#include "pictures.h"
#include "testsupport.h"

#include <cstdlib>
#include <gtest/gtest.h>

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
