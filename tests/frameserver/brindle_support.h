// What the frame-server tests share: the real libbrindle.so loaded by name as a
// host loads it, a host's device context to draw into, and a movie job in a
// private temporary folder.
#pragma once

#include "frameserver/brindle.h"
#include "pictures.h"
#include "platform/win32/dc.h"
#include "testsupport.h"

#include <string>
#include <vector>

namespace brindletest {

using testsupport::Rgb;

// dlopen("libbrindle.so") and the three exports bound by name; fails the test
// when any is missing.
class BrindleLibrary
{
public:
    BrindleLibrary();
    ~BrindleLibrary();
    BrindleLibrary(const BrindleLibrary &) = delete;
    BrindleLibrary &operator=(const BrindleLibrary &) = delete;

    std::int32_t init() const { return init_(); }
    std::int32_t getBitmap(HDC hdc) const { return getBitmap_(hdc); }
    std::int32_t free() const { return free_(); }

private:
    void *handle_ = nullptr;
    brindle::InitEffectManagerProc init_ = nullptr;
    brindle::GetEffectBitmapProc getBitmap_ = nullptr;
    brindle::FreeEffectManagerProc free_ = nullptr;
};

// A host's memory device context.
class Canvas
{
public:
    Canvas(int width, int height);
    ~Canvas();
    Canvas(const Canvas &) = delete;
    Canvas &operator=(const Canvas &) = delete;

    HDC dc() const { return dc_; }
    int width() const { return bits_.width; }
    int height() const { return bits_.height; }
    Rgb at(int x, int y) const;
    void fill(Rgb colour);

private:
    HDC dc_;
    win32::DCBits bits_;
};

// A job as the program leaves it: param.ini and pelloryfilelist.txt in the
// temporary folder (which TempDir makes private to the test).
class Job
{
public:
    const std::string &folder() const { return temp_.path(); }

    // Key by key through the private-profile service, as the program writes it.
    void writeParams(int width, int height, int interval) const;
    void writeParam(const std::string &key, const std::string &value) const;
    void writeParamText(const std::string &text) const;
    // Every path followed by CRLF, as the program writes the list.
    void writeList(const std::vector<std::string> &paths) const;
    void writeListText(const std::string &bytes) const;

    // A JPEG photo in the job's folder; returns its path.
    std::string photo(const std::string &name, int width, int height,
                      const testsupport::PixelFn &pixel) const;
    std::string solidPhoto(const std::string &name, int width, int height, Rgb colour) const;

private:
    testsupport::TempDir temp_;
};

using testsupport::Outcome;
using testsupport::RunProgram;

// The largest difference of any channel.
int Distance(Rgb a, Rgb b);

constexpr Rgb kBlack{0, 0, 0};

} // namespace brindletest
