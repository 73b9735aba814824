#include "corpus_inputs.h"

#include "testsupport.h"

#include <cstdint>
#include <stdexcept>

namespace corpus {

namespace {

// Where the frame header's marker stands.
std::size_t frameHeader(const std::string &jpeg)
{
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF) {
        const auto marker = static_cast<unsigned char>(jpeg[at + 1]);
        if (marker >= 0xC0 && marker <= 0xC2)
            return at;
        const std::size_t length = (static_cast<unsigned char>(jpeg[at + 2]) << 8)
                                   | static_cast<unsigned char>(jpeg[at + 3]);
        at += 2 + length;
    }
    throw std::runtime_error("no frame header");
}

// The first byte of the picture data: after the start-of-scan header.
std::size_t scanData(const std::string &jpeg)
{
    const std::size_t sos = jpeg.find("\xFF\xDA");
    if (sos == std::string::npos)
        throw std::runtime_error("no scan");
    const std::size_t length = (static_cast<unsigned char>(jpeg[sos + 2]) << 8)
                               | static_cast<unsigned char>(jpeg[sos + 3]);
    return sos + 2 + length;
}

void put16(std::string &bytes, std::size_t at, int value)
{
    bytes[at] = static_cast<char>((value >> 8) & 0xFF);
    bytes[at + 1] = static_cast<char>(value & 0xFF);
}

void put32le(std::string &bytes, std::size_t at, std::int32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
}

std::string bytesOf(const std::function<void(const std::string &)> &write)
{
    testsupport::TempDir scratch;
    const std::string path = scratch.file("picture");
    write(path);
    return testsupport::ReadFile(path);
}

} // namespace

std::string SolidJpeg(int width, int height, Rgb colour, testsupport::JpegKind kind)
{
    return bytesOf([&](const std::string &path) {
        testsupport::WriteJpeg(path, width, height, testsupport::Solid(colour), kind);
    });
}

std::string SolidBmp(int width, int height, Rgb colour)
{
    return bytesOf([&](const std::string &path) {
        testsupport::WriteBmp24(path, width, height, testsupport::Solid(colour));
    });
}

std::string WithDeclaredSize(std::string jpeg, int width, int height)
{
    const std::size_t sof = frameHeader(jpeg);
    put16(jpeg, sof + 5, height);
    put16(jpeg, sof + 7, width);
    return jpeg;
}

std::string CutInScan(std::string jpeg, std::size_t keep)
{
    jpeg.resize(std::min(jpeg.size(), scanData(jpeg) + keep));
    return jpeg;
}

std::string ClosedEarly(std::string jpeg, std::size_t keep)
{
    return CutInScan(std::move(jpeg), keep) + "\xFF\xD9";
}

std::string TwelveBit(std::string jpeg)
{
    const std::size_t sof = frameHeader(jpeg);
    jpeg[sof + 1] = static_cast<char>(0xC1); // extended sequential: baseline is 8-bit only
    jpeg[sof + 4] = 12;
    return jpeg;
}

std::string NoiseInScan(std::string jpeg)
{
    const std::size_t from = scanData(jpeg);
    const std::size_t to = jpeg.size() - 2; // the end marker stays
    std::uint32_t state = 12345;
    for (std::size_t at = from + (to - from) / 3; at < from + 2 * (to - from) / 3; ++at) {
        state = state * 1103515245u + 12345u;
        jpeg[at] = static_cast<char>((state >> 16) % 0xFF); // never 0xFF: no markers
    }
    return jpeg;
}

std::string NoComponents(std::string jpeg)
{
    jpeg[frameHeader(jpeg) + 9] = 0;
    return jpeg;
}

std::string BadBitDepth(std::string bmp)
{
    bmp[28] = 13;
    bmp[29] = 0;
    return bmp;
}

std::string BmpWithDeclaredSize(std::string bmp, int width, int height, std::size_t keep)
{
    put32le(bmp, 18, width);
    put32le(bmp, 22, height);
    bmp.resize(std::min(bmp.size(), 54 + keep));
    return bmp;
}

std::vector<Input> BadPictures()
{
    const std::string jpeg = SolidJpeg(320, 240, kGreen);
    const std::string bmp = SolidBmp(160, 120, kGreen);
    return {
        {"empty.jpg", ""},
        {"empty.bmp", ""},
        {"not a picture.jpg", "This is a letter, not a photo.\r\n"},
        {"truncated.jpg", CutInScan(jpeg, (jpeg.size() - scanData(jpeg)) / 2)},
        {"truncated-at-header.jpg", jpeg.substr(0, 100)},
        {"no-components.jpg", NoComponents(jpeg)},
        {"precision-12.jpg", TwelveBit(jpeg)},
        {"declares-60000x60000.jpg", CutInScan(WithDeclaredSize(jpeg, 60000, 60000), 400)},
        {"declares-60000x60000-closed.jpg", ClosedEarly(WithDeclaredSize(jpeg, 60000, 60000), 400)},
        {"declares-60000x60000-progressive.jpg",
         CutInScan(WithDeclaredSize(SolidJpeg(320, 240, kGreen, testsupport::JpegKind::Progressive),
                                    60000, 60000),
                   400)},
        {"truncated.bmp", bmp.substr(0, bmp.size() / 2)},
        {"header-only.bmp", bmp.substr(0, 40)},
        {"bit-depth-13.bmp", BadBitDepth(bmp)},
        {"declares-60000x60000.bmp", BmpWithDeclaredSize(bmp, 60000, 60000, 3000)},
        {"declares-2147483647-square.bmp", BmpWithDeclaredSize(bmp, 0x7fffffff, 0x7fffffff, 3000)},
    };
}

std::vector<ColourPhoto> UnusualGoodPhotos()
{
    using testsupport::JpegKind;
    return {
        {{"progressive.jpg", SolidJpeg(400, 300, kRed, JpegKind::Progressive)}, kRed},
        {{"cmyk.jpg", SolidJpeg(400, 300, kBlue, JpegKind::Cmyk)}, kBlue},
        {{"ycck.jpg", SolidJpeg(400, 300, kGreen, JpegKind::Ycck)}, kGreen},
        {{"grey.jpg", SolidJpeg(400, 300, {128, 128, 128}, JpegKind::Greyscale)}, {128, 128, 128}},
        {{"tiny.bmp", SolidBmp(3, 2, kBlue)}, kBlue},
    };
}

std::vector<std::string> UnusualNames()
{
    return {"  blanks  all  round  .jpg", "Ferien am Meer \xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F.jpg",
            "\xE5\x86\x99\xE7\x9C\x9F \xD1\x84\xD0\xBE\xD1\x82\xD0\xBE.bmp", "it's mine.jpg",
            "semi;colon,comma=equals#hash.jpg"};
}

std::vector<std::string> NamesTheScriptCannotCarry()
{
    return {"say \"cheese\".jpg", "two\nlines.jpg", "carriage\rreturn.jpg"};
}

} // namespace corpus
