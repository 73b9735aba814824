#include "brindle_support.h"

#include "platform/win32/ini.h"

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>

extern char **environ;

namespace brindletest {

BrindleLibrary::BrindleLibrary()
{
    // As brindle-host loads it: dlmopen into the base namespace searches this
    // program's RUNPATH even when a sanitizer wraps dlopen.
    handle_ = dlmopen(LM_ID_BASE, brindle::kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!handle_)
        throw std::runtime_error(std::string("dlopen: ") + dlerror());
    init_ = reinterpret_cast<brindle::InitEffectManagerProc>(dlsym(handle_, "InitEffectManager"));
    getBitmap_ = reinterpret_cast<brindle::GetEffectBitmapProc>(dlsym(handle_, "GetEffectBitmap"));
    free_ = reinterpret_cast<brindle::FreeEffectManagerProc>(dlsym(handle_, "FreeEffectManager"));
    if (!init_ || !getBitmap_ || !free_) {
        dlclose(handle_);
        throw std::runtime_error("libbrindle.so lacks an export");
    }
}

BrindleLibrary::~BrindleLibrary()
{
    free_();
    dlclose(handle_);
}

Canvas::Canvas(int width, int height)
    : dc_(win32::CreateMemoryDC(width, height))
{
    if (!dc_ || !win32::GetDCBits(dc_, &bits_))
        throw std::runtime_error("cannot make a device context");
}

Canvas::~Canvas()
{
    win32::DeleteDC(dc_);
}

Rgb Canvas::at(int x, int y) const
{
    const BYTE *p = bits_.bits + static_cast<std::size_t>(y) * bits_.stride + x * 3;
    return {p[2], p[1], p[0]};
}

void Canvas::fill(Rgb colour)
{
    for (int y = 0; y < bits_.height; ++y)
        for (int x = 0; x < bits_.width; ++x) {
            BYTE *p = bits_.bits + static_cast<std::size_t>(y) * bits_.stride + x * 3;
            p[0] = colour.b;
            p[1] = colour.g;
            p[2] = colour.r;
        }
}

void Job::writeParams(int width, int height, int interval) const
{
    const std::string ini = temp_.job("param.ini");
    ASSERT_TRUE(
        win32::WritePrivateProfileStringA("Temp", "OutputWidth", std::to_string(width), ini));
    ASSERT_TRUE(
        win32::WritePrivateProfileStringA("Temp", "OutputHeight", std::to_string(height), ini));
    ASSERT_TRUE(
        win32::WritePrivateProfileStringA("Temp", "Interval", std::to_string(interval), ini));
}

void Job::writeParam(const std::string &key, const std::string &value) const
{
    ASSERT_TRUE(win32::WritePrivateProfileStringA("Temp", key, value, temp_.job("param.ini")));
}

void Job::writeParamText(const std::string &text) const
{
    testsupport::WriteFile(temp_.job("param.ini"), text);
}

void Job::writeList(const std::vector<std::string> &paths) const
{
    std::string text;
    for (const auto &path : paths)
        text += path + "\r\n";
    writeListText(text);
}

void Job::writeListText(const std::string &bytes) const
{
    testsupport::WriteFile(temp_.job("pelloryfilelist.txt"), bytes);
}

std::string Job::photo(const std::string &name, int width, int height,
                       const testsupport::PixelFn &pixel) const
{
    const std::string path = temp_.file(name);
    testsupport::WriteJpeg(path, width, height, pixel);
    return path;
}

std::string Job::solidPhoto(const std::string &name, int width, int height, Rgb colour) const
{
    return photo(name, width, height, testsupport::Solid(colour));
}

int Distance(Rgb a, Rgb b)
{
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

} // namespace brindletest
