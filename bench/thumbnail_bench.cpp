// Time to make one photo's thumbnail, against libjpeg-turbo decoding the same
// photo at full size on its own (the same decoder settings: integer IDCT, fancy
// upsampling, BGR out), measured in the same run. Prints medians and ratios.
//   thumbnail_bench [width height [runs]]
#include "app/photos/Thumbnail.h"
#include "platform/jpeg/jpeg.h"

#include "pictures.h"
#include "testsupport.h"

#include <jpeglib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// Plain libjpeg-turbo: the whole picture into one buffer, several rows per call.
std::size_t DecodeFullSize(const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        std::abort();
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGR;
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&cinfo);
    const std::size_t stride = (cinfo.output_width * 3 + 3) & ~std::size_t(3);
    std::vector<unsigned char> pixels(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[16];
        for (int i = 0; i < 16; ++i)
            rows[i]
                = pixels.data()
                  + stride
                        * std::min<std::size_t>(cinfo.output_scanline + i, cinfo.output_height - 1);
        jpeg_read_scanlines(&cinfo, rows, 16);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return pixels.size();
}

double Median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double TimeMs(const std::function<void()> &work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

int main(int argc, char **argv)
{
    const int width = argc > 2 ? std::atoi(argv[1]) : 4000;
    const int height = argc > 2 ? std::atoi(argv[2]) : 3000;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 9;

    testsupport::TempDir dir;
    const std::string path = dir.file("photo.jpg");
    testsupport::WriteJpeg(path, width, height, testsupport::Gradient(7),
                           testsupport::JpegKind::Baseline, 90);

    volatile std::size_t sink = 0;
    auto baselineRun = [&] { sink = sink + DecodeFullSize(path); };
    auto stripsRun = [&] { sink = sink + quillon::MakeJpegThumbnail(path, 100, 75).Width(); };
    auto wholeRun = [&] {
        const jpeg::Image image = jpeg::DecodeFile(path);
        forms::TBitmap full(image.width, image.height);
        for (int y = 0; y < image.height; ++y)
            std::memcpy(full.ScanLine(y), image.pixels.data() + std::size_t(y) * image.stride,
                        std::size_t(image.width) * 3);
        forms::TBitmap thumb;
        quillon::MakeThumbnail(full, thumb, 100, 75);
        sink = sink + thumb.Width();
    };
    // Interleaved, so that a busy moment of the machine hits all three alike.
    std::vector<double> baselineTimes, stripsTimes, wholeTimes;
    baselineRun();
    stripsRun();
    for (int i = 0; i < runs; ++i) {
        baselineTimes.push_back(TimeMs(baselineRun));
        stripsTimes.push_back(TimeMs(stripsRun));
        wholeTimes.push_back(TimeMs(wholeRun));
    }
    const double baseline = Median(baselineTimes);
    const double strips = Median(stripsTimes);
    const double whole = Median(wholeTimes);

    std::printf("photo %d x %d, median of %d runs\n", width, height, runs);
    std::printf("  libjpeg-turbo full-size decode (baseline)  %8.2f ms\n", baseline);
    std::printf("  thumbnail, decoded in strips               %8.2f ms  %.3fx baseline\n", strips,
                strips / baseline);
    std::printf("  thumbnail, whole picture decoded first     %8.2f ms  %.3fx baseline\n", whole,
                whole / baseline);
    return 0;
}
