#include "pictures.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>
#include <png.h>

namespace testsupport {

void WriteJpeg(const std::string &path, int width, int height, const PixelFn &pixel, JpegKind kind,
               int quality)
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

void WriteBmp24(const std::string &path, int width, int height, const PixelFn &pixel)
{
    const int stride = (width * 3 + 3) & ~3;
    const std::uint32_t imageSize = static_cast<std::uint32_t>(stride) * height;
    std::vector<std::uint8_t> out(54 + imageSize, 0);
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
    put32(2, 54 + imageSize);
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    put16(26, 1);
    put16(28, 24);
    put32(34, imageSize);
    for (int y = 0; y < height; ++y) {
        std::uint8_t *row = out.data() + 54 + static_cast<std::size_t>(height - 1 - y) * stride;
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
