// Peak resident memory of the script engine over a whole slide show: makes N
// photos (1024 × 768 JPEGs), writes the slide-show script for them with the
// program's own script writer (NTSC, High: 720 × 480; 3-second slides), opens
// it and reads every frame from the first to the last.
//
//   avs_memory <photos> [folder]
//
// Prints one line: photos, frames, seconds spent reading, and the peak resident
// memory in MiB, before opening the script and at the end.
#include "app/job/script_writer.h"
#include "platform/avs/avs.h"
#include "platform/win32/files.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

// VmHWM: the most resident memory the process has had.
double peakResidentMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return -1;
}

void writeJpeg(const std::string &path, int width, int height, int seed)
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
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
    const double phase = seed * 0.7;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double fx = x * 0.013 + phase, fy = y * 0.017 - phase;
            row[x * 3 + 0] = static_cast<JSAMPLE>(128 + 100 * std::sin(fx) * std::cos(fy));
            row[x * 3 + 1] = static_cast<JSAMPLE>(128 + 90 * std::cos(fx * 0.7 + fy));
            row[x * 3 + 2] = static_cast<JSAMPLE>(((x ^ y) + seed * 37) & 0xFF);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <photos> [folder]\n", argv[0]);
        return 2;
    }
    const int count = std::atoi(argv[1]);
    std::string folder = argc > 2 ? argv[2] : "";
    bool ownFolder = false;
    if (folder.empty()) {
        std::string pattern = "/tmp/avs-memory-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            return 1;
        folder = pattern;
        ownFolder = true;
    }
    std::filesystem::create_directories(folder);
    // The script writer puts the script into the temporary folder.
    ::setenv("TMPDIR", folder.c_str(), 1);

    try {
        // A few distinct pictures, each file written once per photo, as a
        // user's folder of photos would be.
        std::vector<std::string> photos;
        for (int i = 0; i < count; ++i) {
            photos.push_back(folder + "/photo" + std::to_string(i) + ".jpg");
            if (!std::filesystem::exists(photos.back()))
                writeJpeg(photos.back(), 1024, 768, i);
        }
        quillon::WriteScript(photos, 0, 0, "3");
        const double before = peakResidentMiB();

        const auto start = std::chrono::steady_clock::now();
        const avs::PClip movie = avs::OpenScript(win32::FixedScriptPath());
        const std::int64_t frames = movie->GetVideoInfo().frameCount;
        std::uint64_t checksum = 0;
        for (std::int64_t n = 0; n < frames; ++n)
            checksum += movie->GetFrame(n)->row(240)[1080];
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        std::printf("photos %d frames %lld read_seconds %.2f peak_rss_before_mib %.1f "
                    "peak_rss_mib %.1f checksum %llu\n",
                    count, static_cast<long long>(frames), seconds, before, peakResidentMiB(),
                    static_cast<unsigned long long>(checksum));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    if (ownFolder)
        std::filesystem::remove_all(folder);
    return 0;
}
