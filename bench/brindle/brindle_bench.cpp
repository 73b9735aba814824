// What a frame of Brindle costs, as ratios against baselines measured in the
// same run:
//   - the frame at a photo change (decode and letterbox) against the plain way
//     to the same frame: a full-size decode, then the same area scaling;
//   - every other frame against one BitBlt of the frame size, the least any
//     frame server has to do.
// The library is loaded by name, as a host loads it.
//
//   brindle_bench [PHOTO.jpg]
// Without a photo, a smooth 4000 × 3000 gradient made here, on which a decoder
// has little to do; a photo of the render benchmark
// (bench/render/make-photos.sh) is what a camera gives.

#include "frameserver/brindle.h"
#include "frameserver/letterbox.h"
#include "pictures.h"
#include "platform/jpeg/jpeg.h"
#include "platform/win32/dc.h"
#include "platform/win32/files.h"
#include "platform/win32/ini.h"
#include "testsupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const std::function<void()> &work)
{
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Brindle
{
    brindle::InitEffectManagerProc init;
    brindle::GetEffectBitmapProc getBitmap;
    brindle::FreeEffectManagerProc free;
};

void Measure(const Brindle &lib, const std::string &photo, int width, int height)
{
    const std::string ini = win32::GetTempPathA() + "param.ini";
    win32::WritePrivateProfileStringA("Temp", "OutputWidth", std::to_string(width), ini);
    win32::WritePrivateProfileStringA("Temp", "OutputHeight", std::to_string(height), ini);
    win32::WritePrivateProfileStringA("Temp", "Interval", "1", ini);
    HDC host = win32::CreateMemoryDC(width, height);
    HDC other = win32::CreateMemoryDC(width, height);

    constexpr int kRounds = 9;
    std::vector<double> change, cached, plain, blit;
    for (int round = 0; round < kRounds; ++round) {
        lib.init();
        change.push_back(Seconds([&] { lib.getBitmap(host); }));
        cached.push_back(Seconds([&] {
                             for (int n = 1; n < 30; ++n)
                                 lib.getBitmap(host);
                         })
                         / 29);
        lib.free();

        plain.push_back(Seconds([&] {
            jpeg::Image full = jpeg::DecodeFile(photo);
            win32::DCBits bits;
            win32::GetDCBits(other, &bits);
            const brindle::Placement at
                = brindle::Letterbox(full.width, full.height, width, height);
            brindle::StretchDraw({full.width, full.height, full.stride, full.pixels.data()},
                                 {bits.width, bits.height, bits.stride, bits.bits}, at);
        }));
        blit.push_back(Seconds([&] {
                           for (int n = 1; n < 30; ++n)
                               win32::BitBlt(host, 0, 0, width, height, other, 0, 0,
                                             win32::SRCCOPY);
                       })
                       / 29);
    }
    // The same frame both ways: how far DCT scaling moves the pixels.
    lib.init();
    lib.getBitmap(host);
    lib.free();
    win32::DCBits a, b;
    win32::GetDCBits(host, &a);
    win32::GetDCBits(other, &b);
    long long sum = 0;
    int worst = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * 3; ++x) {
            const int d = std::abs(a.bits[y * a.stride + x] - b.bits[y * b.stride + x]);
            sum += d;
            worst = std::max(worst, d);
        }
    win32::DeleteDC(host);
    win32::DeleteDC(other);

    std::printf("%d x %d frames, medians of %d rounds\n", width, height, kRounds);
    std::printf("  photo change: %8.2f ms   plain full decode + scale: %8.2f ms   ratio %.2f\n",
                Median(change) * 1e3, Median(plain) * 1e3, Median(change) / Median(plain));
    std::printf("  held frame:   %8.1f us   BitBlt of the frame:       %8.1f us   ratio %.2f\n",
                Median(cached) * 1e6, Median(blit) * 1e6, Median(cached) / Median(blit));
    std::printf("  photo change against the plain way: mean difference %.2f, largest %d "
                "(of 255)\n",
                static_cast<double>(sum) / (static_cast<double>(width) * height * 3), worst);
}

} // namespace

int main(int argc, char **argv)
{
    testsupport::TempDir dir;
    void *handle = dlmopen(LM_ID_BASE, brindle::kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "brindle_bench: %s\n", dlerror());
        return 1;
    }
    Brindle lib{
        reinterpret_cast<brindle::InitEffectManagerProc>(dlsym(handle, "InitEffectManager")),
        reinterpret_cast<brindle::GetEffectBitmapProc>(dlsym(handle, "GetEffectBitmap")),
        reinterpret_cast<brindle::FreeEffectManagerProc>(dlsym(handle, "FreeEffectManager"))};
    if (!lib.init || !lib.getBitmap || !lib.free) {
        std::fprintf(stderr, "brindle_bench: an export is missing\n");
        return 1;
    }

    std::string photo;
    if (argc > 1) {
        photo = argv[1];
        std::printf("Brindle, the photo %s\n", photo.c_str());
    } else {
        // 12 megapixels, as a current camera takes them, but smooth.
        photo = dir.file("photo.jpg");
        testsupport::WriteJpeg(photo, 4000, 3000, testsupport::Gradient(1),
                               testsupport::JpegKind::Baseline, 90);
        std::printf("Brindle, a 4000 x 3000 JPEG gradient\n");
    }
    // Where the frame server reads its job: the job folder, beside param.ini.
    testsupport::WriteFile(win32::GetTempPathA() + "pelloryfilelist.txt",
                           std::filesystem::absolute(photo).string() + "\r\n");
    Measure(lib, photo, 352, 240);
    Measure(lib, photo, 720, 576);
    dlclose(handle);
    return 0;
}
