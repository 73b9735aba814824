// A host of one's own, built from the installed files alone
// (`c++ own_host.cpp $(pkg-config --cflags --libs brindle)`): it serves the
// last job into a device context of the job's frame size, which it reads from
// the job's param.ini and pins for the library, and prints the size, how many
// frames came and how many had a pixel that is not black.
#include "frameserver/brindle.h"
#include "platform/win32/dc.h"
#include "platform/win32/errors.h"
#include "platform/win32/ini.h"
#include "platform/win32/tempfolder.h"

#include <cstdio>
#include <dlfcn.h>
#include <string>

int main()
{
    void *library = dlopen(brindle::kLibraryName, RTLD_NOW);
    if (!library) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 3;
    }
    auto init
        = reinterpret_cast<brindle::InitEffectManagerProc>(dlsym(library, "InitEffectManager"));
    auto next = reinterpret_cast<brindle::GetEffectBitmapProc>(dlsym(library, "GetEffectBitmap"));
    auto done
        = reinterpret_cast<brindle::FreeEffectManagerProc>(dlsym(library, "FreeEffectManager"));
    if (!init || !next || !done)
        return 3;

    // The library reads the same values: the file is pinned, so a job written
    // meanwhile cannot give it another size.
    const std::string folder = win32::GetTempPathA();
    if (folder.empty())
        return 4;
    const win32::Profile params = win32::Profile::Read(folder + "param.ini");
    win32::PinProfile(folder + "param.ini", params);
    const int width = params.GetInt("Temp", "OutputWidth", 352);
    const int height = params.GetInt("Temp", "OutputHeight", 240);
    HDC dc = win32::CreateMemoryDC(width, height);
    win32::DCBits bits;
    if (!dc || !win32::GetDCBits(dc, &bits))
        return 4;
    init();
    long frames = 0;
    long lit = 0;
    while (next(dc) == 1) {
        ++frames;
        bool any = false;
        for (int y = 0; y < bits.height && !any; ++y)
            for (int x = 0; x < bits.width * 3 && !any; ++x)
                any = bits.bits[y * bits.stride + x] != 0;
        lit += any ? 1 : 0;
        for (int y = 0; y < bits.height; ++y)
            for (int x = 0; x < bits.width * 3; ++x)
                bits.bits[y * bits.stride + x] = 0;
    }
    const DWORD error = win32::GetLastError();
    done();
    win32::DeleteDC(dc);
    std::printf("%dx%d frames %ld lit %ld error %u\n", width, height, frames, lit,
                static_cast<unsigned>(error));
    return 0;
}
