// Time to make one photo's thumbnail, against libjpeg-turbo decoding the same
// photo at full size on its own (the same decoder settings: integer IDCT, fancy
// upsampling, BGR out), measured in the same run; also for the photo stored on
// its side with an orientation tag. Prints medians and ratios.
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

    // The same picture stored on its side, as a phone stores a portrait photo.
    const std::string turned = dir.file("turned.jpg");
    testsupport::WriteOrientedJpeg(turned, width, height, testsupport::Gradient(7), 6);

    volatile std::size_t sink = 0;
    auto baselineRun = [&] { sink = sink + DecodeFullSize(path); };
    auto stripsRun = [&] { sink = sink + quillon::MakeJpegThumbnail(path, 100, 75).Width(); };
    auto turnedRun = [&] { sink = sink + quillon::MakeJpegThumbnail(turned, 100, 75).Width(); };
    auto wholeOf = [&](const std::string &file, bool upright) {
        jpeg::Decoder decoder(file);
        decoder.setUpright(upright);
        const jpeg::Image image = decoder.decodeImage();
        forms::TBitmap full(image.width, image.height);
        for (int y = 0; y < image.height; ++y)
            std::memcpy(full.ScanLine(y), image.pixels.data() + std::size_t(y) * image.stride,
                        std::size_t(image.width) * 3);
        forms::TBitmap thumb;
        quillon::MakeThumbnail(full, thumb, 100, 75);
        sink = sink + thumb.Width();
    };
    auto wholeRun = [&] { wholeOf(path, false); };
    auto turnedWholeRun = [&] { wholeOf(turned, true); };
    // Interleaved, so that a busy moment of the machine hits all alike.
    std::vector<double> baselineTimes, stripsTimes, wholeTimes, turnedTimes, turnedWholeTimes;
    baselineRun();
    stripsRun();
    for (int i = 0; i < runs; ++i) {
        baselineTimes.push_back(TimeMs(baselineRun));
        stripsTimes.push_back(TimeMs(stripsRun));
        wholeTimes.push_back(TimeMs(wholeRun));
        turnedTimes.push_back(TimeMs(turnedRun));
        turnedWholeTimes.push_back(TimeMs(turnedWholeRun));
    }
    const double baseline = Median(baselineTimes);
    const double strips = Median(stripsTimes);
    const double whole = Median(wholeTimes);
    const double turnedStrips = Median(turnedTimes);
    const double turnedWhole = Median(turnedWholeTimes);

    std::printf("photo %d x %d, median of %d runs\n", width, height, runs);
    std::printf("  libjpeg-turbo full-size decode (baseline)  %8.2f ms\n", baseline);
    std::printf("  thumbnail, decoded in strips               %8.2f ms  %.3fx baseline\n", strips,
                strips / baseline);
    std::printf("  thumbnail, whole picture decoded first     %8.2f ms  %.3fx baseline\n", whole,
                whole / baseline);
    std::printf("the same photo stored on its side (orientation 6), upright thumbnail:\n");
    std::printf("  turned while shrinking, in strips          %8.2f ms  %.3fx baseline\n",
                turnedStrips, turnedStrips / baseline);
    std::printf("  whole picture decoded and turned first     %8.2f ms  %.3fx baseline\n",
                turnedWhole, turnedWhole / baseline);
    return 0;
}
