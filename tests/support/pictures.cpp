#include "pictures.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace testsupport {

namespace {

void WriteJpegWithExif(const std::string &path, int width, int height, const PixelFn &pixel,
                       JpegKind kind, int quality, int orientation);

} // namespace

void WriteJpeg(const std::string &path, int width, int height, const PixelFn &pixel, JpegKind kind,
               int quality)
{
    WriteJpegWithExif(path, width, height, pixel, kind, quality, 0);
}

void WriteOrientedJpeg(const std::string &path, int width, int height, const PixelFn &upright,
                       int orientation)
{
    // Where stored pixel (x, y) stands in the upright picture.
    const bool transposed = orientation >= 5;
    const bool flipX = orientation == 2 || orientation == 3 || orientation == 7 || orientation == 8;
    const bool flipY = orientation == 3 || orientation == 4 || orientation == 6 || orientation == 7;
    const int storedWidth = transposed ? height : width;
    const int storedHeight = transposed ? width : height;
    PixelFn stored = [=](int x, int y) {
        if (!transposed)
            return upright(flipX ? storedWidth - 1 - x : x, flipY ? storedHeight - 1 - y : y);
        return upright(flipY ? storedHeight - 1 - y : y, flipX ? storedWidth - 1 - x : x);
    };
    WriteJpegWithExif(path, storedWidth, storedHeight, stored, JpegKind::Baseline, 95, orientation);
}

PixelFn Quadrants(int width, int height)
{
    return [width, height](int x, int y) {
        return kQuadrantColours[(x >= width / 2 ? 1 : 0) + (y >= height / 2 ? 2 : 0)];
    };
}

namespace {

void WriteJpegWithExif(const std::string &path, int width, int height, const PixelFn &pixel,
                       JpegKind kind, int quality, int orientation)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot write " + path);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    switch (kind) {
    case JpegKind::Greyscale:
        cinfo.input_components = 1;
        cinfo.in_color_space = JCS_GRAYSCALE;
        break;
    case JpegKind::Cmyk:
    case JpegKind::Ycck:
        cinfo.input_components = 4;
        cinfo.in_color_space = JCS_CMYK;
        break;
    default:
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        break;
    }
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (kind == JpegKind::Progressive)
        jpeg_simple_progression(&cinfo);
    if (kind == JpegKind::Cmyk)
        cinfo.write_Adobe_marker = TRUE; // stored inverted, as Adobe does
    if (kind == JpegKind::Ycck)
        jpeg_set_colorspace(&cinfo, JCS_YCCK); // writes the Adobe marker too
    jpeg_start_compress(&cinfo, TRUE);
    if (orientation > 0) {
        const JOCTET exif[] = {'E',  'x',
                               'i',  'f',
                               0,    0,
                               'M',  'M',
                               0,    42,
                               0,    0,
                               0,    8,
                               0,    1, // one entry
                               0x01, 0x12,
                               0,    3,
                               0,    0,
                               0,    1, // Orientation, SHORT, 1
                               0,    static_cast<JOCTET>(orientation),
                               0,    0, //
                               0,    0,
                               0,    0}; // no next directory
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, exif, sizeof exif);
    }
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * cinfo.input_components);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Rgb c = pixel(x, y);
            switch (kind) {
            case JpegKind::Greyscale:
                row[x] = static_cast<JSAMPLE>((c.r * 299 + c.g * 587 + c.b * 114) / 1000);
                break;
            case JpegKind::Cmyk:
            case JpegKind::Ycck:
                // K = 255 (inverted: no black ink), C/M/Y inverted = R/G/B.
                row[x * 4 + 0] = c.r;
                row[x * 4 + 1] = c.g;
                row[x * 4 + 2] = c.b;
                row[x * 4 + 3] = 255;
                break;
            default:
                row[x * 3 + 0] = c.r;
                row[x * 3 + 1] = c.g;
                row[x * 3 + 2] = c.b;
                break;
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
}

} // namespace

void WriteBmp24(const std::string &path, int width, int height, const PixelFn &pixel,
                std::uint32_t headerBytes)
{
    const int stride = (width * 3 + 3) & ~3;
    const std::uint32_t imageSize = static_cast<std::uint32_t>(stride) * height;
    const std::uint32_t offset = 14 + headerBytes;
    std::vector<std::uint8_t> out(offset + imageSize, 0);
    auto put16 = [&](std::size_t at, std::uint32_t v) {
        out[at] = v & 0xFF;
        out[at + 1] = (v >> 8) & 0xFF;
    };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out[at + i] = (v >> (8 * i)) & 0xFF;
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, offset + imageSize);
    put32(10, offset);
    put32(14, headerBytes);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    put16(26, 1);
    put16(28, 24);
    put32(34, imageSize);
    for (int y = 0; y < height; ++y) {
        std::uint8_t *row = out.data() + offset + static_cast<std::size_t>(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            Rgb c = pixel(x, y);
            row[x * 3] = c.b;
            row[x * 3 + 1] = c.g;
            row[x * 3 + 2] = c.r;
        }
    }
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot write " + path);
    std::fwrite(out.data(), 1, out.size(), file);
    std::fclose(file);
}

PixelFn Gradient(int seed)
{
    return [seed](int x, int y) {
        return Rgb{static_cast<std::uint8_t>((x + seed * 40) & 0xFF),
                   static_cast<std::uint8_t>((y + seed * 70) & 0xFF),
                   static_cast<std::uint8_t>(((x + y) / 2 + seed * 100) & 0xFF)};
    };
}

PixelFn Solid(Rgb colour)
{
    return [colour](int, int) { return colour; };
}

Png ReadPng(const std::string &path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        throw std::runtime_error(path + ": " + image.message);
    image.format = PNG_FORMAT_RGB;
    Png png;
    png.width = static_cast<int>(image.width);
    png.height = static_cast<int>(image.height);
    png.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, png.rgb.data(), 0, nullptr))
        throw std::runtime_error(path + ": " + image.message);
    return png;
}

} // namespace testsupport
